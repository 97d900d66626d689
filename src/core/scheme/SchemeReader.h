// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scheme/Scheme.h"
#include "scheme/SchemeError.h"

namespace tessarook {

// Reads the scheme file layout: a signed 32-bit file count and that many
// texts, then a signed 32-bit folder count and per folder its path text, a
// signed 32-bit exclusion count and that many texts. Bytes after the last
// folder are ignored. A negative count reads no entries.
//
// A text is a length prefix (1, 3, 7 or 15 bytes) and the characters; the
// prefix FF FE FF marks a wide (UTF-16LE) text, which is converted to UTF-8.
//
// The input may be damaged or hostile: every length is checked against the
// bytes left before anything is allocated for it, and every loop step reads at
// least one byte, so a huge count in a short file fails at once. The whole
// input is checked before any entry is kept, so a file that fails costs no
// memory, and one that reads costs its entries once (the lists are sized
// beforehand). A file of more than kMaxSchemeTexts texts is refused: every
// text, even an empty one-byte text, costs a string object.
class CSchemeReader {
 public:
  // Reads from memory.
  CSchemeReader(const void* data, size_t size);
  // Reads from an open file descriptor holding size bytes from its current
  // position. The reader does not close it or move its position.
  CSchemeReader(int fd, uint64_t size);

  // Reads the whole Scheme into out (which is emptied first). On failure out
  // holds whatever was read so far: callers read into a temporary.
  SchemeError Read(CScheme& out);

 private:
  struct Counts {
    uint64_t files = 0;
    uint64_t folders = 0;
    uint64_t texts = 0;
  };
  // One pass over the input; with out null nothing is kept.
  SchemeError Walk(CScheme* out, Counts& counts);
  void Rewind();
  // Copies the next n bytes to dst, or skips them when dst is null.
  bool ReadBytes(void* dst, size_t n);
  bool ReadU8(uint8_t& v);
  bool ReadU16(uint16_t& v);
  bool ReadU32(uint32_t& v);
  bool ReadU64(uint64_t& v);
  SchemeError ReadCount(int32_t& count);
  // Reads a text into out, or skips it when out is null.
  SchemeError ReadText(std::string* out);

  const uint8_t* mem_ = nullptr;
  int fd_ = -1;
  uint64_t start_ = 0;  // the descriptor's position when the reader was made
  uint64_t size_ = 0;
  uint64_t pos_ = 0;  // bytes consumed from the start
  // Read-ahead for the file case: the bytes at [bufStart_, bufStart_ + bufLen_).
  std::vector<uint8_t> buffer_;
  uint64_t bufStart_ = 0;
  size_t bufLen_ = 0;
};

// Most texts (file paths, folder paths and excluded extensions together) a
// scheme file may hold. Entries are added one by one and each addition looks
// through the list, so no Scheme the program made comes near this.
inline constexpr uint64_t kMaxSchemeTexts = 1 << 20;

// Converts UTF-16LE code units to UTF-8. Surrogate pairs become one code
// point; an unpaired surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(const uint8_t* units, size_t count);

}  // namespace tessarook
