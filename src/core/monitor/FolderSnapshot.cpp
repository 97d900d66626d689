// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/FolderSnapshot.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unordered_map>

namespace tessarook {

namespace {

struct Entry {
  std::string name;
  struct stat st;
};

// Reads one folder whole before anything below it is opened, so the number of open
// descriptors does not grow with the depth of the tree.
bool ReadFolder(const std::string& folder, std::vector<Entry>& entries) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  const int fd = ::dirfd(dir);
  while (dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    Entry e;
    e.name = name;
    if (::fstatat(fd, d->d_name, &e.st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    entries.push_back(std::move(e));
  }
  ::closedir(dir);
  return true;
}

void ListInto(const std::string& folder, std::vector<CFileSnapshotItem>& items) {
  std::vector<Entry> entries;
  if (!ReadFolder(folder, entries)) return;
  for (const Entry& e : entries) {
    const bool isFolder = S_ISDIR(e.st.st_mode);
    if (!isFolder && CFolderSnapshot::IsIgnoredFileName(e.name)) continue;
    CFileSnapshotItem item;
    item.m_folder = folder;
    item.m_name = e.name;
    item.m_mode = e.st.st_mode;
    item.m_lastWriteNs =
        static_cast<int64_t>(e.st.st_mtim.tv_sec) * 1000000000 + e.st.st_mtim.tv_nsec;
    item.m_size = static_cast<uint64_t>(e.st.st_size);
    std::string path = item.FullPath();
    items.push_back(std::move(item));
    if (isFolder) ListInto(path, items);
  }
}

// Items keyed by full path. The key is exact because SamePath is; a build whose
// SamePath folds letter case must fold the key the same way.
using Index = std::unordered_multimap<std::string, const CFileSnapshotItem*>;

Index MakeIndex(const std::vector<CFileSnapshotItem>& items) {
  Index index;
  index.reserve(items.size());
  for (const CFileSnapshotItem& item : items) index.emplace(item.FullPath(), &item);
  return index;
}

bool HasEqual(const Index& index, const CFileSnapshotItem& item) {
  auto [first, last] = index.equal_range(item.FullPath());
  for (auto it = first; it != last; ++it)
    if (*it->second == item) return true;
  return false;
}

}  // namespace

bool CFolderSnapshot::IsIgnoredFileName(const std::string& name) {
  if (!name.empty() && name[0] == '.') return true;  // hidden
  std::string lower = name;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return (!lower.empty() && lower[0] == '~') || lower.find(".tmp") != std::string::npos ||
         lower.find(".bak") != std::string::npos;
}

void CFolderSnapshot::Take(const std::string& folder) {
  m_items.clear();
  if (!folder.empty()) ListInto(folder, m_items);
}

ChangeKind CFolderSnapshot::Compare(const CFolderSnapshot& before, const CFolderSnapshot& after,
                                    CFileSnapshotItem& item) {
  const auto& b = before.m_items;
  const auto& a = after.m_items;
  if (b.size() == a.size()) {
    for (size_t i = 0; i < a.size(); ++i) {
      if (!(b[i] == a[i])) {
        item = a[i];
        return ChangeKind::kChanged;
      }
    }
    return ChangeKind::kNone;
  }
  // "Anywhere in the other listing", looked up by path rather than by scanning.
  const bool deleted = b.size() > a.size();
  const auto& from = deleted ? b : a;
  const Index other = MakeIndex(deleted ? a : b);
  for (const CFileSnapshotItem& candidate : from) {
    if (!HasEqual(other, candidate)) {
      item = candidate;
      return deleted ? ChangeKind::kDeleted : ChangeKind::kCreated;
    }
  }
  return ChangeKind::kNone;
}

}  // namespace tessarook
