// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "monitor/FolderWatcher.h"

namespace tessarook {

// The files pane's folder watchers: at most one per folder that holds an
// entry. Watchers accumulate until StopAll (closing the Scheme, after the
// settings dialog, at destruction); rebuilding the pane keeps them.
class CFolderMonitors {
 public:
  CFolderMonitors() = default;
  ~CFolderMonitors() { StopAll(); }
  CFolderMonitors(const CFolderMonitors&) = delete;
  CFolderMonitors& operator=(const CFolderMonitors&) = delete;

  // Starts a watcher on `folder` unless one was started for the same folder.
  // `poster` is called on that watcher's thread after a change; it must only
  // queue work for the caller's thread. True when a watcher was added.
  bool Watch(const std::string& folder, std::function<void()> poster);

  // Stops every watcher (each returns once its thread has ended) and forgets them.
  void StopAll();

  size_t Count() const { return m_folders.size(); }
  bool IsWatched(const std::string& folder) const;

 private:
  std::vector<std::unique_ptr<CFolderWatcher>> m_watchers;
  std::vector<std::string> m_folders;
};

}  // namespace tessarook
