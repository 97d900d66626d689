// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessarook {

// One Backup as the store lists it.
struct BackupInfo {
  std::string name;  // file name without ".zip"
  std::string path;  // full path of the Backup file
  // The Backup's time, ns since 1970: when it was taken, as it records itself
  // (see BackupArchive.h); for a Backup without that record, its file's birth
  // time, else its last-write time.
  int64_t creationTime = 0;
  uint64_t size = 0;  // bytes
  // The identity of the file that was listed, so that an operation decided
  // on the list acts on that very file and not on one that took its name
  // since (see CBackupStore::DeleteListed).
  uint64_t device = 0;
  uint64_t inode = 0;
};

// How an operation on Backup names ended.
enum class StoreResult {
  kDone,
  kBusy,       // another writer holds a name's lock (CBackupNameLock); nothing was done
  kCancelled,  // the cancel flag was set while waiting for a lock; nothing was done
  kExists,     // a Backup of the new name exists and was not to be replaced
  kFailed,     // `error` says why
};

// How an operation waits for a Backup name's lock that another writer holds:
// with `wait`, until it is free, polling `cancel` (may be null); otherwise it
// gives up at once with StoreResult::kBusy. `replace`: whether a Backup at
// the new name of a rename or duplicate may be replaced (looked at under the
// lock, so that a Backup landing there meanwhile is not replaced unasked).
struct LockWait {
  bool wait = false;
  const std::atomic<bool>* cancel = nullptr;
  bool replace = true;
};

// The orders a Backups list can be kept in; the numbers are the stored
// arrangement codes. kNone is the list's own order: descending by name.
enum class BackupSort { kNone = 0, kName = 1, kTime = 2, kSize = 3 };

// The Backups of one Scheme: the *.zip files in the folder beside its scheme
// file (scheme file path + ".backups"). There is no index besides the folder.
class CBackupStore {
 public:
  explicit CBackupStore(std::string schemeFile);

  const std::string& SchemeFile() const { return m_schemeFile; }
  std::string BackupsFolder() const;
  // Backups folder + "/" + name + ".zip"; the name is used as given.
  std::string GetBackupPath(std::string_view name) const;

  // Files named *.zip (exact case) directly in the Backups folder, in the
  // order the file system returns them; folders and other files are left
  // out. A missing folder gives an empty list.
  std::vector<BackupInfo> List() const;

  // Reads one Backup's time and size; false when no regular file is there.
  bool GetInfo(std::string_view name, BackupInfo& info) const;

  bool Exists(std::string_view name) const;

  // Every operation below that creates, replaces or removes a Backup name
  // holds that name's lock (CBackupNameLock) while it does so, as a Backup
  // being written does: it never removes or replaces a Backup being written
  // under a name, and a Backup being written never replaces what it put there.

  // Deletes the Backup file.
  StoreResult Delete(std::string_view name, std::string* error = nullptr,
                     const LockWait& wait = {}) const;

  // What DeleteListed did.
  enum class DeleteOutcome {
    kDeleted,
    kGone,      // nothing is at the name any more (someone else deleted it): not a failure
    kReplaced,  // another file has taken the name since it was listed; it was left alone
    kBusy,      // a Backup of the name is being written; nothing was deleted
    kFailed,    // `error` says why
  };
  // Deletes the very file `listed` describes (a List() entry): under the
  // name's lock, only when the file at the name is still the one listed (same
  // device and inode). Never waits for the lock.
  DeleteOutcome DeleteListed(const BackupInfo& listed, std::string* error = nullptr) const;

  // Renames (moves) the Backup, replacing a Backup of the new name in one
  // step; holds the locks of both names. Nothing happens (kDone) when both
  // names give the same path. When the old Backup is missing nothing is
  // touched and the result is kFailed. The file keeps its mode.
  StoreResult Rename(std::string_view oldName, std::string_view newName,
                     std::string* error = nullptr, const LockWait& wait = {}) const;

