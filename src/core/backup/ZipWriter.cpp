// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ZipWriter.h"

#include <fcntl.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "backup/BackupRecords.h"
#include "backup/ZipBytes.h"
#include "util/FileBytes.h"

namespace tessarook {

namespace {

using namespace zipbytes;

constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMax16 = 0xFFFF;
constexpr size_t kBufferBytes = size_t{1} << 20;
// The directory's records beyond this many bytes wait in a scratch file.
constexpr size_t kDirectoryInMemory = size_t{1} << 20;
// One kernel copy call moves at most this much, so a cancel is never far away.
constexpr uint64_t kKernelChunk = uint64_t{64} << 20;

std::string Errno(int err) { return std::strerror(err); }

constexpr const char* kEarlierBackup = "the earlier Backup";

// The file system's block size, as a power of two the padding field can reach.
uint64_t BlockSizeOf(int fd) {
  struct statvfs fs {};
  uint64_t block = 4096;
  if (fstatvfs(fd, &fs) == 0 && fs.f_bsize > 0) block = fs.f_bsize;
  if (block & (block - 1)) return 4096;
  return std::clamp<uint64_t>(block, 512, 32768);
}

// False for the file systems known never to share blocks between files:
// there, padding a run into place would only cost room. Any other may
// (XFS with reflink, btrfs, bcachefs, OCFS2, ZFS, network file systems that
// clone on the server).
bool MayShareBlocks(int fd) {
  struct statfs fs {};
  if (fstatfs(fd, &fs) != 0) return true;
  switch (static_cast<uint64_t>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0xF2F52010:  // f2fs
    case 0x4D44:      // FAT
    case 0x2011BAB0:  // exFAT
    case 0x5346544E:  // NTFS
    case 0x7366746E:  // NTFS (ntfs3)
      return false;
    default:
      return true;
  }
}

}  // namespace

void DosDateTime(time_t seconds, uint16_t& time, uint16_t& date) {
  struct tm tm {};
  if (!localtime_r(&seconds, &tm) || tm.tm_year < 80) {
    tm = {};
    tm.tm_year = 80;
    tm.tm_mday = 1;
  }
  if (tm.tm_year > 207) tm.tm_year = 207;  // the DOS field ends in 2107
  time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  date = static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

std::string LocalHeaderFor(const ZipEntryFields& f, size_t padding) {
  std::string extra;
  if (f.zip64) {
    Put16(extra, kZip64Tag);
    Put16(extra, 16);
    Put64(extra, f.size);
    Put64(extra, f.compressedSize);
  }
  extra += f.extra;
  if (padding >= 4) {
    Put16(extra, kPaddingTag);
    Put16(extra, padding - 4);
    extra.append(padding - 4, '\0');
  }
  std::string h;
  h.reserve(30 + f.name.size() + extra.size());
  Put32(h, kLocalSig);
  Put16(h, f.zip64 ? 45 : 20);
  Put16(h, f.flags);
  Put16(h, f.method);
  Put16(h, f.dosTime);
  Put16(h, f.dosDate);
  Put32(h, f.crc);
  Put32(h, f.zip64 ? kMax32 : f.compressedSize);
  Put32(h, f.zip64 ? kMax32 : f.size);
  Put16(h, f.name.size());
  Put16(h, extra.size());
  h += f.name;
  h += extra;
  return h;
}

CZipWriter::~CZipWriter() { Abandon(); }

bool CZipWriter::Fail(std::string what) {
  if (m_error.empty()) m_error = std::move(what);
  return false;
}

bool CZipWriter::Create(const std::string& path) {
  Abandon();
  m_error.clear();
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (m_fd < 0) return Fail("cannot create " + path + ": " + Errno(errno));
  m_path = path;
  m_block = BlockSizeOf(m_fd);
  m_pad = MayShareBlocks(m_fd);
  m_bufferAt = 0;
  m_buffer.clear();
  m_buffer.reserve(kBufferBytes);
  m_directory.clear();
  m_spilled = 0;
  m_entries = 0;
  m_inEntry = false;
  m_run = Run{};
  return true;
}

void CZipWriter::Abandon() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (m_spill >= 0) ::close(m_spill);
  m_spill = -1;
  m_spilled = 0;
  m_buffer.clear();
  m_directory.clear();
  m_directory.shrink_to_fit();
  m_run = Run{};
  m_inEntry = false;
}

uint64_t CZipWriter::Position() const { return m_bufferAt + m_buffer.size(); }

bool CZipWriter::Flush() {
  if (!WriteAllAt(m_fd, m_buffer.data(), m_buffer.size(), m_bufferAt))
    return Fail("cannot write the archive: " + Errno(errno));
  m_bufferAt += m_buffer.size();
  m_buffer.clear();
  return true;
}

bool CZipWriter::Emit(const char* data, size_t size) {
  if (Failed()) return false;
  if (size > kBufferBytes - m_buffer.size() && !Flush()) return false;
  if (size < kBufferBytes) {
    m_buffer.insert(m_buffer.end(), data, data + size);
    return true;
  }
  // Large pieces go straight to the file.
  if (!WriteAllAt(m_fd, data, size, m_bufferAt))
    return Fail("cannot write the archive: " + Errno(errno));
  m_bufferAt += size;
  return true;
}

void CZipWriter::AddRecord(const ZipEntryFields& f, uint64_t headerAt) {
  std::string zip64;
  if (f.size >= kMax32) Put64(zip64, f.size);
  if (f.compressedSize >= kMax32) Put64(zip64, f.compressedSize);
  if (headerAt >= kMax32) Put64(zip64, headerAt);
  std::string& d = m_directory;
  Put32(d, kCentralSig);
  Put16(d, f.madeBy);
  Put16(d, f.zip64 || !zip64.empty() ? 45 : 20);
  Put16(d, f.flags);
  Put16(d, f.method);
  Put16(d, f.dosTime);
  Put16(d, f.dosDate);
  Put32(d, f.crc);
  Put32(d, std::min<uint64_t>(f.compressedSize, kMax32));
  Put32(d, std::min<uint64_t>(f.size, kMax32));
  Put16(d, f.name.size());
  Put16(d, f.extra.size() + f.centralExtra.size() + (zip64.empty() ? 0 : 4 + zip64.size()));
  Put16(d, 0);  // comment
  Put16(d, 0);  // disk
  Put16(d, 0);  // internal attributes
  Put32(d, f.externalAttributes);
  Put32(d, std::min<uint64_t>(headerAt, kMax32));
  d += f.name;
  d += f.extra;
  d += f.centralExtra;
  if (!zip64.empty()) {
    Put16(d, kZip64Tag);
    Put16(d, zip64.size());
    d += zip64;
  }
  ++m_entries;
}

// The records from `from` on move by `delta` bytes in the file (a run whose
// first header grew or shrank). They are read back and written anew, since
// an offset may cross the 4 GiB mark and need a zip64 field then.
void CZipWriter::ShiftRecords(size_t from, uint64_t delta) {
  const std::string old = m_directory.substr(from);
  m_directory.resize(from);
  size_t at = 0;
  while (at + 46 <= old.size()) {
    const char* p = old.data() + at;
    ZipEntryFields f;
    f.madeBy = static_cast<uint16_t>(Get(p + 4, 2));
    f.zip64 = Get(p + 6, 2) >= 45;
    f.flags = static_cast<uint16_t>(Get(p + 8, 2));
    f.method = static_cast<uint16_t>(Get(p + 10, 2));
    f.dosTime = static_cast<uint16_t>(Get(p + 12, 2));
    f.dosDate = static_cast<uint16_t>(Get(p + 14, 2));
    f.crc = static_cast<uint32_t>(Get(p + 16, 4));
    f.compressedSize = Get(p + 20, 4);
    f.size = Get(p + 24, 4);
    const size_t nameLen = Get(p + 28, 2), extraLen = Get(p + 30, 2);
    f.externalAttributes = static_cast<uint32_t>(Get(p + 38, 4));
    uint64_t headerAt = Get(p + 42, 4);
    f.name.assign(p + 46, nameLen);
    const char* e = p + 46 + nameLen;
    for (size_t k = 0; k + 4 <= extraLen;) {
      const uint64_t tag = Get(e + k, 2), len = Get(e + k + 2, 2);
      if (tag == kZip64Tag) {
        const char* z = e + k + 4;
        if (f.size == kMax32) f.size = Get(z, 8), z += 8;
        if (f.compressedSize == kMax32) f.compressedSize = Get(z, 8), z += 8;
        if (headerAt == kMax32) headerAt = Get(z, 8);
      } else {
        f.extra.append(e + k, 4 + len);
      }
      k += 4 + len;
    }
    --m_entries;
    AddRecord(f, headerAt + delta);
    at += 46 + nameLen + extraLen;
  }
}

// Records that can no longer move go to the scratch file once the directory
// has grown large: all but those of a pending run after its first. Without a
// scratch file (none can be made) they stay in memory.
void CZipWriter::SpillRecords() {
  if (m_directory.size() < kDirectoryInMemory) return;
  const size_t keepFrom = m_run.active ? m_run.directoryFrom : m_directory.size();
  if (keepFrom < kDirectoryInMemory / 2) return;
  if (m_spill < 0) {
    const size_t slash = m_path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : m_path.substr(0, slash + 1);
    for (const std::string& place : {folder, std::string("/tmp")}) {
      m_spill = ::open(place.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
      if (m_spill >= 0) break;
    }
    if (m_spill < 0) return;
  }
  if (!WriteAllAt(m_spill, m_directory.data(), keepFrom, m_spilled)) {
    Fail("cannot write the archive's directory aside: " + Errno(errno));
    return;
  }
  m_spilled += keepFrom;
  m_directory.erase(0, keepFrom);
  if (m_run.active) m_run.directoryFrom -= keepFrom;
}

bool CZipWriter::AddWhole(const ZipEntryFields& fields, const char* data, size_t size) {
  if (m_fd < 0) return Fail("no archive is being written");
  if (m_inEntry) return Fail("an entry is still open");
  if (!FlushRun()) return false;
  ZipEntryFields f = fields;
  f.compressedSize = size;
  if (f.size >= kMax32 || f.compressedSize >= kMax32) f.zip64 = true;
  const uint64_t headerAt = Position();
  const std::string header = LocalHeaderFor(f, 0);
  if (!Emit(header.data(), header.size()) || !Emit(data, size)) return false;
  AddRecord(f, headerAt);
  SpillRecords();
  return !Failed();
}

bool CZipWriter::BeginEntry(const ZipEntryFields& fields) {
  if (m_fd < 0) return Fail("no archive is being written");
  if (m_inEntry) return Fail("an entry is still open");
  if (!FlushRun()) return false;
  m_entry = fields;
  m_entry.crc = 0;
  m_entry.size = m_entry.compressedSize = 0;
  m_entryHeaderAt = Position();
  const std::string header = LocalHeaderFor(m_entry, 0);
  if (!Emit(header.data(), header.size())) return false;
  m_entryDataAt = Position();
  m_inEntry = true;
  return true;
}

bool CZipWriter::WriteData(const char* data, size_t size) {
  if (!m_inEntry) return Fail("no entry is open");
  return Emit(data, size);
}

void CZipWriter::AbortEntry() {
  if (m_inEntry) Fail("an entry was left unfinished");
  m_inEntry = false;
}

bool CZipWriter::EndEntry(uint32_t crc, uint64_t size, const std::string& centralExtra) {
  if (!m_inEntry) return Fail("no entry is open");
  m_inEntry = false;
  if (Failed()) return false;
  m_entry.crc = crc;
  m_entry.size = size;
  m_entry.compressedSize = Position() - m_entryDataAt;
  if (!m_entry.zip64 && (m_entry.size >= kMax32 || m_entry.compressedSize >= kMax32))
    return Fail("an entry grew past 4 GiB without zip64 records");
  // The header, now complete, replaces the one written before the data: in
  // the buffer when it is still there, else in the file.
  const std::string header = LocalHeaderFor(m_entry, 0);
  if (m_entryHeaderAt >= m_bufferAt) {
    std::memcpy(m_buffer.data() + (m_entryHeaderAt - m_bufferAt), header.data(), header.size());
  } else if (!WriteAllAt(m_fd, header.data(), header.size(), m_entryHeaderAt)) {
    return Fail("cannot write the archive: " + Errno(errno));
  }
  m_entry.centralExtra += centralExtra;
  AddRecord(m_entry, m_entryHeaderAt);
  SpillRecords();
  return !Failed();
}

bool CZipWriter::AddCopied(const ZipCopiedEntry& e) {
  if (m_fd < 0) return Fail("no archive is being written");
  if (m_inEntry) return Fail("an entry is still open");
  if (Failed()) return false;
  const bool sameName = e.storedName == e.fields.name;
  Run& run = m_run;
  if (run.active && e.fd == run.fd && e.headerAt == run.end && sameName) {
    // It follows the run in the other archive, header and all: the run grows.
    const uint64_t headerLength = run.verbatim ? run.dataAt - run.headerAt : run.header.size();
    AddRecord(e.fields, run.newStart + headerLength + (e.headerAt - run.dataAt));
    run.end = e.dataAt + e.fields.compressedSize;
    if (!run.settled && run.end - run.dataAt >= kAlignRun * m_block) SettleRun();
    SpillRecords();
    return !Failed();
  }
  if (!FlushRun()) return false;
  run.active = true;
  run.fd = e.fd;
  run.newStart = Position();
  run.headerAt = e.headerAt;
  run.dataAt = e.dataAt;
  run.end = e.dataAt + e.fields.compressedSize;
  run.verbatim = sameName;
  run.first = e.fields;
  if (!sameName) run.header = LocalHeaderFor(e.fields, 0);
  AddRecord(e.fields, run.newStart);
  run.directoryFrom = m_directory.size();
  SpillRecords();
  return !Failed();
}

// The run's first header becomes final: padded, when the run is long enough
// to be worth placing, so that its data lands where it lay in the other
// archive, modulo the block size. The records after it no longer move.
void CZipWriter::SettleRun() {
  Run& run = m_run;
  run.settled = true;
  const uint64_t headerLength = run.verbatim ? run.dataAt - run.headerAt : run.header.size();
  if (m_pad && run.end - run.dataAt >= kAlignRun * m_block &&
      (run.newStart + headerLength) % m_block != run.dataAt % m_block) {
    const uint64_t bare = LocalHeaderFor(run.first, 0).size() + 4;
    const uint64_t want = run.dataAt % m_block;
    const uint64_t have = (run.newStart + bare) % m_block;
    const uint64_t padding = 4 + (want + m_block - have) % m_block;
    run.header = LocalHeaderFor(run.first, static_cast<size_t>(padding));
    run.verbatim = false;
    if (run.header.size() != headerLength)
      ShiftRecords(run.directoryFrom, run.header.size() - headerLength);
  }
  run.directoryFrom = m_directory.size();
}

bool CZipWriter::FlushRun() {
  if (!m_run.active) return true;
  if (!m_run.settled) SettleRun();
  Run run = std::move(m_run);
  m_run = Run{};
  if (!run.verbatim && !Emit(run.header.data(), run.header.size())) return false;
  const uint64_t from = run.verbatim ? run.headerAt : run.dataAt;
  return CopyRange(run.fd, from, run.end - from);
}

bool CZipWriter::EmitFrom(int fd, uint64_t from, uint64_t size, const char* what) {
  while (size > 0) {
    if (m_cancel && m_cancel->load()) return Fail("cancelled");
    if (m_buffer.size() == kBufferBytes && !Flush()) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, kBufferBytes - m_buffer.size()));
    const size_t old = m_buffer.size();
    m_buffer.resize(old + n);
    if (!ReadAllAt(fd, m_buffer.data() + old, n, from)) {
      m_buffer.resize(old);
      return Fail(std::string("cannot read ") + what + ": " +
                  (errno ? Errno(errno) : std::string("it ended early")));
    }
    from += n;
    size -= n;
  }
  return true;
}

