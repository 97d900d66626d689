// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/PartialFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "util/OpenBeneath.h"

namespace tessarook {

namespace {

bool AllOf(std::string_view text, bool (*pred)(char)) {
  if (text.empty()) return false;
  for (char c : text)
    if (!pred(c)) return false;
  return true;
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool ParsePid(std::string_view text, pid_t& pid) {
  if (!AllOf(text, IsDigit) || text.size() > 10) return false;
  long long value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  if (value <= 0 || value > INT_MAX) return false;
  pid = static_cast<pid_t>(value);
  return true;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// "P-T" followed by `suffix`, T made of letters and digits (only digits with
// `digitsOnly`).
bool ParsePidAndTag(std::string_view text, std::string_view suffix, bool digitsOnly, pid_t& pid) {
  if (!EndsWith(text, suffix)) return false;
  text.remove_suffix(suffix.size());
  const size_t dash = text.find('-');
  if (dash == std::string_view::npos) return false;
  return ParsePid(text.substr(0, dash), pid) &&
         AllOf(text.substr(dash + 1), digitsOnly ? IsDigit : IsAlnum);
}

// The process that wrote a partial may still be at work.
bool WriterMayRun(pid_t pid, const struct stat& partial) {
  if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
  // The id is in use, but ids are reused: a process that started after the
  // partial was last written is not its writer. The start time is known to
  // a second or so; within that the partial is kept.
  std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(statFile, line)) return true;
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return true;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  unsigned long long startTicks = 0;
  for (int i = 3; i <= 22 && fields >> field; ++i)
    if (i == 22) startTicks = std::strtoull(field.c_str(), nullptr, 10);
  std::ifstream procStat("/proc/stat");
  long long bootTime = -1;
  while (std::getline(procStat, line))
    if (line.rfind("btime ", 0) == 0) bootTime = std::atoll(line.c_str() + 6);
  const long ticks = ::sysconf(_SC_CLK_TCK);
  if (bootTime < 0 || ticks <= 0 || startTicks == 0) return true;
  const long long started = bootTime + static_cast<long long>(startTicks / ticks);
  return started <= static_cast<long long>(partial.st_mtim.tv_sec) + 2;
}

// Removes one partial when its writer is gone; true when it was removed.
bool RemoveIfStale(int dirFd, const std::string& folder, const std::string& name,
                   const PartialName& partial) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  const bool isFolder = S_ISDIR(st.st_mode);
  if (partial.kind == PartialKind::kFolder ? !isFolder : !S_ISREG(st.st_mode)) return false;
  const int fd =
      ::openat(dirFd, name.c_str(),
               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (isFolder ? O_DIRECTORY : 0));
  if (fd < 0) return false;
  bool removed = false;
  struct stat opened {};
  // Holding the lock while removing: a writer that opens the name meanwhile
  // finds out (a lock file is checked again after locking, see the Backup
  // name lock).
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 &&
      opened.st_dev == st.st_dev && opened.st_ino == st.st_ino &&
      (partial.owner == 0 || !WriterMayRun(partial.owner, st))) {
    if (isFolder) {
      std::error_code ec;
      removed = std::filesystem::remove_all(folder + "/" + name, ec) > 0 && !ec;
    } else {
      removed = ::unlinkat(dirFd, name.c_str(), 0) == 0;
    }
  }
  ::close(fd);
  return removed;
}

// True when a folder of the path (or the path itself) is a symbolic link.
bool PassesALink(const std::string& path) {
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    struct stat st {};
    const std::string prefix = path.substr(0, end);
    if (!prefix.empty() && ::lstat(prefix.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return true;
    if (end == std::string::npos) return false;
  }
}

int LockOrClose(int fd) {
  if (fd < 0) return -1;
  // Someone else holds it: not ours to write. A file system without flock
  // support leaves the partial protected by its process id alone.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    errno = EWOULDBLOCK;
    return -1;
  }
  return fd;
}

}  // namespace

PartialName ParsePartialName(std::string_view name) {
  PartialName out;
  if (name.size() < 3 || name[0] != '.') return out;
  pid_t pid = 0;
  auto found = [&](PartialKind kind) {
    out.kind = kind;
    out.owner = kind == PartialKind::kLock ? 0 : pid;
    return out;
  };
  constexpr std::string_view kOwn = ".tessarook-";
  if (name.substr(0, kOwn.size()) == kOwn) {
    const std::string_view rest = name.substr(kOwn.size());
    constexpr std::string_view kCopy = "copy-", kExport = "export-", kImport = "import-";
    if (rest.substr(0, kCopy.size()) == kCopy) {
      if (ParsePidAndTag(rest.substr(kCopy.size()), ".part", true, pid))
        return found(PartialKind::kFile);
    } else if (rest.substr(0, kExport.size()) == kExport) {
      if (ParsePidAndTag(rest.substr(kExport.size()), ".part", false, pid))
        return found(PartialKind::kFile);
    } else if (rest.substr(0, kImport.size()) == kImport) {
      if (ParsePidAndTag(rest.substr(kImport.size()), "", false, pid))
        return found(PartialKind::kFolder);
    } else if (ParsePidAndTag(rest, ".part", true, pid)) {
      return found(PartialKind::kFile);
    }
  }
  // .NAME.zip.P.partial
  if (EndsWith(name, ".partial")) {
    const std::string_view rest = name.substr(0, name.size() - 8);
    const size_t dot = rest.rfind('.');
    if (dot != std::string_view::npos && ParsePid(rest.substr(dot + 1), pid) &&
        EndsWith(rest.substr(0, dot), ".zip") && dot > 5)
      return found(PartialKind::kFile);
  }
  // .NAME.zip.lock
  if (EndsWith(name, ".zip.lock") && name.size() > 10) return found(PartialKind::kLock);
  // .NAME.P.tmp-XXXXXX
  if (name.size() > 13 && name.substr(name.size() - 11, 5) == ".tmp-" &&
      AllOf(name.substr(name.size() - 6), IsAlnum)) {
    const std::string_view rest = name.substr(0, name.size() - 11);
    const size_t dot = rest.rfind('.');
    if (dot != std::string_view::npos && dot > 1 && ParsePid(rest.substr(dot + 1), pid))
      return found(PartialKind::kFile);
  }
  // .NAME.part-P
  const size_t part = name.rfind(".part-");
  if (part != std::string_view::npos && part > 1 && ParsePid(name.substr(part + 6), pid))
    return found(PartialKind::kFile);
  return out;
}

int OpenLockedPartial(const std::string& path, bool mustBeNew, mode_t mode) {
  return LockOrClose(::open(
      path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (mustBeNew ? O_EXCL : 0), mode));
}

int LockPartialFolder(const std::string& path) {
  return LockOrClose(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

size_t RemoveStalePartials(const std::string& folder) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return 0;
  std::vector<std::pair<std::string, PartialName>> candidates;
  while (dirent* e = ::readdir(dir)) {
    const PartialName partial = ParsePartialName(e->d_name);
    if (partial.kind != PartialKind::kNone) candidates.emplace_back(e->d_name, partial);
  }
  size_t removed = 0;
  for (const auto& [name, partial] : candidates)
    if (RemoveIfStale(::dirfd(dir), folder.empty() ? "." : folder, name, partial)) ++removed;
  ::closedir(dir);
  return removed;
}

void CPartialSweeper::SweepFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  if (m_swept.insert(folder).second && !PassesALink(folder)) RemoveStalePartials(folder);
}

}  // namespace tessarook
