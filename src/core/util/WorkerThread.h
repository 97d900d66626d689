// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tessarook {

// The thread behind a long file operation. An owner keeps one object for its
// whole life and starts it again for every operation; a subclass puts the work
// in Run and polls IsStopRequested between steps.
//
// Stops are cooperative: RequestStop asks (through the thread's stop token),
// the body decides when to return; Wait joins the thread. Every run has a stop
// token of its own, so a request made after a run has ended never reaches the
// next one.
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

  // Starts a new thread running Run. Returns false and changes nothing while a
  // previous body is still under way. A previous thread that has finished is
  // joined first. The running flag is true before the body begins. A `held`
  // thread counts as running but begins its body only once Wait is called, and
  // never when a stop is requested first.
  bool Start(bool held = false);

  // True from a successful Start until the body has returned.
  bool IsRunning() const { return running_.load(); }

  // Asks the running body to stop; does nothing when no thread is held.
  void RequestStop();
  bool IsStopRequested() const;

  // Waits until the thread has ended (does not ask it to stop). Returns false
  // when no thread was held. Must not be called from the body itself.
  bool Wait();

  // RequestStop then Wait. Returns false when no thread was held.
  bool StopAndWait();

 protected:
  // The thread body. The base class does nothing and returns 0; the result is
  // the body's own business (nothing reads it).
  virtual int Run();

 private:
  bool IsOwnThread() const { return thread_.get_id() == std::this_thread::get_id(); }

  // Held while Start stores the new thread, so the body never reads thread_
  // (through IsStopRequested) before it is complete; also guards held_.
  std::mutex gateMutex_;
  std::condition_variable_any gate_;
  bool held_ = false;
  std::jthread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace tessarook
