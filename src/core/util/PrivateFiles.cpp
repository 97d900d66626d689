// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/PrivateFiles.h"

#include <sys/stat.h>

#include <cerrno>

namespace tessarook {

bool MakePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), kPrivateFolderMode) == 0) {
    // mkdir applies the umask, which may take more than the group's and
    // others' bits; the folder is ours, so set exactly what is meant.
    ::chmod(path.c_str(), kPrivateFolderMode);
    return true;
  }
  if (errno != EEXIST) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

bool MakePrivateFolders(const std::string& path) {
  if (path.empty()) return true;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  const size_t slash = path.rfind('/', end - 1);
  if (slash != std::string::npos && slash > 0 && !MakePrivateFolders(path.substr(0, slash)))
    return false;
  return MakePrivateFolder(path.substr(0, end));
}

mode_t ModeForReplacing(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  return kPrivateFileMode;
}

}  // namespace tessarook
