// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "backup/ProgressSink.h"

namespace tessarook {

// One fault found in a Backup. `index` is the manifest position, or -1 for a
// fault of the archive as a whole (its directory, its manifest, a stray entry).
struct VerifyFault {
  int64_t index = -1;
  std::string path;  // the manifest's source path, or the entry's name
  std::string reason;
};

struct VerifyResult {
  enum class Status {
    kChecked,     // the Backup was read; `faults` lists what is wrong (empty: good)
    kNotAZip,     // missing, unreadable or not a ZIP file
    kNoManifest,  // a ZIP without "list.txt"
    kCancelled,
  };
  Status status = Status::kNotAZip;
  std::string error;
  uint64_t files = 0;  // manifest lines
  std::vector<VerifyFault> faults;
};

// Reads every entry of the Backup at `path`, checking sizes and CRCs, and
// that the entries "0" to "n-1" and the manifest's n lines match one to one.
// Also a fault: a manifest path that restore refuses both to its place and
// below a chosen folder, and an entry whose bytes overlap another entry's.
// `jobs` is how many entries may be tested at once; 0 means one per core.
VerifyResult VerifyBackup(const std::string& path, const std::atomic<bool>* cancel,
                          IProgressSink* sink, unsigned jobs = 0);

}  // namespace tessarook
