// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/Str.h"

#include <climits>

namespace tessarook {

std::string FromInt(std::int32_t n) { return std::to_string(n); }

std::int32_t ToInt(std::string_view text) {
  std::size_t i = 0;
  auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate in 64 bits and stop growing once past the 32-bit range, so an
  // endless run of digits neither overflows nor changes the clamped result.
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value <= limit) value = value * 10 + (text[i] - '0');
  }
  if (value > limit) value = limit;
  return static_cast<std::int32_t>(negative ? -value : value);
}

std::string EnsureTrailingBackslash(std::string_view text) {
  std::string result(text);
  if (result.empty() || result.back() != '/') result += '/';
  return result;
}

bool CutAtLast(std::string& text, std::string_view separator) {
  if (separator.empty()) return false;
  const std::size_t pos = text.rfind(separator);
  if (pos == std::string::npos) return false;
  text.resize(pos);
  return true;
}

}  // namespace tessarook
