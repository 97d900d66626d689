// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A file descriptor owned by one object, with the few whole-buffer operations the
// .csm writer and reader need.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessarook {

class CRawFile {
 public:
  CRawFile() = default;
  ~CRawFile();
  CRawFile(const CRawFile&) = delete;
  CRawFile& operator=(const CRawFile&) = delete;

  // Opens for reading. Refuses anything but a regular file (a FIFO or device could
  // block for ever, a folder cannot be read); the size is taken at opening.
  bool OpenRead(const std::string& path);
  // Creates a new file for writing; fails when anything exists at the path.
  bool CreateNew(const std::string& path);
  // The same for a partial file (see util/PartialFiles.h): its flock is held
  // while the file is open.
  bool CreatePartial(const std::string& path);
  // Creates or truncates a regular file for writing.
  bool CreateTruncate(const std::string& path);

  bool IsOpen() const { return m_fd >= 0; }
  int Fd() const { return m_fd; }
  uint64_t Size() const { return m_size; }

  // Reads exactly `size` bytes at `offset`; false on error or end of file.
  bool ReadAt(void* data, size_t size, uint64_t offset) const;
  // Writes all bytes at the current position.
  bool WriteAll(const void* data, size_t size);
  // Writes all bytes at `offset` without moving the current position.
  bool WriteAt(const void* data, size_t size, uint64_t offset);

  // Cuts the file at `offset` and continues writing there.
  bool TruncateTo(uint64_t offset);

  // Closes the file; false when the close reported an error (data may be lost).
  bool Close();

 private:
  int m_fd = -1;
  uint64_t m_size = 0;
};

}  // namespace tessarook
