// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/BackupStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "backup/BackupArchive.h"
#include "scheme/SchemePaths.h"
#include "util/FileBytes.h"
#include "util/FormatTime.h"
#include "util/PartialFiles.h"
#include "util/PrivateFiles.h"
#include "util/SamePath.h"

namespace tessarook {

namespace {

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

bool StatBackup(const std::string& path, BackupInfo& info) {
  struct statx sx {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME | STATX_SIZE | STATX_TYPE, &sx) !=
      0)
    return false;
  if (!S_ISREG(sx.stx_mode)) return false;
  const struct statx_timestamp& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
  info.creationTime = t.tv_sec * 1000000000LL + t.tv_nsec;
  // A copy of a Backup is a new file: the time it was taken goes with it.
  TakenRecord taken;
  if (ReadBackupTaken(path, taken)) info.creationTime = taken.takenNs;
  info.size = sx.stx_size;
  info.path = path;
  info.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  info.inode = sx.stx_ino;
  return true;
}

// Takes the locks of the Backups at `paths` (one or two), in path order so
// that two operations never wait for each other.
StoreResult LockNames(std::vector<std::string> paths, const LockWait& wait,
                      std::vector<std::unique_ptr<CBackupNameLock>>& locks, std::string* error) {
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  for (const std::string& path : paths) {
    auto lock = std::make_unique<CBackupNameLock>();
    std::string why;
    switch (lock->Acquire(path, wait.wait, wait.cancel, &why)) {
      case CBackupNameLock::Outcome::kHeld:
        locks.push_back(std::move(lock));
        break;
      case CBackupNameLock::Outcome::kBusy:
        SetError(error, kBackupBeingWrittenText);
        return StoreResult::kBusy;
      case CBackupNameLock::Outcome::kCancelled:
        SetError(error, "cancelled");
        return StoreResult::kCancelled;
      case CBackupNameLock::Outcome::kFailed:
        SetError(error, why);
        return StoreResult::kFailed;
    }
  }
  return StoreResult::kDone;
}

std::atomic<unsigned> g_copyCounter{0};

bool CopyFileContents(const std::string& from, const std::string& to, std::string* error) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) {
    SetError(error, from + ": " + std::strerror(errno));
    return false;
  }
  struct stat st {};
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    SetError(error, from + ": not a Backup file");
    return false;
  }
  fcntl(in, F_SETFL, fcntl(in, F_GETFL) & ~O_NONBLOCK);
  const std::string folder = to.substr(0, to.rfind('/') + 1);
  RemoveStalePartials(folder.empty() ? "." : folder);
  const std::string temp = folder + ".tessarook-copy-" + std::to_string(getpid()) + "-" +
                           std::to_string(g_copyCounter.fetch_add(1)) + ".part";
  const mode_t mode = ModeForReplacing(to);
  const int out = OpenLockedPartial(temp, true, kPrivateFileMode);
  if (out < 0) {
    SetError(error, to + ": " + std::strerror(errno));
    ::close(in);
    return false;
  }
  ::fchmod(out, mode);
  std::vector<char> buffer;
  uint64_t offset = 0;
  const CopyOutcome copy = CopyBytes(in, &offset, out, UINT64_MAX, buffer);
  bool ok = copy.status == CopyOutcome::kOk;
  if (!ok)
    SetError(error,
             (copy.status == CopyOutcome::kReadError ? from : to) + ": " + std::strerror(errno));
  ::close(in);
  if (::close(out) != 0 && ok) {
    SetError(error, to + ": " + std::strerror(errno));
    ok = false;
  }
  if (ok && ::rename(temp.c_str(), to.c_str()) != 0) {
    SetError(error, to + ": " + std::strerror(errno));
    ok = false;
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

CBackupStore::CBackupStore(std::string schemeFile) : m_schemeFile(std::move(schemeFile)) {}

std::string CBackupStore::BackupsFolder() const { return BackupsFolderFor(m_schemeFile); }

std::string CBackupStore::GetBackupPath(std::string_view name) const {
  return BackupFilePath(BackupsFolder(), name);
}

std::vector<BackupInfo> CBackupStore::List() const {
  std::vector<BackupInfo> out;
  DIR* dir = opendir(BackupsFolder().c_str());
  if (!dir) return out;
  const std::string_view ext = kBackupExtension;
  while (dirent* e = readdir(dir)) {
    const std::string_view file = e->d_name;
    if (file.size() <= ext.size() || file.substr(file.size() - ext.size()) != ext) continue;
    BackupInfo info;
    info.name = std::string(file.substr(0, file.size() - ext.size()));
    if (StatBackup(GetBackupPath(info.name), info)) out.push_back(std::move(info));
  }
  closedir(dir);
  return out;
}

bool CBackupStore::GetInfo(std::string_view name, BackupInfo& info) const {
  info.name = std::string(name);
  return StatBackup(GetBackupPath(name), info);
}

bool CBackupStore::Exists(std::string_view name) const {
  struct stat st {};
  return lstat(GetBackupPath(name).c_str(), &st) == 0;
}

StoreResult CBackupStore::Delete(std::string_view name, std::string* error,
                                 const LockWait& wait) const {
  const std::string path = GetBackupPath(name);
  std::vector<std::unique_ptr<CBackupNameLock>> locks;
  if (const StoreResult r = LockNames({path}, wait, locks, error); r != StoreResult::kDone)
    return r;
  if (::unlink(path.c_str()) != 0) {
    SetError(error, path + ": " + std::strerror(errno));
    return StoreResult::kFailed;
  }
  return StoreResult::kDone;
}

CBackupStore::DeleteOutcome CBackupStore::DeleteListed(const BackupInfo& listed,
                                                       std::string* error) const {
  const std::string path = GetBackupPath(listed.name);
  struct stat st {};
  // Gone already: there is nothing to lock (and no folder to make for it).
  if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return DeleteOutcome::kGone;
  std::vector<std::unique_ptr<CBackupNameLock>> locks;
  switch (LockNames({path}, {}, locks, error)) {
    case StoreResult::kDone:
      break;
    case StoreResult::kBusy:
    case StoreResult::kCancelled:
      return DeleteOutcome::kBusy;
    case StoreResult::kExists:
    case StoreResult::kFailed:
      return DeleteOutcome::kFailed;
  }
  // Under the lock nobody else creates or replaces the name: what is there
  // now is what gets deleted.
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return DeleteOutcome::kGone;
    SetError(error, path + ": " + std::strerror(errno));
    return DeleteOutcome::kFailed;
  }
  if (static_cast<uint64_t>(st.st_dev) != listed.device ||
      static_cast<uint64_t>(st.st_ino) != listed.inode) {
    SetError(error, "another file has taken the name " + listed.name + " since it was listed");
    return DeleteOutcome::kReplaced;
  }
  if (::unlink(path.c_str()) != 0) {
    if (errno == ENOENT) return DeleteOutcome::kGone;
    SetError(error, path + ": " + std::strerror(errno));
    return DeleteOutcome::kFailed;
  }
  return DeleteOutcome::kDeleted;
}

