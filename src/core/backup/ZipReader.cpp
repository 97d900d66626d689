// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ZipReader.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_map>

#include "backup/ZipBytes.h"
#include "util/FileBytes.h"

namespace tessarook {

namespace {

using namespace zipbytes;

constexpr size_t kInChunk = 256 << 10;
constexpr size_t kOutChunk = 1 << 20;
constexpr int64_t kFileTimeEpochOffset = 116444736000000000LL;

// DOS times are local times. mktime looks at the time zone file on every
// call, so the local offset is asked once per hour of a day and kept: an
// archive of 200,000 entries is read in a moment.
class CDosTimes {
 public:
  struct timespec Convert(uint16_t time, uint16_t date) {
    struct tm tm {};
    tm.tm_sec = (time & 0x1f) * 2;
    tm.tm_min = (time >> 5) & 0x3f;
    tm.tm_hour = time >> 11;
    tm.tm_mday = date & 0x1f;
    tm.tm_mon = ((date >> 5) & 0x0f) - 1;
    tm.tm_year = (date >> 9) + 80;
    struct timespec t {};
    const uint32_t hour = uint32_t(date) << 5 | uint32_t(tm.tm_hour);
    auto it = m_offsets.find(hour);
    if (it == m_offsets.end()) {
      struct tm start = tm;
      start.tm_min = 0;
      start.tm_sec = 0;
      start.tm_isdst = -1;
      struct tm utc = start;
      const time_t local = mktime(&start);
      const time_t universal = timegm(&utc);
      const bool valid = local != static_cast<time_t>(-1) && universal != static_cast<time_t>(-1);
      it = m_offsets.emplace(hour, valid ? std::optional<time_t>(local - universal) : std::nullopt)
               .first;
    }
    struct tm utc = tm;
    const time_t universal = timegm(&utc);
    if (it->second && universal != static_cast<time_t>(-1)) t.tv_sec = universal + *it->second;
    return t;
  }

