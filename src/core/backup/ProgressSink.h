// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace tessarook {

// Receives the progress of a long file operation (taking, restoring or
// verifying a Backup). It is called on the thread that runs the operation,
// typically a worker thread: an implementation that updates a window must
// hand the numbers over to the window thread itself.
class IProgressSink {
 public:
  virtual ~IProgressSink() = default;
  // `done` of `total` files are finished; called once with done = 0 before
  // the first file and once after every file, also after files that failed.
  virtual void OnProgress(uint64_t done, uint64_t total) = 0;
  // `done` of `total` bytes of file data are finished (total = the sizes the
  // files had when the operation started; done may pass it when a file grew).
  // Called while data moves, also inside a large file, at least every few MiB;
  // a sink that shows only file counts ignores it.
  virtual void OnBytes(uint64_t done, uint64_t total) {
    (void)done;
    (void)total;
  }
};

}  // namespace tessarook
