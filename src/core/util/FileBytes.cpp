// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/FileBytes.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tessarook {

namespace {

constexpr size_t kBufferBytes = 1 << 20;
constexpr uint64_t kPageBytes = 4096;
// One kernel copy call moves at most this much, so a stop is never far away.
constexpr uint64_t kKernelChunk = 64ull << 20;

// The buffered copy: read into `buffer`, write from it. Reads from `*offset` onward;
// `targetPos` is where the target stands. The bytes sit in the buffer at the same
// place within a page as they will in the target, so the kernel copies each page of
// the buffer to exactly one page of the target: writes that straddle two pages of
// the buffer take markedly longer.
CopyOutcome CopyBuffered(int source, uint64_t& offset, int target, uint64_t targetPos,
                         uint64_t length, std::vector<char>& buffer) {
  CopyOutcome out;
  if (buffer.size() < kBufferBytes + 2 * kPageBytes) buffer.resize(kBufferBytes + 2 * kPageBytes);
  const uintptr_t address = reinterpret_cast<uintptr_t>(buffer.data());
  char* const page = buffer.data() + (kPageBytes - address % kPageBytes) % kPageBytes;
  while (out.copied < length) {
    char* const data = page + (targetPos + out.copied) % kPageBytes;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length - out.copied, kBufferBytes));
    const ssize_t n = ::pread(source, data, want, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      out.status = CopyOutcome::kReadError;
      return out;
    }
    if (n == 0) return out;  // end of the source
    if (!WriteAll(target, data, static_cast<size_t>(n))) {
      out.status = CopyOutcome::kWriteError;
      return out;
    }
    out.copied += static_cast<uint64_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return out;
}

}  // namespace

bool ReadAllAt(int fd, void* data, size_t size, uint64_t offset) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = 0;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

CopyOutcome CopyBytes(int source, uint64_t* sourceOffset, int target, uint64_t length,
                      std::vector<char>& buffer) {
  // Work from an explicit offset; a caller without one reads from (and advances) the
  // source's own position.
  uint64_t offset = 0;
  if (sourceOffset) {
    offset = *sourceOffset;
  } else {
    const off_t pos = ::lseek(source, 0, SEEK_CUR);
    if (pos < 0) return CopyOutcome{CopyOutcome::kReadError, 0};
    offset = static_cast<uint64_t>(pos);
  }
  // Where both sides stand on a page boundary the kernel copies without the bytes
  // passing through this process. Where either stands inside a page (a record of a
  // .csm: the source on import, the target on export) the kernel copy takes about
  // twice as long as a read and write through the buffer, so the buffer is used.
  // Either way a refusal or an error of the kernel copy leaves the rest to the
  // buffered loop, which tells a read fault from a write fault.
  const off_t targetPos = ::lseek(target, 0, SEEK_CUR);
  CopyOutcome out;
  if (offset % kPageBytes == 0 && targetPos >= 0 &&
      static_cast<uint64_t>(targetPos) % kPageBytes == 0) {
    while (out.copied < length) {
      const size_t want = static_cast<size_t>(std::min(length - out.copied, kKernelChunk));
      off_t off = static_cast<off_t>(offset);
      const ssize_t n = ::copy_file_range(source, &off, target, nullptr, want, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // 0: end of the source, or nothing copied this way
      out.copied += static_cast<uint64_t>(n);
      offset += static_cast<uint64_t>(n);
    }
  }
  if (out.copied < length) {
    const uint64_t at = targetPos >= 0 ? static_cast<uint64_t>(targetPos) + out.copied : 0;
    const CopyOutcome rest = CopyBuffered(source, offset, target, at, length - out.copied, buffer);
    out.status = rest.status;
    out.copied += rest.copied;
  }
  if (sourceOffset)
    *sourceOffset = offset;
  else
    ::lseek(source, static_cast<off_t>(offset), SEEK_SET);
  return out;
}

}  // namespace tessarook
