// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace tessarook {

// Writes a file so that nothing half-written ever replaces good data: the
// bytes go to a temporary file in the same folder, which is flushed to disk
// and renamed over `path`. On any failure the temporary file is removed, the
// old file (if any) is left intact and the result is false. A new file gets
// `newMode` (kUmaskMode: 0666 minus the umask); an existing file keeps its
// permission bits, and its owner and group where the process may give them.
//
// An existing file the user may not write is not replaced (the rename alone
// would allow it): the write fails with errno EACCES. For root, who may write
// anything, a file without any write permission bit counts as read-only.
inline constexpr unsigned kUmaskMode = ~0u;
bool WriteFileAtomic(const std::string& path, std::string_view bytes,
                     unsigned newMode = kUmaskMode);

// The same for data written in pieces (large or streamed output):
//
//   CAtomicFile out;
//   if (!out.Open(path)) ...;
//   out.Write(chunk) ...;          // as often as needed
//   if (!out.Commit()) ...;        // flush, rename over `path`
//
// Destroying the object (or calling Abort) before Commit removes the
// temporary file and leaves `path` untouched. A failed Write makes Commit fail.
class CAtomicFile {
 public:
  CAtomicFile() = default;
  ~CAtomicFile();
  CAtomicFile(const CAtomicFile&) = delete;
  CAtomicFile& operator=(const CAtomicFile&) = delete;

  bool Open(const std::string& path, unsigned newMode = kUmaskMode);
  bool Write(std::string_view bytes);
  bool Commit();
  void Abort();

  bool IsOpen() const { return fd_ >= 0; }
  // The temporary file's path while open (empty otherwise).
  const std::string& TempPath() const { return temp_; }

 private:
  int fd_ = -1;
  bool failed_ = false;
  std::string path_;
  std::string temp_;
};

}  // namespace tessarook
