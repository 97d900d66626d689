// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Compressed Scheme (.csm) file: one Scheme with its scheme file and every
// file of its Backups folder, as a plain sequence of length-prefixed fields.
//
//   u32 N, N bytes name          the Scheme's name (scheme file name without ".tsbak")
//   u32 L, L bytes scheme data   the scheme file, unchanged
//   u32 C                        number of file records
//   C x { u32 n, n bytes file name, u32 d, d bytes data }
//
// Integers are unsigned 32-bit little-endian; there is no header, checksum or end
// marker, the file ends after the last record. Nothing is compressed: Backups are
// ZIP files already and are carried byte for byte.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessarook {

inline constexpr std::string_view kCsmExtension = ".csm";

// Largest size of one carried piece of data (the scheme file or a Backups file).
inline constexpr uint64_t kCsmMaxDataBytes = 0xFFFFFFFFull;

// Longest name the reader accepts (a longer one cannot be a file name here).
inline constexpr uint32_t kCsmMaxNameBytes = 255;

// Smallest possible file record: a 4-byte name length, a 1-byte name, a 4-byte data length.
inline constexpr uint64_t kCsmMinRecordBytes = 9;

// True when the name can travel in a .csm and be used as a file name on import:
// not empty, not "." or "..", at most kCsmMaxNameBytes bytes, and free of what no
// name may hold (HasForbiddenNameChar: \ / : * ? " < > | and control characters).
bool IsCarriableName(std::string_view name);

void PutU32(unsigned char* out, uint32_t value);
uint32_t GetU32(const unsigned char* in);

enum class ExportResult {
  kDone,              // the .csm is complete at the target path
  kStopped,           // the stop flag was seen; no target file was left
  kCannotCreate,      // the target file could not be created
  kCannotReadSource,  // the Scheme's scheme file could not be opened
  kFileTooLarge,      // the scheme file or a Backups file is 4 GiB or larger; nothing written
  kBadName,           // the Scheme's name could not be read back on import; nothing written
  kWriteFailed,       // writing the target failed (disk full, I/O error); no target left
};

enum class ImportResult {
  kDone,                // the Scheme and its Backups are in the My Schemes folder
  kStopped,             // the stop flag was seen; nothing of the import was left
  kCannotOpen,          // the .csm file could not be opened
  kCannotCreateScheme,  // the scheme file (or its data) could not be written; nothing changed
  kDamaged,             // malformed or truncated .csm; nothing changed
};

// The result code the export worker ends with: 0 finished or stopped, 1 the target could
// not be created or written, 2 the source Scheme could not be read.
int ExportExitCode(ExportResult result);
// 0 finished or stopped, 1 the .csm could not be opened or read, 2 the Scheme could not be
// created.
int ImportExitCode(ImportResult result);

// The text to show the user (caption "Error", warning icon), or nullptr when the
// result is not an error.
const char* ExportMessage(ExportResult result);
const char* ImportMessage(ImportResult result);

}  // namespace tessarook
