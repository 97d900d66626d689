// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/Str.h"

#include <climits>

namespace tessarook {

std::string Trim(std::string_view text, std::string_view set) {
  const std::size_t first = text.find_first_not_of(set);
  if (first == std::string_view::npos) return std::string();
  const std::size_t last = text.find_last_not_of(set);
  return std::string(text.substr(first, last - first + 1));
}

std::string ToLower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

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

int CountOf(std::string_view text, std::string_view separator) {
  if (separator.empty()) return 0;
  int count = 0;
  for (std::size_t pos = text.find(separator); pos != std::string_view::npos;
       pos = text.find(separator, pos + separator.size())) {
    ++count;
  }
  return count;
}

int FieldCount(std::string_view text, std::string_view separator) {
  return CountOf(text, separator) + 1;
}

std::string Field(std::string_view text, std::string_view separator, int n) {
  if (text.empty() || n < 1) return std::string();
  if (separator.empty()) return n == 1 ? std::string(text) : std::string();
  std::size_t start = 0;
  for (int field = 1; field < n; ++field) {
    const std::size_t pos = text.find(separator, start);
    if (pos == std::string_view::npos) return std::string();
    start = pos + separator.size();
  }
  const std::size_t end = text.find(separator, start);
  return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
}

bool Split(std::string_view text, std::string_view delimiters, std::vector<SplitToken>& tokens) {
  tokens.clear();
  if (text.empty()) return false;
  SplitToken current;
  for (char c : text) {
    if (delimiters.find(c) != std::string_view::npos) {
      current.delimiter.assign(1, c);
      tokens.push_back(std::move(current));
      current = SplitToken();
    } else {
      current.text += c;
    }
  }
  tokens.push_back(std::move(current));
  return true;
}

std::string Format(std::string_view pattern, std::initializer_list<std::string_view> values) {
  std::string result;
  auto next = values.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size()) {
      const char directive = pattern[i + 1];
      if (directive == 's') {
        if (next != values.end()) result += *next++;
        ++i;
        continue;
      }
      if (directive == '%') {
        result += '%';
        ++i;
        continue;
      }
    }
    result += c;
  }
  return result;
}

std::string ReplaceArg(std::string_view text, std::string_view placeholder,
                       std::string_view value) {
  if (placeholder.empty()) return std::string(text);
  std::string result;
  std::size_t start = 0;
  for (std::size_t pos = text.find(placeholder); pos != std::string_view::npos;
       pos = text.find(placeholder, start)) {
    result.append(text.substr(start, pos - start));
    result.append(value);
    start = pos + placeholder.size();
  }
  result.append(text.substr(start));
  return result;
}

}  // namespace tessarook
