// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ZipFile.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <future>

#include "backup/BackupRecords.h"
#include "backup/DeflateEngine.h"
#include "backup/ZipBytes.h"
#include "backup/ZipReader.h"
#include "backup/ZipWriter.h"
#include "util/FileState.h"
#include "util/TaskPool.h"

namespace tessarook {

namespace {

// Entries whose data may reach 4 GiB get zip64 records. Deflate can grow
// incompressible data a little, so the switch comes well before the limit.
constexpr uint64_t kZip64Threshold = 0xF0000000ull;
// How far past its size at opening a growing file is read.
constexpr uint64_t kGrowthAllowance = 64ull << 20;
constexpr uint16_t kTagExtendedTime = 0x5455;
constexpr uint16_t kTagNtfsTime = 0x000a;
constexpr int64_t kFileTimeEpochOffset = 116444736000000000LL;  // 1601 to 1970 in 100 ns

std::string Errno(int err) { return std::strerror(err); }

std::string FoldName(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

using namespace zipbytes;

int64_t ToFileTime(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 10000000 + t.tv_nsec / 100 + kFileTimeEpochOffset;
}

// The extra fields recorded for a file: the extended timestamp (seconds, UTC)
// that common unzip tools read, and the NTFS times with 100 ns resolution.
std::string TimeExtraField(const struct stat& st) {
  std::string extra;
  Put16(extra, kTagExtendedTime);
  Put16(extra, 5);
  extra.push_back(1);  // modification time present
  Put32(extra, static_cast<uint32_t>(static_cast<int32_t>(st.st_mtim.tv_sec)));
  Put16(extra, kTagNtfsTime);
  Put16(extra, 32);
  Put32(extra, 0);
  Put16(extra, 1);
  Put16(extra, 24);
  Put64(extra, static_cast<uint64_t>(ToFileTime(st.st_mtim)));
  Put64(extra, static_cast<uint64_t>(ToFileTime(st.st_atim)));
  Put64(extra, static_cast<uint64_t>(ToFileTime(st.st_ctim)));
  return extra;
}

// A file streamed into an entry, read a block at a time: first what the preparer
// read already, then the rest from the file. A file that grows while it is read is
// taken only up to a margin past the size it had when it was opened: a file appended
// to without end cannot hold the Backup up, and an entry that may reach the zip64
// threshold that way is opened as zip64 from the start, so the growth cannot break it.
class CStreamSource {
 public:
  CStreamSource(int fd, const std::vector<char>& head, uint64_t sizeHint)
      : m_fd(fd), m_head(head), m_limit(sizeHint + kGrowthAllowance) {}

  uint64_t Limit() const { return m_limit; }
  // Bytes handed out so far.
  uint64_t Total() const { return m_total; }
  // Whether the last block was shorter than asked for, which ends the file.
  bool Ended() const { return m_ended; }
  bool AtLimit() const { return m_total >= m_limit; }

  // The next block; -1 on a read error (errno tells which).
  ssize_t Read(std::vector<char>& block) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kStreamPiece, m_limit - m_total));
    block.resize(want);
    const size_t fromHead = std::min(want, m_head.size() - m_headUsed);
    if (fromHead > 0) std::memcpy(block.data(), m_head.data() + m_headUsed, fromHead);
    m_headUsed += fromHead;
    ssize_t got = static_cast<ssize_t>(fromHead);
    if (fromHead < want) {
      const ssize_t more = ReadFully(m_fd, block.data() + fromHead, want - fromHead);
      if (more < 0) return -1;
      got += more;
    }
    block.resize(static_cast<size_t>(got));
    m_total += static_cast<uint64_t>(got);
    m_ended = static_cast<size_t>(got) < want;
    return got;
  }

 private:
  int m_fd;
  const std::vector<char>& m_head;
  uint64_t m_limit;
  uint64_t m_total = 0;
  size_t m_headUsed = 0;
  bool m_ended = false;
};

}  // namespace

CZipFile::CZipFile() = default;

CZipFile::~CZipFile() {
  CZipFile::Close();
  if (m_compressor) libdeflate_free_compressor(m_compressor);
}

bool CZipFile::Fail(std::string text) {
  m_lastError = std::move(text);
  return false;
}

