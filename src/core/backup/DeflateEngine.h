// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "util/OpenBeneath.h"

namespace tessarook {

// How file data is compressed for a Backup, on as many threads as there are
// workers, into bounded buffers.
//
// A file smaller than kWholeFileLimit is read in one piece and deflated in one
// call of libdeflate, at the level asked for (1 fastest .. 9 smallest;
// kDeflateLevel unless told otherwise). A larger file is read in pieces of
// kStreamPiece bytes; each piece is deflated on its own by libdeflate (at
// the fastest level in parts of kFastPart bytes, which libdeflate mostly
// makes one block each: a part then costs no look at its codes, and the
// output is about 4-6 % larger than from whole pieces), then its final block
// (see DeflateScan.h) is marked not final and the piece ended on a byte
// boundary (an empty stored block), so the pieces joined in order, followed
// by kFinalEmptyBlock, form one deflate stream for the whole entry. The
// pieces' CRCs are joined likewise.
//
// Memory, per worker: one whole file being compressed and its compressed form
// (2 x kWholeFileLimit, 8 MiB) or one piece and its compressed form (2 MiB),
// and a compressor for each level used (under 1 MiB);
// the writer keeps at most kPiecesPerWorker pieces per worker in flight
// (about 4 MiB with their inputs) and lets files prepared ahead wait up to
// kAheadBytesPerWorker (8 MiB). About 20 MiB a worker: 40 MiB on two cores.
//
// On top of that a Backup holds what grows with the number of files: each
// listed file's path twice (the list and the manifest) and its identity,
// about 400 bytes a file with 40-character paths, 2 more for each further
// character (the archive's directory waits in a scratch file beyond 1 MiB);
// with an earlier Backup to copy from, that Backup's directory and manifest
// as well, about 320 bytes a file more. Measured with 200,000 files: 87 MiB
// at the peak, 151 MiB with an earlier Backup.
inline constexpr size_t kWholeFileLimit = size_t{4} << 20;
inline constexpr size_t kStreamPiece = size_t{1} << 20;
inline constexpr size_t kPiecesPerWorker = 2;
// At the fastest level a piece is deflated in parts of this size.
inline constexpr size_t kFastPart = 65535;
inline constexpr uint64_t kAheadBytesPerWorker = uint64_t{8} << 20;
inline constexpr size_t kAheadFilesPerWorker = 64;
inline constexpr int kDeflateLevel = 6;
inline constexpr int kMinDeflateLevel = 1;
inline constexpr int kMaxDeflateLevel = 9;

// `level` within kMinDeflateLevel..kMaxDeflateLevel.
constexpr int ClampDeflateLevel(int level) {
  return level < kMinDeflateLevel   ? kMinDeflateLevel
         : level > kMaxDeflateLevel ? kMaxDeflateLevel
                                    : level;
}

// Ends a stream made of pieces from DeflatePiece: an empty final block with
// fixed codes.
inline constexpr unsigned char kFinalEmptyBlock[2] = {0x03, 0x00};

// A file opened for a Backup entry, and, when it is small, read and
// compressed already. Made on any thread; handed to the archive's writer.
struct PreparedFile {
  std::string error;      // not empty: the file cannot be read (why); nothing else holds
  CFileHandle file;       // open while data remains to be read (not `whole`)
  struct stat st {};      // the file's status when it was opened
  bool whole = false;     // `data` is the entry's complete stored form
  bool deflated = false;  // whole: `data` is a raw deflate stream, else the bytes themselves
  // Whole: the stored form. Otherwise the first bytes of the file, already
  // read (the file's read position is after them); may be empty.
  std::vector<char> data;
  uint64_t size = 0;     // whole: the bytes read from the file
  uint32_t crc = 0;      // whole: their CRC-32
  bool changed = false;  // whole: the file changed while it was read
};

// Opens the file at `path` and prepares it for an entry: a missing,
// unreadable or non-regular file gives an `error`; a regular file below
// kWholeFileLimit is read and compressed (or kept as it is when its data does
// not compress); a larger one is left open for streaming. Safe to call on
// several threads at once.
PreparedFile PrepareFile(const std::string& path, int level = kDeflateLevel);

// Allocates without setting the bytes: a buffer about to be filled is not
// cleared first.
template <class T>
struct CUnclearedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = CUnclearedAllocator<U>;
  };
  CUnclearedAllocator() = default;
  template <class U>
  CUnclearedAllocator(const CUnclearedAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using UnclearedBytes = std::vector<char, CUnclearedAllocator<char>>;

// One piece of a long entry, deflated.
struct DeflatedPiece {
  UnclearedBytes data;  // deflate blocks, ending byte-aligned, none final
  uint32_t crc = 0;     // CRC-32 of the piece's uncompressed bytes
  size_t size = 0;      // the piece's uncompressed size
  bool ok = false;
};

// Deflates `size` bytes at `data` (not 0) at `level` as one piece of a
// longer stream. Safe to call on several threads at once.
DeflatedPiece DeflatePiece(const char* data, size_t size, int level = kDeflateLevel);

// True when the sample (the start of a file) does not shrink by deflating:
// such data is stored as it is.
bool LooksIncompressible(const char* data, size_t size);

// Reads until `size` bytes or the end of the file; -1 on a read error.
ssize_t ReadFully(int fd, char* data, size_t size);

}  // namespace tessarook
