// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The records a Backup keeps for itself inside its ZIP, in a private extra
// field of the central directory. Standard readers skip extra fields whose
// tag they do not know, so the archive stays a plain ZIP for them.
//
// The field: tag kPrivateTag, then its data:
//   byte 0      format version (kRecordVersion); a field of another version
//               is ignored, as if it were not there
//   byte 1      kind: 1 = source identity, 2 = taken record
//   kind 1 (on every entry of a file whose identity was settled when it was
//   read), little-endian:
//     device u64, inode u64, size u64, last-write time i64 (ns since 1970),
//     status-change time i64 (ns)
//   kind 2 (on the manifest entry, see BackupArchive.h):
//     taken time i64 (ns since 1970), machine identity (16 bytes)
//
// Local headers may hold a second private field, tag kPaddingTag, whose data
// is zeros: it places the entry's data at a chosen offset in the file (see
// CZipWriter).

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessarook {

inline constexpr uint16_t kPrivateTag = 0x7254;  // "Tr"
inline constexpr uint16_t kPaddingTag = 0x7054;  // "Tp"
inline constexpr unsigned char kRecordVersion = 1;

// What tells one version of a source file from another without reading it:
// a new file, a rename over it, a write or a change of its attributes all
// change at least one of these.
struct SourceIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;
  friend bool operator==(const SourceIdentity&, const SourceIdentity&) = default;
};

SourceIdentity IdentityOf(const struct stat& st);

using MachineId = std::array<unsigned char, 16>;

// This machine: /etc/machine-id (or D-Bus's copy of it), else its host name.
const MachineId& ThisMachine();

// When and where a Backup was taken.
struct TakenRecord {
  int64_t takenNs = 0;
  MachineId machine{};
};

// The whole extra field (tag, length, data) for a record.
std::string IdentityField(const SourceIdentity& identity);
std::string TakenField(const TakenRecord& taken);

// Reads the data of a kPrivateTag field. Fills whichever record it holds and
// says which; kNone for a field of another version or kind, or a short one.
enum class RecordKind { kNone, kIdentity, kTaken };
RecordKind ParsePrivateField(const unsigned char* data, size_t size, SourceIdentity& identity,
                             TakenRecord& taken);

// Nanoseconds since 1970 of a time stamp.
inline int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

}  // namespace tessarook