bool CZipFile::Succeed() {
  m_lastError.clear();
  return true;
}

bool CZipFile::Create(const std::string& path) {
  if (m_writer || m_reader) return Fail("an archive is already open");
  m_broken = false;
  auto writer = std::make_unique<CZipWriter>();
  if (!writer->Create(path)) return Fail(writer->Error());
  writer->SetCancelFlag(m_cancel);
  m_writer = std::move(writer);
  m_path = path;
  return Succeed();
}

int CZipFile::Close() {
  int result = 0;
  if (m_writer) {
    const bool finished = !m_broken && m_writer->Finish();
    if (!finished) {
      result = -1;
      if (m_lastError.empty() || !m_broken)
        m_lastError = "cannot finish the archive: " + m_writer->Error();
    }
    m_writer.reset();
  } else if (m_reader) {
    m_reader.reset();
    m_readDevice = m_readInode = 0;
    m_firstByFoldedName.clear();
  }
  return result;
}

bool CZipFile::WriterFailed() {
  m_broken = true;
  return Fail(m_writer->Error() == "cancelled" ? "cancelled"
                                               : "cannot write the archive: " + m_writer->Error());
}

bool CZipFile::AbortEntry(const std::string& why) {
  m_writer->AbortEntry();
  m_broken = true;
  return Fail(why);
}

void CZipFile::SetCancelFlag(const std::atomic<bool>* cancel) {
  m_cancel = cancel;
  if (m_writer) m_writer->SetCancelFlag(cancel);
}

bool CZipFile::AddFromMemory(const void* data, uint64_t count, const std::string& name) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return AddMemoryEntry(data, count, name, now, {});
}

bool CZipFile::AddMemoryEntry(const void* data, uint64_t count, const std::string& name,
                              const struct timespec& mtime, const std::string& centralExtra) {
  if (!m_writer) return Fail("no archive is being written");
  if (m_broken) return Fail("the archive could not be written");
  struct stat st {};
  st.st_mode = S_IFREG | 0644;
  st.st_mtim = st.st_atim = st.st_ctim = mtime;
  ZipEntryFields fields = FieldsFor(name, st, false);
  fields.centralExtra = centralExtra;
  const char* p = static_cast<const char*>(data);
  fields.size = count;
  fields.crc = static_cast<uint32_t>(libdeflate_crc32(0, p, static_cast<size_t>(count)));
  // One call of the compressor for anything a manifest may be; larger data
  // in pieces, joined into one stream.
  if (count <= kWholeFileLimit * 4) {
    if (!m_compressor || m_compressorLevel != m_level) {
      if (m_compressor) libdeflate_free_compressor(m_compressor);
      m_compressor = libdeflate_alloc_compressor(m_level);
      m_compressorLevel = m_level;
    }
    if (!m_compressor) return Fail("out of memory");
    std::vector<char> packed(libdeflate_deflate_compress_bound(m_compressor, count));
    const size_t n = count == 0 ? 0
                                : libdeflate_deflate_compress(m_compressor, p, count, packed.data(),
                                                              packed.size());
    const bool deflate = n > 0 && n < count;
    fields.method = deflate ? Z_DEFLATED : 0;
    if (!m_writer->AddWhole(fields, deflate ? packed.data() : p, deflate ? n : count))
      return WriterFailed();
    return Succeed();
  }
  fields.method = Z_DEFLATED;
  fields.zip64 = count >= kZip64Threshold;
  if (!m_writer->BeginEntry(fields)) return WriterFailed();
  for (uint64_t at = 0; at < count; at += kStreamPiece) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count - at, kStreamPiece));
    const DeflatedPiece piece = DeflatePiece(p + at, n, m_level);
    if (!piece.ok) return AbortEntry("cannot compress the data (out of memory?)");
    if (!m_writer->WriteData(piece.data.data(), piece.data.size())) return WriterFailed();
  }
  if (!m_writer->WriteData(reinterpret_cast<const char*>(kFinalEmptyBlock),
                           sizeof kFinalEmptyBlock) ||
      !m_writer->EndEntry(fields.crc, count))
    return WriterFailed();
  return Succeed();
}

bool CZipFile::AddFile(const std::string& diskPath, const std::string& name) {
  return AddPrepared(PrepareFile(diskPath, m_level), name, nullptr);
}

