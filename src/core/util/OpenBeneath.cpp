// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/OpenBeneath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessarook {

CFileHandle::~CFileHandle() { Close(); }

CFileHandle::CFileHandle(CFileHandle&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }

CFileHandle& CFileHandle::operator=(CFileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

bool CFileHandle::Close() {
  if (m_fd < 0) return true;
  const int fd = m_fd;
  m_fd = -1;
  return ::close(fd) == 0;
}

void CMadeFolders::Add(int parent, const std::string& name) {
  const int copy = fcntl(parent, F_DUPFD_CLOEXEC, 0);
  if (copy >= 0) m_made.push_back({CFileHandle(copy), name});
}

void CMadeFolders::RemoveEmpty() {
  for (auto it = m_made.rbegin(); it != m_made.rend(); ++it) {
    // Only an empty folder can be removed; a failure here ends the clean-up,
    // since every folder above holds this one.
    if (unlinkat(it->parent.Get(), it->name.c_str(), AT_REMOVEDIR) != 0) break;
  }
  m_made.clear();
}

std::vector<std::string> PathComponents(std::string_view path) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) out.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string JoinPath(const std::string& folder, std::string_view name) {
  std::string out = folder;
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

CFileHandle OpenFolderBelow(int start, const std::vector<std::string>& components, LinkRule links,
                            CMadeFolders& made, const std::string& shown, std::string& error) {
  const int flags =
      O_PATH | O_DIRECTORY | O_CLOEXEC | (links == LinkRule::kRefuse ? O_NOFOLLOW : 0);
  CFileHandle current(fcntl(start, F_DUPFD_CLOEXEC, 0));
  if (!current.IsOpen()) {
    error = shown + ": " + std::strerror(errno);
    return {};
  }
  std::string reached = shown;
  for (const std::string& name : components) {
    if (name == ".") continue;
    reached = JoinPath(reached, name);
    if (links == LinkRule::kRefuse && name == "..") {
      error = reached + ": the path leads out of the folder";
      return {};
    }
    int fd = openat(current.Get(), name.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
      if (mkdirat(current.Get(), name.c_str(), 0777) == 0) {
        made.Add(current.Get(), name);
      } else if (errno != EEXIST) {
        error = "cannot create " + reached + ": " + std::strerror(errno);
        return {};
      }
      fd = openat(current.Get(), name.c_str(), flags);
    }
    if (fd < 0) {
      const int err = errno;
      struct stat st {};
      if (fstatat(current.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode) && links == LinkRule::kRefuse)
        error = reached + ": is a symbolic link; links inside the target folder are not followed";
      else if (err == ENOTDIR)
        error = reached + ": is not a folder";
      else
        error = reached + ": " + std::strerror(err);
      return {};
    }
    current = CFileHandle(fd);
  }
  return current;
}

CFileHandle OpenFolderMaking(const std::string& path, CMadeFolders& made, std::string& error) {
  const bool absolute = !path.empty() && path.front() == '/';
  CFileHandle start(open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!start.IsOpen()) {
    error = std::string(absolute ? "/" : ".") + ": " + std::strerror(errno);
    return {};
  }
  // Errors name the folders as the caller's path does.
  return OpenFolderBelow(start.Get(), PathComponents(path), LinkRule::kFollow, made,
                         absolute ? "/" : "", error);
}

}  // namespace tessarook