 private:
  std::unordered_map<uint32_t, std::optional<time_t>> m_offsets;
};

// An NTFS time (100 ns steps since 1601) as a time stamp. Values from 2^63
// on lie past the last time the field can mean and are refused, so the
// entry's other times apply; everything below fits a 64-bit time_t.
bool NtfsTime(uint64_t fileTime, struct timespec& out) {
  if (fileTime > static_cast<uint64_t>(INT64_MAX)) return false;
  const int64_t sinceEpoch = static_cast<int64_t>(fileTime) - kFileTimeEpochOffset;
  int64_t sec = sinceEpoch / 10000000;
  int64_t rest = sinceEpoch % 10000000;
  if (rest < 0) {
    rest += 10000000;
    sec -= 1;
  }
  if (sec < std::numeric_limits<time_t>::min() || sec > std::numeric_limits<time_t>::max())
    return false;
  out.tv_sec = static_cast<time_t>(sec);
  out.tv_nsec = static_cast<long>(rest * 100);
  return true;
}

// Reads exactly `size` bytes at `offset` of the file, which is `fileSize`
// bytes long.
bool PreadAll(int fd, uint64_t fileSize, uint64_t offset, void* buffer, size_t size) {
  if (offset > fileSize || size > fileSize - offset) return false;
  return ReadAllAt(fd, buffer, size, offset);
}

// Applies the zip64 sizes, the time fields and the program's own records of
// a central extra field.
void ParseExtra(const unsigned char* p, size_t size, ZipEntryInfo& e, bool& haveTime,
                std::optional<TakenRecord>& taken) {
  bool haveNtfs = false;
  size_t at = 0;
  while (at + 4 <= size) {
    const uint64_t tag = Get(p + at, 2);
    const uint64_t len = Get(p + at + 2, 2);
    if (at + 4 + len > size) break;
    const unsigned char* d = p + at + 4;
    if (tag == 0x0001) {
      size_t k = 0;
      if (e.size == 0xFFFFFFFFu && k + 8 <= len) e.size = Get(d + k, 8), k += 8;
      if (e.compressedSize == 0xFFFFFFFFu && k + 8 <= len) e.compressedSize = Get(d + k, 8), k += 8;
      if (e.localOffset == 0xFFFFFFFFu && k + 8 <= len) e.localOffset = Get(d + k, 8), k += 8;
    } else if (tag == 0x000a && len >= 32) {
      size_t sub = 4;
      while (sub + 4 <= len) {
        const uint64_t subTag = Get(d + sub, 2);
        const uint64_t subLen = Get(d + sub + 2, 2);
        if (sub + 4 + subLen > len) break;
        if (subTag == 1 && subLen >= 8 && NtfsTime(Get(d + sub + 4, 8), e.mtime))
          haveTime = haveNtfs = true;
        sub += 4 + subLen;
      }
    } else if (tag == 0x5455 && len >= 5 && (d[0] & 1) && !haveNtfs) {
      e.mtime.tv_sec = static_cast<int32_t>(static_cast<uint32_t>(Get(d + 1, 4)));
      e.mtime.tv_nsec = 0;
      haveTime = true;
    } else if (tag == kPrivateTag) {
      SourceIdentity identity;
      TakenRecord record;
      switch (ParsePrivateField(d, len, identity, record)) {
        case RecordKind::kIdentity:
          e.source = identity;
          break;
        case RecordKind::kTaken:
          taken = record;
          break;
        case RecordKind::kNone:
          break;
      }
    }
    at += 4 + len;
  }
}

}  // namespace

CZipReader::~CZipReader() {
  if (m_fd >= 0) ::close(m_fd);
  if (m_inflater) libdeflate_free_decompressor(m_inflater);
}

bool CZipReader::OpenCopyOf(const CZipReader& other, std::string& error) {
  if (other.m_fd < 0) {
    error = "no archive is open";
    return false;
  }
  // A new open file of its own, so that the kernel's read-ahead follows this
  // reader's own reads; where /proc is missing, a duplicate descriptor (pread
  // keeps no shared position, so that is safe too).
  struct stat want {};
  if (fstat(other.m_fd, &want) != 0) {
    error = std::strerror(errno);
    return false;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(other.m_fd);
  m_fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  struct stat got {};
  if (m_fd >= 0 &&
      (fstat(m_fd, &got) != 0 || got.st_dev != want.st_dev || got.st_ino != want.st_ino)) {
    ::close(m_fd);
    m_fd = -1;
  }
  if (m_fd < 0) m_fd = fcntl(other.m_fd, F_DUPFD_CLOEXEC, 0);
  if (m_fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  m_fileSize = other.m_fileSize;
  m_directoryAt = other.m_directoryAt;
  m_taken = other.m_taken;
  m_complete = other.m_complete;
  m_entries = other.m_entries;
  return true;
}

bool CZipReader::ReadAt(uint64_t offset, void* buffer, size_t size) {
  return PreadAll(m_fd, m_fileSize, offset, buffer, size);
}

bool LocateZipDirectory(int fd, uint64_t fileSize, uint64_t& cdOffset, uint64_t& cdSize,
                        uint64_t& count, std::string& error) {
  // The end record: the last signature whose comment reaches the file's end.
  if (fileSize < 22) return false;
  const uint64_t tailSize = std::min<uint64_t>(fileSize, 22 + 0xFFFF);
  std::vector<unsigned char> tail(static_cast<size_t>(tailSize));
  if (!PreadAll(fd, fileSize, fileSize - tailSize, tail.data(), tail.size())) return false;
  int64_t endAt = -1;
  for (int64_t i = static_cast<int64_t>(tail.size()) - 22; i >= 0; --i) {
    const unsigned char* p = tail.data() + i;
    if (Get(p, 4) == kEndSig && static_cast<uint64_t>(i) + 22 + Get(p + 20, 2) <= tail.size()) {
      endAt = i;
      break;
    }
  }
  if (endAt < 0) return false;
  const unsigned char* end = tail.data() + endAt;
  const uint64_t endPos = fileSize - tailSize + static_cast<uint64_t>(endAt);
  count = Get(end + 10, 2);
  cdSize = Get(end + 12, 4);
  cdOffset = Get(end + 16, 4);
  uint64_t cdLimit = endPos;
  unsigned char loc[20];
  if (endPos >= 20 && PreadAll(fd, fileSize, endPos - 20, loc, sizeof loc) &&
      Get(loc, 4) == kLocator64Sig) {
    unsigned char rec[56];
    const uint64_t recAt = Get(loc + 8, 8);
    if (!PreadAll(fd, fileSize, recAt, rec, sizeof rec) || Get(rec, 4) != kEnd64Sig) {
      error = "damaged zip64 end record";
      return false;
    }
    count = Get(rec + 32, 8);
    cdSize = Get(rec + 40, 8);
    cdOffset = Get(rec + 48, 8);
    cdLimit = recAt;
  }
  if (cdOffset > cdLimit || cdSize > cdLimit - cdOffset) {
    error = "the directory lies outside the file";
    return false;
  }
  return true;
}

bool ReadLastZipRecord(const std::string& path, std::string& name,
                       std::optional<TakenRecord>& taken) {
  taken.reset();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  uint64_t cdOffset = 0, cdSize = 0, count = 0;
  std::string error;
  bool found = false;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      LocateZipDirectory(fd, static_cast<uint64_t>(st.st_size), cdOffset, cdSize, count, error) &&
      count > 0) {
    // The last record ends where the directory does; a Backup's is short, so
    // only the directory's last few KiB are looked at.
    const size_t look = static_cast<size_t>(std::min<uint64_t>(cdSize, 4096));
    std::vector<unsigned char> buf(look);
    if (PreadAll(fd, static_cast<uint64_t>(st.st_size), cdOffset + cdSize - look, buf.data(),
                 look)) {
      for (size_t i = look >= 46 ? look - 46 + 1 : 0; i-- > 0 && !found;) {
        const unsigned char* p = buf.data() + i;
        if (Get(p, 4) != kCentralSig) continue;
        const size_t nameLen = Get(p + 28, 2), extraLen = Get(p + 30, 2),
                     commentLen = Get(p + 32, 2);
        if (i + 46 + nameLen + extraLen + commentLen != look) continue;
        ZipEntryInfo e;
        bool haveTime = false;
        name.assign(reinterpret_cast<const char*>(p + 46), nameLen);
        ParseExtra(p + 46 + nameLen, extraLen, e, haveTime, taken);
        found = true;
      }
    }
  }
  ::close(fd);
  return found;
}

bool CZipReader::Open(const std::string& path, std::string& error) {
  m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (m_fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = path + ": not a file";
    return false;
  }
  fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
  m_fileSize = static_cast<uint64_t>(st.st_size);
  if (!ParseDirectory(error)) {
    error = path + " is not a readable ZIP file" + (error.empty() ? "" : ": " + error);
    return false;
  }
  return true;
}

bool CZipReader::ParseDirectory(std::string& error) {
  CDosTimes dosTimes;
  uint64_t cdOffset = 0, cdSize = 0, count = 0;
  if (!LocateZipDirectory(m_fd, m_fileSize, cdOffset, cdSize, count, error)) return false;
  m_directoryAt = cdOffset;
  std::vector<unsigned char> cd(static_cast<size_t>(cdSize));
  if (!ReadAt(cdOffset, cd.data(), cd.size())) return false;

  // Each record takes at least 46 bytes: a count the directory cannot hold
  // reserves no more than it can.
  m_entries.reserve(static_cast<size_t>(std::min<uint64_t>(count, cd.size() / 46)));
  size_t at = 0;
  while (m_entries.size() < count && at + 46 <= cd.size()) {
    const unsigned char* p = cd.data() + at;
    if (Get(p, 4) != kCentralSig) break;
    const size_t nameLen = Get(p + 28, 2), extraLen = Get(p + 30, 2), commentLen = Get(p + 32, 2);
    if (at + 46 + nameLen + extraLen + commentLen > cd.size()) break;
    ZipEntryInfo e;
    e.madeBy = static_cast<uint16_t>(Get(p + 4, 2));
    e.flags = static_cast<uint16_t>(Get(p + 8, 2));
    e.method = static_cast<uint16_t>(Get(p + 10, 2));
    e.crc = static_cast<uint32_t>(Get(p + 16, 4));
    e.compressedSize = Get(p + 20, 4);
    e.size = Get(p + 24, 4);
    e.externalAttributes = static_cast<uint32_t>(Get(p + 38, 4));
    e.localOffset = Get(p + 42, 4);
    e.name.assign(reinterpret_cast<const char*>(p + 46), nameLen);
    bool haveTime = false;
    ParseExtra(p + 46 + nameLen, extraLen, e, haveTime, m_taken);
    if (!haveTime)
      e.mtime = dosTimes.Convert(static_cast<uint16_t>(Get(p + 12, 2)),
                                 static_cast<uint16_t>(Get(p + 14, 2)));
    m_entries.push_back(std::move(e));
    at += 46 + nameLen + extraLen + commentLen;
  }
  m_complete = m_entries.size() == count;
  if (m_entries.empty() && count > 0) {
    error = "damaged directory";
    return false;
  }
  return true;
}

bool CZipReader::DataStart(const ZipEntryInfo& e, uint64_t& pos, std::string& error) {
  unsigned char local[30];
  if (!ReadAt(e.localOffset, local, sizeof local) || Get(local, 4) != kLocalSig) {
    error = "the entry's header is damaged";
    return false;
  }
  pos = e.localOffset + 30 + Get(local + 26, 2) + Get(local + 28, 2);
  if (pos > m_fileSize || e.compressedSize > m_fileSize - pos) {
    error = "the entry's data lies outside the file";
    return false;
  }
  return true;
}

bool CZipReader::StoredEntry(size_t index, ZipCopiedEntry& out, std::string& error) const {
  if (index >= m_entries.size()) {
    error = "no such entry";
    return false;
  }
  const ZipEntryInfo& e = m_entries[index];
  // One read takes the header with its usual extra fields; a longer one is
  // read in full after.
  if (e.localOffset >= m_directoryAt || m_directoryAt - e.localOffset < 30) {
    error = "the entry's header is damaged";
    return false;
  }
  std::vector<unsigned char> header(static_cast<size_t>(
      std::min<uint64_t>(30 + e.name.size() + 256, m_directoryAt - e.localOffset)));
  if (!PreadAll(m_fd, m_fileSize, e.localOffset, header.data(), header.size()) ||
      Get(header.data(), 4) != kLocalSig) {
    error = "the entry's header is damaged";
    return false;
  }
  const size_t nameLen = Get(header.data() + 26, 2), extraLen = Get(header.data() + 28, 2);
  const size_t have = header.size();
  header.resize(30 + nameLen + extraLen);
  if (header.size() > have && !PreadAll(m_fd, m_fileSize, e.localOffset + have,
                                        header.data() + have, header.size() - have)) {
    error = "the entry's header is damaged";
    return false;
  }
  const unsigned char* fixed = header.data();
  const unsigned char* rest = header.data() + 30;
  const uint64_t flags = Get(fixed + 6, 2), method = Get(fixed + 8, 2);
  const uint64_t dataAt = e.localOffset + header.size();
  ZipEntryFields& f = out.fields;
  f = ZipEntryFields{};
  f.compressedSize = Get(fixed + 18, 4);
  f.size = Get(fixed + 22, 4);
  const unsigned char* extra = rest + nameLen;
  for (size_t at = 0; at + 4 <= extraLen;) {
    const uint64_t tag = Get(extra + at, 2), len = Get(extra + at + 2, 2);
    if (at + 4 + len > extraLen) {
      error = "the entry's header is damaged";
      return false;
    }
    if (tag == 0x0001) {
      // In a local header the zip64 field holds both sizes.
      if (len < 16) {
        error = "the entry's header is damaged";
        return false;
      }
      if (f.size == 0xFFFFFFFFu) f.size = Get(extra + at + 4, 8);
      if (f.compressedSize == 0xFFFFFFFFu) f.compressedSize = Get(extra + at + 12, 8);
      f.zip64 = true;
    } else if (tag != kPaddingTag) {
      f.extra.append(reinterpret_cast<const char*>(extra + at), 4 + len);
    }
    at += 4 + len;
  }
  out.storedName.assign(reinterpret_cast<const char*>(rest), nameLen);
  if (flags != e.flags || (flags & 0x9) != 0 || method != e.method ||
      (method != 0 && method != Z_DEFLATED) || Get(fixed + 14, 4) != e.crc || f.size != e.size ||
      f.compressedSize != e.compressedSize || out.storedName != e.name) {
    error = "the entry's header does not match its record in the directory";
    return false;
  }
  if (dataAt > m_directoryAt || e.compressedSize > m_directoryAt - dataAt) {
    error = "the entry's data lies outside the file";
    return false;
  }
  out.fd = m_fd;
  out.headerAt = e.localOffset;
  out.dataAt = dataAt;
  f.name = e.name;
  f.madeBy = e.madeBy;
  f.flags = static_cast<uint16_t>(flags);
  f.method = static_cast<uint16_t>(method);
  f.dosTime = static_cast<uint16_t>(Get(fixed + 10, 2));
  f.dosDate = static_cast<uint16_t>(Get(fixed + 12, 2));
  f.crc = e.crc;
  f.externalAttributes = e.externalAttributes;
  if (e.source) f.centralExtra = IdentityField(*e.source);
  return true;
}

bool CZipReader::Span(size_t index, uint64_t& begin, uint64_t& end, std::string& error) {
  if (index >= m_entries.size()) {
    error = "no such entry";
    return false;
  }
  const ZipEntryInfo& e = m_entries[index];
  uint64_t pos = 0;
  if (!DataStart(e, pos, error)) return false;
  begin = e.localOffset;
  end = e.dataEnd != 0 ? e.dataEnd : pos + e.compressedSize;
  return true;
}

int CZipReader::ReadWhole(ZipEntryInfo& e, uint64_t dataStart,
                          const std::function<bool(const char*, size_t)>& sink,
                          std::string& error) {
  if (e.size > kWholeEntryLimit || e.compressedSize > kWholeEntryLimit + kWholeEntrySlack) return 0;
  if (!m_inflater) m_inflater = libdeflate_alloc_decompressor();
  if (!m_inflater) return 0;
  // Both sizes are within the bounds above and the compressed size within the
  // file (DataStart checked it), so neither buffer grows past them. The output
  // buffer holds exactly the recorded size: libdeflate never writes past it,
  // and data that would inflate to more is refused as "insufficient space".
  const size_t inSize = static_cast<size_t>(e.compressedSize);
  const size_t outSize = static_cast<size_t>(e.size);
  if (m_in.size() < std::max<size_t>(inSize, 1)) m_in.resize(std::max<size_t>(inSize, 1));
  if (m_out.size() < std::max<size_t>(outSize, 1)) m_out.resize(std::max<size_t>(outSize, 1));
  if (!ReadAt(dataStart, m_in.data(), inSize)) {
    error = "read error";
    return -1;
  }
  size_t used = 0;
  size_t produced = 0;
  const libdeflate_result r = libdeflate_deflate_decompress_ex(
      m_inflater, m_in.data(), inSize, m_out.data(), outSize, &used, &produced);
  // Anything but whole, good data is left to the streaming path, which says
  // exactly what is wrong (and hands over what inflated before the fault, as
  // it always has).
  if (r != LIBDEFLATE_SUCCESS || produced != outSize ||
      libdeflate_crc32(0, m_out.data(), outSize) != e.crc)
    return 0;
  for (size_t at = 0; at < outSize;) {
    const size_t n = std::min(outSize - at, kOutChunk);
    if (!sink(m_out.data() + at, n)) {
      error = "stopped";
      return -1;
    }
    at += n;
  }
  e.dataEnd = dataStart + used;
  return 1;
}

namespace {

// One entry's data on its way to the sink: where its next compressed bytes
// lie and how many are left, and what was delivered so far with its CRC.
struct EntryStream {
  const ZipEntryInfo& e;
  const std::function<bool(const char*, size_t)>& sink;
  std::string& error;
  uint64_t pos;
  uint64_t left;
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t delivered = 0;
  uint64_t unused = 0;  // compressed bytes read past the end of the deflate stream

  // Hands data to the sink, refusing more than the entry records.
  bool Deliver(const char* data, size_t n) {
    if (n > e.size - delivered) {
      error = "the entry holds more data than recorded";
      return false;
    }
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(data), n);
    delivered += n;
    if (!sink(data, n)) {
      error = "stopped";
      return false;
    }
    return true;
  }
};

// Delivers a stored entry's data as it lies in the file.
template <class ReadAtFn>
bool StreamStored(EntryStream& s, std::vector<char>& out, ReadAtFn readAt) {
  while (s.left > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(s.left, kOutChunk));
    if (!readAt(s.pos, out.data(), n)) {
      s.error = "read error";
      return false;
    }
    if (!s.Deliver(out.data(), n)) return false;
    s.pos += n;
    s.left -= n;
  }
  return true;
}

// Inflates a deflated entry's data chunk by chunk and delivers it.
template <class ReadAtFn>
bool StreamDeflated(EntryStream& s, std::vector<char>& in, std::vector<char>& out,
                    ReadAtFn readAt) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
    s.error = "out of memory";
    return false;
  }
  int r = Z_OK;
  bool ok = true;
  while (ok && r != Z_STREAM_END) {
    if (z.avail_in == 0) {
      if (s.left == 0) {
        s.error = "the entry's data is incomplete";
        ok = false;
        break;
      }
      const size_t n = static_cast<size_t>(std::min<uint64_t>(s.left, kInChunk));
      if (!readAt(s.pos, in.data(), n)) {
        s.error = "read error";
        ok = false;
        break;
      }
      s.pos += n;
      s.left -= n;
      z.next_in = reinterpret_cast<Bytef*>(in.data());
      z.avail_in = static_cast<uInt>(n);
    }
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    r = inflate(&z, Z_NO_FLUSH);
    if (r != Z_OK && r != Z_STREAM_END) {
      s.error = "the entry's data is damaged";
      ok = false;
      break;
    }
    const size_t produced = out.size() - z.avail_out;
    if (produced > 0 && !s.Deliver(out.data(), produced)) ok = false;
  }
  s.unused = z.avail_in;
  inflateEnd(&z);
  return ok;
}

}  // namespace