bool CZipFile::AddPrepared(PreparedFile file, const std::string& name, CTaskPool* pool) {
  m_lastEntryChanged = false;
  if (!m_writer) return Fail("no archive is being written");
  if (m_broken) return Fail("the archive could not be written");
  if (!file.error.empty()) return Fail(file.error);
  return file.whole ? WriteWholeEntry(file, name) : WriteStreamedEntry(file, name, pool);
}

bool CZipFile::AddCopied(ZipCopiedEntry entry, const std::string& name) {
  m_lastEntryChanged = false;
  if (!m_writer) return Fail("no archive is being written");
  if (m_broken) return Fail("the archive could not be written");
  entry.fields.name = name;
  if (!m_writer->AddCopied(entry)) return WriterFailed();
  if (m_observer) m_observer(entry.fields.size);
  return Succeed();
}

ZipEntryFields CZipFile::FieldsFor(const std::string& name, const struct stat& st,
                                   bool deflated) const {
  ZipEntryFields fields;
  fields.name = name;
  fields.method = deflated ? Z_DEFLATED : 0;
  DosDateTime(st.st_mtim.tv_sec, fields.dosTime, fields.dosDate);
  fields.externalAttributes = static_cast<uint32_t>(st.st_mode & 0xffff) << 16;
  if (!(st.st_mode & S_IWUSR)) fields.externalAttributes |= 1;  // DOS read-only bit
  fields.extra = TimeExtraField(st);
  return fields;
}

std::string CZipFile::IdentityRecord(const struct stat& st, bool changed) const {
  // Only a file that did not change while it was read, and whose last change
  // lies before the cutoff, is recorded: a change made later gets a
  // status-change time past the cutoff, however coarse the file system's
  // clock, so it can never leave the recorded identity in place.
  if (changed || m_identityCutoff == 0 || Nanoseconds(st.st_ctim) >= m_identityCutoff) return {};
  return IdentityField(IdentityOf(st));
}

bool CZipFile::WriteWholeEntry(const PreparedFile& file, const std::string& name) {
  ZipEntryFields fields = FieldsFor(name, file.st, file.deflated);
  fields.crc = file.crc;
  fields.size = file.size;
  fields.centralExtra = IdentityRecord(file.st, file.changed);
  if (!m_writer->AddWhole(fields, file.data.data(), file.data.size())) return WriterFailed();
  if (m_observer) m_observer(file.size);
  m_lastEntryChanged = file.changed;
  return Succeed();
}

