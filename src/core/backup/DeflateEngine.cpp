#include "backup/DeflateEngine.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace tessarook {

namespace {

constexpr size_t kProbeSize = 64 << 10;
constexpr size_t kWindow = 32 << 10;  // what a deflate distance can reach back
constexpr size_t kAlwaysDeflateBelow = 4096;

// Each thread keeps its own compressors and read buffer for as long as it
// lives, so that a worker pays for them once.
struct ThreadCompressors {
  libdeflate_compressor* whole = nullptr;
  z_stream piece{};
  bool pieceReady = false;
  z_stream probe{};
  bool probeReady = false;
  std::vector<char> buffer;

  ~ThreadCompressors() {
    if (whole) libdeflate_free_compressor(whole);
    if (pieceReady) deflateEnd(&piece);
    if (probeReady) deflateEnd(&probe);
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

PreparedFile PrepareFile(const std::string& path) {
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
  f.changed = n < listed || fstat(fd, &now) != 0 || now.st_size != f.st.st_size ||
              now.st_mtim.tv_sec != f.st.st_mtim.tv_sec ||
              now.st_mtim.tv_nsec != f.st.st_mtim.tv_nsec;
  f.whole = true;
  f.file = CFileHandle();

  // Data that does not compress (already packed media, archives) is stored:
  // deflating it costs time and saves nothing.
  bool store = n >= kAlwaysDeflateBelow && n > 2 * kProbeSize && LooksIncompressible(in, n);
  if (!store) {
    if (!local.whole) local.whole = libdeflate_alloc_compressor(kDeflateLevel);
    if (!local.whole) return Failed("out of memory");
    // Below the small size everything is deflated; above it the result must
    // save at least 2 %, or the data is stored.
    const size_t room =
        n < kAlwaysDeflateBelow ? libdeflate_deflate_compress_bound(local.whole, n) : n - n / 50;
    f.data.resize(std::max<size_t>(room, 1));
    const size_t packed = libdeflate_deflate_compress(local.whole, in, n, f.data.data(), room);
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

DeflatedPiece DeflatePiece(const char* data, size_t size, const char* dictionary,
                           size_t dictionarySize) {
  DeflatedPiece piece;
  piece.size = size;
  piece.crc = static_cast<uint32_t>(libdeflate_crc32(0, data, size));
  ThreadCompressors& local = Local();
  if (!local.pieceReady) {
    if (deflateInit2(&local.piece, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
      return piece;
    local.pieceReady = true;
  }
  z_stream& z = local.piece;
  if (deflateReset(&z) != Z_OK) return piece;
  if (dictionarySize > kWindow) {
    dictionary += dictionarySize - kWindow;
    dictionarySize = kWindow;
  }
  if (dictionarySize > 0 && deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary),
                                                 static_cast<uInt>(dictionarySize)) != Z_OK)
    return piece;
  // Room for the worst case plus the sync marker; grown if ever short.
  piece.data.resize(deflateBound(&z, size) + 16);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  z.avail_in = static_cast<uInt>(size);
  size_t produced = 0;
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(piece.data.data() + produced);
    z.avail_out = static_cast<uInt>(piece.data.size() - produced);
    const int rc = deflate(&z, Z_SYNC_FLUSH);
    produced = piece.data.size() - z.avail_out;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return piece;
    if (z.avail_in == 0 && z.avail_out > 0) break;  // all in, flush complete
    piece.data.resize(piece.data.size() * 2);
  }
  piece.data.resize(produced);
  piece.ok = true;
  return piece;
}

}  // namespace tessarook
