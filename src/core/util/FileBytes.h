// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whole-buffer reads and writes on a descriptor, and a bounded-memory copy between
// two descriptors that lets the kernel copy (and share blocks) where it can.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessarook {

// Reads exactly `size` bytes at `offset` into `data`, without moving the current
// position, retrying after interruptions and short reads. False on a read error (errno
// tells which) or when the file ends first (errno is then 0); what was read stays in
// `data`.
bool ReadAllAt(int fd, void* data, size_t size, uint64_t offset);

// Writes all of `size` bytes at the current position, retrying after interruptions
// and short writes. False on an error (errno tells which) or when nothing is written.
bool WriteAll(int fd, const void* data, size_t size);
// The same at `offset`, without moving the current position (nothing written
// counts as EIO).
bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset);

struct CopyOutcome {
  enum Status { kOk, kReadError, kWriteError };
  Status status = kOk;
  uint64_t copied = 0;  // bytes written to the target
};

// Copies at most `length` bytes from `source` to the current position of `target`.
// With `sourceOffset` the source is read from there (and the offset advanced);
// without it, from the source's current position. Ends early, with kOk, at the source's
// end of file. Lets the kernel copy where that is fast (on XFS or btrfs the copy then
// shares the blocks); otherwise goes through `buffer` (resized to a fixed 1 MiB and two
// pages), so memory stays bounded whatever the length. errno tells the fault.
CopyOutcome CopyBytes(int source, uint64_t* sourceOffset, int target, uint64_t length,
                      std::vector<char>& buffer);

}  // namespace tessarook
