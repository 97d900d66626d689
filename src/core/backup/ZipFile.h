#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tessarook {

class CZipReader;

// One ZIP archive, either being written (Create ... Close) or being read
// (Open ... Close). The rest of the program never talks to ZIP code directly;
// everything goes through this class. Archives are written with minizip;
// they are read by CZipReader, which handles zip64 records fully.
//
// Entries are deflated (or stored when their data does not compress), in the
// standard ZIP layout. Sizes are 64-bit throughout; entries of 4 GiB and more,
// and archives past the classic limits, are written with the zip64 extensions.
// Every entry added from a disk file records the file's Unix permission bits
// and its last-write time, and extraction gives both back.
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
  // Adds an entry holding `count` bytes from `data` (0 makes an empty entry).
  virtual bool AddFromMemory(const void* data, uint64_t count, const std::string& name);
  // Adds an entry holding the contents of the disk file at that moment.
  // A missing, unreadable or non-regular file fails without adding anything.
  virtual bool AddFile(const std::string& diskPath, const std::string& name);
  // Opens an existing archive for reading.
  virtual bool Open(const std::string& path);
  // Decompresses the whole entry into `buffer`. Fails without writing when
  // `size` is smaller than the entry; otherwise sets `size` to the entry size.
  virtual bool ExtractToMemory(void* buffer, uint64_t& size, int64_t index);
  virtual bool ExtractToMemory(void* buffer, uint64_t& size, const std::string& name);
  // Writes the entry to a disk file, creating missing folders. The data goes to
  // a temporary file beside the destination, which replaces the destination
  // only once the entry was read completely with a good checksum; a failed
  // extraction leaves an existing destination untouched. The file gets the
  // entry's permission bits and last-write time.
  virtual bool ExtractToFile(const std::string& diskPath, int64_t index);
  virtual bool ExtractToFile(const std::string& diskPath, const std::string& name);
  // The entry's uncompressed size; 0 for an index out of range.
  virtual uint64_t GetEntrySize(int64_t index);
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
  void SetCancelFlag(const std::atomic<bool>* cancel) { m_cancel = cancel; }

  // The explanation of the latest failure ("" after a success).
  const std::string& LastError() const { return m_lastError; }

  // The bytes of the archive file that the entry occupies, from its local
  // header to the end of its data: [begin, end). Once the entry was read
  // whole, the end is where its compressed data really ended. False when the
  // local header cannot be read.
  bool GetEntrySpan(int64_t index, uint64_t& begin, uint64_t& end);

 protected:
  // Hands the entry's data to `sink` piece by piece (see CZipReader::Read).
  bool ReadData(int64_t index, const std::function<bool(const char*, size_t)>& sink);

 private:
  bool Fail(std::string text);
  bool Succeed();
  bool WriteEntryFromFd(int fd, const std::string& name, uint64_t sizeHint, const void* statBuf);
  bool AbortEntry(const std::string& why);
  bool AddZip64EndRecords();

  void* m_writer = nullptr;  // zipFile
  std::unique_ptr<CZipReader> m_reader;
  std::string m_path;
  uint64_t m_entriesWritten = 0;
  std::unordered_map<std::string, int64_t> m_firstByFoldedName;
  bool m_broken = false;
  const std::atomic<bool>* m_cancel = nullptr;
  std::string m_lastError;
  std::vector<char> m_buffer;
  void* m_probe = nullptr;  // z_stream used to test whether data compresses
};

}  // namespace tessarook
