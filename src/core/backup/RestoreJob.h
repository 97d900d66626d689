// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupArchive.h"
#include "backup/ProgressSink.h"

namespace tessarook {

// One file to restore: a manifest position and where its data goes. With a
// target folder, `destination` is `folder` + "/" + `relative`, and nothing is
// written outside `folder`.
struct RestoreItem {
  size_t position = 0;
  std::string destination;
  std::string folder;    // "" when restoring to the source path
  std::string relative;  // below `folder`
};

struct RestoreFailure {
  size_t position = 0;
  std::string path;  // the source path from the manifest ("" when none)
  std::string reason;
  // The destination may not be replaced (read-only, no permission) and was
  // left as it was.
  bool skipped = false;
  // A path of a Backup made on Windows: it can be restored only into a
  // chosen folder.
  bool needsFolder = false;
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
  // toFolder + "/home/a/x"). Paths of a Backup made on Windows go below
  // `toFolder` with backslashes as separators: "C:\a\x" to toFolder +
  // "/C/a/x", a network path "\\server\share\x" to toFolder +
  // "/UNC/server/share/x"; without a folder they are refused. A position that
  // cannot be restored safely (not a full path, a ".." component, a NUL
  // byte, no file name) goes to `refused` instead.
  static std::vector<RestoreItem> Plan(const CBackupArchive& archive,
                                       const std::vector<size_t>& positions,
                                       const std::string& toFolder,
                                       std::vector<RestoreFailure>& refused);

  // Extracts each item in order, creating missing folders and replacing the
  // data of existing files (see CZipFile::ExtractToFile; with a target folder
  // no symbolic link below it is followed); a failure is recorded and the
  // rest go on. The cancel flag
  // is polled before each file and while a file is written: a file cut short
  // is removed and the destination keeps what it held. `sink` is called on
  // the thread that calls Run. `jobs` is how many files may be restored at
  // once; 0 means one per core.
  static RestoreResult Run(CBackupArchive& archive, const std::vector<RestoreItem>& items,
                           const std::atomic<bool>* cancel, IProgressSink* sink, unsigned jobs = 0);

  // Extracts one manifest position to `destination` (replaced without
  // question). On failure `error` says why.
  static bool ExtractPosition(CBackupArchive& archive, size_t position,
                              const std::string& destination, std::string& error);

  // Extracts one manifest position to its preview copy (PreviewTempPath),
  // replacing whatever is there, links included. Sets `path` to the copy.
  static bool ExtractPreviewCopy(CBackupArchive& archive, size_t position, std::string& path,
                                 std::string& error);
};

// The last component of a source path: after the last "/", or, for a path
// of a Backup made on Windows, after the last "\" or "/".
std::string LastPathComponent(std::string_view sourcePath);

// Where a preview copy of a file goes: the temporary folder + the last
// component of the source path. Two files of the same name share the copy.
std::string PreviewTempPath(std::string_view sourcePath);

}  // namespace tessarook
