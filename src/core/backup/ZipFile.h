// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "backup/DeflateEngine.h"

struct libdeflate_compressor;
struct stat;

namespace tessarook {

class CZipReader;
class CZipWriter;
class CTaskPool;
struct ZipCopiedEntry;
struct ZipEntryFields;

// One ZIP archive, either being written (Create ... Close) or being read
// (Open ... Close). The rest of the program never talks to ZIP code directly;
// everything goes through this class, and through CZipExtractor (ZipExtract.h)
// for writing entries to disk files. Archives are written by CZipWriter and
// read by CZipReader; both handle zip64 records fully.
//
// Entries are deflated (or stored when their data does not compress), in the
// standard ZIP layout. Sizes are 64-bit throughout; entries of 4 GiB and more,
// and archives past the classic limits, are written with the zip64 extensions.
// Every entry added from a disk file records the file's Unix permission bits
// and its last-write time, and extraction (CZipExtractor) gives both back.
//
// Failures are reported by return value; LastError() then holds a short
// explanation for the user. An object is used by one thread at a time.
class CZipFile {
 public:
  CZipFile();
  virtual ~CZipFile();
  CZipFile(const CZipFile&) = delete;
  CZipFile& operator=(const CZipFile&) = delete;

  // Creates a new, empty archive for writing; an existing file is replaced.
  // Only called on an object that holds nothing.
  virtual bool Create(const std::string& path);
  // Finishes and closes what the object holds: 0 on success (also when it held
  // nothing), non-zero when the archive could not be completed.
  virtual int Close();
  // Adds an entry holding `count` bytes from `data` (0 makes an empty entry),
  // with the present time as its last-write time.
  virtual bool AddFromMemory(const void* data, uint64_t count, const std::string& name);
  // As AddFromMemory, with `mtime` as the entry's last-write time and
  // `centralExtra` (whole extra fields) in its central record.
  bool AddMemoryEntry(const void* data, uint64_t count, const std::string& name,
                      const struct timespec& mtime, const std::string& centralExtra);
  // Adds an entry holding the contents of the disk file at that moment.
  // A missing, unreadable or non-regular file fails without adding anything.
  // A file that changes while it is read is stored as it was read (see
  // LastFileChanged); one that keeps growing is taken up to a margin past the
  // size it had when it was opened.
  virtual bool AddFile(const std::string& diskPath, const std::string& name);
  // As AddFile, for a file that PrepareFile opened (and, when small, read and
  // compressed) already, possibly on another thread. The pieces of a large
  // file are deflated on `pool` when one is given, else on this thread.
  bool AddPrepared(PreparedFile file, const std::string& name, CTaskPool* pool);
  // Adds an entry copied from another archive under `name`: its stored data,
  // CRC and sizes unchanged (see CZipWriter). The data observer counts the
  // entry's size as done.
  bool AddCopied(ZipCopiedEntry entry, const std::string& name);
  // Files added from disk whose status-change time lies before `ns` (since
  // 1970) and that did not change while they were read get their identity
  // recorded in their central record (see BackupRecords.h); 0, the default,
  // records none.
  void SetIdentityCutoff(int64_t ns) { m_identityCutoff = ns; }
  // The deflate level of the entries this object compresses: from memory,
  // AddFile and the pieces of large files (1 fastest .. 9 smallest, default
  // kDeflateLevel). Entries copied or prepared elsewhere keep their form.
  void SetLevel(int level) { m_level = ClampDeflateLevel(level); }
  int Level() const { return m_level; }
  // After a successful AddFile: true when the file changed while it was read
  // (its size, last-write or status-change time moved, see SameFileState, or
  // it ended before its size). The
  // entry's data, CRC and sizes still agree with each other.
  bool LastFileChanged() const { return m_lastEntryChanged; }
  // Opens an existing archive for reading.
  virtual bool Open(const std::string& path);
  // Opens for reading the archive that `other` reads (the same file, with a
  // descriptor and buffers of its own and a copy of its directory), so that
  // another thread can read it at the same time.
  bool OpenCopyOf(const CZipFile& other);
  // Decompresses the whole entry into `buffer`. Fails without writing when
  // `size` is smaller than the entry; otherwise sets `size` to the entry size.
  virtual bool ExtractToMemory(void* buffer, uint64_t& size, int64_t index);
  virtual bool ExtractToMemory(void* buffer, uint64_t& size, const std::string& name);
  // The entry's uncompressed size; 0 for an index out of range.
  virtual uint64_t GetEntrySize(int64_t index);
  // The entry's last-write time, ns since 1970; 0 for an index out of range.
  int64_t GetEntryTime(int64_t index);
  // Index of the first entry whose name equals `name` ignoring the case of
  // A-Z, or -1.
  virtual int64_t FindEntry(const std::string& name);
  // Number of entries; 0 when nothing is open.
  virtual int64_t GetEntryCount();

