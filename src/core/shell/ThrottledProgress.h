// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "backup/ProgressSink.h"

namespace tessarook {

// The latest counts of a running operation, as a window shows them.
struct ProgressCounts {
  uint64_t files = 0;
  uint64_t filesTotal = 0;
  uint64_t bytes = 0;
  uint64_t bytesTotal = 0;
  bool haveBytes = false;  // the operation reports bytes (not every one does)
};

// A progress sink for a window: keeps the latest file and byte counts and
// hands them to Deliver at most once per interval, so a fast operation does
// not flood the window thread. The first count, the start (0 done) and the
// end (done reaches total) always go through, so a window never stays behind
// on a number that matters. Called on the operation's thread.
class CThrottledProgress : public IProgressSink {
 public:
  explicit CThrottledProgress(std::chrono::milliseconds interval = std::chrono::milliseconds(50))
      : m_interval(interval) {}

  void OnProgress(uint64_t done, uint64_t total) final;
  void OnBytes(uint64_t done, uint64_t total) final;
  // The bytes done so far (any thread).
  uint64_t Bytes() const;

 protected:
  // Called with the sink's lock held, on the operation's thread: hand the
  // counts over to the window thread.
  virtual void Deliver(const ProgressCounts& counts) = 0;

 private:
  void Pass(bool edge);

  const std::chrono::milliseconds m_interval;
  mutable std::mutex m_mutex;
  std::chrono::steady_clock::time_point m_last;
  ProgressCounts m_counts;
  bool m_filesFirst = true;
};

}  // namespace tessarook
