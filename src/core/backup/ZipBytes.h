// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Numbers as ZIP files hold them (little-endian), and its records' signatures.

#include <cstdint>
#include <string>

namespace tessarook::zipbytes {

inline constexpr uint32_t kLocalSig = 0x04034b50;
inline constexpr uint32_t kCentralSig = 0x02014b50;
inline constexpr uint32_t kEndSig = 0x06054b50;
inline constexpr uint32_t kEnd64Sig = 0x06064b50;
inline constexpr uint32_t kLocator64Sig = 0x07064b50;
inline constexpr uint16_t kZip64Tag = 0x0001;

inline void Put(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
inline void Put16(std::string& out, uint64_t v) { Put(out, v, 2); }
inline void Put32(std::string& out, uint64_t v) { Put(out, v, 4); }
inline void Put64(std::string& out, uint64_t v) { Put(out, v, 8); }

inline uint64_t Get(const void* at, int bytes) {
  const auto* p = static_cast<const unsigned char*>(at);
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace tessarook::zipbytes
