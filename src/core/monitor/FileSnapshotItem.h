// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace tessarook {

// What a folder watcher found changed.
enum class ChangeKind : int { kNone = 0, kDeleted = 1, kCreated = 2, kChanged = 3 };

// One entry of a folder listing taken by the folder watcher.
class CFileSnapshotItem {
 public:
  std::string m_folder;       // the folder that holds the entry
  std::string m_name;         // the entry's name
  uint32_t m_mode = 0;        // file type and permission bits (the entry's own, links not followed)
  int64_t m_lastWriteNs = 0;  // last-write time, nanoseconds since the epoch
  uint64_t m_size = 0;

  // The record a watcher reports before it has seen any change.
  static CFileSnapshotItem Default();

  bool IsFolder() const;
  // The folder, "/" unless it is empty or ends in one, and the name.
  std::string FullPath() const;

  // Same path (see SamePath), same type and permissions, last-write time and size.
  // Creation and access times do not count.
  bool operator==(const CFileSnapshotItem& other) const;
};

}  // namespace tessarook
