// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "monitor/FileSnapshotItem.h"

namespace tessarook {

// A recursive listing of a folder as the folder watcher takes it, and the comparison of
// two such listings.
class CFolderSnapshot {
 public:
  // Lists `folder` and everything below it, depth first in the order the file system
  // returns the entries: a folder is added (hidden ones too) and its contents follow it
  // at once. Links to folders are listed as entries, not entered. Files that are hidden
  // (name starts with ".") or temporary (name, lower-cased, starts with "~" or holds
  // ".tmp" or ".bak") are left out. A folder that cannot be read adds nothing.
  void Take(const std::string& folder);
  void Clear() { m_items.clear(); }
  const std::vector<CFileSnapshotItem>& Items() const { return m_items; }

  // Compares a listing taken before with one taken after and reports the first
  // difference:
  //  - same number of items: the first position where they differ, kChanged, the item
  //    from `after`;
  //  - fewer items after: the first item of `before` with no equal item in `after`,
  //    kDeleted;
  //  - more items after: the first item of `after` with no equal item in `before`,
  //    kCreated.
  // kNone (and `item` untouched) when nothing is found.
  static ChangeKind Compare(const CFolderSnapshot& before, const CFolderSnapshot& after,
                            CFileSnapshotItem& item);

  // The name rule for files the watcher ignores.
  static bool IsIgnoredFileName(const std::string& name);

 private:
  std::vector<CFileSnapshotItem> m_items;
};

}  // namespace tessarook