  bool IsWriting() const { return m_writer != nullptr; }
  bool IsReading() const { return m_reader != nullptr; }

  // The stored name of an entry (empty for an index out of range).
  std::string GetEntryName(int64_t index) const;

  // Appends at most `limit` bytes of the entry's data to `out`, stopping at
  // the entry's recorded size. Whatever was decompressed before a failure is
  // kept. True when the whole entry was read and its checksum matched.
  bool ReadEntry(int64_t index, std::string& out, uint64_t limit);

  // Decompresses the whole entry without keeping it, checking size and CRC.
  // On failure `reason` says what is wrong.
  bool TestEntry(int64_t index, std::string& reason);

  // False when the archive's directory announced more entries than could be
  // read (a damaged archive); the readable ones are still offered.
  bool IsDirectoryComplete() const;

  // While writing: true once an error left the archive unusable (a write
  // failed, or an entry was cut off half-way). Such an archive must not be
  // kept; Close reports failure for it.
  bool IsBroken() const { return m_broken; }

  // A flag polled between blocks of data while adding or extracting a file.
  // When it becomes true the operation stops and fails. Null for none.
  void SetCancelFlag(const std::atomic<bool>* cancel);
  // Whether the cancel flag is set.
  bool Cancelled() const { return m_cancel && m_cancel->load(); }

  // Called with the byte count of every block of file data as it moves: each
  // block read from a disk file while adding it, each block decompressed
  // while reading an entry. Runs on the thread doing the work, between blocks
  // (so it may look at or even change the file being added). Empty for none.
  void SetDataObserver(std::function<void(uint64_t)> observer) { m_observer = std::move(observer); }

  // The reader of an archive opened for reading, for what only it offers
  // (entries as they are stored, the program's own records); null otherwise.
  const CZipReader* Reader() const { return m_reader.get(); }
  // Whether the file with that device and inode number is the archive being
  // read.
  bool IsArchiveFile(uint64_t device, uint64_t inode) const {
    return device == m_readDevice && inode == m_readInode;
  }

  // The explanation of the latest failure ("" after a success).
  const std::string& LastError() const { return m_lastError; }

  // Hands the entry's data to `sink` piece by piece, in order, as it is
  // decompressed; `sink` returns false to stop. True when all of it was
  // delivered and its size and CRC matched (so a sink that passes data on
  // must be ready to learn of damage only at the end).
  bool ReadData(int64_t index, const std::function<bool(const char*, size_t)>& sink);

  // The bytes of the archive file that the entry occupies, from its local
  // header to the end of its data: [begin, end). Once the entry was read
  // whole, the end is where its compressed data really ended. False when the
  // local header cannot be read.
  bool GetEntrySpan(int64_t index, uint64_t& begin, uint64_t& end);

 private:
  bool Fail(std::string text);
  bool Succeed();
  ZipEntryFields FieldsFor(const std::string& name, const struct stat& st, bool deflated) const;
  std::string IdentityRecord(const struct stat& st, bool changed) const;
  bool WriteWholeEntry(const PreparedFile& file, const std::string& name);
  bool WriteStreamedEntry(PreparedFile& file, const std::string& name, CTaskPool* pool);
  bool AbortEntry(const std::string& why);
  bool WriterFailed();

  std::unique_ptr<CZipWriter> m_writer;
  std::unique_ptr<CZipReader> m_reader;
  std::string m_path;
  int m_level = kDeflateLevel;
  libdeflate_compressor* m_compressor = nullptr;  // for entries from memory
  int m_compressorLevel = 0;
  int64_t m_identityCutoff = 0;
  std::unordered_map<std::string, int64_t> m_firstByFoldedName;
  int m_searchedByName = 0;  // FindEntry calls answered without the index
  bool m_broken = false;
  uint64_t m_readDevice = 0;  // identity of the archive being read
  uint64_t m_readInode = 0;
  bool m_lastEntryChanged = false;
  const std::atomic<bool>* m_cancel = nullptr;
  std::function<void(uint64_t)> m_observer;
  std::string m_lastError;
};

}  // namespace tessarook
