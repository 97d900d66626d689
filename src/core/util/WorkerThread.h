// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tessarook {

// The thread behind a long file operation. An owner keeps one object for its
// whole life and starts it again for every operation; a subclass puts the work
// in Run, reads its input through GetParameter and polls IsStopRequested
// between steps.
//
// Stops are cooperative: RequestStop asks, the body decides when to return;
// Wait joins the thread. The running and stop flags are atomic, so the window
// thread may read and write them while the body runs.
//
// A subclass whose Run uses the subclass's own members must call
// StopAndWait() in its own destructor: by the time ~CWorkerThread runs, the
// subclass part is gone. ~CWorkerThread does the same as a last safety net.
class CWorkerThread {
 public:
  CWorkerThread() = default;
  virtual ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  // Starts a new thread running Run with `parameter`. Returns false and changes
  // nothing while a previous body is still under way. A previous thread that
  // has finished is joined first. Clears a stale stop request. The running flag
  // is true before the body begins. With `suspended`, the body waits until
  // Resume (or until a stop is requested, in which case it does not run).
  bool Start(void* parameter, bool suspended = false);

  // Lets a thread started suspended begin its body.
  void Resume();

  // True from a successful Start until the body has returned.
  bool IsRunning() const { return running_.load(); }
  void SetRunning(bool running) { running_.store(running); }

  // true asks the body to stop; false withdraws the request.
  void RequestStop(bool stop = true) { stop_.store(stop); }
  bool IsStopRequested() const { return stop_.load(); }

  void* GetParameter() const { return parameter_.load(); }

  // True while a started thread has not yet finished its body.
  bool HasThread() const;

  // Waits until the thread has ended (does not ask it to stop). Returns false
  // when no thread was held. Must not be called from the body itself.
  bool Wait();

  // RequestStop(true) then Wait. Returns false when no thread was held.
  bool StopAndWait();

  // Ends a running body: asks it to stop and waits for it (the body must poll
  // the stop flag). Returns false when idle, true once the thread has ended.
  // The exit code given replaces the body's result.
  bool Terminate(int exitCode);

  // The result of the latest finished body (or Terminate's exit code).
  int GetExitCode() const { return exitCode_.load(); }

 protected:
  // The thread body. The base class does nothing and returns 0.
  virtual int Run();

 private:
  void Entry();

  std::thread thread_;
  std::atomic<void*> parameter_{nullptr};
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{true};
  std::atomic<int> exitCode_{0};

  std::mutex gateMutex_;
  std::condition_variable gate_;
  bool released_ = true;
};

}  // namespace tessarook
