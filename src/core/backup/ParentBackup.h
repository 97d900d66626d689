// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backup/BackupArchive.h"
#include "backup/BackupRecords.h"
#include "backup/ZipWriter.h"

namespace tessarook {

// The earlier Backup of a Scheme that a new Backup copies unchanged files
// from: the newest complete one by taken time. A file whose identity now
// (device, inode, size, last-write and status-change times) equals the one
// recorded for the same source path there is not opened: its entry is
// copied, data, CRC and sizes as they are.
//
// Whatever is doubtful is read again: a Backup that another writer holds
// the name of, one without a taken record or taken on another machine, one
// whose manifest or directory is damaged or whose entries are not "0" .. "n-1"
// and "list.txt" in order cannot be the parent; a file without a recorded
// identity, with any field different, or whose entry's local header does
// not agree with its central record or runs into the directory is read.
//
// The parent is read through one open file, so renaming or deleting it
// while a Backup runs changes nothing for that Backup. Memory: the parent's
// manifest and directory, about 200 bytes a file.
class CParentBackup {
 public:
  // Opens the newest Backup in `folder` that can be the parent of the
  // Backup written to `ownPath` (whose name's lock the caller holds; an old
  // Backup of that name may still be the parent, as it is read before the
  // new one replaces it). False when there is none; `why` then says why the
  // newest candidate, if any, was refused.
  bool Choose(const std::string& folder, const std::string& ownPath, std::string* why = nullptr);

  // Opens the Backup at `path` as the parent; false (with `why`) when it
  // cannot be one.
  bool Open(const std::string& path, std::string& why);

  bool IsOpen() const { return m_archive.IsReading(); }
  const std::string& Path() const { return m_path; }

  // The entry of `sourcePath` ready to be copied (CZipWriter::AddCopied),
  // when the identity it records equals `now` and its headers agree. Only
  // reads the parent at given offsets: safe on several threads at once.
  bool Find(const std::string& sourcePath, const SourceIdentity& now, ZipCopiedEntry& out) const;

 private:
  CBackupArchive m_archive;
  std::string m_path;
  std::vector<uint32_t> m_byPath;  // positions sorted by path
};

}  // namespace tessarook
