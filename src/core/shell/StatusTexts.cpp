// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/StatusTexts.h"

#include <cmath>
#include <cstdio>

#include "util/ProgressText.h"

namespace tessarook {

std::string FormatFileSize(uint64_t bytes) {
  if (bytes == 1) return "1 byte";
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(bytes) / 1000.0;
  size_t unit = 0;
  // Rounded first, so 999,960 bytes shows as "1.0 MB" rather than "1000.0 kB".
  while (unit + 1 < std::size(kUnits) && std::round(value * 10.0) / 10.0 >= 1000.0) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatCount(uint64_t count) {
  const std::string digits = std::to_string(count);
  std::string text;
  text.reserve(digits.size() + digits.size() / 3);
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::string FormatExactBytes(uint64_t bytes) {
  return FormatCount(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string ByteProgressText(uint64_t filesDone, uint64_t filesTotal, bool haveBytes,
                             uint64_t bytesDone, uint64_t bytesTotal, double bytesPerSecond) {
  if (!haveBytes)
    return FormatCount(filesDone) + " of " + FormatCount(filesTotal) +
           (filesTotal == 1 ? " file" : " files");
  std::string text = FormatFileSize(bytesDone) + " of " + FormatFileSize(bytesTotal);
  if (bytesPerSecond >= 0) {
    text += ", " + FormatFileSize(static_cast<uint64_t>(bytesPerSecond)) + "/s";
    if (bytesPerSecond > 0) {
      const uint64_t left = bytesDone < bytesTotal ? bytesTotal - bytesDone : 0;
      text += ", " + FormatDuration(static_cast<double>(left) / bytesPerSecond) + " left";
    }
  }
  return text;
}

std::string SummaryText(const OperationSummary& s) {
  switch (s.outcome) {
    case OperationSummary::Outcome::kCancelled:
      return s.what + " was cancelled.";
    case OperationSummary::Outcome::kFailed:
      return s.what + " failed" + (s.error.empty() ? "." : ": " + s.error);
    case OperationSummary::Outcome::kDone:
      break;
  }
  std::string text =
      s.what + " finished: " + FormatCount(s.files) + (s.files == 1 ? " file" : " files");
  if (!s.breakdown.empty()) text += " (" + s.breakdown + ")";
  if (s.bytes) text += ", " + FormatFileSize(s.bytes);
  text += " in " + FormatDuration(s.seconds);
  std::string notes;
  if (!s.skipped.empty())
    notes =
        FormatCount(s.skipped.size()) + (s.skipped.size() == 1 ? " file" : " files") + " skipped";
  if (!s.changed.empty())
    notes += (notes.empty() ? "" : ", ") + FormatCount(s.changed.size()) + " changed while read";
  return text + (notes.empty() ? "." : "; " + notes + ".");
}

std::vector<std::string> SummaryDetails(const OperationSummary& s, size_t limit) {
  std::vector<std::string> lines;
  const size_t total = s.skipped.size() + s.changed.size();
  const size_t room = total > limit && limit > 0 ? limit - 1 : limit;
  for (const auto& [path, reason] : s.skipped) {
    if (lines.size() == room) break;
    lines.push_back("Skipped: " + path + (reason.empty() ? "" : " (" + reason + ")"));
  }
  for (const std::string& path : s.changed) {
    if (lines.size() == room) break;
    lines.push_back("Changed while read: " + path);
  }
  if (lines.size() < total)
    lines.push_back("... and " + FormatCount(total - lines.size()) + " more");
  return lines;
}

}  // namespace tessarook
