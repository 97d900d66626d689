// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "monitor/FileSnapshotItem.h"

namespace tessarook {

// Watches one folder (not its subfolders) on a thread of its own. After each change
// notification it lists the folder (recursively, see CFolderSnapshot) and compares that
// listing with the previous one; the first created, deleted or changed item is
// reported, at most one report per notification. Each listing is the "before" of the
// next comparison, so a change made while a report runs is not lost.
//
// Reports go, in this order of preference, to the poster (a "something changed" signal,
// e.g. a queued GUI event), else to the callback, else to OnChange. All three are called
// on the watcher's own thread and must not block on the thread that calls Stop. A
// non-zero result of the callback or OnChange ends the watching.
//
// The thread waits in slices of 258 ms, so Stop is prompt; a burst of changes is taken
// one notification at a time, with a pause of 258 ms between a notification and its
// report, never in a busy loop. A folder that cannot be watched ends the thread quietly
// (a diagnostic text goes to Trace).
class CFolderWatcher {
 public:
  using Callback = int (*)(const CFileSnapshotItem& item, ChangeKind kind, void* userData);

  CFolderWatcher() = default;
  // Stops the thread. Must not run on the watcher's own thread.
  virtual ~CFolderWatcher();
  CFolderWatcher(const CFolderWatcher&) = delete;
  CFolderWatcher& operator=(const CFolderWatcher&) = delete;

  // Configuration, read by the thread: set before Start.
  void SetPath(std::string path) { m_path = std::move(path); }
  const std::string& GetPath() const { return m_path; }
  void SetCallback(Callback callback, void* userData) {
    m_callback = callback;
    m_userData = userData;
  }
  void SetPoster(std::function<void()> poster) { m_poster = std::move(poster); }

  // Starts watching. Refuses (false, nothing started) when the path is empty or a
  // watching thread is still going; a thread that ended by itself is cleaned up and a
  // new one started.
  bool Start();

  // Ends the watching and returns only when the thread has ended, so it can no longer
  // reach the poster, the callback or the user data. From the watcher's own thread
  // (inside a report) it only asks the thread to end after the report.
  void Stop();

  // Set by Start, cleared by Stop. A thread that ended by itself leaves it set.
  bool IsRunning() const { return m_running.load(); }
  // True when a started thread has ended by itself (folder gone or unwatchable, or a
  // report asked to end).
  bool HasEnded() const { return m_started && m_finished.load(); }

 protected:
  // Called on the watcher's thread when neither a poster nor a callback is set. The
  // default traces "Created %s", "Deleted %s" or "Changed %s" and returns 0.
  virtual int OnChange(const CFileSnapshotItem& item, ChangeKind kind);
  // Diagnostic texts; they go nowhere by default. Called on the watcher's thread.
  virtual void Trace(const std::string& text);

 private:
  void ThreadMain();
  int Report(const CFileSnapshotItem& item, ChangeKind kind);
  // Sleeps up to `ms`; false when the watching is to end.
  bool Pause(int ms);

  std::string m_path;
  Callback m_callback = nullptr;
  void* m_userData = nullptr;
  std::function<void()> m_poster;

  std::thread m_thread;
  bool m_started = false;
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_finished{true};
  std::mutex m_mutex;
  std::condition_variable m_wake;
};

}  // namespace tessarook
