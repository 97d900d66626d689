// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/FolderWatcher.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "monitor/FolderSnapshot.h"

namespace tessarook {

namespace {

constexpr int kSliceMs = 258;

// File and folder names, sizes and last-write times of the folder's own entries; and
// the folder itself going away.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF |
                                IN_ONLYDIR;

std::string Diagnostic(const char* call, int error) {
  return std::string(call) + " Error N" + std::to_string(error) + "\n" + std::strerror(error);
}

// Takes every pending event off the queue (a bounded number of reads, so a flood
// cannot keep the thread here). True when the watch itself is gone.
bool Drain(int fd) {
  alignas(inotify_event) char buffer[16384];
  bool gone = false;
  for (int reads = 0; reads < 64; ++reads) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
      if (ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) gone = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
    }
  }
  return gone;
}

}  // namespace

CFolderWatcher::~CFolderWatcher() {
  Stop();
  // Only when destroyed from its own thread, which the class forbids.
  if (m_thread.joinable()) m_thread.detach();
}

bool CFolderWatcher::Start() {
  if (m_path.empty()) return false;
  if (m_thread.joinable()) {
    if (!m_finished.load()) return false;  // still watching
    m_thread.join();
  }
  m_running.store(true);
  m_finished.store(false);
  m_started = true;
  try {
    m_thread = std::thread(&CFolderWatcher::ThreadMain, this);
  } catch (...) {
    m_running.store(false);
    m_finished.store(true);
    return false;
  }
  return true;
}

void CFolderWatcher::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running.store(false);
  }
  m_wake.notify_all();
  if (!m_thread.joinable() || m_thread.get_id() == std::this_thread::get_id()) return;
  m_thread.join();
}

bool CFolderWatcher::Pause(int ms) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !m_running.load(); });
  return m_running.load();
}

int CFolderWatcher::OnChange(const CFileSnapshotItem& item, ChangeKind kind) {
  switch (kind) {
    case ChangeKind::kCreated:
      Trace("Created " + item.FullPath());
      return 0;
    case ChangeKind::kDeleted:
      Trace("Deleted " + item.FullPath());
      return 0;
    case ChangeKind::kChanged:
      Trace("Changed " + item.FullPath());
      return 0;
    case ChangeKind::kNone:
      break;
  }
  return 1;
}

void CFolderWatcher::Trace(const std::string&) {}

int CFolderWatcher::Report(const CFileSnapshotItem& item, ChangeKind kind) {
  if (m_poster) {
    m_poster();
    return 0;
  }
  if (m_callback) return m_callback(item, kind, m_userData);
  return OnChange(item, kind);
}

void CFolderWatcher::ThreadMain() {
  const std::string path = m_path;
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    Trace(Diagnostic("inotify_init1", errno));
    m_finished.store(true);
    return;
  }
  if (::inotify_add_watch(fd, path.c_str(), kWatchMask) < 0) {
    Trace(Diagnostic("inotify_add_watch", errno));
    ::close(fd);
    m_finished.store(true);
    return;
  }

  CFolderSnapshot before;
  CFolderSnapshot after;
  before.Take(path);
  while (m_running.load()) {
    // Wait for a notification, a slice at a time.
    bool notified = false;
    while (m_running.load()) {
      pollfd p{fd, POLLIN, 0};
      const int rc = ::poll(&p, 1, kSliceMs);
      if (rc < 0 && errno != EINTR) {
        Trace(Diagnostic("poll", errno));
        break;
      }
      if (rc > 0) {
        notified = true;
        break;
      }
    }
    if (!notified) break;

    // Events that arrive from here on stay queued and start the next round.
    const bool gone = Drain(fd);
    after.Take(path);
    if (!Pause(kSliceMs)) break;
    CFileSnapshotItem item = CFileSnapshotItem::Default();
    const ChangeKind kind = CFolderSnapshot::Compare(before, after, item);
    if (kind != ChangeKind::kNone && Report(item, kind) != 0) break;
    // The next comparison starts from this listing, not from a new one taken after the
    // report: a change made meanwhile has its notification queued and is found then,
    // instead of slipping into the "before" listing unreported.
    std::swap(before, after);
    if (gone) {
      Trace(Diagnostic("inotify watch removed", ENOENT));
      break;
    }
  }
  before.Clear();
  after.Clear();
  ::close(fd);
  m_finished.store(true);
}

}  // namespace tessarook