bool CZipReader::Read(size_t index, const std::function<bool(const char*, size_t)>& sink,
                      std::string& error) {
  if (index >= m_entries.size()) {
    error = "no such entry";
    return false;
  }
  ZipEntryInfo& e = m_entries[index];
  uint64_t pos = 0;
  if (!DataStart(e, pos, error)) return false;
  const uint64_t dataStart = pos;
  if (e.flags & 1) {
    error = "the entry is encrypted";
    return false;
  }
  if (e.method != 0 && e.method != Z_DEFLATED) {
    error = "unsupported compression method";
    return false;
  }
  if (e.method == Z_DEFLATED) {
    const int whole = ReadWhole(e, dataStart, sink, error);
    if (whole != 0) return whole > 0;
  }
  if (m_in.size() < kInChunk) m_in.resize(kInChunk);
  if (m_out.size() < kOutChunk) m_out.resize(kOutChunk);

  EntryStream s{e, sink, error, pos, e.compressedSize};
  auto readAt = [this](uint64_t offset, void* buffer, size_t size) {
    return ReadAt(offset, buffer, size);
  };
  const bool streamed =
      e.method == 0 ? StreamStored(s, m_out, readAt) : StreamDeflated(s, m_in, m_out, readAt);
  if (!streamed) return false;
  if (s.delivered != e.size) {
    error = "size mismatch";
    return false;
  }
  if (s.crc != e.crc) {
    error = "CRC mismatch";
    return false;
  }
  e.dataEnd = dataStart + (e.compressedSize - s.left) - s.unused;
  return true;
}

}  // namespace tessarook
