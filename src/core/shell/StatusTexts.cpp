// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/StatusTexts.h"

#include <cmath>
#include <cstdio>

#include "util/FormatTime.h"
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

std::string MomentText(int64_t ns, bool weekday) {
  int64_t seconds = ns / 1000000000;
  if (ns < 0 && ns % 1000000000 != 0) --seconds;
  return FormatTime(weekday ? "%W %a, %h:%m" : "%a, %h:%m", ToSysTime(time_t(seconds)));
}

std::string VerifyVerdict(const VerifyResult& result) {
  switch (result.status) {
    case VerifyResult::Status::kNotAZip:
      return "the Backup file is missing, unreadable or not a ZIP archive";
    case VerifyResult::Status::kNoManifest:
      return "the Backup has no list of its files";
    case VerifyResult::Status::kCancelled:
      return std::string();
    case VerifyResult::Status::kChecked:
      break;
  }
  if (result.faults.empty()) return std::string();
  return FormatCount(result.faults.size()) +
         (result.faults.size() == 1 ? " damaged entry" : " damaged entries");
}

std::string VerifyReport(const std::string& name, const VerifyResult& result, size_t limit) {
  const std::string backup = "The Backup \"" + name + "\"";
  if (result.status == VerifyResult::Status::kChecked && result.faults.empty())
    return backup + " is in order: " + FormatCount(result.files) +
           (result.files == 1 ? " file checked." : " files checked.");
  if (result.status != VerifyResult::Status::kChecked) {
    std::string text = backup + " cannot be checked: " + VerifyVerdict(result) + ".";
    if (!result.error.empty()) text += "\n" + result.error;
    return text;
  }
  std::string text = backup + " is damaged: " + VerifyVerdict(result) + ".\n";
  size_t shown = 0;
  for (const VerifyFault& fault : result.faults) {
    if (shown == limit) {
      text += "... and " + FormatCount(result.faults.size() - shown) +
              " more (see Details in the status bar)\n";
      break;
    }
    text += "\n" + fault.path + ": " + fault.reason;
    ++shown;
  }
  return text;
}

}  // namespace tessarook
