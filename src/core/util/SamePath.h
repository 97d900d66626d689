// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace tessarook {

// True when two paths name the same file system entry.
//
// Linux file systems tell letter case apart, so paths compare byte for byte.
// This is the one place that decides path identity: Scheme entries, Backup
// names and Scheme names all ask here, so a build for a case-insensitive
// file system changes only this function.
bool SamePath(std::string_view a, std::string_view b);

}  // namespace tessarook
