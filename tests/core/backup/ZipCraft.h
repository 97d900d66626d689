// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Builds ZIP files byte by byte, for archives the program's own writer never
// makes: odd extra fields, entries sharing data, manifests that inflate to
// far more than the file holds.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace backup_test {

inline void Put(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Raw deflate of `repeat` copies of `chunk`, streamed so that the inflated
// size may be far larger than memory the test wants to spend.
inline std::string DeflateRepeated(const std::string& chunk, uint64_t repeat, uint32_t& crc) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  std::string out;
  std::vector<unsigned char> buf(1 << 16);
  crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
  for (uint64_t i = 0; i <= repeat; ++i) {
    const bool last = i == repeat;
    if (!last) {
      crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()),
                                        static_cast<uInt>(chunk.size())));
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
      z.avail_in = static_cast<uInt>(chunk.size());
    }
    int ret = Z_OK;
    do {
      z.next_out = buf.data();
      z.avail_out = static_cast<uInt>(buf.size());
      ret = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      out.append(reinterpret_cast<char*>(buf.data()), buf.size() - z.avail_out);
    } while (last ? ret == Z_OK : z.avail_out == 0);
  }
  deflateEnd(&z);
  return out;
}

inline uint32_t Crc(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

class ZipCraft {
 public:
  struct Record {
    std::string name;
    uint64_t localOffset = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    std::string centralExtra;
  };

  // Appends a local header and its data (already compressed when `method` is
  // 8); returns the directory record that points at it.
  Record AddLocal(const std::string& name, const std::string& data, uint16_t method, uint32_t crc,
                  uint64_t size) {
    Record r{name, bytes_.size(), method, crc, data.size(), size, ""};
    Put(bytes_, 0x04034b50, 4);
    Put(bytes_, 20, 2);
    Put(bytes_, 0, 2);
    Put(bytes_, method, 2);
    Put(bytes_, 0, 2);       // time
    Put(bytes_, 0x5021, 2);  // 2020-01-01
    Put(bytes_, crc, 4);
    Put(bytes_, data.size(), 4);
    Put(bytes_, size, 4);
    Put(bytes_, name.size(), 2);
    Put(bytes_, 0, 2);
    bytes_ += name;
    bytes_ += data;
    return r;
  }
  Record AddStored(const std::string& name, const std::string& data) {
    return AddLocal(name, data, 0, Crc(data), data.size());
  }

  // Appends the directory of the given records and the end record.
  std::string Finish(const std::vector<Record>& records, uint16_t dosTime = 0,
                     uint16_t dosDate = 0x5021) {
    std::string out = bytes_;
    const uint64_t cdStart = out.size();
    for (const Record& r : records) {
      Put(out, 0x02014b50, 4);
      Put(out, (3 << 8) | 20, 2);
      Put(out, 20, 2);
      Put(out, 0, 2);
      Put(out, r.method, 2);
      Put(out, dosTime, 2);
      Put(out, dosDate, 2);
      Put(out, r.crc, 4);
      Put(out, r.compressedSize, 4);
      Put(out, r.size, 4);
      Put(out, r.name.size(), 2);
      Put(out, r.centralExtra.size(), 2);
      Put(out, 0, 2);  // comment
      Put(out, 0, 2);  // disk
      Put(out, 0, 2);  // internal attributes
      Put(out, 0100644u << 16, 4);
      Put(out, r.localOffset, 4);
      out += r.name;
      out += r.centralExtra;
    }
    const uint64_t cdSize = out.size() - cdStart;
    Put(out, 0x06054b50, 4);
    Put(out, 0, 4);
    Put(out, records.size(), 2);
    Put(out, records.size(), 2);
    Put(out, cdSize, 4);
    Put(out, cdStart, 4);
    Put(out, 0, 2);
    return out;
  }

 private:
  std::string bytes_;
};

// An NTFS extra field (tag 0x000a) whose last-write time is `fileTime`.
inline std::string NtfsExtra(uint64_t fileTime) {
  std::string e;
  Put(e, 0x000a, 2);
  Put(e, 32, 2);
  Put(e, 0, 4);
  Put(e, 1, 2);
  Put(e, 24, 2);
  Put(e, fileTime, 8);
  Put(e, fileTime, 8);
  Put(e, fileTime, 8);
  return e;
}

// An extended-timestamp extra field (tag 0x5455) holding a last-write time.
inline std::string UnixTimeExtra(uint32_t seconds) {
  std::string e;
  Put(e, 0x5455, 2);
  Put(e, 5, 2);
  e += '\x01';
  Put(e, seconds, 4);
  return e;
}

}  // namespace backup_test