bool CZipFile::WriteStreamedEntry(PreparedFile& file, const std::string& name, CTaskPool* pool) {
  const int fd = file.file.Get();
  const uint64_t sizeHint = static_cast<uint64_t>(file.st.st_size);
  CStreamSource source(fd, file.data, sizeHint);

  // The first block is read before the entry is started: a file that cannot
  // be read at all then leaves no trace in the archive.
  using Block = std::shared_ptr<std::vector<char>>;
  Block block = std::make_shared<std::vector<char>>();
  ssize_t got = source.Read(*block);
  if (got < 0) return Fail(Errno(errno));
  // Data that does not compress (already packed media, archives) is stored:
  // deflating it costs time and saves nothing.
  const bool deflated =
      !(static_cast<size_t>(got) >= 4096 && LooksIncompressible(block->data(), block->size()));
  ZipEntryFields fields = FieldsFor(name, file.st, deflated);
  fields.zip64 = source.Limit() >= kZip64Threshold;
  if (!m_writer->BeginEntry(fields)) return WriterFailed();

  // Deflated pieces are made on the pool (or here, without one) and written
  // in order as they come back; at most kPiecesPerWorker per worker wait.
  // Stored data's CRC is computed here as it passes.
  // A block's buffer is used again once its piece is written, so that
  // memory taken for reading is not cleared for every piece.
  struct Pending {
    std::future<DeflatedPiece> piece;
    Block block;
  };
  std::deque<Pending> pending;
  std::vector<Block> spare;
  const size_t maxPending = pool ? kPiecesPerWorker * pool->Size() : 0;
  uint32_t crc = 0;
  auto writeOldest = [&]() {
    DeflatedPiece piece = pending.front().piece.get();
    spare.push_back(std::move(pending.front().block));
    pending.pop_front();
    if (!piece.ok) return AbortEntry("cannot compress the data (out of memory?)");
    if (!m_writer->WriteData(piece.data.data(), piece.data.size())) return WriterFailed();
    crc = static_cast<uint32_t>(crc32_combine(crc, piece.crc, static_cast<z_off_t>(piece.size)));
    return true;
  };

  bool cutOff = false;  // stopped at the limit with the file still going on
  for (;;) {
    if (deflated && got > 0) {
      auto deflate = [block, level = m_level] {
        return DeflatePiece(block->data(), block->size(), level);
      };
      pending.push_back(
          {pool ? pool->Post(deflate, true) : std::async(std::launch::deferred, deflate), block});
      while (pending.size() > maxPending)
        if (!writeOldest()) return false;
      if (spare.empty()) {
        block = std::make_shared<std::vector<char>>();
      } else {
        block = std::move(spare.back());
        spare.pop_back();
      }
    } else if (got > 0) {
      crc = static_cast<uint32_t>(libdeflate_crc32(crc, block->data(), block->size()));
      if (!m_writer->WriteData(block->data(), block->size())) return WriterFailed();
    }
    if (m_observer) m_observer(static_cast<uint64_t>(got));
    if (source.Ended()) break;
    if (source.AtLimit()) {
      cutOff = true;
      break;
    }
    if (m_cancel && m_cancel->load()) return AbortEntry("cancelled");
    got = source.Read(*block);
    if (got < 0) return AbortEntry("read error part-way through the file: " + Errno(errno));
  }
  if (deflated) {
    while (!pending.empty())
      if (!writeOldest()) return false;
    if (!m_writer->WriteData(reinterpret_cast<const char*>(kFinalEmptyBlock),
                             sizeof kFinalEmptyBlock))
      return WriterFailed();
  }
  // The entry holds exactly what was read, with its CRC and sizes. Whether
  // that is the file as it was: its size, last-write and status-change times
  // must not have moved (SameFileState), and it must not have ended early. A file the system makes
  // up as it is read (size 0, unchanged) is not counted as changed for giving more than its size.
  struct stat now {};
  const uint64_t total = source.Total();
  m_lastEntryChanged =
      cutOff || total < sizeHint || fstat(fd, &now) != 0 || !SameFileState(file.st, now);
  if (!m_writer->EndEntry(crc, total, IdentityRecord(file.st, m_lastEntryChanged)))
    return WriterFailed();
  return Succeed();
}

bool CZipFile::Open(const std::string& path) {
  if (m_writer || m_reader) return Fail("an archive is already open");
  auto reader = std::make_unique<CZipReader>();
  std::string error;
  if (!reader->Open(path, error)) return Fail(error);
  m_reader = std::move(reader);
  struct stat st {};
  const bool known = ::stat(path.c_str(), &st) == 0;
  m_readDevice = known ? st.st_dev : 0;
  m_readInode = known ? st.st_ino : 0;
  m_firstByFoldedName.clear();  // made when asked for (FindEntry)
  m_searchedByName = 0;
  return Succeed();
}

bool CZipFile::OpenCopyOf(const CZipFile& other) {
  if (m_writer || m_reader) return Fail("an archive is already open");
  if (!other.m_reader) return Fail("no archive is open");
  auto reader = std::make_unique<CZipReader>();
  std::string error;
  if (!reader->OpenCopyOf(*other.m_reader, error)) return Fail(error);
  m_reader = std::move(reader);
  m_readDevice = other.m_readDevice;
  m_readInode = other.m_readInode;
  m_firstByFoldedName = other.m_firstByFoldedName;
  return Succeed();
}

bool CZipFile::IsDirectoryComplete() const { return !m_reader || m_reader->DirectoryComplete(); }

bool CZipFile::ReadData(int64_t index, const std::function<bool(const char*, size_t)>& sink) {
  if (!m_reader) return Fail("no archive is open");
  if (index < 0 || static_cast<uint64_t>(index) >= m_reader->Entries().size())
    return Fail("no such entry");
  std::string error;
  const bool read = m_observer ? m_reader->Read(
                                     static_cast<size_t>(index),
                                     [&](const char* data, size_t n) {
                                       if (!sink(data, n)) return false;
                                       m_observer(n);
                                       return true;
                                     },
                                     error)
                               : m_reader->Read(static_cast<size_t>(index), sink, error);
  if (!read) return Fail(error);
  return Succeed();
}

