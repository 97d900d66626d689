// SPDX-License-Identifier: GPL-3.0-or-later
#include "scheme/Exclusions.h"

#include <string_view>

namespace tessarook {

namespace {

constexpr std::string_view kForbidden = "\\/:*?\"<>|";
constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(kWhiteSpace) == std::string_view::npos;
}

}  // namespace

std::vector<std::string> NormalizeExcludedExtensions(const std::vector<std::string>& items) {
  std::vector<std::string> kept;
  std::vector<std::string> keptLower;
  for (const std::string& item : items) {
    std::string_view text = item;
    if (!text.empty() && text.front() == '.') text.remove_prefix(1);
    if (text.find_first_of(kForbidden) != std::string_view::npos) continue;
    if (IsBlank(text)) continue;
    std::string lower = LowerAscii(text);
    bool repeated = false;
    for (const std::string& k : keptLower)
      if (k == lower) repeated = true;
    if (repeated) continue;
    kept.emplace_back(text);
    keptLower.push_back(std::move(lower));
  }
  return kept;
}

}  // namespace tessarook
