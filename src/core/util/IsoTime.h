// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace tessarook {

// A moment (ns since 1970) as local time in ISO 8601 with seconds and the
// offset from UTC, e.g. "2026-12-09T03:00:00+01:00" ("+00:00" for UTC).
// Fractions of a second are dropped (rounded towards the past).
std::string IsoLocalTime(int64_t ns);

}  // namespace tessarook