bool CZipWriter::CopyRange(int fd, uint64_t from, uint64_t size) {
  const uint64_t to = Position();
  if (to % m_block == from % m_block && size >= 2 * m_block) {
    // The unaligned head through the buffer, then whole blocks by the kernel.
    const uint64_t head = (m_block - to % m_block) % m_block;
    if (!EmitFrom(fd, from, head, kEarlierBackup) || !Flush()) return false;
    from += head;
    size -= head;
    uint64_t blocks = size - size % m_block;
    while (blocks > 0) {
      if (m_cancel && m_cancel->load()) return Fail("cancelled");
      off_t in = static_cast<off_t>(from);
      off_t out = static_cast<off_t>(m_bufferAt);
      const ssize_t n = ::copy_file_range(fd, &in, m_fd, &out, std::min(blocks, kKernelChunk), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                    errno == EPERM || errno == ETXTBSY || errno == EBADF))
        break;  // not offered here: the rest goes through the buffer
      if (n < 0) return Fail("cannot copy from the earlier Backup: " + Errno(errno));
      if (n == 0) return Fail("cannot read the earlier Backup: it ended early");
      from += static_cast<uint64_t>(n);
      size -= static_cast<uint64_t>(n);
      blocks -= static_cast<uint64_t>(n);
      m_bufferAt += static_cast<uint64_t>(n);
    }
  }
  return EmitFrom(fd, from, size, kEarlierBackup);
}

