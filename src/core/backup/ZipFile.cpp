// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ZipFile.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <future>

#include "backup/BackupRecords.h"
#include "backup/DeflateEngine.h"
#include "backup/ZipBytes.h"
#include "backup/ZipReader.h"
#include "backup/ZipWriter.h"
#include "util/FileBytes.h"
#include "util/FileState.h"
#include "util/OpenBeneath.h"
#include "util/TaskPool.h"

namespace tessarook {

namespace {

constexpr size_t kIoChunk = 1 << 20;  // bytes read from or written to disk files at a time
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

bool AllZero(const char* p, size_t n) {
  if (n == 0) return true;
  return p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0;
}

std::atomic<unsigned> g_tempCounter{0};

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
  if (m_buffer.size() < kIoChunk) m_buffer.resize(kIoChunk);
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
  const bool ok =
      ReadData(index, [&](const char*, size_t) { return !(m_cancel && m_cancel->load()); });
  if (!ok) reason = m_cancel && m_cancel->load() ? "cancelled" : m_lastError;
  return ok;
}

namespace {

std::string TempName() {
  return ".tessarook-" + std::to_string(getpid()) + "-" +
         std::to_string(g_tempCounter.fetch_add(1)) + ".part";
}

// The permission bits an extracted file gets: the entry's Unix bits when it
// has them (type bits mark them as set, so even a mode of 000 comes back as
// it was), else 0644.
mode_t EntryMode(const ZipEntryInfo& info) {
  const uint32_t stored = info.externalAttributes >> 16;
  if ((info.madeBy >> 8) == 3 && ((stored & S_IFMT) != 0 || (stored & 0777) != 0))
    return stored & 0777;
  return 0644;
}

// An unnamed file in the folder for a temporary copy, or, where the file
// system has no unnamed files, a named one removed at once.
CFileHandle UnnamedFileIn(int folder) {
  int fd = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
    return CFileHandle(fd);
  const std::string name = TempName();
  fd = openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) unlinkat(folder, name.c_str(), 0);
  return CFileHandle(fd);
}

// Room for the checked copy of an entry that goes into an existing file: in
// the file's own folder, or, when this user may not write there, in the
// temporary folder.
CFileHandle ScratchFileFor(int folder) {
  CFileHandle file = UnnamedFileIn(folder);
  if (file.IsOpen()) return file;
  const int err = errno;
  std::error_code ec;
  std::string temp = std::filesystem::temp_directory_path(ec).string();
  if (ec || temp.empty()) temp = "/tmp";
  const CFileHandle tempFolder(::open(temp.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (tempFolder.IsOpen()) file = UnnamedFileIn(tempFolder.Get());
  if (!file.IsOpen()) errno = err;
  return file;
}

// Calls `fn(offset, length)` for each stretch of data of the file below
// `size`, in order; holes are skipped. Stops early when `fn` returns false.
template <typename Fn>
bool ForEachDataStretch(int fd, uint64_t size, Fn fn) {
  const off_t end = static_cast<off_t>(size);
  off_t pos = 0;
  while (pos < end) {
    off_t data = lseek(fd, pos, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) return true;  // only a hole is left
      data = pos;                       // no hole support: all of it is data
    }
    if (data >= end) return true;
    off_t hole = lseek(fd, data, SEEK_HOLE);
    if (hole < 0 || hole > end) hole = end;
    if (!fn(data, hole - data)) return false;
    pos = hole;
  }
  return true;
}

// Makes [begin, end) of the file read as zeros, where it held old data.
bool ZeroRange(int fd, off_t begin, off_t end, off_t oldSize) {
  end = std::min(end, oldSize);
  if (begin >= end) return true;
  if (fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, begin, end - begin) == 0)
    return true;
  static const char zeros[64 << 10] = {};
  while (begin < end) {
    const size_t n = static_cast<size_t>(std::min<off_t>(end - begin, sizeof zeros));
    if (!WriteAllAt(fd, zeros, n, static_cast<uint64_t>(begin))) return false;
    begin += static_cast<off_t>(n);
  }
  return true;
}

}  // namespace

