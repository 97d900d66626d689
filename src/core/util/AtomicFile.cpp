// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "util/FileBytes.h"
#include "util/OpenBeneath.h"
#include "util/PartialFiles.h"

namespace tessarook {

namespace {

// The process's umask, read without changing it (umask() itself would have
// to set it, which races with other threads creating files).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    }
  }
  return 022;
}

// Writing to a link writes the file it names (even one that does not exist
// yet), so the link survives.
std::string ResolveFinalLink(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    if (ec) break;
    path = target.is_absolute() ? target.string()
                                : (std::filesystem::path(path).parent_path() / target).string();
  }
  return path;
}

// Whether a save may replace the existing file: the user must be allowed to
// write it. Root is allowed to write anything, so for root a file that grants
// no one write permission (mode a-w) counts as read-only too: replacing it
// by rename would otherwise quietly defeat the protection.
bool MayReplace(const std::string& path, const struct stat& st) {
  if (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) return false;
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno == EROFS;
}

void SyncFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

CAtomicFile::~CAtomicFile() { Abort(); }

bool CAtomicFile::Open(const std::string& path, unsigned newMode) {
  Abort();
  if (path.empty() || path.back() == '/') return false;
  path_ = ResolveFinalLink(path);
  struct stat old {};
  const bool replacing = ::stat(path_.c_str(), &old) == 0;
  if (replacing && !MayReplace(path_, old)) {
    path_.clear();
    errno = EACCES;
    return false;
  }
  const std::size_t slash = path_.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  // The temporary file is a partial (util/PartialFiles.h): it names this
  // process and is held locked; what a killed save left here goes first.
  RemoveStalePartials(folder.empty() ? "." : folder);
  std::string pattern = folder + "." + name + "." + std::to_string(::getpid()) + ".tmp-XXXXXX";
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) {
    path_.clear();
    return false;
  }
  ::flock(fd_, LOCK_EX | LOCK_NB);  // a new file: nobody else holds it
  temp_ = pattern;
  failed_ = false;

  if (replacing && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
    // The new file takes the old one's place: it gets its owner and group
    // too, where this process may give them (root may; anyone may pick one
    // of their own groups). The mode is set afterwards, as a change of owner
    // clears the set-id bits.
    if (::fchown(fd_, old.st_uid, old.st_gid) != 0 && ::fchown(fd_, (uid_t)-1, old.st_gid) != 0) {
      // Neither: the file keeps this process's owner and group.
    }
  }
  const mode_t mode = replacing               ? (old.st_mode & 07777)
                      : newMode == kUmaskMode ? (0666 & ~CurrentUmask())
                                              : static_cast<mode_t>(newMode & 07777);
  ::fchmod(fd_, mode);
  return true;
}

bool CAtomicFile::Write(std::string_view bytes) {
  if (fd_ < 0 || failed_) return false;
  if (!WriteAll(fd_, bytes.data(), bytes.size())) {
    failed_ = true;
    return false;
  }
  return true;
}

bool CAtomicFile::Commit() {
  if (fd_ < 0) return false;
  bool ok = !failed_ && ::fsync(fd_) == 0;
  if (::close(fd_) != 0) ok = false;
  fd_ = -1;
  if (ok && ::rename(temp_.c_str(), path_.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(temp_.c_str());
  } else {
    SyncFolderOf(path_);
  }
  temp_.clear();
  path_.clear();
  return ok;
}

void CAtomicFile::Abort() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
  }
  temp_.clear();
  path_.clear();
  failed_ = false;
}

bool WriteFileAtomic(const std::string& path, std::string_view bytes, unsigned newMode) {
  CAtomicFile file;
  return file.Open(path, newMode) && file.Write(bytes) && file.Commit();
}

}  // namespace tessarook