StoreResult CBackupStore::Rename(std::string_view oldName, std::string_view newName,
                                 std::string* error, const LockWait& wait) const {
  const std::string from = GetBackupPath(oldName);
  const std::string to = GetBackupPath(newName);
  if (SamePath(from, to)) return StoreResult::kDone;
  struct stat st {};
  if (lstat(from.c_str(), &st) != 0) {
    SetError(error, from + ": " + std::strerror(errno));
    return StoreResult::kFailed;
  }
  std::vector<std::unique_ptr<CBackupNameLock>> locks;
  if (const StoreResult r = LockNames({from, to}, wait, locks, error); r != StoreResult::kDone)
    return r;
  if (!wait.replace && lstat(to.c_str(), &st) == 0) return StoreResult::kExists;
  if (::rename(from.c_str(), to.c_str()) != 0) {
    SetError(error, (errno == ENOENT ? from : to) + ": " + std::strerror(errno));
    return StoreResult::kFailed;
  }
  return StoreResult::kDone;
}

StoreResult CBackupStore::Duplicate(std::string_view oldName, std::string_view newName,
                                    std::string* error, const LockWait& wait) const {
  const std::string from = GetBackupPath(oldName);
  const std::string to = GetBackupPath(newName);
  if (SamePath(from, to)) return StoreResult::kDone;
  std::vector<std::unique_ptr<CBackupNameLock>> locks;
  if (const StoreResult r = LockNames({to}, wait, locks, error); r != StoreResult::kDone) return r;
  struct stat st {};
  if (!wait.replace && lstat(to.c_str(), &st) == 0) return StoreResult::kExists;
  return CopyFileContents(from, to, error) ? StoreResult::kDone : StoreResult::kFailed;
}

