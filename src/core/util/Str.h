// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessarook {

// Text helpers. Texts are UTF-8 bytes in std::string; every rule here works on
// bytes, so multi-byte characters pass through untouched.

// Decimal text of a signed 32-bit integer, "-" for negatives, no padding.
std::string FromInt(std::int32_t n);

// Reads a number the way the C runtime's atol does: leading white space
// (" \t\n\v\f\r") skipped, an optional sign, then decimal digits up to the first
// non-digit; no digits gives 0. A value beyond the 32-bit range is clamped to
// INT32_MIN / INT32_MAX (atol's own overflow result is undefined).
std::int32_t ToInt(std::string_view text);

// Appends the path separator "/" unless the text already ends with one; the
// empty text becomes "/". (The name is kept from the program's Windows roots.)
std::string EnsureTrailingBackslash(std::string_view text);

// When `separator` occurs in `text`, keeps only the text before its last
// occurrence and returns true; otherwise leaves `text` unchanged and returns
// false. An empty separator never occurs.
bool CutAtLast(std::string& text, std::string_view separator);

}  // namespace tessarook
