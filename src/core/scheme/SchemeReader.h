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
// least one byte, so a huge count in a short file fails at once.
class CSchemeReader {
 public:
  // Reads from memory.
  CSchemeReader(const void* data, size_t size);
  // Reads from an open file descriptor holding size bytes from its current
  // position. The reader does not close it.
  CSchemeReader(int fd, uint64_t size);

  // Reads the whole Scheme into out (which is emptied first). On failure out
  // holds whatever was read so far: callers read into a temporary.
  SchemeError Read(CScheme& out);

 private:
  bool ReadBytes(void* dst, size_t n);
  bool ReadU8(uint8_t& v);
  bool ReadU16(uint16_t& v);
  bool ReadU32(uint32_t& v);
  bool ReadU64(uint64_t& v);
  SchemeError ReadCount(int32_t& count);
  SchemeError ReadText(std::string& out);

  const uint8_t* mem_ = nullptr;
  int fd_ = -1;
  uint64_t remaining_ = 0;
  // Read-ahead for the file case.
  std::vector<uint8_t> buffer_;
  size_t bufPos_ = 0;
  size_t bufLen_ = 0;
};

// Converts UTF-16LE code units to UTF-8. Surrogate pairs become one code
// point; an unpaired surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(const uint8_t* units, size_t count);

}  // namespace tessarook
