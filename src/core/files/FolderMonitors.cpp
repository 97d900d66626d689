// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/FolderMonitors.h"

#include "util/SamePath.h"

namespace tessarook {

bool CFolderMonitors::IsWatched(const std::string& folder) const {
  for (const std::string& watched : m_folders)
    if (SamePath(watched, folder)) return true;
  return false;
}

bool CFolderMonitors::Watch(const std::string& folder, std::function<void()> poster) {
  if (folder.empty() || IsWatched(folder)) return false;
  auto watcher = std::make_unique<CFolderWatcher>();
  watcher->SetPath(folder);
  watcher->SetPoster(std::move(poster));
  // A folder that cannot be watched ends its thread by itself; it stays listed
  // so that every rebuild does not try it again.
  watcher->Start();
  m_watchers.push_back(std::move(watcher));
  m_folders.push_back(folder);
  return true;
}

void CFolderMonitors::StopAll() {
  for (auto& watcher : m_watchers) watcher->Stop();
  m_watchers.clear();
  m_folders.clear();
}

}  // namespace tessarook
