// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/RawFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/FileBytes.h"
#include "util/PartialFiles.h"
#include "util/PrivateFiles.h"

namespace tessarook {

namespace {

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
  return ReadAllAt(m_fd, data, size, offset);
}

bool CRawFile::WriteAll(const void* data, size_t size) {
  return tessarook::WriteAll(m_fd, data, size);
}

bool CRawFile::WriteAt(const void* data, size_t size, uint64_t offset) {
  return WriteAllAt(m_fd, data, size, offset);
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

}  // namespace tessarook
