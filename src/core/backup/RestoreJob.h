#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupArchive.h"
#include "backup/ProgressSink.h"

namespace tessarook {

// One file to restore: a manifest position and where its data goes.
struct RestoreItem {
  size_t position = 0;
  std::string destination;
};

struct RestoreFailure {
  size_t position = 0;
  std::string path;  // the source path from the manifest ("" when none)
  std::string reason;
};

struct RestoreResult {
  std::vector<size_t> restored;  // positions, in the order they were written
  std::vector<RestoreFailure> failed;
  bool cancelled = false;
};

// Restores files of an opened Backup whose manifest has been read. Entries
// are found by manifest position (entry i for line i), so a path stored twice
// restores each copy from its own entry.
class CRestoreJob {
 public:
  // The items for restoring positions to their source paths, or, with a
  // non-empty `toFolder`, to `toFolder` + source path (so "/home/a/x" lands in
  // toFolder + "/home/a/x"). A position that cannot be restored safely (its
  // path is not a full path, or with `toFolder` it holds a ".." component that
  // could climb out of the folder) goes to `refused` instead.
  static std::vector<RestoreItem> Plan(const CBackupArchive& archive,
                                       const std::vector<size_t>& positions,
                                       const std::string& toFolder,
                                       std::vector<RestoreFailure>& refused);

  // Extracts each item in order, creating missing folders and replacing
  // existing files; a failure is recorded and the rest go on. The cancel flag
  // is polled before each file and while a file is written: a file cut short
  // is removed and the destination keeps what it held. `sink` is called on
  // the thread that calls Run.
  static RestoreResult Run(CBackupArchive& archive, const std::vector<RestoreItem>& items,
                           const std::atomic<bool>* cancel, IProgressSink* sink);

  // Extracts one manifest position to `destination` (replaced without
  // question). On failure `error` says why.
  static bool ExtractPosition(CBackupArchive& archive, size_t position,
                              const std::string& destination, std::string& error);
};

// Where a preview copy of a file goes: the temporary folder + the last
// component of the source path. Two files of the same name share the copy.
std::string PreviewTempPath(std::string_view sourcePath);

}  // namespace tessarook
