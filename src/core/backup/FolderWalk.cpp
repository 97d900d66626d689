// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/FolderWalk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace tessarook {

namespace {

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Join(const std::string& folder, const char* name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

enum class Kind { kFile, kFolder, kOther };

Kind KindOf(const std::string& path, unsigned char type) {
  switch (type) {
    case DT_REG:
      return Kind::kFile;
    case DT_DIR:
      return Kind::kFolder;
    case DT_LNK: {
      // A link counts by what it points at, but links to folders are not walked.
      struct stat st {};
      return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? Kind::kFile : Kind::kOther;
    }
    case DT_UNKNOWN: {
      struct stat st {};
      if (lstat(path.c_str(), &st) != 0) return Kind::kOther;
      if (S_ISDIR(st.st_mode)) return Kind::kFolder;
      if (S_ISLNK(st.st_mode)) return KindOf(path, DT_LNK);
      return S_ISREG(st.st_mode) ? Kind::kFile : Kind::kOther;
    }
    default:
      return Kind::kOther;
  }
}

struct OpenFolder {
  std::string path;
  std::vector<std::pair<std::string, unsigned char>> entries;
  size_t next = 0;
};

bool ReadFolder(const std::string& path, OpenFolder& out, std::vector<SkippedFile>& skipped,
                bool top) {
  out.path = path;
  DIR* dir = opendir(path.c_str());
  if (!dir) {
    const int err = errno;
    skipped.push_back({path, top && err == ENOENT ? "folder not found" : std::strerror(err)});
    return false;
  }
  while (dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    out.entries.emplace_back(e->d_name, e->d_type);
  }
  closedir(dir);
  return true;
}

}  // namespace

bool IsExcludedExtension(std::string_view fileName, const std::vector<std::string>& excluded) {
  const size_t dot = fileName.rfind('.');
  const std::string ext =
      LowerAscii(dot == std::string_view::npos ? fileName : fileName.substr(dot + 1));
  for (const std::string& x : excluded)
    if (LowerAscii(x) == ext) return true;
  return false;
}

SourceIdentity ListedFileIdentity(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? IdentityOf(st) : SourceIdentity{};
}

bool WalkFolder(const std::string& folder, const std::vector<std::string>& excluded,
                std::vector<std::string>& list, std::vector<SkippedFile>& skipped,
                const std::atomic<bool>* cancel, std::vector<SourceIdentity>* identities) {
  // An explicit stack keeps deep trees off the call stack; each level holds
  // its entries, so no folder handle stays open while a sub-folder is walked.
  std::vector<OpenFolder> stack(1);
  if (!ReadFolder(folder, stack.back(), skipped, true)) return true;
  while (!stack.empty()) {
    if (cancel && cancel->load()) return false;
    OpenFolder& top = stack.back();
    if (top.next >= top.entries.size()) {
      stack.pop_back();
      continue;
    }
    const std::string name = top.entries[top.next].first;
    const unsigned char type = top.entries[top.next].second;
    ++top.next;
    const std::string path = Join(top.path, name.c_str());
    switch (KindOf(path, type)) {
      case Kind::kFolder: {
        OpenFolder sub;
        if (ReadFolder(path, sub, skipped, false)) stack.push_back(std::move(sub));
        break;
      }
      case Kind::kFile:
        if (!IsExcludedExtension(name, excluded)) {
          list.push_back(path);
          if (identities) identities->push_back(ListedFileIdentity(path));
        }
        break;
      case Kind::kOther:
        break;
    }
  }
  return true;
}

}  // namespace tessarook
