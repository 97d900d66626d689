// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The texts the desktop program shows about sizes and long file operations:
// sizes as people read them, the status bar's byte progress, and the summary
// of an operation that ended, with the names behind it.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "backup/BackupVerifier.h"

namespace tessarook {

// A size as the desktop shows it, in decimal units: "0 bytes", "1 byte",
// "999 bytes", "1.5 kB", "312.4 MB", "1.5 GB", "2.0 TB". One decimal from kB on.
std::string FormatFileSize(uint64_t bytes);

// The exact size with thousands separators: "1,472,756,553 bytes", "1 byte".
std::string FormatExactBytes(uint64_t bytes);

// A count with thousands separators: "1,234".
std::string FormatCount(uint64_t count);

// The status bar's line while an operation moves data: "312.4 MB of 1.5 GB,
// 85.3 MB/s, 0:17 left". Before any byte is known it counts files ("12 of 40
// files"). The rate and the time left appear once the rate is known (>= 0).
std::string ByteProgressText(uint64_t filesDone, uint64_t filesTotal, bool haveBytes,
                             uint64_t bytesDone, uint64_t bytesTotal, double bytesPerSecond);

// How one long file operation ended, as the status bar tells it afterwards.
struct OperationSummary {
  enum class Outcome { kDone, kCancelled, kFailed };

  std::string what;  // "Backup \"Daily\"", "Restore of \"Daily\"", ...
  Outcome outcome = Outcome::kDone;
  std::string error;   // why, for kFailed
  uint64_t files = 0;  // files stored, restored, exported or imported
  // How those files were handled, when that says more than their count
  // ("2 created, 1 replaced, 5 already identical"); empty for none.
  std::string breakdown;
  uint64_t bytes = 0;  // bytes of file data moved (0: not known)
  double seconds = 0;  // how long it took
  // Files left out, with why; files that changed while they were read.
  std::vector<std::pair<std::string, std::string>> skipped;
  std::vector<std::string> changed;

  // Whether there are names to show behind the summary.
  bool HasDetails() const { return !skipped.empty() || !changed.empty(); }
};

// One line for the status bar: "Backup \"Daily\" finished: 1,234 files,
// 1.5 GB in 0:42; 2 files skipped, 1 changed while read." Cancelled and
// failed operations say so.
std::string SummaryText(const OperationSummary& summary);

// The names behind a summary, one per line, skipped files first: "Skipped:
// PATH (REASON)", then "Changed while read: PATH". At most `limit` lines;
// when there are more, the last says how many were left out.
std::vector<std::string> SummaryDetails(const OperationSummary& summary, size_t limit = 10000);

// A moment (ns since 1970) in local time as the Backups list shows times,
// "10.12.2026, 00:00"; with `weekday`, "Thursday 10.12.2026, 00:00".
std::string MomentText(int64_t ns, bool weekday = false);

// How a verification ended, for the status bar's summary: "" when the Backup
// is in order, else what is wrong in a few words.
std::string VerifyVerdict(const VerifyResult& result);
// The message after a verification: "The Backup "NAME" is in order: 1,234
// files checked." or what is wrong, each damaged entry by its path (at most
// `limit` of them, then how many more there are).
std::string VerifyReport(const std::string& name, const VerifyResult& result, size_t limit = 20);

}  // namespace tessarook