bool CZipFile::Protected(std::string text) {
  m_protected = true;
  return Fail(std::move(text));
}

bool CZipFile::WriteEntryTo(int fd, int64_t index, const std::string& shown, std::string& error) {
  uint64_t done = 0;
  bool holeAtEnd = false;
  const bool read = ReadData(index, [&](const char* data, size_t n) {
    if (m_cancel && m_cancel->load()) {
      error = "cancelled";
      return false;
    }
    // Blocks of zeros become holes, so sparse files stay sparse.
    if (AllZero(data, n)) {
      if (lseek(fd, static_cast<off_t>(n), SEEK_CUR) < 0) {
        error = "cannot write " + shown + ": " + Errno(errno);
        return false;
      }
      holeAtEnd = true;
    } else {
      if (!WriteAll(fd, data, n)) {
        error = "cannot write " + shown + ": " + Errno(errno);
        return false;
      }
      holeAtEnd = false;
    }
    done += n;
    return true;
  });
  if (!read && error.empty()) {
    // Not a write of ours that failed: the entry could not be read whole and
    // checked (unless the operation was stopped).
    m_damaged = !(m_cancel && m_cancel->load());
    error = m_damaged ? "damaged in the Backup: " + m_lastError : m_lastError;
  }
  if (error.empty() && holeAtEnd && ftruncate(fd, static_cast<off_t>(done)) != 0)
    error = "cannot write " + shown + ": " + Errno(errno);
  return error.empty();
}

bool CZipFile::OverwriteWith(int from, int to, uint64_t size, uint64_t oldSize,
                             const std::string& shown, std::string& error) {
  // Room for the new data is reserved before the first byte of the file
  // changes, so a full disk fails with the file as it was. Where the file
  // system cannot reserve, the free space must cover the growth.
  bool noRoom = false;
  bool reserved = ForEachDataStretch(from, size, [&](off_t at, off_t length) {
    if (fallocate(to, FALLOC_FL_KEEP_SIZE, at, length) == 0) return true;
    noRoom = errno == ENOSPC || errno == EDQUOT || errno == EFBIG;
    if (noRoom) error = "no room to restore " + shown + ": " + Errno(errno);
    return false;
  });
  if (!reserved && !noRoom) {
    struct statvfs fs {};
    const uint64_t growth = size > oldSize ? size - oldSize : 0;
    if (fstatvfs(to, &fs) == 0 && uint64_t(fs.f_bavail) * fs.f_frsize < growth) {
      noRoom = true;
      error = "no room to restore " + shown + ": " + Errno(ENOSPC);
    }
  }
  if (noRoom) return false;

  // From here on the old data is being replaced: a failure leaves the file
  // part new, part old, and says so.
  const off_t old = static_cast<off_t>(oldSize);
  off_t pos = 0;
  bool kernelCopy = true;
  const bool copied = ForEachDataStretch(from, size, [&](off_t at, off_t length) {
    if (!ZeroRange(to, pos, at, old)) return false;
    off_t in = at;
    off_t out = at;
    off_t left = length;
    while (left > 0 && kernelCopy) {
      const ssize_t n = copy_file_range(from, &in, to, &out, static_cast<size_t>(left), 0);
      if (n > 0) {
        left -= n;
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
                 errno != EOPNOTSUPP && errno != EBADF && errno != EPERM) {
        return false;
      } else {
        kernelCopy = false;  // not offered here: copy through the buffer
      }
    }
    if (m_buffer.size() < kIoChunk) m_buffer.resize(kIoChunk);
    while (left > 0) {
      const size_t want = static_cast<size_t>(std::min<off_t>(left, kIoChunk));
      const ssize_t n = ::pread(from, m_buffer.data(), want, in);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        return false;
      }
      if (!WriteAllAt(to, m_buffer.data(), static_cast<size_t>(n), static_cast<uint64_t>(out)))
        return false;
      in += n;
      out += n;
      left -= n;
    }
    pos = at + length;
    return true;
  });
  if (!copied || !ZeroRange(to, pos, static_cast<off_t>(size), old) ||
      ftruncate(to, static_cast<off_t>(size)) != 0) {
    error = "cannot write " + shown + " (it now holds part of the old data): " + Errno(errno);
    return false;
  }
  return true;
}

