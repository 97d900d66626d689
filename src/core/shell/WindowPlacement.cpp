// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/WindowPlacement.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace tessarook {

namespace {

constexpr std::string_view kTag = "v1";

// Splits at single blanks; empty fields (two blanks in a row) are kept so they
// fail the number check.
std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (fields.size() < 8) {
    const size_t blank = text.find(' ', start);
    fields.push_back(text.substr(start, blank == std::string_view::npos ? blank : blank - start));
    if (blank == std::string_view::npos) break;
    start = blank + 1;
  }
  return fields;
}

bool ReadInt(std::string_view field, int low, int high, int& out) {
  if (field.empty()) return false;
  int value = 0;
  const char* end = field.data() + field.size();
  const auto result = std::from_chars(field.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end) return false;
  if (value < low || value > high) return false;
  out = value;
  return true;
}

}  // namespace

std::string CWindowPlacement::ToText() const {
  std::string text(kTag);
  for (int value : {x, y, width, height, maximised ? 1 : 0}) {
    text += ' ';
    text += std::to_string(value);
  }
  return text;
}

std::optional<CWindowPlacement> CWindowPlacement::FromText(std::string_view text) {
  const std::vector<std::string_view> fields = Fields(text);
  if (fields.size() != 6 || fields[0] != kTag) return std::nullopt;
  CWindowPlacement placement;
  int maximised = 0;
  if (!ReadInt(fields[1], -kMaxExtent, kMaxExtent, placement.x) ||
      !ReadInt(fields[2], -kMaxExtent, kMaxExtent, placement.y) ||
      !ReadInt(fields[3], 1, kMaxExtent, placement.width) ||
      !ReadInt(fields[4], 1, kMaxExtent, placement.height) || !ReadInt(fields[5], 0, 1, maximised))
    return std::nullopt;
  placement.maximised = maximised == 1;
  return placement;
}

CWindowPlacement CWindowPlacement::FittedInto(int areaX, int areaY, int areaWidth,
                                              int areaHeight) const {
  CWindowPlacement fitted = *this;
  if (areaWidth <= 0 || areaHeight <= 0) return fitted;
  fitted.width = std::min(width, areaWidth);
  fitted.height = std::min(height, areaHeight);
  fitted.x = std::clamp(x, areaX, areaX + areaWidth - fitted.width);
  fitted.y = std::clamp(y, areaY, areaY + areaHeight - fitted.height);
  return fitted;
}

}  // namespace tessarook
