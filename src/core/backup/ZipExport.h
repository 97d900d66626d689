// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backup/FolderWalk.h"
#include "backup/ProgressSink.h"

namespace tessarook {

// How "Export to ZIP" names the files it writes.
enum class ZipPathStyle {
  kRelative,  // relative to the deepest folder that holds all the Backup's files
  kAbsolute,  // the whole source path (without its leading "/")
};

struct ZipExportResult {
  enum class Status {
    kDone,       // the ZIP was written; `skipped` lists what it left out
    kCancelled,  // stopped by the cancel flag; the target was not touched
    kFailed,     // nothing was written (or the partial file was removed)
  };
  Status status = Status::kFailed;
  std::string error;  // why, for kFailed
  uint64_t filesWritten = 0;
  std::vector<SkippedFile> skipped;
};

// The entry name of each source path in an exported ZIP, in the same order;
// "" for a path that is left out. Paths are split at "/", and empty and "."
// components dropped. A path holding a ".." component is left out (an archive
// tool could write it outside the folder it extracts to), as is a path that
// names nothing, and a path whose name an earlier path already took (a file
// stored twice). With kRelative the names start below the deepest folder
// common to all the kept paths; a lone file becomes its bare file name.
std::vector<std::string> ExportEntryNames(const std::vector<std::string>& paths,
                                          ZipPathStyle style);

// Writes a plain ZIP of a Backup's files under their real names, so any
// archive tool shows and extracts them as they were. The ZIP is written
// beside `targetPath` under a temporary name and renamed over it only when
// complete: a failure or a cancel leaves an existing target as it was.
// Entries keep the files' permission bits and last-write times.
//
// The cancel flag is polled before each file and while a file is copied.
// `sink` (may be null) is called on the calling thread.
class CZipExport {
 public:
  static ZipExportResult Run(const std::string& backupPath, const std::string& targetPath,
                             ZipPathStyle style, const std::atomic<bool>* cancel,
                             IProgressSink* sink);
};

}  // namespace tessarook