bool CZipFile::SameData(int fd, int64_t index) {
  uint64_t at = 0;
  std::vector<char> mine;
  bool same = true;
  const bool read = ReadData(index, [&](const char* data, size_t n) {
    if (mine.size() < n) mine.resize(n);
    size_t got = 0;
    while (got < n) {
      const ssize_t r = ::pread(fd, mine.data() + got, n - got, static_cast<off_t>(at + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    same = got == n && std::memcmp(mine.data(), data, n) == 0;
    at += n;
    return same;
  });
  return read && same;
}

namespace {

// Whether a file's last-write time is the one an entry records, to the
// entry's precision: 100 ns (NTFS field), or whole seconds when it has no
// fraction (extended timestamp, DOS time).
bool SameEntryTime(const struct timespec& file, const struct timespec& entry) {
  if (file.tv_sec != entry.tv_sec) return false;
  return entry.tv_nsec == 0 || file.tv_nsec / 100 == entry.tv_nsec / 100;
}

}  // namespace

std::string CZipFile::DifferenceFrom(int fd, const struct stat& st, int64_t index) {
  const ZipEntryInfo& info = m_reader->Entries()[static_cast<size_t>(index)];
  if (static_cast<uint64_t>(st.st_size) != info.size) return "size";
  const bool sameTime = SameEntryTime(st.st_mtim, info.mtime);
  const char* const differs = sameTime ? "content" : "time";
  if (fd < 0) return differs;  // not readable: it cannot be shown to be the same
  // The CRC first (one read of the file), the bytes only when it matches.
  if (m_buffer.size() < kIoChunk) m_buffer.resize(kIoChunk);
  uLong crc = crc32(0, nullptr, 0);
  for (off_t at = 0; at < st.st_size;) {
    const ssize_t n = ::pread(fd, m_buffer.data(), kIoChunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return differs;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(m_buffer.data()), static_cast<uInt>(n));
    at += n;
  }
  if (static_cast<uint32_t>(crc) != info.crc || !SameData(fd, index)) return differs;
  return {};
}

namespace {

// Gives the file `to` the extended attributes of `from` (ACLs among them),
// except the security ones, which the system sets for a new file itself.
// False when one could not be given.
bool CopyAttributes(int from, int to) {
  std::vector<char> names(1024);
  ssize_t listed;
  while ((listed = flistxattr(from, names.data(), names.size())) < 0 && errno == ERANGE)
    names.resize(names.size() * 4);
  if (listed < 0) return errno == ENOTSUP;
  std::vector<char> value;
  for (ssize_t at = 0; at < listed; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
    const char* name = &names[static_cast<size_t>(at)];
    if (std::strncmp(name, "security.", 9) == 0) continue;
    const ssize_t size = fgetxattr(from, name, nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<size_t>(size) + 1);
    const ssize_t got = fgetxattr(from, name, value.data(), value.size());
    if (got < 0 || fsetxattr(to, name, value.data(), static_cast<size_t>(got), 0) != 0)
      return false;
  }
  return true;
}

}  // namespace

CZipFile::Foresight CZipFile::ForeseeInto(int folder, const std::string& leaf,
                                          const std::string& shown, int64_t index,
                                          bool refuseLink) {
  Foresight out;
  if (!m_reader || index < 0 || index >= GetEntryCount()) {
    out.action = Foresight::Action::kRefuse;
    out.reason = "no such entry";
    return out;
  }
  struct stat st {};
  if (folder < 0 || fstatat(folder, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (folder >= 0 && errno != ENOENT) {
      out.action = Foresight::Action::kRefuse;
      out.reason = shown + ": " + Errno(errno);
    }
    return out;  // created
  }
  out.action = Foresight::Action::kRefuse;
  if (S_ISLNK(st.st_mode) && refuseLink) {
    out.reason = shown + ": is a symbolic link; links inside the target folder are not followed";
    return out;
  }
  if (S_ISLNK(st.st_mode) && fstatat(folder, leaf.c_str(), &st, 0) != 0) {
    out.reason = shown + ": is a symbolic link to nothing";
    return out;
  }
  if (!S_ISREG(st.st_mode)) {
    out.reason = shown + (S_ISDIR(st.st_mode) ? ": is a folder" : ": is not a regular file");
    return out;
  }
  if (!(st.st_mode & S_IWUSR) || faccessat(folder, leaf.c_str(), W_OK, AT_EACCESS) != 0) {
    out.reason = shown + ": is read-only";
    return out;
  }
  const CFileHandle reading(openat(folder, leaf.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  out.reason = DifferenceFrom(reading.Get(), st, index);
  out.action = out.reason.empty() ? Foresight::Action::kSame : Foresight::Action::kReplace;
  return out;
}

bool CZipFile::ExtractInto(int folder, const std::string& leaf, const std::string& shown,
                           int64_t index, LeafRule rule) {
  const ZipEntryInfo& info = m_reader->Entries()[static_cast<size_t>(index)];
  m_damaged = false;
  m_placed = Placed::kCreated;

  // What is at the destination decides how the data gets there.
  struct stat st {};
  bool exists = false;
  bool throughLink = false;
  CFileHandle dest;
  if (fstatat(folder, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode) && rule == LeafRule::kRefuseLink)
      return Fail(shown + ": is a symbolic link; links inside the target folder are not followed");
    if (S_ISLNK(st.st_mode) && rule == LeafRule::kFollowLink) {
      if (fstatat(folder, leaf.c_str(), &st, 0) != 0)
        return Fail(shown + ": is a symbolic link to " +
                    (errno == ENOENT ? std::string("nothing") : Errno(errno)));
      throughLink = true;
    }
    if (S_ISDIR(st.st_mode)) return Fail(shown + ": is a folder");
    exists = rule != LeafRule::kReplace;
  } else if (errno != ENOENT) {
    return Fail(shown + ": " + Errno(errno));
  }
  // Where the existing file's identity matters, it receives the data in place.
  bool inPlace = false;
  if (exists) {
    if (!S_ISREG(st.st_mode)) return Fail(shown + ": is not a regular file");
    if (!(st.st_mode & S_IWUSR)) return Protected(shown + ": is read-only");
    if (st.st_dev == m_readDevice && st.st_ino == m_readInode)
      return Fail(shown + ": is the Backup being read");
    const int flags = O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC |
                      (rule == LeafRule::kRefuseLink ? O_NOFOLLOW : 0);
    dest = CFileHandle(openat(folder, leaf.c_str(), flags));
    if (!dest.IsOpen()) {
      const int err = errno;
      if (err == EACCES || err == EPERM || err == EROFS || err == ETXTBSY)
        return Protected(shown + ": " + Errno(err));
      return Fail("cannot write " + shown + ": " + Errno(err));
    }
    struct stat now {};
    if (fstat(dest.Get(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino)
      return Fail(shown + ": changed while it was being restored");
    // A file that holds the entry's data already is left as it is.
    const CFileHandle reading(openat(folder, leaf.c_str(), (flags & ~O_WRONLY) | O_RDONLY));
    struct stat seen {};
    const bool readable = reading.IsOpen() && fstat(reading.Get(), &seen) == 0 &&
                          seen.st_dev == st.st_dev && seen.st_ino == st.st_ino;
    if (DifferenceFrom(readable ? reading.Get() : -1, st, index).empty()) {
      // Its data is not written again; only a last-write time that differs
      // is set to the entry's (where this user may set it).
      const struct timespec times[2] = {{0, UTIME_OMIT}, info.mtime};
      if (!SameEntryTime(st.st_mtim, info.mtime) && (geteuid() == 0 || st.st_uid == geteuid()))
        futimens(dest.Get(), times);
      m_placed = Placed::kSame;
      return true;
    }
    if (m_cancel && m_cancel->load()) return Fail("cancelled");
    inPlace = throughLink || st.st_nlink > 1 || (st.st_uid != geteuid() && geteuid() != 0);
  }

  // The entry is read into a temporary file and checked before anything at
  // the destination changes: a named one beside it, which becomes the file,
  // or, for a rewrite in place, any scratch file.
  std::string tempName;
  CFileHandle temp;
  if (!inPlace) {
    tempName = TempName();
    temp =
        CFileHandle(openat(folder, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (temp.IsOpen()) {
      // Held while it exists, so that a sweep for partials of killed restores
      // never takes it for one (a new file: nobody else can hold it yet).
      ::flock(temp.Get(), LOCK_EX | LOCK_NB);
    } else if (!exists) {
      return Fail("cannot write in " + FolderOf(shown) + ": " + Errno(errno));
    } else {
      tempName.clear();
      inPlace = true;  // the folder may not be written, the file may
    }
  }
  if (!temp.IsOpen()) {
    temp = ScratchFileFor(folder);
    if (!temp.IsOpen()) return Fail("cannot make a copy for " + shown + ": " + Errno(errno));
  }
  struct RemoveTemp {
    int folder;
    std::string* name;
    ~RemoveTemp() {
      if (!name->empty()) unlinkat(folder, name->c_str(), 0);
    }
  } removeTemp{folder, &tempName};

  std::string error;
  bool ok = WriteEntryTo(temp.Get(), index, shown, error);
  if (!ok) return Fail(error);
  const struct timespec times[2] = {{0, UTIME_OMIT}, info.mtime};
  const bool root = geteuid() == 0;

  if (exists && !inPlace) {
    // The new file takes the old one's place: its owner and group (where
    // they differ from what a new file gets), its extended attributes; a
    // file whose group or attributes cannot be given is rewritten in place.
    if (root && fchown(temp.Get(), st.st_uid, st.st_gid) != 0) inPlace = true;
    if (!root && st.st_gid != getegid() && fchown(temp.Get(), (uid_t)-1, st.st_gid) != 0)
      inPlace = true;
    if (!inPlace && !CopyAttributes(dest.Get(), temp.Get())) inPlace = true;
  }

  if (inPlace) {
    // The existing file receives the data; it stays the same file.
    struct stat copy {};
    if (fstat(temp.Get(), &copy) != 0) return Fail("cannot write " + shown + ": " + Errno(errno));
    ok = OverwriteWith(temp.Get(), dest.Get(), static_cast<uint64_t>(copy.st_size),
                       static_cast<uint64_t>(st.st_size), shown, error);
    // Only the owner (or the superuser) may set the time; the mode stays.
    const bool owner = root || st.st_uid == geteuid();
    if (ok && owner && futimens(dest.Get(), times) != 0) {
      ok = false;
      error = "cannot set the attributes of " + shown + ": " + Errno(errno);
    }
    if (!dest.Close() && ok) {
      ok = false;
      error = "cannot write " + shown + ": " + Errno(errno);
    }
    if (!ok) return Fail(error);
    m_placed = Placed::kReplaced;
    return true;
  }

  // A new file gets the entry's mode; a replaced one keeps its own (set after
  // a change of owner, which clears the set-id bits).
  const mode_t mode = exists ? (st.st_mode & 07777) : EntryMode(info);
  if (fchmod(temp.Get(), mode) != 0 || futimens(temp.Get(), times) != 0)
    return Fail("cannot set the attributes of " + shown + ": " + Errno(errno));
  // A replacement is on disk before it takes the name, so that after a power
  // loss the name holds the old file or the new one.
  if (exists && fsync(temp.Get()) != 0) return Fail("cannot write " + shown + ": " + Errno(errno));
  if (!temp.Close()) return Fail("cannot write " + shown + ": " + Errno(errno));
  bool placed = false;
  if (rule == LeafRule::kReplace) {
    placed = renameat(folder, tempName.c_str(), folder, leaf.c_str()) == 0;
  } else if (exists) {
    // Only the file that was judged is replaced.
    struct stat again {};
    if (fstatat(folder, leaf.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0 ||
        again.st_dev != st.st_dev || again.st_ino != st.st_ino)
      return Fail(shown + ": changed while it was being restored");
    placed = renameat(folder, tempName.c_str(), folder, leaf.c_str()) == 0;
  } else {
    // Something that appeared at the path meanwhile is not replaced.
    placed = renameat2(folder, tempName.c_str(), folder, leaf.c_str(), RENAME_NOREPLACE) == 0;
    if (!placed && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without that rename: look first, then rename.
      struct stat again {};
      if (fstatat(folder, leaf.c_str(), &again, AT_SYMLINK_NOFOLLOW) == 0)
        errno = EEXIST;
      else if (errno == ENOENT)
        placed = renameat(folder, tempName.c_str(), folder, leaf.c_str()) == 0;
    }
  }
  if (!placed)
    return Fail(errno == EEXIST ? shown + ": appeared while it was being restored"
                                : "cannot replace " + shown + ": " + Errno(errno));
  tempName.clear();
  m_placed = exists ? Placed::kReplaced : Placed::kCreated;
  return true;
}

bool CZipFile::ExtractByPath(const std::string& diskPath, int64_t index, LeafRule rule) {
  m_protected = false;
  m_damaged = false;
  if (!m_reader) return Fail("no archive is open");
  if (index < 0 || index >= GetEntryCount()) return Fail("no such entry");
  const size_t slash = diskPath.rfind('/');
  const std::string leaf = slash == std::string::npos ? diskPath : diskPath.substr(slash + 1);
  if (leaf.empty() || leaf == "." || leaf == "..") return Fail(diskPath + ": not a file path");
  CMadeFolders made;
  std::string error;
  const CFileHandle folder = OpenFolderMaking(FolderOf(diskPath), made, error);
  const bool ok =
      folder.IsOpen() ? ExtractInto(folder.Get(), leaf, diskPath, index, rule) : Fail(error);
  if (!ok) {
    made.RemoveEmpty();
    return false;
  }
  return Succeed();
}

bool CZipFile::ExtractToFile(const std::string& diskPath, int64_t index) {
  return ExtractByPath(diskPath, index, LeafRule::kFollowLink);
}

bool CZipFile::ExtractReplacing(const std::string& diskPath, int64_t index) {
  return ExtractByPath(diskPath, index, LeafRule::kReplace);
}

bool CZipFile::ExtractBeneath(const std::string& root, const std::string& relative, int64_t index) {
  m_protected = false;
  m_damaged = false;
  if (!m_reader) return Fail("no archive is open");
  if (index < 0 || index >= GetEntryCount()) return Fail("no such entry");
  std::vector<std::string> parts = PathComponents(relative);
  std::string shown = root;
  for (const std::string& part : parts) shown = JoinPath(shown, part);
  if (parts.empty() || parts.back() == "." || parts.back() == "..")
    return Fail(shown + ": not a file path");
  const std::string leaf = parts.back();
  parts.pop_back();
  CMadeFolders made;
  std::string error;
  CFileHandle folder;
  const CFileHandle top = OpenFolderMaking(root, made, error);
  if (top.IsOpen())
    folder = OpenFolderBelow(top.Get(), parts, LinkRule::kRefuse, made, root, error);
  const bool ok = folder.IsOpen()
                      ? ExtractInto(folder.Get(), leaf, shown, index, LeafRule::kRefuseLink)
                      : Fail(error);
  if (!ok) {
    made.RemoveEmpty();
    return false;
  }
  return Succeed();
}

bool CZipFile::ExtractIntoFolder(int folder, const std::string& leaf, const std::string& shown,
                                 int64_t index, bool refuseLink) {
  m_protected = false;
  m_damaged = false;
  if (!m_reader) return Fail("no archive is open");
  if (index < 0 || index >= GetEntryCount()) return Fail("no such entry");
  if (leaf.empty() || leaf == "." || leaf == ".." || leaf.find('/') != std::string::npos)
    return Fail(shown + ": not a file path");
  if (!ExtractInto(folder, leaf, shown, index,
                   refuseLink ? LeafRule::kRefuseLink : LeafRule::kFollowLink))
    return false;
  return Succeed();
}

bool CZipFile::ExtractToFile(const std::string& diskPath, const std::string& name) {
  const int64_t index = FindEntry(name);
  if (index < 0) return Fail("no entry named " + name);
  return ExtractToFile(diskPath, index);
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
