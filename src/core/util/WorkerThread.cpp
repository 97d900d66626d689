// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/WorkerThread.h"

#include <system_error>

namespace tessarook {

CWorkerThread::~CWorkerThread() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    // Destroyed by its own body: it cannot wait for itself.
    thread_.detach();
    return;
  }
  StopAndWait();
}

bool CWorkerThread::Start(void* parameter, bool suspended) {
  if (thread_.joinable()) {
    if (!finished_.load()) return false;  // a run is still under way
    if (thread_.get_id() == std::this_thread::get_id()) return false;
    thread_.join();
  }
  parameter_.store(parameter);
  stop_.store(false);
  {
    std::lock_guard<std::mutex> lock(gateMutex_);
    released_ = !suspended;
  }
  finished_.store(false);
  // Set before the thread exists, so a body that finishes at once cannot
  // have its "done" overwritten by a late "running".
  running_.store(true);
  try {
    thread_ = std::thread(&CWorkerThread::Entry, this);
  } catch (const std::system_error&) {
    running_.store(false);
    finished_.store(true);
    return false;
  }
  return true;
}

void CWorkerThread::Resume() {
  {
    std::lock_guard<std::mutex> lock(gateMutex_);
    released_ = true;
  }
  gate_.notify_all();
}

bool CWorkerThread::HasThread() const { return thread_.joinable() && !finished_.load(); }

bool CWorkerThread::Wait() {
  if (!thread_.joinable()) return false;
  if (thread_.get_id() == std::this_thread::get_id()) return false;
  Resume();  // a suspended thread could never end otherwise
  thread_.join();
  return true;
}

bool CWorkerThread::StopAndWait() {
  if (!thread_.joinable()) return false;
  RequestStop(true);
  return Wait();
}

bool CWorkerThread::Terminate(int exitCode) {
  if (!HasThread()) {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    return false;
  }
  if (!StopAndWait()) return false;
  exitCode_.store(exitCode);
  return true;
}

int CWorkerThread::Run() { return 0; }

void CWorkerThread::Entry() {
  {
    std::unique_lock<std::mutex> lock(gateMutex_);
    gate_.wait(lock, [this] { return released_; });
  }
  const int result = Run();
  exitCode_.store(result);
  running_.store(false);
  stop_.store(false);
  finished_.store(true);
}

}  // namespace tessarook
