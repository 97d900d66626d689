// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/DeflateScan.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <vector>

namespace tessarook {

namespace {

constexpr unsigned kTableBits = 10;  // codes up to this long are found in one look-up
constexpr unsigned kMaxBits = 15;
constexpr unsigned kMaxPadBytes = 16;  // zeros read past the end before giving up
// Runs of literals are skipped this many bits at a time (see CHuffman::Run).
constexpr unsigned kRunBits = 12;

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
  unsigned Available() const { return m_count; }
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

// What a code's symbols mean to the reader.
enum class CodeKind { kLengths, kLiteralLength, kDistance };

// Table entries: the bits a symbol takes (its code and the extra bits after
// it), flags, and the symbol or a subtable's offset.
constexpr uint32_t kBitsMask = 63;
constexpr uint32_t kSubtable = 1u << 6;
constexpr uint32_t kMatch = 1u << 7;    // a length: a distance follows
constexpr uint32_t kSpecial = 1u << 8;  // the end of the block, or no such code
constexpr unsigned kValueShift = 9;
constexpr uint32_t kEndOfBlock = kSpecial | 256u << kValueShift;
constexpr uint32_t kNoCode = kSpecial | 0x7FFFu << kValueShift;

uint32_t EntryFor(CodeKind kind, unsigned sym, unsigned len) {
  switch (kind) {
    case CodeKind::kLengths:
      return sym << kValueShift | len;
    case CodeKind::kLiteralLength:
      if (sym < 256) return sym << kValueShift | len;
      if (sym == 256) return kEndOfBlock | len;
      if (sym > 285) return kNoCode;
      return sym << kValueShift | kMatch | (len + (sym >= 265 && sym < 285 ? (sym - 261) / 4 : 0));
    case CodeKind::kDistance:
      if (sym > 29) return kNoCode;
      return sym << kValueShift | (len + (sym >= 4 ? sym / 2 - 1 : 0));
  }
  return kNoCode;
}

// The most symbols a code of the format has (the fixed literal and length code).
constexpr unsigned kMaxSymbols = 288;

// The canonical codes of `n` <= kMaxSymbols symbols of `lengths`, each with
// its bits in the order they stand in the stream (first bit lowest); the
// longest length in `longest`. False when the lengths over-subscribe the code.
bool StreamCodes(const unsigned char* lengths, unsigned n, uint16_t* codes, unsigned& longest) {
  uint16_t count[kMaxBits + 1] = {};
  for (unsigned i = 0; i < n; ++i) ++count[lengths[i]];
  count[0] = 0;
  int left = 1;
  longest = 0;
  for (unsigned len = 1; len <= kMaxBits; ++len) {
    left = 2 * left - count[len];
    if (left < 0) return false;
    if (count[len]) longest = len;
  }
  uint16_t next[kMaxBits + 1] = {};
  unsigned code = 0;
  for (unsigned len = 1; len <= kMaxBits; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = static_cast<uint16_t>(code);
  }
  for (unsigned sym = 0; sym < n; ++sym) {
    const unsigned len = lengths[sym];
    const unsigned c = len ? next[len]++ : 0;
    unsigned reversed = 0;
    for (unsigned b = 0; b < len; ++b) reversed |= ((c >> b) & 1u) << (len - 1 - b);
    codes[sym] = static_cast<uint16_t>(reversed);
  }
  return true;
}

// A canonical Huffman code, read through a table of its first kTableBits
// bits and, for longer codes, one subtable for each such start.
class CHuffman {
 public:
  // False when the lengths over-subscribe the code.
  bool Build(const unsigned char* lengths, unsigned n, CodeKind kind) {
    uint16_t codes[kMaxSymbols];
    unsigned longest = 0;
    if (!StreamCodes(lengths, n, codes, longest)) return false;
    m_subBits = longest > kTableBits ? longest - kTableBits : 0;
    std::fill(std::begin(m_table), std::end(m_table), kNoCode);
    m_sub.clear();
    for (unsigned sym = 0; sym < n; ++sym) {
      const unsigned len = lengths[sym];
      if (len == 0) continue;
      const unsigned reversed = codes[sym];
      const uint32_t entry = EntryFor(kind, sym, len);
      if (len <= kTableBits) {
        for (unsigned j = reversed; j < (1u << kTableBits); j += 1u << len) m_table[j] = entry;
        continue;
      }
      uint32_t& start = m_table[reversed & ((1u << kTableBits) - 1)];
      if (!(start & kSubtable)) {
        start = static_cast<uint32_t>(m_sub.size()) << kValueShift | kSubtable;
        m_sub.resize(m_sub.size() + (size_t{1} << m_subBits), kNoCode);
      }
      uint32_t* sub = m_sub.data() + (start >> kValueShift);
      for (unsigned j = reversed >> kTableBits; j < (1u << m_subBits);
           j += 1u << (len - kTableBits))
        sub[j] = entry;
    }
    if (kind == CodeKind::kLiteralLength) BuildRuns();
    return true;
  }

