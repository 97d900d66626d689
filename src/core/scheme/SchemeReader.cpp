// SPDX-License-Identifier: GPL-3.0-or-later
#include "scheme/SchemeReader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "util/Json.h"

namespace tessarook {

std::string Utf16LeToUtf8(const uint8_t* units, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t u = units[2 * i] | (static_cast<uint32_t>(units[2 * i + 1]) << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
      const uint32_t v = units[2 * i + 2] | (static_cast<uint32_t>(units[2 * i + 3]) << 8);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
  }
  return out;
}

CSchemeReader::CSchemeReader(const void* data, size_t size)
    : mem_(static_cast<const uint8_t*>(data)), size_(size) {}

CSchemeReader::CSchemeReader(int fd, uint64_t size) : fd_(fd), size_(size), buffer_(64 * 1024) {
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  start_ = at > 0 ? static_cast<uint64_t>(at) : 0;
}

void CSchemeReader::Rewind() { pos_ = 0; }

bool CSchemeReader::ReadBytes(void* dst, size_t n) {
  if (n > size_ - pos_) return false;
  uint8_t* out = static_cast<uint8_t*>(dst);
  if (mem_) {
    if (out) std::memcpy(out, mem_ + pos_, n);
    pos_ += n;
    return true;
  }
  while (n > 0) {
    if (pos_ < bufStart_ || pos_ >= bufStart_ + bufLen_) {
      if (!out && n > buffer_.size()) {  // skipped bytes need not be read
        pos_ += n;
        return true;
      }
      const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), size_ - pos_));
      ssize_t got;
      do {
        got = ::pread(fd_, buffer_.data(), want, static_cast<off_t>(start_ + pos_));
      } while (got < 0 && errno == EINTR);
      if (got <= 0) return false;  // the file shrank or could not be read
      bufStart_ = pos_;
      bufLen_ = static_cast<size_t>(got);
    }
    const size_t at = static_cast<size_t>(pos_ - bufStart_);
    const size_t take = std::min(n, bufLen_ - at);
    if (out) {
      std::memcpy(out, buffer_.data() + at, take);
      out += take;
    }
    pos_ += take;
    n -= take;
  }
  return true;
}

bool CSchemeReader::ReadU8(uint8_t& v) { return ReadBytes(&v, 1); }

bool CSchemeReader::ReadU16(uint16_t& v) {
  uint8_t b[2];
  if (!ReadBytes(b, 2)) return false;
  v = static_cast<uint16_t>(b[0] | (b[1] << 8));
  return true;
}

bool CSchemeReader::ReadU32(uint32_t& v) {
  uint8_t b[4];
  if (!ReadBytes(b, 4)) return false;
  v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return true;
}

bool CSchemeReader::ReadU64(uint64_t& v) {
  uint8_t b[8];
  if (!ReadBytes(b, 8)) return false;
  v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
  return true;
}

SchemeError CSchemeReader::ReadCount(int32_t& count) {
  uint32_t raw;
  if (!ReadU32(raw)) return SchemeError::kUnexpectedFormat;
  count = static_cast<int32_t>(raw);
  return SchemeError::kOk;
}

SchemeError CSchemeReader::ReadText(std::string* out) {
  constexpr SchemeError kEof = SchemeError::kUnexpectedFormat;
  uint8_t b;
  if (!ReadU8(b)) return kEof;
  bool wide = false;
  uint64_t length = b;
  if (b == 0xFF) {
    uint16_t w;
    if (!ReadU16(w)) return kEof;
    bool known = false;
    if (w == 0xFFFE) {
      wide = true;
      if (!ReadU8(b)) return kEof;
      if (b < 0xFF) {
        length = b;
        known = true;
      } else if (!ReadU16(w)) {
        return kEof;
      }
    }
    if (!known) {
      if (w < 0xFFFF) {
        length = w;
      } else {
        uint32_t d;
        if (!ReadU32(d)) return kEof;
        if (d < 0xFFFFFFFFu) {
          length = d;
        } else {
          uint64_t q;
          if (!ReadU64(q)) return kEof;
          if ((q >> 32) != 0 || static_cast<int32_t>(static_cast<uint32_t>(q)) < 0)
            return SchemeError::kOpenFailed;
          length = q;
        }
      }
    }
  }
  // Checked against what is left before anything is allocated.
  const uint64_t bytes = wide ? 2 * length : length;
  if (bytes > size_ - pos_) return kEof;
  if (!out) return ReadBytes(nullptr, static_cast<size_t>(bytes)) ? SchemeError::kOk : kEof;
  if (!wide) {
    out->resize(static_cast<size_t>(length));
    return ReadBytes(out->data(), out->size()) ? SchemeError::kOk : kEof;
  }
  std::string units(static_cast<size_t>(bytes), '\0');
  if (!ReadBytes(units.data(), units.size())) return kEof;
  *out = Utf16LeToUtf8(reinterpret_cast<const uint8_t*>(units.data()), static_cast<size_t>(length));
  return SchemeError::kOk;
}

SchemeError CSchemeReader::Walk(CScheme* out, Counts& counts) {
  constexpr SchemeError kTooMany = SchemeError::kUnexpectedFormat;
  const Counts sizes = counts;  // from the checking pass, when this one keeps
  counts = Counts();
  int32_t files;
  SchemeError err = ReadCount(files);
  if (err != SchemeError::kOk) return err;
  if (out) out->m_files.reserve(static_cast<size_t>(sizes.files));
  // Every text takes at least one byte, so this loop ends once the input does.
  for (int32_t i = 0; i < files; ++i) {
    if (++counts.texts > kMaxSchemeTexts) return kTooMany;
    ++counts.files;
    if (!out) {
      if ((err = ReadText(nullptr)) != SchemeError::kOk) return err;
      continue;
    }
    std::string path;
    if ((err = ReadText(&path)) != SchemeError::kOk) return err;
    out->m_files.emplace_back(std::move(path));
  }

  int32_t folders;
  if ((err = ReadCount(folders)) != SchemeError::kOk) return err;
  if (out) out->m_folders.reserve(static_cast<size_t>(sizes.folders));
  for (int32_t i = 0; i < folders; ++i) {
    if (++counts.texts > kMaxSchemeTexts) return kTooMany;
    ++counts.folders;
    CSchemeFolder folder;
    if ((err = ReadText(out ? &folder.m_path : nullptr)) != SchemeError::kOk) return err;
    int32_t exclusions;
    if ((err = ReadCount(exclusions)) != SchemeError::kOk) return err;
    for (int32_t k = 0; k < exclusions; ++k) {
      if (++counts.texts > kMaxSchemeTexts) return kTooMany;
      if (!out) {
        if ((err = ReadText(nullptr)) != SchemeError::kOk) return err;
        continue;
      }
      std::string ext;
      if ((err = ReadText(&ext)) != SchemeError::kOk) return err;
      folder.m_excludedExtensions.push_back(std::move(ext));
    }
    if (out) out->m_folders.push_back(std::move(folder));
  }
  return SchemeError::kOk;
}

SchemeError CSchemeReader::Read(CScheme& out) {
  out.Clear();
  if (size_ == 0) return SchemeError::kOk;  // a zero-length file is an empty Scheme
  // First only check, then keep: what fails is found before anything is kept.
  Counts counts;
  SchemeError err = Walk(nullptr, counts);
  if (err != SchemeError::kOk) return err;
  Rewind();
  return Walk(&out, counts);
}

}  // namespace tessarook