  // Copies the Backup under the new name, holding that name's lock, and
  // replaces a Backup of that name only once the copy is complete. The copy
  // is mode 0600, or has the mode of the Backup it replaces. Same path:
  // nothing happens (kDone).
  StoreResult Duplicate(std::string_view oldName, std::string_view newName,
                        std::string* error = nullptr, const LockWait& wait = {}) const;

 private:
  std::string m_schemeFile;
};

// Only one Backup of a name is written at a time, also across processes (the
// desktop program and the command line, or two command lines): the writer
// holds an flock on a hidden lock file beside the Backup, ".NAME.zip.lock",
// which is never listed and is removed again when the lock is released (one
// a killed writer left goes with the next sweep of partial files). Every
// operation that creates, replaces or removes a Backup name takes it: taking
// a Backup, renaming, duplicating, deleting and pruning Backups. The lock file
// is made mode 0600 (it holds nothing, but says which names are busy).
//
// The holder also holds a shared flock on the Backups folder itself, so that
// an operation on the whole Scheme (delete, rename, duplicate; see
// CBackupsFolderLock) can tell that a Backup of it is being written.
class CBackupNameLock {
 public:
  enum class Outcome {
    kHeld,       // the lock is this object's until Release
    kBusy,       // another writer holds it (only when not waiting)
    kCancelled,  // the cancel flag was set while waiting
    kFailed,     // the lock file could not be made; `error` says why
  };

  CBackupNameLock() = default;
  ~CBackupNameLock() { Release(); }
  CBackupNameLock(const CBackupNameLock&) = delete;
  CBackupNameLock& operator=(const CBackupNameLock&) = delete;

  // Takes the lock of the Backup at `backupPath`, creating the folder that
  // holds it (mode 0700) when missing. When another writer holds it, or the
  // whole Backups folder is held by CBackupsFolderLock: with `wait`, waits
  // until it is free, polling `cancel` (may be null) a few times a second;
  // without, returns kBusy at once.
  Outcome Acquire(const std::string& backupPath, bool wait, const std::atomic<bool>* cancel,
                  std::string* error = nullptr);
  // True while this object holds the lock of the Backup at `backupPath`.
  bool HoldsFor(const std::string& backupPath) const;
  void Release();

 private:
  int m_fd = -1;
  int m_folderFd = -1;
  bool m_held = false;
  std::string m_backupPath;
  std::string m_lockPath;
};

// Holds a Scheme's whole Backups folder for an operation on the Scheme that
// removes, moves or replaces the folder (delete, rename, duplicate, a new
// Scheme or an import over it): an exclusive flock on the folder, which no
// one gets while a CBackupNameLock is held in it, and which keeps every
// CBackupNameLock out while it is held. The folder's flock follows the folder
// when it is renamed.
class CBackupsFolderLock {
 public:
  CBackupsFolderLock() = default;
  ~CBackupsFolderLock() { Release(); }
  CBackupsFolderLock(const CBackupsFolderLock&) = delete;
  CBackupsFolderLock& operator=(const CBackupsFolderLock&) = delete;

  // True when the folder is held now, or there is no folder at `folder`
  // (nothing to hold). False when a Backup is being written in it.
  bool Acquire(const std::string& folder);
  void Release();

 private:
  int m_fd = -1;
};

// Why a Scheme was not changed while one of its Backups is being written.
inline constexpr const char* kSchemeBackupBeingWrittenText =
    "A Backup of this Scheme is being written at the moment.";

// Why a Backup was not written when another writer holds its name.
inline constexpr const char* kBackupBeingWrittenText =
    "Another Backup of this name is being written at the moment.";

// Sorts ascending by name (byte-wise), by creation time or by size; equal
// times or sizes fall back to the name. kNone sorts descending by name.
void SortBackups(std::vector<BackupInfo>& list, BackupSort order);

// The list's time text: the creation time in local time as "%a, %h:%m".
std::string BackupTimeText(const BackupInfo& info);

}  // namespace tessarook