  // For the next kRunBits bits: how many of them the literals they begin
  // with take, as many whole literal codes as fit; 0 when they begin with
  // anything else (a length, the end code, a code longer than kTableBits).
  unsigned Run(const CBits& bits) const { return m_runs[bits.Peek(kRunBits)]; }

  // The entry of the code the bits begin with (nothing is consumed).
  uint32_t Look(const CBits& bits) const {
    const uint32_t e = m_table[bits.Peek(kTableBits)];
    if (!(e & kSubtable)) return e;
    return m_sub[(e >> kValueShift) + (bits.Peek(kTableBits + m_subBits) >> kTableBits)];
  }

 private:
  // A literal code is known by its first bits alone, so the codes that fit
  // in the bits of a run can be read one after another from them, whatever
  // follows.
  void BuildRuns() {
    for (unsigned w = 0; w < (1u << kRunBits); ++w) {
      unsigned used = 0;
      for (;;) {
        const uint32_t e = m_table[(w >> used) & ((1u << kTableBits) - 1)];
        const unsigned len = e & kBitsMask;
        if (e & (kSubtable | kMatch | kSpecial) || len > kRunBits - used) break;
        used += len;
      }
      m_runs[w] = static_cast<uint8_t>(used);
    }
  }

  uint32_t m_table[1u << kTableBits];
  std::vector<uint32_t> m_sub;
  unsigned m_subBits = 0;
  uint8_t m_runs[1u << kRunBits] = {};
};

// Follows the codes of one block up to its end code: each turn a run of
// literals (perhaps none), then one symbol. The distance after a length is
// looked up for every symbol and skipped only after a length, so that
// literals and matches take the same path.
bool SkipCodes(CBits& stream, const CHuffman& litlen, const CHuffman& dist) {
  CBits bits = stream;  // a copy the compiler can keep in registers
  bool ok = false;
  for (;;) {
    if (!bits.Refill()) break;
    bits.Skip(litlen.Run(bits));
    const uint32_t e = litlen.Look(bits);
    if (e & kSpecial) {
      ok = (e & ~kBitsMask) == kEndOfBlock;
      if (ok) bits.Skip(e & kBitsMask);
      break;
    }
    bits.Skip(e & kBitsMask);
    // A distance takes up to 28 bits; after a long run and a long length
    // fewer may be at hand.
    if (bits.Available() < 28 && !bits.Refill()) break;
    const uint32_t d = dist.Look(bits);
    const uint32_t match = (e & kMatch) ? ~0u : 0u;
    if (d & kSpecial & match) break;
    bits.Skip(d & kBitsMask & match);
  }
  stream = bits;
  return ok;
}

struct CFixedCodes {
  CHuffman litlen, dist;
  CFixedCodes() {
    unsigned char lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    litlen.Build(lengths, 288, CodeKind::kLiteralLength);
    std::fill(lengths, lengths + 32, 5);
    dist.Build(lengths, 32, CodeKind::kDistance);
  }
};

// Reads a dynamic block's code lengths: `nlen` for literals and lengths,
// then `ndist` for distances, into `lengths`.
bool ReadCodeLengths(CBits& bits, unsigned char (&lengths)[286 + 30], unsigned& nlen,
                     unsigned& ndist) {
  static constexpr unsigned char kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
  if (!bits.Refill()) return false;
  nlen = static_cast<unsigned>(bits.Take(5)) + 257;
  ndist = static_cast<unsigned>(bits.Take(5)) + 1;
  const unsigned ncode = static_cast<unsigned>(bits.Take(4)) + 4;
  if (nlen > 286 || ndist > 30) return false;
  std::fill(std::begin(lengths), std::end(lengths), 0);
  for (unsigned i = 0; i < ncode; ++i) {
    if (!bits.Refill()) return false;
    lengths[kOrder[i]] = static_cast<unsigned char>(bits.Take(3));
  }
  CHuffman lengthCode;
  if (!lengthCode.Build(lengths, 19, CodeKind::kLengths)) return false;
  std::fill(lengths, lengths + 19, 0);
  for (unsigned i = 0; i < nlen + ndist;) {
    if (!bits.Refill()) return false;
    const uint32_t e = lengthCode.Look(bits);
    if (e & kSpecial) return false;
    bits.Skip(e & kBitsMask);
    const unsigned sym = e >> kValueShift;
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
  return lengths[256] != 0;  // a block without an end code cannot end
}

bool ReadDynamicCodes(CBits& bits, CHuffman& litlen, CHuffman& dist) {
  unsigned char lengths[286 + 30];
  unsigned nlen = 0, ndist = 0;
  return ReadCodeLengths(bits, lengths, nlen, ndist) &&
         litlen.Build(lengths, nlen, CodeKind::kLiteralLength) &&
         dist.Build(lengths + nlen, ndist, CodeKind::kDistance);
}

// The end code's bits in the order they stand in the stream, for the
// literal and length code of `nlen` `lengths`; its length in `len`. 0 (which
// the caller cannot use) when the code is not well formed.
uint32_t EndCodeBits(const unsigned char* lengths, unsigned nlen, unsigned& len) {
  uint16_t codes[kMaxSymbols];
  unsigned longest = 0;
  len = lengths[256];
  return StreamCodes(lengths, nlen, codes, longest) ? codes[256] : 0;
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

bool FindSingleBlockLayout(const unsigned char* data, size_t size, DeflateLayout& layout) {
  if (size == 0) return false;
  CBits bits(data, size);
  if (!bits.Refill() || bits.Take(1) != 1) return false;  // more blocks follow
  const uint64_t endBits = uint64_t{size} * 8;
  switch (bits.Take(2)) {
    case 0: {  // stored: ends on a byte boundary
      bits.AlignToByte();
      if (!bits.Refill()) return false;
      const uint64_t length = bits.Take(16);
      if (length != (~bits.Take(16) & 0xFFFFu) || size != 5 + length) return false;
      layout = {0, endBits};
      return true;
    }
    case 2:
      break;
    default:  // fixed codes: the end code is all zeros, which cannot be told from padding
      return false;
  }
  unsigned char lengths[286 + 30];
  unsigned nlen = 0, ndist = 0;
  if (!ReadCodeLengths(bits, lengths, nlen, ndist)) return false;
  const uint64_t codesStart = bits.Position();
  unsigned len = 0;
  const uint32_t end = EndCodeBits(lengths, nlen, len);
  // The stream ends with the end code and fewer than eight zero bits. Unless
  // the end code is all zeros, only one place in the last byte fits that.
  if (end == 0) return false;
  const size_t tailBytes = std::min<size_t>(size, 4);
  const uint64_t tailStart = endBits - tailBytes * 8;
  uint64_t tail = 0;
  for (size_t i = 0; i < tailBytes; ++i) tail |= uint64_t{data[tailStart / 8 + i]} << (8 * i);
  unsigned found = 0;
  uint64_t at = 0;
  for (uint64_t e = endBits; e + 8 > endBits && e >= tailStart + len && e >= codesStart + len;
       --e) {
    const uint64_t after = tail >> (e - tailStart);
    const uint64_t code = (tail >> (e - len - tailStart)) & ((uint64_t{1} << len) - 1);
    if (after == 0 && code == end) {
      ++found;
      at = e;
    }
  }
  if (found != 1) return false;
  layout = {0, at};
  return true;
}

}  // namespace tessarook