bool CZipFile::GetEntrySpan(int64_t index, uint64_t& begin, uint64_t& end) {
  if (!m_reader) return Fail("no archive is open");
  if (index < 0 || static_cast<uint64_t>(index) >= m_reader->Entries().size())
    return Fail("no such entry");
  std::string error;
  if (!m_reader->Span(static_cast<size_t>(index), begin, end, error)) return Fail(error);
  return Succeed();
}

bool CZipFile::ExtractToMemory(void* buffer, uint64_t& size, int64_t index) {
  if (!m_reader) return Fail("no archive is open");
  if (index < 0 || index >= GetEntryCount()) return Fail("no such entry");
  const uint64_t entrySize = GetEntrySize(index);
  if (size < entrySize) return Fail("buffer too small");
  size = entrySize;
  char* p = static_cast<char*>(buffer);
  uint64_t done = 0;
  return ReadData(index, [&](const char* data, size_t n) {
    std::memcpy(p + done, data, n);  // the reader never delivers more than entrySize
    done += n;
    return true;
  });
}

bool CZipFile::ExtractToMemory(void* buffer, uint64_t& size, const std::string& name) {
  const int64_t index = FindEntry(name);
  if (index < 0) return Fail("no entry named " + name);
  return ExtractToMemory(buffer, size, index);
}

bool CZipFile::ReadEntry(int64_t index, std::string& out, uint64_t limit) {
  bool tooLarge = false;
  const bool ok = ReadData(index, [&](const char* data, size_t n) {
    const uint64_t room = limit - std::min<uint64_t>(limit, out.size());
    out.append(data, static_cast<size_t>(std::min<uint64_t>(n, room)));
    if (n > room) tooLarge = true;
    return !tooLarge;
  });
  if (tooLarge) return Fail("the entry is larger than allowed");
  return ok;
}

bool CZipFile::TestEntry(int64_t index, std::string& reason) {
  const bool ok = ReadData(index, [&](const char*, size_t) { return !Cancelled(); });
  if (!ok) reason = Cancelled() ? "cancelled" : m_lastError;
  return ok;
}

uint64_t CZipFile::GetEntrySize(int64_t index) {
  if (!m_reader || index < 0 || index >= GetEntryCount()) return 0;
  return m_reader->Entries()[static_cast<size_t>(index)].size;
}

int64_t CZipFile::GetEntryTime(int64_t index) {
  if (!m_reader || index < 0 || index >= GetEntryCount()) return 0;
  const struct timespec& t = m_reader->Entries()[static_cast<size_t>(index)].mtime;
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t CZipFile::FindEntry(const std::string& name) {
  if (!m_reader) return -1;
  // An index by name costs memory for every entry, and most readers ask
  // once (for the manifest): the first question is answered by a search,
  // the index is made for the second.
  const auto& entries = m_reader->Entries();
  if (m_firstByFoldedName.empty() && m_searchedByName < 1) {
    ++m_searchedByName;
    const std::string folded = FoldName(name);
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i].name.size() == folded.size() && FoldName(entries[i].name) == folded)
        return static_cast<int64_t>(i);
    return -1;
  }
  if (m_firstByFoldedName.empty())
    for (size_t i = 0; i < entries.size(); ++i)
      m_firstByFoldedName.emplace(FoldName(entries[i].name), static_cast<int64_t>(i));
  auto it = m_firstByFoldedName.find(FoldName(name));
  return it == m_firstByFoldedName.end() ? -1 : it->second;
}

int64_t CZipFile::GetEntryCount() {
  return m_reader ? static_cast<int64_t>(m_reader->Entries().size()) : 0;
}

std::string CZipFile::GetEntryName(int64_t index) const {
  if (!m_reader || index < 0 || static_cast<uint64_t>(index) >= m_reader->Entries().size())
    return {};
  return m_reader->Entries()[static_cast<size_t>(index)].name;
}

}  // namespace tessarook
