// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessarook {

inline constexpr uint16_t kMadeByUnix = (3 << 8) | 20;

// What an entry's headers say, apart from where it lies.
struct ZipEntryFields {
  std::string name;
  uint16_t madeBy = kMadeByUnix;
  uint16_t flags = 0;
  uint16_t method = 0;  // 0 stored, 8 deflated
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  uint32_t externalAttributes = 0;
  // The local header carries zip64 sizes (an entry that may reach 4 GiB).
  bool zip64 = false;
  std::string extra;         // extra fields of both headers (time stamps); no zip64
  std::string centralExtra;  // extra fields of the central record only
};

// An entry of another archive, copied as it is stored: its data, CRC and
// sizes unchanged.
struct ZipCopiedEntry {
  int fd = -1;             // the other archive, open for reading
  uint64_t headerAt = 0;   // its local header
  uint64_t dataAt = 0;     // its data (compressedSize bytes from here)
  std::string storedName;  // the name its local header holds
  ZipEntryFields fields;   // what the copy records (with this archive's name)
};

// Writes a ZIP file front to back: each local header once, with the sizes
// and CRC when they are known before the data (whole entries and copies);
// an entry whose data is streamed gets its header completed in one write
// afterwards. Entries of 4 GiB and more, offsets past 4 GiB and more than
// 65,534 entries use the zip64 records. The directory is kept as the bytes it
// will be written as: up to about 1 MiB in memory, the rest in an unnamed
// scratch file beside the archive (or in /tmp), and written by Finish.
//
// Entries copied from another archive are gathered into runs: consecutive
// copies that follow each other in the other archive and keep their names
// there form one range of bytes that is copied at once. A run of at least
// kAlignRun blocks is placed at the same offset modulo the file system's
// block size as in the other archive (the local header of its first entry
// is padded to get there), and its whole blocks are copied by the kernel
// (copy_file_range), which shares them where the file system can (XFS with
// reflink, btrfs); elsewhere the kernel simply copies. Only the unaligned
// head and tail pass through this process. On file systems known never to
// share blocks (ext4, tmpfs, FAT...) runs are not padded: it would only
// cost room.
//
// Failures are kept: after the first one every call fails and Error() says
// what went wrong. An object writes one file at a time; one thread uses it.
class CZipWriter {
 public:
  // Runs shorter than this many blocks are copied without padding: padding
  // costs up to a block, sharing saves what lies in whole blocks.
  static constexpr uint64_t kAlignRun = 16;

  CZipWriter() = default;
  ~CZipWriter();
  CZipWriter(const CZipWriter&) = delete;
  CZipWriter& operator=(const CZipWriter&) = delete;

  // Creates (or truncates) the file at `path`.
  bool Create(const std::string& path);
  bool IsOpen() const { return m_fd >= 0; }

  // A whole entry: its stored form (deflated or not) and CRC are known.
  bool AddWhole(const ZipEntryFields& fields, const char* data, size_t size);

  // An entry whose data follows in pieces (WriteData); EndEntry gives its
  // CRC and size, and the compressed size is what was written;
  // `centralExtra` is added to the entry's central record. An entry whose
  // data may reach 4 GiB must be begun with `fields.zip64`.
  bool BeginEntry(const ZipEntryFields& fields);
  bool WriteData(const char* data, size_t size);
  bool EndEntry(uint32_t crc, uint64_t size, const std::string& centralExtra = {});
  // Gives up the entry begun: the file is no longer a usable archive.
  void AbortEntry();

  // Appends an entry copied from another archive (see the class comment).
  bool AddCopied(const ZipCopiedEntry& entry);

  // Writes the directory and the end records and closes the file. The file
  // is complete only when this returns true.
  bool Finish();
  // Closes the file without finishing it.
  void Abandon();

  // Polled while large runs are copied; a set flag fails the copy.
  void SetCancelFlag(const std::atomic<bool>* cancel) { m_cancel = cancel; }

  const std::string& Error() const { return m_error; }
  bool Failed() const { return !m_error.empty(); }
  uint64_t EntryCount() const { return m_entries; }
  // Where the next byte goes (runs still pending count as written).
  uint64_t Position() const;
  uint64_t BlockSize() const { return m_block; }

 private:
  struct Run {
    bool active = false;
    int fd = -1;
    uint64_t newStart = 0;     // where the first entry's header goes
    uint64_t headerAt = 0;     // the first entry's header in the other archive
    uint64_t dataAt = 0;       // the first entry's data there
    uint64_t end = 0;          // where the run's last data ends there
    bool verbatim = false;     // the first header is copied as it is
    std::string header;        // else: the header written for it
    ZipEntryFields first;      // the first entry, to pad its header
    bool settled = false;      // the first header is final (see SettleRun)
    size_t directoryFrom = 0;  // the records that may still move, in m_directory
  };

  bool Fail(std::string what);
  bool Emit(const char* data, size_t size);
  bool Flush();
  bool FlushRun();
  void SettleRun();
  bool CopyRange(int fd, uint64_t from, uint64_t size);
  bool EmitFrom(int fd, uint64_t from, uint64_t size, const char* what);
  void SpillRecords();
  void AddRecord(const ZipEntryFields& fields, uint64_t headerAt);
  void ShiftRecords(size_t from, uint64_t delta);

  int m_fd = -1;
  std::string m_path;
  uint64_t m_bufferAt = 0;  // where the buffer's first byte goes in the file
  std::vector<char> m_buffer;
  uint64_t m_block = 4096;
  bool m_pad = true;        // runs are padded into place
  std::string m_directory;  // the records not yet set aside
  int m_spill = -1;         // an unnamed scratch file with the records before them
  uint64_t m_spilled = 0;
  uint64_t m_entries = 0;
  // The entry being streamed.
  bool m_inEntry = false;
  uint64_t m_entryHeaderAt = 0;
  uint64_t m_entryDataAt = 0;
  ZipEntryFields m_entry;
  Run m_run;
  std::vector<char> m_copyBuffer;
  const std::atomic<bool>* m_cancel = nullptr;
  std::string m_error;
};

// The local header for an entry, with `padding` bytes of padding field
// (0, or at least 4: the field's own header).
std::string LocalHeaderFor(const ZipEntryFields& fields, size_t padding);

// DOS date and time of a moment, in local time, clamped to 1980..2107.
void DosDateTime(time_t seconds, uint16_t& time, uint16_t& date);

}  // namespace tessarook
