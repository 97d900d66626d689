// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/DeflateEngine.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "backup/DeflateScan.h"
#include "util/FileState.h"

namespace tessarook {

namespace {

constexpr size_t kProbeSize = 64 << 10;
constexpr size_t kAlwaysDeflateBelow = 4096;

// Each thread keeps its own compressors and read buffer for as long as it
// lives, so that a worker pays for them once.
struct ThreadCompressors {
  libdeflate_compressor* byLevel[kMaxDeflateLevel + 1] = {};
  z_stream probe{};
  bool probeReady = false;
  std::vector<char> buffer;

  ~ThreadCompressors() {
    for (libdeflate_compressor* c : byLevel)
      if (c) libdeflate_free_compressor(c);
    if (probeReady) deflateEnd(&probe);
  }

  // This thread's compressor for `level` (clamped to 1..kMaxDeflateLevel);
  // null when out of memory.
  libdeflate_compressor* For(int level) {
    libdeflate_compressor*& c = byLevel[ClampDeflateLevel(level)];
    if (!c) c = libdeflate_alloc_compressor(ClampDeflateLevel(level));
    return c;
  }
};

ThreadCompressors& Local() {
  thread_local ThreadCompressors compressors;
  return compressors;
}

PreparedFile Failed(std::string why) {
  PreparedFile f;
  f.error = std::move(why);
  return f;
}

}  // namespace

ssize_t ReadFully(int fd, char* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t r = ::read(fd, data + got, size - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

bool LooksIncompressible(const char* data, size_t size) {
  ThreadCompressors& local = Local();
  if (!local.probeReady) {
    if (deflateInit2(&local.probe, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      return false;
    local.probeReady = true;
  }
  z_stream& z = local.probe;
  deflateReset(&z);
  const size_t sample = std::min(size, kProbeSize);
  std::vector<unsigned char> out(deflateBound(&z, sample));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  z.avail_in = static_cast<uInt>(sample);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  return deflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out >= sample - sample / 50;
}

PreparedFile PrepareFile(const std::string& path, int level) {
  // Non-blocking open, so that a FIFO without a writer cannot hang us.
  PreparedFile f;
  f.file = CFileHandle(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!f.file.IsOpen()) return Failed(std::strerror(errno));
  const int fd = f.file.Get();
  if (fstat(fd, &f.st) != 0) return Failed(std::strerror(errno));
  if (!S_ISREG(f.st.st_mode))
    return Failed(S_ISDIR(f.st.st_mode) ? "is a folder" : "not a regular file");
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  const uint64_t listed = static_cast<uint64_t>(f.st.st_size);
  if (listed >= kWholeFileLimit) return f;  // streamed by the writer

  ThreadCompressors& local = Local();
  if (local.buffer.size() < kWholeFileLimit) local.buffer.resize(kWholeFileLimit);
  char* in = local.buffer.data();
  const ssize_t got = ReadFully(fd, in, kWholeFileLimit);
  if (got < 0) return Failed(std::strerror(errno));
  const size_t n = static_cast<size_t>(got);
  if (n == kWholeFileLimit) {
    // It grew on the way: the rest is streamed after what was read.
    f.data.assign(in, in + n);
    return f;
  }
  f.size = n;
  f.crc = static_cast<uint32_t>(libdeflate_crc32(0, in, n));
  struct stat now {};
  f.changed = n < listed || fstat(fd, &now) != 0 || !SameFileState(f.st, now);
  f.whole = true;
  f.file = CFileHandle();

  // Data that does not compress (already packed media, archives) is stored:
  // deflating it costs time and saves nothing.
  bool store = n >= kAlwaysDeflateBelow && n > 2 * kProbeSize && LooksIncompressible(in, n);
  if (!store) {
    libdeflate_compressor* compressor = local.For(level);
    if (!compressor) return Failed("out of memory");
    // Below the small size everything is deflated; above it the result must
    // save at least 2 %, or the data is stored.
    const size_t room =
        n < kAlwaysDeflateBelow ? libdeflate_deflate_compress_bound(compressor, n) : n - n / 50;
    f.data.resize(std::max<size_t>(room, 1));
    const size_t packed = libdeflate_deflate_compress(compressor, in, n, f.data.data(), room);
    if (packed > 0) {
      f.data.resize(packed);
      f.deflated = true;
    } else {
      store = true;
    }
  }
  if (store) f.data.assign(in, in + n);
  return f;
}

namespace {

// Makes the deflate stream of `packed` bytes at `bytes` one that another can
// follow: its final block not final, and its end on a byte boundary (an empty
// stored block). Up to 5 bytes are added after `packed`; the new size, or 0
// when the stream is not well formed.
size_t Unfinish(unsigned char* bytes, size_t packed) {
  // The stream is a whole one of its own; its last block is marked final.
  // Where that block's header starts and where the stream ends within its
  // last byte is found from its header alone when it is the only block, else
  // by following its codes (without inflating).
  DeflateLayout layout;
  if (!FindSingleBlockLayout(bytes, packed, layout) && !ScanDeflate(bytes, packed, layout))
    return 0;
  if ((layout.endBit + 7) / 8 != packed) return 0;
  bytes[layout.finalHeaderBit / 8] &=
      static_cast<unsigned char>(~(1u << (layout.finalHeaderBit % 8)));
  const unsigned unused = static_cast<unsigned>(packed * 8 - layout.endBit);
  size_t end = packed;
  if (unused > 0) {
    bytes[end - 1] &= static_cast<unsigned char>((1u << (8 - unused)) - 1u);
    if (unused < 3) bytes[end++] = 0;  // the stored block's header spills over
    for (unsigned char c : {0x00, 0x00, 0xff, 0xff}) bytes[end++] = c;
  }
  return end;
}

}  // namespace

DeflatedPiece DeflatePiece(const char* data, size_t size, int level) {
  DeflatedPiece piece;
  piece.size = size;
  piece.crc = static_cast<uint32_t>(libdeflate_crc32(0, data, size));
  libdeflate_compressor* compressor = Local().For(level);
  if (!compressor || size == 0) return piece;
  // At the fastest level the piece is deflated in parts small enough to
  // come out as one block each, whose end is found without following codes.
  const size_t part = ClampDeflateLevel(level) == kMinDeflateLevel ? kFastPart : size;
  const size_t parts = (size + part - 1) / part;
  piece.data.resize(parts * (libdeflate_deflate_compress_bound(compressor, part) + 6));
  auto* bytes = reinterpret_cast<unsigned char*>(piece.data.data());
  size_t end = 0;
  for (size_t at = 0; at < size; at += part) {
    const size_t n = std::min(part, size - at);
    const size_t room = piece.data.size() - end;
    const size_t packed =
        libdeflate_deflate_compress(compressor, data + at, n, bytes + end, room - 6);
    const size_t unfinished = packed == 0 ? 0 : Unfinish(bytes + end, packed);
    if (unfinished == 0) return piece;
    end += unfinished;
  }
  piece.data.resize(end);
  piece.ok = true;
  return piece;
}

}  // namespace tessarook
