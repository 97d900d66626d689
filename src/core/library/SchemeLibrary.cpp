// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/SchemeLibrary.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "backup/BackupStore.h"
#include "scheme/SchemePaths.h"
#include "util/OpenBeneath.h"
#include "util/PathUtil.h"
#include "util/PrivateFiles.h"
#include "util/SamePath.h"

namespace tessarook {

namespace fs = std::filesystem;

namespace {

// A name that may stand for an existing Scheme: any name the folder can hold, as long
// as it stays one path component once ".tsbak" is appended.
bool IsUsableName(std::string_view name) {
  return !name.empty() && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

bool Present(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Copies a file to `target` through a temporary file beside it, so a failed copy
// leaves whatever was at the target untouched.
bool CopyFileReplacing(const std::string& source, const std::string& target) {
  const std::string temp = target + ".tessarook-copy";
  std::error_code ec;
  fs::remove(temp, ec);
  if (!fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec) || ec) {
    fs::remove(temp, ec);
    return false;
  }
  ::chmod(temp.c_str(), ModeForReplacing(target));
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace

std::string CSchemeLibrary::SchemeFile(std::string_view name) const {
  return SchemeFilePath(m_dir, name);
}

std::string CSchemeLibrary::BackupsFolder(std::string_view name) const {
  return BackupsFolderFor(SchemeFile(name));
}

bool CSchemeLibrary::IsValidNewName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && !HasForbiddenNameChar(name) &&
         name.find('\0') == std::string_view::npos;
}

std::vector<std::string> CSchemeLibrary::List() const {
  std::vector<std::string> names;
  if (m_dir.empty()) return names;
  std::error_code ec;
  fs::directory_iterator it(m_dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (file.size() > kSchemeExtension.size() &&
        file.compare(file.size() - kSchemeExtension.size(), kSchemeExtension.size(),
                     kSchemeExtension) == 0)
      names.push_back(file.substr(0, file.size() - kSchemeExtension.size()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool CSchemeLibrary::Exists(std::string_view name) const {
  return !m_dir.empty() && IsUsableName(name) && Present(SchemeFile(name));
}

bool CSchemeLibrary::IsBeingWritten(std::string_view name) const {
  if (m_dir.empty() || !IsUsableName(name)) return false;
  CBackupsFolderLock probe;
  return !probe.Acquire(BackupsFolder(name));
}

std::string CSchemeLibrary::OpenPath() const {
  return m_hooks.openSchemePath ? m_hooks.openSchemePath() : std::string();
}

bool CSchemeLibrary::IsOpen(std::string_view name) const {
  const std::string open = OpenPath();
  return !open.empty() && !m_dir.empty() && IsUsableName(name) && SamePath(open, SchemeFile(name));
}

LibraryResult CSchemeLibrary::Delete(std::string_view name) {
  m_followError.clear();
  if (m_dir.empty() || !IsUsableName(name)) return LibraryResult::kBadName;
  const std::string scheme = SchemeFile(name);
  const std::string backups = BackupsFolderFor(scheme);
  if (!Present(scheme) && !Present(backups)) return LibraryResult::kMissing;
  CBackupsFolderLock held;
  if (!held.Acquire(backups)) return LibraryResult::kBusy;
  if (IsOpen(name) && m_hooks.close) m_hooks.close();
  DeleteFolderTree(backups);
  // A folder that merely carries the ending is left alone.
  if (::unlink(scheme.c_str()) != 0 && errno != ENOENT) return LibraryResult::kFailed;
  return Follow(Present(backups) ? LibraryResult::kFailed : LibraryResult::kDone, scheme,
                std::string(), false);
}

LibraryResult CSchemeLibrary::Follow(LibraryResult result, const std::string& fromFile,
                                     const std::string& toFile, bool copy) {
  if (result == LibraryResult::kDone && m_follower)
    m_followError = m_follower(fromFile, toFile, copy);
  return result;
}

LibraryResult CSchemeLibrary::Endpoints(std::string_view oldName, std::string_view newName,
                                        std::string& oldPath, std::string& newPath) {
  m_followError.clear();
  if (m_dir.empty() || !IsUsableName(oldName) || !IsValidNewName(newName))
    return LibraryResult::kBadName;
  oldPath = SchemeFile(oldName);
  newPath = SchemeFile(newName);
  return SamePath(oldPath, newPath) ? LibraryResult::kUnchanged : LibraryResult::kDone;
}

LibraryResult CSchemeLibrary::Rename(std::string_view oldName, std::string_view newName) {
  return Rename(oldName, newName, CopyControl{});
}

LibraryResult CSchemeLibrary::Rename(std::string_view oldName, std::string_view newName,
                                     const CopyControl& control) {
  std::string oldPath, newPath;
  if (const LibraryResult r = Endpoints(oldName, newName, oldPath, newPath);
      r != LibraryResult::kDone)
    return r;
  // Nothing at the new name is removed unless there is something to put in its place.
  if (!Present(oldPath)) return LibraryResult::kMissing;
  CBackupsFolderLock heldOld, heldNew;
  if (!heldOld.Acquire(BackupsFolderFor(oldPath)) || !heldNew.Acquire(BackupsFolderFor(newPath)))
    return LibraryResult::kBusy;

  const bool wasOpen = IsOpen(oldName);
  if (wasOpen) {
    if (m_hooks.saveTo) m_hooks.saveTo(oldPath);
    if (m_hooks.close) m_hooks.close();
  }
  auto reopen = [&](const std::string& path) {
    if (wasOpen && m_hooks.open && m_hooks.open(path) && path == newPath && m_hooks.saveTo)
      m_hooks.saveTo(newPath);
  };
  // Replaces a file of the new name in one step; fails, touching nothing, when a folder
  // is in the way.
  if (::rename(oldPath.c_str(), newPath.c_str()) != 0) {
    reopen(oldPath);
    return LibraryResult::kFailed;
  }
  const std::string oldBackups = BackupsFolderFor(oldPath);
  const std::string newBackups = BackupsFolderFor(newPath);
  DeleteFolderTree(newBackups);
  LibraryResult result = LibraryResult::kDone;
  if (Present(oldBackups) && ::rename(oldBackups.c_str(), newBackups.c_str()) != 0) {
    if (errno == EXDEV || errno == EBUSY) {
      // Moved by copying: into a hidden folder first, into place when complete.
      result = MoveByCopy(oldBackups, newBackups, control);
      if (result != LibraryResult::kDone) ::rename(newPath.c_str(), oldPath.c_str());
    } else {
      result = LibraryResult::kFailed;
    }
  }
  reopen(result == LibraryResult::kDone || !Present(oldPath) ? newPath : oldPath);
  return Follow(result, oldPath, newPath, false);
}

LibraryResult CSchemeLibrary::MoveByCopy(const std::string& from, const std::string& to,
                                         const CopyControl& control) {
  std::string staging = JoinPath(m_dir, ".tessarook-move-XXXXXX");
  if (!::mkdtemp(staging.data())) return LibraryResult::kFailed;
  const std::string staged = staging + "/backups";
  const bool copied = ::mkdir(staged.c_str(), 0700) == 0 && CopyFolder(staged, from, control);
  LibraryResult result = LibraryResult::kDone;
  if (control.Cancelled())
    result = LibraryResult::kCancelled;
  else if (!copied || ::rename(staged.c_str(), to.c_str()) != 0)
    result = LibraryResult::kFailed;
  DeleteFolderTree(staging);
  // The old folder goes once the copy is in place (a mount point itself stays, empty).
  if (result == LibraryResult::kDone) DeleteFolderTree(from);
  return result;
}

LibraryResult CSchemeLibrary::Duplicate(std::string_view oldName, std::string_view newName) {
  return Duplicate(oldName, newName, CopyControl{});
}

uint64_t CSchemeLibrary::DataBytes(std::string_view name) const {
  if (m_dir.empty() || !IsUsableName(name)) return 0;
  struct stat st;
  const std::string scheme = SchemeFile(name);
  const uint64_t schemeBytes =
      ::stat(scheme.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
  return schemeBytes + FolderDataBytes(BackupsFolderFor(scheme));
}

LibraryResult CSchemeLibrary::Duplicate(std::string_view oldName, std::string_view newName,
                                        const CopyControl& control) {
  std::string oldPath, newPath;
  if (const LibraryResult r = Endpoints(oldName, newName, oldPath, newPath);
      r != LibraryResult::kDone)
    return r;
  struct stat st;
  if (::stat(oldPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return LibraryResult::kMissing;

  // Everything is copied into a hidden folder beside the Schemes first (no "*.tsbak"
  // name, so it is never listed), then moved into place in two renames.
  std::string staging = JoinPath(m_dir, ".tessarook-copy-XXXXXX");
  if (!::mkdtemp(staging.data())) return LibraryResult::kFailed;
  const std::string stagedScheme = staging + "/scheme";
  const std::string stagedBackups = staging + "/backups";
  auto give_up = [&staging](LibraryResult result) {
    DeleteFolderTree(staging);
    return result;
  };
  const std::string oldBackups = BackupsFolderFor(oldPath);
  const bool hadBackups = Present(oldBackups);
  if (!CopyFileReplacing(oldPath, stagedScheme)) return give_up(LibraryResult::kFailed);
  if (control.copied) control.copied(uint64_t(st.st_size));
  // The copy's Backups folder is private, as every folder made for Backups.
  const bool copied = ::mkdir(stagedBackups.c_str(), 0700) == 0 &&
                      (!hadBackups || CopyFolder(stagedBackups, oldBackups, control));
  if (control.Cancelled()) return give_up(LibraryResult::kCancelled);
  if (!copied) return give_up(LibraryResult::kFailed);

  const std::string newBackups = BackupsFolderFor(newPath);
  CBackupsFolderLock heldNew;
  if (!heldNew.Acquire(newBackups)) return give_up(LibraryResult::kBusy);
  DeleteFolderTree(newBackups);
  if (::rename(stagedBackups.c_str(), newBackups.c_str()) != 0 ||
      ::rename(stagedScheme.c_str(), newPath.c_str()) != 0)
    return give_up(LibraryResult::kFailed);
  DeleteFolderTree(staging);
  return Follow(LibraryResult::kDone, oldPath, newPath, true);
}

bool CSchemeLibrary::ClearBackups(std::string_view name) {
  if (m_dir.empty() || !IsUsableName(name)) return false;
  const std::string backups = BackupsFolder(name);
  struct stat st;
  if (::lstat(backups.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return true;
  std::vector<fs::path> files;
  std::error_code ec;
  // Links to folders are not followed: the link itself is deleted like a file.
  fs::recursive_directory_iterator it(backups, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code sec;
    if (!it->is_directory(sec) || it->is_symlink(sec)) files.push_back(it->path());
  }
  bool ok = !ec;
  for (const fs::path& f : files)
    if (::unlink(f.c_str()) != 0) ok = false;
  return ok;
}

}  // namespace tessarook
