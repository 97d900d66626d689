#include "exchange/RawFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tessarook {

namespace {

constexpr size_t kBufferBytes = 1 << 20;
// The part of a source mapped at one time.
constexpr uint64_t kWindowBytes = 8ull << 20;
// Smaller pieces are not worth a mapping.
constexpr uint64_t kMapThreshold = 256ull << 10;

}  // namespace

CRawFile::~CRawFile() {
  if (m_fd >= 0) ::close(m_fd);
}

bool CRawFile::OpenRead(const std::string& path) {
  Close();
  // Non-blocking so that opening a FIFO does not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  m_fd = fd;
  m_size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool CRawFile::CreateNew(const std::string& path) {
  Close();
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  m_size = 0;
  return m_fd >= 0;
}

bool CRawFile::CreateTruncate(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  m_fd = fd;
  m_size = 0;
  return true;
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

// The buffered copy: read into `buffer`, write from it. Reads from `*offset` onward.
CopyOutcome CopyBuffered(int source, uint64_t& offset, int target, uint64_t length,
                         std::vector<char>& buffer) {
  CopyOutcome out;
  if (buffer.size() < kBufferBytes) buffer.resize(kBufferBytes);
  while (out.copied < length) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length - out.copied, buffer.size()));
    const ssize_t n = ::pread(source, buffer.data(), want, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      out.status = CopyOutcome::kReadError;
      return out;
    }
    if (n == 0) return out;  // end of the source
    size_t done = 0;
    while (done < static_cast<size_t>(n)) {
      const ssize_t w = ::write(target, buffer.data() + done, static_cast<size_t>(n) - done);
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

// Writes straight from a read-only mapping of the source, a window at a time, so the
// data is copied once and only one window is ever mapped. The kernel copies the data
// into the target at a page boundary (the first bytes up to it go through the buffer):
// page caches whose pages do not line up are much slower to fill. Only the kernel reads
// the mapping, so a source that shrinks meanwhile gives EFAULT, never a signal.
// When the source cannot be mapped it returns early with kOk; the caller carries on.
CopyOutcome CopyMapped(int source, uint64_t& offset, int target, uint64_t length,
                       std::vector<char>& buffer) {
  CopyOutcome out;
  const off_t targetPos = ::lseek(target, 0, SEEK_CUR);
  if (targetPos < 0) return out;
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const uint64_t head =
      std::min<uint64_t>(length, (page - static_cast<uint64_t>(targetPos) % page) % page);
  if (head > 0) {
    out = CopyBuffered(source, offset, target, head, buffer);
    if (out.status != CopyOutcome::kOk || out.copied < head) return out;
  }
  while (out.copied < length) {
    const uint64_t n = std::min<uint64_t>(length - out.copied, kWindowBytes);
    const uint64_t base = offset - offset % page;
    const size_t skew = static_cast<size_t>(offset - base);
    void* map = ::mmap(nullptr, skew + n, PROT_READ, MAP_SHARED | MAP_POPULATE, source,
                       static_cast<off_t>(base));
    if (map == MAP_FAILED) return out;
    const char* from = static_cast<const char*>(map) + skew;
    uint64_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(target, from + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        // A fault on the mapping means the source lost the bytes under it.
        out.status =
            (w < 0 && errno == EFAULT) ? CopyOutcome::kReadError : CopyOutcome::kWriteError;
        break;
      }
      done += static_cast<uint64_t>(w);
    }
    ::munmap(map, skew + n);
    out.copied += done;
    offset += done;
    if (out.status != CopyOutcome::kOk) return out;
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
  // Only what the source holds now is mapped; the buffered loop takes anything beyond
  // (a file that grew) up to the end of file.
  struct stat st;
  const uint64_t size =
      ::fstat(source, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  const uint64_t mappable = size > offset ? std::min(length, size - offset) : 0;

  CopyOutcome out;
  if (mappable >= kMapThreshold) out = CopyMapped(source, offset, target, mappable, buffer);
  if (out.status == CopyOutcome::kOk && out.copied < length) {
    const CopyOutcome rest = CopyBuffered(source, offset, target, length - out.copied, buffer);
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
