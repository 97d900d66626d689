// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupArchive.h"
#include "backup/ProgressSink.h"
#include "backup/ZipExtract.h"

namespace tessarook {

class CPreviewFolder;

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
  // The entry's data is damaged (or could not be read): a fault of the
  // Backup, not of the destination.
  bool damaged = false;
};

struct RestoreResult {
  // Positions, in the order they were finished: files created, replaced, or
  // found already identical (and left untouched).
  std::vector<size_t> restored;
  std::vector<RestoreFailure> failed;
  bool cancelled = false;
  uint64_t created = 0;
  uint64_t replaced = 0;
  uint64_t same = 0;
};

// The end of a restore in words: "2 created, 1 replaced, 5 already
// identical, 1 not restored" (a count of 0 is left out; "nothing restored"
// when every count is 0).
std::string RestoreSummaryText(const RestoreResult& result);

// What a restore would do with one item (see CZipExtractor::ForeseeInto).
struct RestorePreview {
  size_t position = 0;
  std::string destination;
  CZipExtractor::Foresight foresight;
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
  // data of existing files (see CZipExtractor::ExtractToFile; with a target folder
  // no symbolic link below it is followed); a failure is recorded and the
  // rest go on. The cancel flag
  // is polled before each file and while a file is written: a file cut short
  // is removed and the destination keeps what it held. `sink` is called on
  // the thread that calls Run. `jobs` is how many files may be restored at
  // once; 0 means one per core.
  static RestoreResult Run(CBackupArchive& archive, const std::vector<RestoreItem>& items,
                           const std::atomic<bool>* cancel, IProgressSink* sink, unsigned jobs = 0);

  // What Run would do with each item, changing nothing: no folder is made and
  // no file written. Items whose folder is missing would be created; items
  // that would be refused (a link below a target folder, a read-only file...)
  // say why. A path given twice is judged by what is on disk now each time.
  static std::vector<RestorePreview> Foresee(CBackupArchive& archive,
                                             const std::vector<RestoreItem>& items,
                                             const std::atomic<bool>* cancel);

  // Extracts one manifest position to `destination` (replaced without
  // question). On failure `error` says why.
  static bool ExtractPosition(CBackupArchive& archive, size_t position,
                              const std::string& destination, std::string& error);

  // Extracts one manifest position to its preview copy in `folder`
  // (PreviewTempPath), mode 0600, replacing whatever is there, links
  // included. Sets `path` to the copy.
  static bool ExtractPreviewCopy(CBackupArchive& archive, size_t position, CPreviewFolder& folder,
                                 std::string& path, std::string& error);
};

// The private folder preview copies go to: made on first use, mode 0700, as
// "tessarook-preview-XXXXXX" (random letters) in $XDG_RUNTIME_DIR when that
// is a folder of this user, else in the temporary folder; removed with
// everything in it when the object goes (the program keeps one for its whole
// run). No other user can read a copy or put a file where one goes.
class CPreviewFolder {
 public:
  CPreviewFolder() = default;
  ~CPreviewFolder();
  CPreviewFolder(const CPreviewFolder&) = delete;
  CPreviewFolder& operator=(const CPreviewFolder&) = delete;

  // The folder; "" when none could be made (errno says why).
  const std::string& Path();

 private:
  std::string m_path;
};

// The last component of a source path: after the last "/", or, for a path
// of a Backup made on Windows, after the last "\" or "/".
std::string LastPathComponent(std::string_view sourcePath);

// Where a preview copy of a file goes: the preview folder + the last
// component of the source path. Two files of the same name share the copy.
std::string PreviewTempPath(const std::string& folder, std::string_view sourcePath);

}  // namespace tessarook
