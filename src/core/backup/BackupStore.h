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

  // Deletes the Backup file. False (with a reason) when it could not be.
  bool Delete(std::string_view name, std::string* error = nullptr) const;

  // Renames (moves) the Backup, replacing a Backup of the new name in one
  // step. Nothing happens (true) when both names give the same path. When the
  // old Backup is missing nothing is touched and the result is false.
  bool Rename(std::string_view oldName, std::string_view newName,
              std::string* error = nullptr) const;

  // Copies the Backup under the new name, replacing a Backup of that name
  // only once the copy is complete. Same path: nothing happens (true).
  bool Duplicate(std::string_view oldName, std::string_view newName,
                 std::string* error = nullptr) const;

 private:
  std::string m_schemeFile;
};

// Only one Backup of a name is written at a time, also across processes (the
// desktop program and the command line, or two command lines): the writer
// holds an flock on a hidden lock file beside the Backup, ".NAME.zip.lock",
// which is never listed and is removed again when the lock is released (one
// a killed writer left goes with the next sweep of partial files).
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
  // holds it when missing. When another writer holds it: with `wait`, waits
  // until it is free, polling `cancel` (may be null) a few times a second;
  // without, returns kBusy at once.
  Outcome Acquire(const std::string& backupPath, bool wait, const std::atomic<bool>* cancel,
                  std::string* error = nullptr);
  // True while this object holds the lock of the Backup at `backupPath`.
  bool HoldsFor(const std::string& backupPath) const;
  void Release();

 private:
  int m_fd = -1;
  bool m_held = false;
  std::string m_backupPath;
  std::string m_lockPath;
};

// Why a Backup was not written when another writer holds its name.
inline constexpr const char* kBackupBeingWrittenText =
    "Another Backup of this name is being written at the moment.";

// Sorts ascending by name (byte-wise), by creation time or by size; equal
// times or sizes fall back to the name. kNone sorts descending by name.
void SortBackups(std::vector<BackupInfo>& list, BackupSort order);

// The list's time text: the creation time in local time as "%a, %h:%m".
std::string BackupTimeText(const BackupInfo& info);

}  // namespace tessarook