bool CZipWriter::Finish() {
  if (m_fd < 0) return Fail("no archive is being written");
  if (m_inEntry) AbortEntry();
  if (!FlushRun() || Failed()) {
    Abandon();
    return false;
  }
  const uint64_t directoryAt = Position();
  const uint64_t directorySize = m_spilled + m_directory.size();
  std::string end;
  if (m_entries >= kMax16 || directoryAt >= kMax32 || directorySize >= kMax32) {
    const uint64_t recordAt = directoryAt + directorySize;
    Put32(end, kEnd64Sig);
    Put64(end, 44);
    Put16(end, (3 << 8) | 45);
    Put16(end, 45);
    Put32(end, 0);
    Put32(end, 0);
    Put64(end, m_entries);
    Put64(end, m_entries);
    Put64(end, directorySize);
    Put64(end, directoryAt);
    Put32(end, kLocator64Sig);
    Put32(end, 0);
    Put64(end, recordAt);
    Put32(end, 1);
  }
  Put32(end, kEndSig);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, std::min<uint64_t>(m_entries, kMax16));
  Put16(end, std::min<uint64_t>(m_entries, kMax16));
  Put32(end, std::min<uint64_t>(directorySize, kMax32));
  Put32(end, std::min<uint64_t>(directoryAt, kMax32));
  Put16(end, 0);  // comment
  bool ok = EmitFrom(m_spill, 0, m_spilled, "the archive's directory set aside") &&
            Emit(m_directory.data(), m_directory.size()) && Emit(end.data(), end.size()) && Flush();
  const int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0 && ok) ok = Fail("cannot finish the archive: " + Errno(errno));
  Abandon();
  return ok;
}

}  // namespace tessarook