CBackupNameLock::Outcome CBackupNameLock::Acquire(const std::string& backupPath, bool wait,
                                                  const std::atomic<bool>* cancel,
                                                  std::string* error) {
  Release();
  const size_t slash = backupPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : backupPath.substr(0, slash + 1);
  const std::string lockPath = folder + "." + backupPath.substr(folder.size()) + ".lock";
  const std::string folderPath = folder.size() > 1 ? folder.substr(0, folder.size() - 1)
                                 : folder.empty()  ? std::string(".")
                                                   : folder;
  if (folder.size() > 1 && !MakePrivateFolder(folderPath)) {
    // Usually there already. One that cannot be made is the real cause of a
    // failure, not the lock file that would have been made in it.
    SetError(error, "cannot create the folder " + folderPath + ": " + std::strerror(errno));
    return Outcome::kFailed;
  }
  for (;;) {
    if (cancel && cancel->load()) return Outcome::kCancelled;
    // First the shared hold on the folder: an operation on the whole Scheme
    // holds it exclusively while it moves or removes the folder.
    const int folderFd = ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
      SetError(error, folderPath + ": " + std::strerror(errno));
      return Outcome::kFailed;
    }
    if (::flock(folderFd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      ::close(folderFd);
      if (!wait) return Outcome::kBusy;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    struct stat openedFolder {};
    struct stat namedFolder {};
    if (::fstat(folderFd, &openedFolder) != 0 || ::stat(folderPath.c_str(), &namedFolder) != 0 ||
        openedFolder.st_dev != namedFolder.st_dev || openedFolder.st_ino != namedFolder.st_ino) {
      // Moved or removed meanwhile: start again with what is at the path now.
      ::close(folderFd);
      if (folder.size() > 1 && !MakePrivateFolder(folderPath)) {
        SetError(error, "cannot create the folder " + folderPath + ": " + std::strerror(errno));
        return Outcome::kFailed;
      }
      continue;
    }
    const int fd =
        ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFileMode);
    if (fd < 0) {
      SetError(error, lockPath + ": " + std::strerror(errno));
      ::close(folderFd);
      return Outcome::kFailed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // The previous holder removes the file as it lets go: a lock on a file
      // no longer at that name is worth nothing, so try the new one.
      struct stat held {};
      struct stat named {};
      if (::fstat(fd, &held) == 0 && ::stat(lockPath.c_str(), &named) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        m_fd = fd;
        m_folderFd = folderFd;
        m_held = true;
        m_backupPath = backupPath;
        m_lockPath = lockPath;
        return Outcome::kHeld;
      }
      ::close(fd);
      ::close(folderFd);
      continue;
    }
    const int err = errno;
    ::close(fd);
    if (err != EWOULDBLOCK) {
      // A file system without flock: no one can be kept out; go on unlocked.
      ::close(folderFd);
      m_held = true;
      m_backupPath = backupPath;
      return Outcome::kHeld;
    }
    ::close(folderFd);
    if (!wait) return Outcome::kBusy;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool CBackupNameLock::HoldsFor(const std::string& backupPath) const {
  return m_held && m_backupPath == backupPath;
}

void CBackupNameLock::Release() {
  if (m_fd >= 0) {
    ::unlink(m_lockPath.c_str());  // while still holding it, see Acquire
    ::close(m_fd);
  }
  if (m_folderFd >= 0) ::close(m_folderFd);
  m_folderFd = -1;
  m_fd = -1;
  m_held = false;
  m_backupPath.clear();
  m_lockPath.clear();
}

bool CBackupsFolderLock::Acquire(const std::string& folder) {
  Release();
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR;  // nothing to hold
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return false;
  }
  m_fd = fd;
  return true;
}

void CBackupsFolderLock::Release() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

void SortBackups(std::vector<BackupInfo>& list, BackupSort order) {
  auto byName = [](const BackupInfo& a, const BackupInfo& b) { return a.name < b.name; };
  switch (order) {
    case BackupSort::kNone:
      std::stable_sort(list.begin(), list.end(),
                       [](const BackupInfo& a, const BackupInfo& b) { return b.name < a.name; });
      break;
    case BackupSort::kName:
      std::stable_sort(list.begin(), list.end(), byName);
      break;
    case BackupSort::kTime:
      std::stable_sort(list.begin(), list.end(), [&](const BackupInfo& a, const BackupInfo& b) {
        if (a.creationTime != b.creationTime) return a.creationTime < b.creationTime;
        return byName(a, b);
      });
      break;
    case BackupSort::kSize:
      std::stable_sort(list.begin(), list.end(), [&](const BackupInfo& a, const BackupInfo& b) {
        if (a.size != b.size) return a.size < b.size;
        return byName(a, b);
      });
      break;
  }
}

std::string BackupTimeText(const BackupInfo& info) {
  struct timespec t {};
  t.tv_sec = static_cast<time_t>(info.creationTime / 1000000000LL);
  t.tv_nsec = static_cast<long>(info.creationTime % 1000000000LL);
  if (t.tv_nsec < 0) {
    t.tv_nsec += 1000000000L;
    t.tv_sec -= 1;
  }
  return FormatTime("%a, %h:%m", ToSysTime(t));
}

}  // namespace tessarook
