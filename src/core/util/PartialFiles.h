// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <set>
#include <string>
#include <string_view>

namespace tessarook {

// Partial files: what the program writes under a hidden temporary name and
// renames into place once complete. Each partial's name carries the id of
// the process writing it, and the writer holds an flock on it while it works.
// When the writer dies before it could clean up (killed, power lost), the
// partial stays behind; the next operation in that folder removes it.
//
// The names (P = process id, N = a counter, X = random letters and digits):
//   .NAME.zip.P.partial          a Backup being taken
//   .NAME.P.tmp-XXXXXX           a scheme file or settings file being saved
//   .NAME.part-P                 a Backup being exported to a ZIP archive
//   .tessarook-P-N.part          a file being restored
//   .tessarook-copy-P-N.part     a Backup being duplicated
//   .tessarook-export-P-X.part   a Compressed Scheme being exported
//   .tessarook-import-P-X        a Scheme being imported (a folder)
// and, without a process id, the lock of a Backup name:
//   .NAME.zip.lock

enum class PartialKind { kNone, kFile, kFolder, kLock };

struct PartialName {
  PartialKind kind = PartialKind::kNone;
  pid_t owner = 0;  // the writing process; 0 for a lock file
};

// What a file name (no folder part) is, by the rules above.
PartialName ParsePartialName(std::string_view fileName);

// True for every name ParsePartialName recognises: files that are never a
// finished Backup or Scheme, and are never listed, exported or carried.
inline bool IsPartialName(std::string_view fileName) {
  return ParsePartialName(fileName).kind != PartialKind::kNone;
}

// Opens the file at `path` for writing, creating it (with `mustBeNew`, only a
// file that does not exist yet), and takes an exclusive flock on it that
// lasts until the descriptor is closed. The descriptor, or -1 with errno set.
int OpenLockedPartial(const std::string& path, bool mustBeNew, mode_t mode = 0666);

// Takes an exclusive flock on the folder at `path` for as long as the
// returned descriptor stays open; -1 with errno set when it cannot be opened.
int LockPartialFolder(const std::string& path);

// Removes the partials directly in `folder` whose writers are gone: nobody
// holds their lock, and the process named in the name no longer runs (or is
// a newer process that started after the partial was last written). A lock
// file nobody holds is removed as well. Links are never followed. Returns
// how many were removed.
size_t RemoveStalePartials(const std::string& folder);

// Removes stale partials folder by folder, each folder once (for operations
// that write into many files of few folders, such as a restore).
class CPartialSweeper {
 public:
  // Sweeps the folder that holds `path` unless that was done already. A
  // folder reached through a symbolic link is left alone: where the link
  // leads is not necessarily the operation's to clear.
  void SweepFolderOf(const std::string& path);

 private:
  std::set<std::string> m_swept;
};

}  // namespace tessarook
