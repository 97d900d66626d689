// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "library/OpenSchemeHooks.h"
#include "util/PathUtil.h"

namespace tessarook {

enum class LibraryResult {
  kDone,       // done (file-system steps after the first may still have failed: see below)
  kUnchanged,  // the new name gives the same scheme file path: nothing was done
  kBadName,    // a name that cannot name a Scheme here; nothing was done
  kMissing,    // the Scheme is not in the My Schemes folder; nothing was done
  kFailed,     // the scheme file could not be removed, moved or copied
  kCancelled,  // stopped by the cancel flag; nothing was changed
  kBusy,       // a Backup of a Scheme concerned is being written; nothing was done
};

// The My Schemes folder: each Scheme is "<name>.tsbak" there, with its Backups in
// "<name>.tsbak.backups" beside it. These operations touch nothing outside the two paths
// of the Schemes they name. Failures are reported by the result, never fatal; the caller
// rebuilds what it shows from the folder afterwards.
//
// Delete, Rename and Duplicate hold the Backups folders they remove, move or
// replace (CBackupsFolderLock): while a Backup of such a Scheme is being
// written they do nothing and return kBusy.

// What the program keeps about a Scheme outside its files (its schedule record
// and timer) follows the Scheme through a done Delete, Rename or Duplicate:
// called with both scheme file paths (`toFile` empty for Delete; `copy` for
// Duplicate) while the operation still holds the Backups folders, so that no
// Backup of either Scheme starts in between. Returns "" or what could not be
// done; the Scheme operation itself stands either way.
using SchemeFollower =
    std::function<std::string(const std::string& fromFile, const std::string& toFile, bool copy)>;

class CSchemeLibrary {
 public:
  explicit CSchemeLibrary(std::string schemesDir, OpenSchemeHooks hooks = {})
      : m_dir(std::move(schemesDir)), m_hooks(std::move(hooks)) {}

  // Sets what follows the Schemes (see SchemeFollower); none by default.
  void SetFollower(SchemeFollower follower) { m_follower = std::move(follower); }
  // What the follower could not do in the last Delete, Rename or Duplicate ("" when
  // all went well or nothing followed).
  const std::string& FollowError() const { return m_followError; }

  const std::string& Dir() const { return m_dir; }
  std::string SchemeFile(std::string_view name) const;
  std::string BackupsFolder(std::string_view name) const;

  // The Scheme names: every entry of the folder whose name ends in ".tsbak" (exactly; a
  // folder named so counts too), without that ending, ascending by byte value. A missing
  // folder gives an empty list.
  std::vector<std::string> List() const;

  // True when something exists at the Scheme's scheme file path.
  bool Exists(std::string_view name) const;

  // True when a Backup of the Scheme is being written at the moment (by this
  // program or another): Delete, Rename and Duplicate would refuse.
  bool IsBeingWritten(std::string_view name) const;

  // True when the Scheme is the one open in the program (same path, see SamePath).
  bool IsOpen(std::string_view name) const;

  // Closes the Scheme when it is open, deletes its Backups folder with everything in it,
  // then its scheme file.
  LibraryResult Delete(std::string_view name);

  // Renames a Scheme with its Backups folder, replacing a Scheme of the new name (its
  // scheme file and its whole Backups folder). An open Scheme is saved, closed, moved,
  // opened again under its new name and saved there.
  LibraryResult Rename(std::string_view oldName, std::string_view newName);
  // The same under a control. Where the Backups folder cannot simply be renamed (it
  // is on another file system than its new place, or a mount point), its files are
  // copied and then deleted; a cancelled or failed copy leaves both Schemes as they
  // were.
  LibraryResult Rename(std::string_view oldName, std::string_view newName,
                       const CopyControl& control);

  // Copies a Scheme and its Backups folder under a new name, replacing a Scheme of that
  // name. The copy always gets a Backups folder (empty when the original has none).
  LibraryResult Duplicate(std::string_view oldName, std::string_view newName);
  // The same under a control (cancel flag, bytes copied), for a worker thread: the copy
  // is made in a hidden folder of the My Schemes folder and moved into place only when
  // complete, so a cancelled or failed copy leaves nothing behind and a Scheme of the
  // new name stays as it was.
  LibraryResult Duplicate(std::string_view oldName, std::string_view newName,
                          const CopyControl& control);

  // The bytes a Duplicate of the Scheme copies: its scheme file and its Backups.
  uint64_t DataBytes(std::string_view name) const;

  // Deletes every file in the Scheme's Backups folder and in the folders below it; the
  // folders stay. Done before importing over the open Scheme. False when a file stayed.
  bool ClearBackups(std::string_view name);

  // A name the user may give a new Scheme: not empty, not "." or "..", none of the nine
  // characters \ / : * ? " < > |.
  static bool IsValidNewName(std::string_view name);

 private:
  // The scheme files of a rename or copy from `oldName` to `newName`; a
  // result other than kDone when there is nothing to do (a name that cannot
  // be used, or both naming the same file).
  LibraryResult Endpoints(std::string_view oldName, std::string_view newName, std::string& oldPath,
                          std::string& newPath);
  std::string OpenPath() const;
  LibraryResult MoveByCopy(const std::string& from, const std::string& to,
                           const CopyControl& control);

  LibraryResult Follow(LibraryResult result, const std::string& fromFile, const std::string& toFile,
                       bool copy);

  std::string m_dir;
  OpenSchemeHooks m_hooks;
  SchemeFollower m_follower;
  std::string m_followError;
};

}  // namespace tessarook
