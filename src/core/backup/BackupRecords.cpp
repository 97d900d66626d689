// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/BackupRecords.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "backup/ZipBytes.h"

namespace tessarook {

namespace {

constexpr unsigned char kKindIdentity = 1;
constexpr unsigned char kKindTaken = 2;
constexpr size_t kIdentityBytes = 2 + 5 * 8;
constexpr size_t kTakenBytes = 2 + 8 + 16;

using zipbytes::Put;

std::string FieldHeader(unsigned char kind, size_t size) {
  std::string out;
  Put(out, kPrivateTag, 2);
  Put(out, size, 2);
  out.push_back(static_cast<char>(kRecordVersion));
  out.push_back(static_cast<char>(kind));
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadMachineIdFile(const char* path, MachineId& out) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text) || text.size() != 32) return false;
  for (size_t i = 0; i < out.size(); ++i) {
    const int hi = HexValue(text[2 * i]);
    const int lo = HexValue(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<unsigned char>(hi * 16 + lo);
  }
  return true;
}

MachineId FindThisMachine() {
  MachineId id{};
  if (ReadMachineIdFile("/etc/machine-id", id) || ReadMachineIdFile("/var/lib/dbus/machine-id", id))
    return id;
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::memcpy(id.data(), host, std::min(id.size(), std::strlen(host)));
  return id;
}

}  // namespace

SourceIdentity IdentityOf(const struct stat& st) {
  SourceIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
  id.mtimeNs = Nanoseconds(st.st_mtim);
  id.ctimeNs = Nanoseconds(st.st_ctim);
  return id;
}

const MachineId& ThisMachine() {
  static const MachineId id = FindThisMachine();
  return id;
}

std::string IdentityField(const SourceIdentity& identity) {
  std::string out = FieldHeader(kKindIdentity, kIdentityBytes);
  Put(out, identity.device, 8);
  Put(out, identity.inode, 8);
  Put(out, identity.size, 8);
  Put(out, static_cast<uint64_t>(identity.mtimeNs), 8);
  Put(out, static_cast<uint64_t>(identity.ctimeNs), 8);
  return out;
}

std::string TakenField(const TakenRecord& taken) {
  std::string out = FieldHeader(kKindTaken, kTakenBytes);
  Put(out, static_cast<uint64_t>(taken.takenNs), 8);
  out.append(reinterpret_cast<const char*>(taken.machine.data()), taken.machine.size());
  return out;
}

RecordKind ParsePrivateField(const unsigned char* data, size_t size, SourceIdentity& identity,
                             TakenRecord& taken) {
  if (size < 2 || data[0] != kRecordVersion) return RecordKind::kNone;
  if (data[1] == kKindIdentity && size >= kIdentityBytes) {
    const unsigned char* p = data + 2;
    identity.device = zipbytes::Get(p, 8);
    identity.inode = zipbytes::Get(p + 8, 8);
    identity.size = zipbytes::Get(p + 16, 8);
    identity.mtimeNs = static_cast<int64_t>(zipbytes::Get(p + 24, 8));
    identity.ctimeNs = static_cast<int64_t>(zipbytes::Get(p + 32, 8));
    return RecordKind::kIdentity;
  }
  if (data[1] == kKindTaken && size >= kTakenBytes) {
    taken.takenNs = static_cast<int64_t>(zipbytes::Get(data + 2, 8));
    std::memcpy(taken.machine.data(), data + 10, taken.machine.size());
    return RecordKind::kTaken;
  }
  return RecordKind::kNone;
}

}  // namespace tessarook
