// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/WorkerThread.h"

#include <system_error>

namespace tessarook {

CWorkerThread::~CWorkerThread() {
  // Destroyed by its own body: it cannot wait for itself. Otherwise the
  // jthread asks the body to stop and joins it.
  if (thread_.joinable() && IsOwnThread()) thread_.detach();
}

bool CWorkerThread::Start(bool held) {
  if (running_.load() || IsOwnThread()) return false;  // a run is still under way
  if (thread_.joinable()) thread_.join();
  // Set before the thread exists, so a body that finishes at once cannot
  // have its "done" overwritten by a late "running".
  running_.store(true);
  std::lock_guard<std::mutex> lock(gateMutex_);
  held_ = held;
  try {
    thread_ = std::jthread([this, held](std::stop_token stop) {
      std::unique_lock<std::mutex> gate(gateMutex_);
      gate_.wait(gate, stop, [this] { return !held_; });
      gate.unlock();
      if (!held || !stop.stop_requested()) Run();
      running_.store(false);
    });
  } catch (const std::system_error&) {
    running_.store(false);
    return false;
  }
  return true;
}

void CWorkerThread::RequestStop() { thread_.request_stop(); }

bool CWorkerThread::IsStopRequested() const { return thread_.get_stop_token().stop_requested(); }

bool CWorkerThread::Wait() {
  if (!thread_.joinable() || IsOwnThread()) return false;
  {
    std::lock_guard<std::mutex> lock(gateMutex_);
    held_ = false;  // a held thread could never end otherwise
  }
  gate_.notify_all();
  thread_.join();
  return true;
}

bool CWorkerThread::StopAndWait() {
  if (!thread_.joinable()) return false;
  RequestStop();
  return Wait();
}

int CWorkerThread::Run() { return 0; }

}  // namespace tessarook
