// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/DeflateScan.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

namespace tessarook {

namespace {

constexpr unsigned kTableBits = 10;  // codes up to this long are found in one look-up
constexpr unsigned kMaxBits = 15;
constexpr unsigned kMaxPadBytes = 16;  // zeros read past the end before giving up

// The stream's bits, least significant first, with at least 56 of them at
// hand after Refill.
class CBits {
 public:
  CBits(const unsigned char* data, size_t size) : m_start(data), m_p(data), m_end(data + size) {}

  // False once the reader has gone well past the end (a stream that does
  // not end where its blocks say).
  bool Refill() {
    if (m_end - m_p >= 8) {
      uint64_t v;
      std::memcpy(&v, m_p, 8);
      if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
      m_buf |= v << m_count;
      m_p += (63 - m_count) >> 3;
      m_count |= 56;
      return true;
    }
    while (m_count <= 56) {
      if (m_p < m_end)
        m_buf |= uint64_t{*m_p++} << m_count;
      else
        ++m_pad;
      m_count += 8;
    }
    return m_pad <= kMaxPadBytes;
  }
  uint64_t Peek(unsigned n) const { return m_buf & ((uint64_t{1} << n) - 1); }
  void Skip(unsigned n) {
    m_buf >>= n;
    m_count -= n;
  }
  uint64_t Take(unsigned n) {
    const uint64_t v = Peek(n);
    Skip(n);
    return v;
  }
  // Bits consumed so far.
  uint64_t Position() const { return (static_cast<uint64_t>(m_p - m_start) + m_pad) * 8 - m_count; }
  void AlignToByte() { Skip(m_count % 8); }
  // Goes on at byte `at` (not past the end).
  void Seek(uint64_t at) {
    m_p = m_start + at;
    m_buf = 0;
    m_count = 0;
    m_pad = 0;
  }

 private:
  const unsigned char* m_start;
  const unsigned char* m_p;
  const unsigned char* m_end;
  uint64_t m_buf = 0;
  unsigned m_count = 0;
  unsigned m_pad = 0;
};

// A canonical Huffman code: short codes from a table, longer ones by their
// counts, one bit at a time.
class CHuffman {
 public:
  // False when the lengths over-subscribe the code.
  bool Build(const unsigned char* lengths, unsigned n) {
    std::fill(std::begin(m_count), std::end(m_count), 0);
    for (unsigned i = 0; i < n; ++i) ++m_count[lengths[i]];
    m_count[0] = 0;
    int left = 1;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
      left = 2 * left - m_count[len];
      if (left < 0) return false;
    }
    uint16_t offset[kMaxBits + 2] = {};
    uint16_t next[kMaxBits + 1] = {};
    uint16_t code = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
      offset[len + 1] = static_cast<uint16_t>(offset[len] + m_count[len]);
      code = static_cast<uint16_t>((code + m_count[len - 1]) << 1);
      next[len] = code;
    }
    std::fill(std::begin(m_table), std::end(m_table), 0);
    for (unsigned sym = 0; sym < n; ++sym) {
      const unsigned len = lengths[sym];
      if (len == 0) continue;
      m_symbol[offset[len]++] = static_cast<uint16_t>(sym);
      const unsigned c = next[len]++;
      if (len > kTableBits) continue;
      unsigned reversed = 0;
      for (unsigned b = 0; b < len; ++b) reversed |= ((c >> b) & 1u) << (len - 1 - b);
      for (unsigned j = reversed; j < (1u << kTableBits); j += 1u << len)
        m_table[j] = static_cast<uint16_t>(sym << 4 | len);
    }
    return true;
  }

  // The next symbol, or -1 for a code that is not part of this one.
  int Decode(CBits& bits) const {
    const uint16_t e = m_table[bits.Peek(kTableBits)];
    if (e != 0) {
      bits.Skip(e & 15u);
      return e >> 4;
    }
    const uint64_t b = bits.Peek(kMaxBits);
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
      code |= static_cast<int>((b >> (len - 1)) & 1u);
      const int count = m_count[len];
      if (code < first + count) {
        bits.Skip(len);
        return m_symbol[index + code - first];
      }
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }

 private:
  uint16_t m_table[1u << kTableBits];  // symbol << 4 | length; 0 for a longer code
  uint16_t m_count[kMaxBits + 1];
  uint16_t m_symbol[288];
};

