// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ZipStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tessarook {

namespace {

constexpr size_t kWriteBuffer = 1 << 20;

thread_local int t_lastErrno = 0;

struct Stream {
  int fd = -1;
  bool writing = false;
  bool failed = false;
  uint64_t pos = 0;
  uint64_t size = 0;  // known end of the file
  std::vector<char> out;
  uint64_t outStart = 0;
};

void SetError(Stream* s, int err) {
  s->failed = true;
  t_lastErrno = err;
}

bool PwriteAll(Stream* s, const char* p, size_t n, uint64_t at) {
  while (n > 0) {
    const ssize_t w = ::pwrite(s->fd, p, n, static_cast<off_t>(at));
    if (w < 0) {
      if (errno == EINTR) continue;
      SetError(s, errno);
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
    at += static_cast<uint64_t>(w);
  }
  return true;
}

bool Flush(Stream* s) {
  if (s->out.empty()) return !s->failed;
  const bool ok = !s->failed && PwriteAll(s, s->out.data(), s->out.size(), s->outStart);
  s->out.clear();
  return ok;
}

ssize_t Pread(Stream* s, char* p, size_t n, uint64_t at) {
  for (;;) {
    const ssize_t r = ::pread(s->fd, p, n, static_cast<off_t>(at));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) SetError(s, errno);
    return r;
  }
}

voidpf ZCALLBACK OpenFile(voidpf, const void* filename, int mode) {
  t_lastErrno = 0;
  if (!filename) return nullptr;
  const bool writing = (mode & ZLIB_FILEFUNC_MODE_WRITE) != 0;
  int flags = O_CLOEXEC | O_NOCTTY;
  if (writing)
    flags |= O_RDWR | ((mode & ZLIB_FILEFUNC_MODE_CREATE) ? O_CREAT | O_TRUNC : 0);
  else
    flags |= O_RDONLY | O_NONBLOCK;
  const int fd = ::open(static_cast<const char*>(filename), flags, 0666);
  if (fd < 0) {
    t_lastErrno = errno;
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    t_lastErrno = S_ISDIR(st.st_mode) ? EISDIR : 0;
    ::close(fd);
    return nullptr;
  }
  if (!writing) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  auto* s = new Stream;
  s->fd = fd;
  s->writing = writing;
  s->size = static_cast<uint64_t>(st.st_size);
  if (writing) s->out.reserve(kWriteBuffer);
  return s;
}

uLong ZCALLBACK ReadFile(voidpf, voidpf stream, void* buf, uLong size) {
  auto* s = static_cast<Stream*>(stream);
  if (!Flush(s)) return 0;
  const ssize_t r = Pread(s, static_cast<char*>(buf), size, s->pos);
  if (r <= 0) return 0;
  s->pos += static_cast<uint64_t>(r);
  return static_cast<uLong>(r);
}

uLong ZCALLBACK WriteFile(voidpf, voidpf stream, const void* buf, uLong size) {
  auto* s = static_cast<Stream*>(stream);
  if (s->failed || !s->writing) return 0;
  const char* p = static_cast<const char*>(buf);
  const bool contiguous = !s->out.empty() && s->pos == s->outStart + s->out.size();
  if (!contiguous || s->out.size() + size > kWriteBuffer) {
    if (!Flush(s)) return 0;
  }
  if (size >= kWriteBuffer) {
    if (!PwriteAll(s, p, size, s->pos)) return 0;
  } else {
    if (s->out.empty()) s->outStart = s->pos;
    s->out.insert(s->out.end(), p, p + size);
  }
  s->pos += size;
  s->size = std::max(s->size, s->pos);
  return size;
}

ZPOS64_T ZCALLBACK TellFile(voidpf, voidpf stream) { return static_cast<Stream*>(stream)->pos; }

long ZCALLBACK SeekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* s = static_cast<Stream*>(stream);
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      s->pos = offset;
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      s->pos += offset;
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      s->pos = s->size + offset;
      break;
    default:
      return -1;
  }
  return 0;
}

int ZCALLBACK CloseFile(voidpf, voidpf stream) {
  auto* s = static_cast<Stream*>(stream);
  bool ok = true;
  if (s->writing) ok = Flush(s);
  if (::close(s->fd) != 0 && ok) {
    SetError(s, errno);
    ok = false;
  }
  ok = ok && !s->failed;
  delete s;
  return ok ? 0 : -1;
}

int ZCALLBACK ErrorFile(voidpf, voidpf stream) { return static_cast<Stream*>(stream)->failed; }

}  // namespace

void FillZipStreamFunctions(zlib_filefunc64_def* f) {
  f->zopen64_file = OpenFile;
  f->zread_file = ReadFile;
  f->zwrite_file = WriteFile;
  f->ztell64_file = TellFile;
  f->zseek64_file = SeekFile;
  f->zclose_file = CloseFile;
  f->zerror_file = ErrorFile;
  f->opaque = nullptr;
}

int ZipStreamLastErrno() { return t_lastErrno; }

}  // namespace tessarook
