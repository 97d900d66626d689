// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/RawFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "util/PartialFiles.h"
#include "util/PrivateFiles.h"

namespace tessarook {

namespace {

constexpr size_t kBufferBytes = 1 << 20;
constexpr uint64_t kPageBytes = 4096;
// One kernel copy call moves at most this much, so a stop is never far away.
constexpr uint64_t kKernelChunk = 64ull << 20;

// Opens a regular file only. The open is non-blocking, so a FIFO in its place
// cannot wait for a peer; blocking I/O is switched back on for the file.
// Returns the descriptor, or -1.
int OpenRegularFile(const std::string& path, int flags, struct stat& st) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, kPrivateFileMode);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  const int current = ::fcntl(fd, F_GETFL);
  if (current >= 0) ::fcntl(fd, F_SETFL, current & ~O_NONBLOCK);
  return fd;
}

}  // namespace

CRawFile::~CRawFile() {
  if (m_fd >= 0) ::close(m_fd);
}

bool CRawFile::OpenRead(const std::string& path) {
  Close();
  struct stat st;
  m_fd = OpenRegularFile(path, O_RDONLY, st);
  m_size = m_fd >= 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return m_fd >= 0;
}

bool CRawFile::CreateNew(const std::string& path) {
  Close();
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
  if (m_fd >= 0) ::fchmod(m_fd, kPrivateFileMode);
  m_size = 0;
  return m_fd >= 0;
}

bool CRawFile::CreatePartial(const std::string& path) {
  Close();
  m_fd = OpenLockedPartial(path, true, kPrivateFileMode);
  if (m_fd >= 0) ::fchmod(m_fd, kPrivateFileMode);
  m_size = 0;
  return m_fd >= 0;
}

bool CRawFile::CreateTruncate(const std::string& path) {
  Close();
  struct stat st;
  m_fd = OpenRegularFile(path, O_WRONLY | O_CREAT | O_TRUNC, st);
  m_size = 0;
  return m_fd >= 0;
}

bool CRawFile::ReadAt(void* data, size_t size, uint64_t offset) const {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(m_fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool CRawFile::WriteAll(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(m_fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool CRawFile::WriteAt(const void* data, size_t size, uint64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(m_fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool CRawFile::TruncateTo(uint64_t offset) {
  return ::ftruncate(m_fd, static_cast<off_t>(offset)) == 0 &&
         ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool CRawFile::Close() {
  if (m_fd < 0) return true;
  const int rc = ::close(m_fd);
  m_fd = -1;
  return rc == 0;
}

namespace {

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
    size_t done = 0;
    while (done < static_cast<size_t>(n)) {
      const ssize_t w = ::write(target, data + done, static_cast<size_t>(n) - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        out.status = CopyOutcome::kWriteError;
        return out;
      }
      done += static_cast<size_t>(w);
    }
    out.copied += static_cast<uint64_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return out;
}

}  // namespace

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
