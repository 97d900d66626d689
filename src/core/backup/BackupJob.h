// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "backup/BackupStore.h"
#include "backup/DeflateEngine.h"
#include "backup/FolderWalk.h"
#include "backup/ProgressSink.h"
#include "scheme/SchemeFile.h"
#include "scheme/SchemeFolder.h"

namespace tessarook {

// How a backup job ended.
struct BackupJobResult {
  enum class Status {
    kDone,       // the Backup was written; `skipped` lists what it could not take
    kCancelled,  // stopped by the cancel flag; the partial Backup was deleted
    kFailed,     // the Backup could not be created or completely written; deleted
  };
  Status status = Status::kFailed;
  std::string error;  // why, for kFailed
  std::string backupPath;
  uint64_t filesStored = 0;
  uint64_t archiveSize = 0;  // bytes of the finished Backup file
  std::vector<SkippedFile> skipped;
  // Files that changed while they were read (size, last-write or status-change
  // time, or more or less data than listed). Each is stored as it was read,
  // its entry in itself consistent, but it may not match the file at any one
  // moment.
  std::vector<std::string> changed;
  // The earlier Backup whose entries were copied for unchanged files ("" for
  // none), and how many files were copied from it without being read.
  std::string parent;
  uint64_t filesReused = 0;
};

// Takes one Backup of a Scheme. The job holds its own copy of the Scheme's
// lists, so the document may change while the job runs on a worker thread.
//
// Run: creates the Backups folder, writes the ZIP under a hidden temporary name,
// collects every path first (the single files in order, then each folder's
// walk with its excluded extensions), then adds file after file, polling the
// cancel flag before each one, writes the manifest and closes the archive.
// A file that has not changed since the newest complete Backup of the Scheme
// was taken (see CParentBackup) is not read: its entry is copied from there.
// A file that cannot be read is skipped and listed in the result. A failure
// of the archive itself (create, write, close, e.g. a full disk) and a
// cancel both delete the partial file; only a complete archive replaces an
// old Backup of the same name.
class CBackupJob {
 public:
  CBackupJob(std::vector<CSchemeFile> files, std::vector<CSchemeFolder> folders);

  // How many workers read and compress files: 0 (the default) for one per
  // core. The Backup is the same whatever the number.
  void SetJobs(unsigned jobs) { m_jobs = jobs; }

  // Reads and compresses every file, copying nothing from an earlier Backup.
  void SetReread(bool reread) { m_reread = reread; }

  // The deflate level of the files read (1 fastest .. 9 smallest; default
  // kDeflateLevel). Entries copied from an earlier Backup keep their bytes.
  void SetLevel(int level) { m_level = ClampDeflateLevel(level); }

  // The file list the job would take now (single files first, then the folder
  // walks), with the folders it could not read in `skipped`. With
  // `identities`, each file's identity at listing time (its size among it)
  // goes there, in step with the list.
  std::vector<std::string> CollectFiles(std::vector<SkippedFile>& skipped,
                                        const std::atomic<bool>* cancel = nullptr,
                                        std::vector<SourceIdentity>* identities = nullptr) const;

  // Writes the Backup to `backupPath`. `sink` may be null; it is called on the
  // thread that calls Run, with file counts and with the bytes read of the
  // listed files' total size (also inside a large file, about every MiB).
  //
  // Only one Backup of a name is written at a time: a caller that holds the
  // name's lock (to check for an existing Backup under it, or after waiting
  // for another writer) passes it as `held`; otherwise Run takes the lock
  // itself and, when another writer holds it, fails at once with
  // kBackupBeingWrittenText.
  BackupJobResult Run(const std::string& backupPath, const std::atomic<bool>& cancel,
                      IProgressSink* sink, const CBackupNameLock* held = nullptr) const;

 private:
  std::vector<CSchemeFile> m_files;
  std::vector<CSchemeFolder> m_folders;
  unsigned m_jobs = 0;
  bool m_reread = false;
  int m_level = kDeflateLevel;
};

}  // namespace tessarook