// Follows the codes of one block up to its end code.
bool SkipCodes(CBits& bits, const CHuffman& litlen, const CHuffman& dist) {
  for (;;) {
    if (!bits.Refill()) return false;
    const int sym = litlen.Decode(bits);
    if (sym < 256) {
      if (sym < 0) return false;
      continue;
    }
    if (sym == 256) return true;
    if (sym > 285) return false;
    if (sym >= 265 && sym < 285) bits.Skip(static_cast<unsigned>(sym - 261) / 4);
    const int d = dist.Decode(bits);
    if (d < 0 || d > 29) return false;
    if (d >= 4) bits.Skip(static_cast<unsigned>(d) / 2 - 1);
  }
}

struct CFixedCodes {
  CHuffman litlen, dist;
  CFixedCodes() {
    unsigned char lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    litlen.Build(lengths, 288);
    std::fill(lengths, lengths + 32, 5);
    dist.Build(lengths, 32);
  }
};

bool ReadDynamicCodes(CBits& bits, CHuffman& litlen, CHuffman& dist) {
  static constexpr unsigned char kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
  if (!bits.Refill()) return false;
  const unsigned nlen = static_cast<unsigned>(bits.Take(5)) + 257;
  const unsigned ndist = static_cast<unsigned>(bits.Take(5)) + 1;
  const unsigned ncode = static_cast<unsigned>(bits.Take(4)) + 4;
  if (nlen > 286 || ndist > 30) return false;
  unsigned char lengths[286 + 30] = {};
  for (unsigned i = 0; i < ncode; ++i) {
    if (!bits.Refill()) return false;
    lengths[kOrder[i]] = static_cast<unsigned char>(bits.Take(3));
  }
  CHuffman lengthCode;
  if (!lengthCode.Build(lengths, 19)) return false;
  std::fill(lengths, lengths + 19, 0);
  for (unsigned i = 0; i < nlen + ndist;) {
    if (!bits.Refill()) return false;
    const int sym = lengthCode.Decode(bits);
    if (sym < 0) return false;
    if (sym < 16) {
      lengths[i++] = static_cast<unsigned char>(sym);
      continue;
    }
    unsigned char value = 0;
    unsigned repeat = 0;
    if (sym == 16) {
      if (i == 0) return false;
      value = lengths[i - 1];
      repeat = 3 + static_cast<unsigned>(bits.Take(2));
    } else if (sym == 17) {
      repeat = 3 + static_cast<unsigned>(bits.Take(3));
    } else {
      repeat = 11 + static_cast<unsigned>(bits.Take(7));
    }
    if (i + repeat > nlen + ndist) return false;
    std::fill(lengths + i, lengths + i + repeat, value);
    i += repeat;
  }
  if (lengths[256] == 0) return false;  // no end code
  return litlen.Build(lengths, nlen) && dist.Build(lengths + nlen, ndist);
}

}  // namespace

bool ScanDeflate(const unsigned char* data, size_t size, DeflateLayout& layout) {
  static const CFixedCodes fixed;
  CHuffman litlen, dist;
  CBits bits(data, size);
  const uint64_t endBits = uint64_t{size} * 8;
  for (;;) {
    if (!bits.Refill()) return false;
    const uint64_t header = bits.Position();
    const bool last = bits.Take(1) != 0;
    switch (bits.Take(2)) {
      case 0: {  // stored
        bits.AlignToByte();
        if (!bits.Refill()) return false;
        const uint64_t length = bits.Take(16);
        if (length != (~bits.Take(16) & 0xFFFFu)) return false;
        const uint64_t at = bits.Position() / 8;
        if (at * 8 > endBits || at + length > size) return false;
        bits.Seek(at + length);
        break;
      }
      case 1:
        if (!SkipCodes(bits, fixed.litlen, fixed.dist)) return false;
        break;
      case 2:
        if (!ReadDynamicCodes(bits, litlen, dist) || !SkipCodes(bits, litlen, dist)) return false;
        break;
      default:
        return false;
    }
    if (bits.Position() > endBits) return false;
    if (last) {
      layout.finalHeaderBit = header;
      layout.endBit = bits.Position();
      return true;
    }
  }
}

}  // namespace tessarook
