// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/FileSnapshotItem.h"

#include <sys/stat.h>

#include "util/SamePath.h"

namespace tessarook {

CFileSnapshotItem CFileSnapshotItem::Default() {
  CFileSnapshotItem item;
  item.m_folder = "default.txt";
  return item;
}

bool CFileSnapshotItem::IsFolder() const { return S_ISDIR(m_mode); }

std::string CFileSnapshotItem::FullPath() const {
  std::string path = m_folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += m_name;
  return path;
}

bool CFileSnapshotItem::operator==(const CFileSnapshotItem& other) const {
  return m_mode == other.m_mode && m_lastWriteNs == other.m_lastWriteNs && m_size == other.m_size &&
         SamePath(FullPath(), other.FullPath());
}

}  // namespace tessarook
