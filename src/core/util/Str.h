// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tessarook {

// Text helpers. Texts are UTF-8 bytes in std::string; every rule here works on
// bytes, so multi-byte characters pass through untouched.

// Carriage return, line feed, horizontal tab, vertical tab and blank.
inline constexpr std::string_view kWhiteSpace = "\r\n\t\v ";

// Removes leading and trailing characters that belong to `set`.
std::string Trim(std::string_view text, std::string_view set = kWhiteSpace);

// Lower-cases A to Z only; every other byte is kept.
std::string ToLower(std::string_view text);

// Equality after folding the ASCII letters A to Z to lower case.
bool EqualsNoCase(std::string_view a, std::string_view b);

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

// Number of non-overlapping occurrences of `separator`, counted from the left.
// An empty separator occurs 0 times.
int CountOf(std::string_view text, std::string_view separator);

// CountOf + 1.
int FieldCount(std::string_view text, std::string_view separator);

// The n-th field (counting from 1) between occurrences of `separator`. The
// whole text for n = 1 when the separator does not occur; the empty text when
// the text is empty, n < 1 or n exceeds the number of fields.
std::string Field(std::string_view text, std::string_view separator, int n);

// One token of Split: the text and the delimiter character that ended it
// (`delimiter` is empty for the last token).
struct SplitToken {
  std::string text;
  std::string delimiter;

  bool operator==(const SplitToken&) const = default;
};

// Splits `text` at every character of `delimiters`. k delimiters give k + 1
// tokens, empty ones included. An empty text gives an empty list and false;
// otherwise true. `tokens` is replaced.
bool Split(std::string_view text, std::string_view delimiters, std::vector<SplitToken>& tokens);

// printf-like formatting that knows only "%s" (insert the next value; nothing
// once the values run out) and "%%" (a single "%"). Any other "%x" is copied
// as it stands.
std::string Format(std::string_view pattern, std::initializer_list<std::string_view> values);

// Replaces every occurrence of `placeholder` (for example "%1") in `text` with
// `value`, left to right, without rescanning inserted text.
std::string ReplaceArg(std::string_view text, std::string_view placeholder, std::string_view value);

}  // namespace tessarook
