// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/SamePath.h"

namespace tessarook {

bool SamePath(std::string_view a, std::string_view b) { return a == b; }

}  // namespace tessarook
