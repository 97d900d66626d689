// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backup/BackupRecords.h"
#include "backup/ZipWriter.h"

struct libdeflate_decompressor;

namespace tessarook {

// What the central directory says about one entry.
struct ZipEntryInfo {
  std::string name;
  uint64_t size = 0;  // uncompressed
  uint64_t compressedSize = 0;
  uint64_t localOffset = 0;  // of the entry's local header
  uint32_t crc = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
  uint16_t madeBy = 0;
  uint32_t externalAttributes = 0;
  struct timespec mtime {};  // from the NTFS or extended-timestamp field, else DOS time
  // Where the entry's compressed data really ended, once it has been read
  // whole with a good checksum (0 until then). A recorded compressed size
  // may run past the end of a deflate stream.
  uint64_t dataEnd = 0;
  // The source file's identity when it was read, when the entry records it
  // (see BackupRecords.h).
  std::optional<SourceIdentity> source;
};

// Reads ZIP archives on its own: the central directory (zip64 end records and
// zip64 extra fields included) and the data of stored and deflated entries,
// checking sizes and CRCs. A deflated entry of at most kWholeEntryLimit bytes
// (compressed at most kWholeEntryLimit + kWholeEntrySlack) is inflated in one
// call by libdeflate into a buffer of exactly its recorded size; a larger one
// is streamed through zlib. An entry the one-call path does not accept is
// read again by streaming, so faults are found and named the same way for
// every size.
//
// Nothing it reads is trusted: every length is checked against the file, and
// no allocation exceeds what the file itself holds. Memory per reader: at most
// 2 x kWholeEntryLimit + kWholeEntrySlack for the one-call buffers (they grow
// to the largest such entry read), plus 1.25 MiB for streaming, plus the
// directory. A reader is used by one thread at a time; each thread that reads
// the same archive opens its own (OpenCopyOf).
// Finds the end records of the ZIP file open as `fd` (`fileSize` bytes):
// the directory's offset, size and entry count. False for no ZIP.
bool LocateZipDirectory(int fd, uint64_t fileSize, uint64_t& offset, uint64_t& size,
                        uint64_t& count, std::string& error);

// Reads only the last record of the directory of the ZIP file at `path`
// (name and taken record), without the rest: a quick look at a Backup's
// manifest entry. False when there is none or it cannot be read.
bool ReadLastZipRecord(const std::string& path, std::string& name,
                       std::optional<TakenRecord>& taken);

class CZipReader {
 public:
  CZipReader() = default;
  ~CZipReader();
  CZipReader(const CZipReader&) = delete;
  CZipReader& operator=(const CZipReader&) = delete;

  // Opens a regular file and reads its directory. On failure `error` says why.
  bool Open(const std::string& path, std::string& error);

  // Opens the file `other` reads anew (its own open file, not the path, which
  // may name another file by now) and takes a copy of its directory, for
  // reading on another thread.
  bool OpenCopyOf(const CZipReader& other, std::string& error);

  // Entries up to this size are inflated in one call (see the class comment).
  static constexpr uint64_t kWholeEntryLimit = uint64_t{4} << 20;
  static constexpr uint64_t kWholeEntrySlack = uint64_t{64} << 10;

  const std::vector<ZipEntryInfo>& Entries() const { return m_entries; }

  // False when the directory announced more entries than could be read.
  bool DirectoryComplete() const { return m_complete; }

  // The taken record an entry of the directory carries (see BackupRecords.h),
  // if any; with several, the last one.
  const std::optional<TakenRecord>& Taken() const { return m_taken; }

  // The entry as it is stored, ready to be copied into another archive
  // (CZipWriter::AddCopied), after its local header was checked against its
  // central record: signature, flags, method, CRC, sizes and name must agree,
  // it must be neither encrypted nor sized after its data, and its data must
  // end before the directory. False (with `error`) when anything differs.
  // Only reads the file at given offsets, so several threads may call it.
  bool StoredEntry(size_t index, ZipCopiedEntry& out, std::string& error) const;

  // Where the directory starts: no entry's data may reach past it.
  uint64_t DirectoryOffset() const { return m_directoryAt; }

  // The open file, for reading entries' bytes as they are stored.
  int Fd() const { return m_fd; }

  // Hands the entry's data to `sink` piece by piece, in order; `sink` returns
  // false to stop (the result is then false with `error` = "stopped"). True
  // when all data was delivered and its size and CRC match the directory.
  bool Read(size_t index, const std::function<bool(const char*, size_t)>& sink, std::string& error);

  // Where the entry lies in the file: from its local header to the end of its
  // data, [begin, end); the real end once the entry was read whole, else the
  // recorded one. False (with `error`) when the local header cannot be read
  // or the data would lie outside the file.
  bool Span(size_t index, uint64_t& begin, uint64_t& end, std::string& error);

 private:
  bool DataStart(const ZipEntryInfo& e, uint64_t& pos, std::string& error);
  bool ReadAt(uint64_t offset, void* buffer, size_t size);
  bool ParseDirectory(std::string& error);
  // The one-call path: 1 = read and delivered, 0 = not accepted (read the
  // entry by streaming), -1 = failed (`error` set).
  int ReadWhole(ZipEntryInfo& e, uint64_t dataStart,
                const std::function<bool(const char*, size_t)>& sink, std::string& error);

  int m_fd = -1;
  uint64_t m_fileSize = 0;
  uint64_t m_directoryAt = 0;
  bool m_complete = true;
  std::optional<TakenRecord> m_taken;
  std::vector<ZipEntryInfo> m_entries;
  std::vector<char> m_in;
  std::vector<char> m_out;
  libdeflate_decompressor* m_inflater = nullptr;
};

}  // namespace tessarook
