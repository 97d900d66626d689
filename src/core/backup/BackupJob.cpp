// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/BackupJob.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <future>
#include <optional>

#include "backup/BackupArchive.h"
#include "backup/ByteMeter.h"
#include "backup/DeflateEngine.h"
#include "backup/ParentBackup.h"
#include "util/OpenBeneath.h"
#include "util/PartialFiles.h"
#include "util/PrivateFiles.h"
#include "util/TaskPool.h"

namespace tessarook {

namespace {

// The archive is written under a hidden name beside the Backup and renamed over
// it only when complete, so an old Backup of the same name survives a cancel or
// a failure (a full disk, say) of its replacement.
std::string PartialPathFor(const std::string& backupPath) {
  const size_t slash = backupPath.rfind('/');
  const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  return backupPath.substr(0, nameAt) + "." + backupPath.substr(nameAt) + "." +
         std::to_string(::getpid()) + ".partial";
}

BackupJobResult Finish(BackupJobResult result, CBackupArchive& archive,
                       const std::string& partialPath, BackupJobResult::Status status,
                       std::string error = {}) {
  archive.Close();
  ::unlink(partialPath.c_str());
  result.status = status;
  result.error = std::move(error);
  result.filesStored = 0;
  return result;
}

// Takes the lock on the Backup's name unless the caller already holds it.
// False when the Backup cannot be written now; `result` then says why.
bool HoldName(CBackupNameLock& ownLock, const CBackupNameLock* held, const std::string& backupPath,
              const std::atomic<bool>& cancel, BackupJobResult& result) {
  if (held && held->HoldsFor(backupPath)) return true;
  switch (ownLock.Acquire(backupPath, false, &cancel, &result.error)) {
    case CBackupNameLock::Outcome::kHeld:
      break;
    case CBackupNameLock::Outcome::kBusy:
      result.error = kBackupBeingWrittenText;
      return false;
    case CBackupNameLock::Outcome::kCancelled:
      result.status = BackupJobResult::Status::kCancelled;
      return false;
    case CBackupNameLock::Outcome::kFailed:
      return false;
  }
  return true;
}

// Makes sure the Backup's folder exists and clears it of what killed Backups
// left there. False, with the reason in `result`, when the folder cannot be
// made.
bool PrepareFolder(const std::string& backupPath, BackupJobResult& result) {
  const size_t slash = backupPath.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    // Usually there already. One that cannot be made is the real cause of the
    // failure, not the file that would have been written into it.
    const std::string folder = backupPath.substr(0, slash);
    if (!MakePrivateFolder(folder)) {
      result.error = "cannot create the folder " + folder + ": " + std::strerror(errno);
      return false;
    }
  }
  // What killed Backups left here goes now; the partial of this one is held
  // locked while it is written, so that no other sweep takes it for stale.
  RemoveStalePartials(slash == std::string::npos ? "." : backupPath.substr(0, slash + 1));
  return true;
}

// The partial file's locked descriptor, held while the Backup is written.
struct HeldPartial {
  int fd;
  ~HeldPartial() {
    if (fd >= 0) ::close(fd);
  }
};

// What the steps that write the entries share: the files to take, and the
// archive, meter and workers that take them.
struct BackupRun {
  const std::string& partialPath;
  const std::atomic<bool>& cancel;
  IProgressSink* sink;
  int level;
  BackupJobResult& result;
  CBackupArchive& archive;
  CByteMeter& bytes;
  CParentBackup& parent;
  CTaskPool& pool;
  const std::vector<std::string>& list;
  const std::vector<SourceIdentity>& listed;
};

// One file queued ahead of the writer: either the parent's entry to copy, or
// the worker's result of opening (and, when small, compressing) the file.
struct Ahead {
  bool copied = false;
  ZipCopiedEntry copy;
  std::future<PreparedFile> file;
  uint64_t cost = 0;
};

// The files queued ahead of the writer. What waits ahead is bounded in count
// and in bytes (kAheadBytesPerWorker per worker), on top of what each worker
// holds while it works (see DeflateEngine.h).
struct AheadQueue {
  explicit AheadQueue(const CTaskPool& pool)
      : maxAhead(kAheadFilesPerWorker * pool.Size()),
        maxAheadBytes(kAheadBytesPerWorker * pool.Size()) {}

  // Queues files in list order until the bounds are reached. A file
  // unchanged since the parent was taken is not opened: its entry is copied
  // from there. Its identity is the one it had when it was listed; looking
  // costs one read of the parent, done here as the file is queued. Any other
  // file is opened (and, when small, read and compressed) by a worker.
  void Fill(BackupRun& run) {
    const std::vector<std::string>& list = run.list;
    const std::vector<SourceIdentity>& listed = run.listed;
    auto unchanged = [&](size_t i, ZipCopiedEntry& copy) {
      return run.parent.IsOpen() && i < listed.size() && listed[i].inode != 0 &&
             run.parent.Find(list[i], listed[i], copy);
    };
    auto costOf = [&](size_t i) {
      return std::min<uint64_t>(i < listed.size() ? listed[i].size : 0, kWholeFileLimit) + 4096;
    };
    while (posted < list.size() && ahead.size() < maxAhead &&
           (ahead.empty() || aheadBytes + costOf(posted) <= maxAheadBytes)) {
      const std::string& next = list[posted];
      Ahead item;
      // A path the manifest cannot hold is refused without being read.
      const bool read = ManifestCanHold(next);
      item.copied = read && unchanged(posted, item.copy);
      if (!item.copied) {
        item.cost = costOf(posted);
        item.file = run.pool.Post([&next, &cancel = run.cancel, read, level = run.level] {
          return read && !cancel.load() ? PrepareFile(next, level) : PreparedFile{};
        });
      }
      ++posted;
      aheadBytes += item.cost;
      ahead.push_back(std::move(item));
    }
  }

  // The next file in list order.
  Ahead Take() {
    Ahead file = std::move(ahead.front());
    aheadBytes -= file.cost;
    ahead.pop_front();
    return file;
  }

  const size_t maxAhead;
  const uint64_t maxAheadBytes;
  std::deque<Ahead> ahead;
  uint64_t aheadBytes = 0;
  size_t posted = 0;
};

// Adds one file to the archive: its copied entry, or else what was read of
// it. A file that cannot be taken is listed as skipped. Returns the ended
// result when the archive broke (or a cancel stopped it).
std::optional<BackupJobResult> AddEntry(BackupRun& run, const std::string& path, Ahead& file) {
  CBackupArchive& archive = run.archive;
  BackupJobResult& result = run.result;
  bool added = false;
  if (file.copied) {
    added = archive.AddCopiedBackupFile(path, file.copy);
    if (added) ++result.filesReused;
  }
  // A copy that could not be added (the archive still sound) reads the
  // file after all.
  if (!added && !archive.IsBroken())
    added = archive.AddPreparedBackupFile(
        path, file.copied ? PrepareFile(path, run.level) : file.file.get(), &run.pool);
  if (!added) {
    if (archive.IsBroken()) {
      if (run.cancel.load())
        return Finish(std::move(result), archive, run.partialPath,
                      BackupJobResult::Status::kCancelled);
      const std::string why = archive.LastError();
      return Finish(std::move(result), archive, run.partialPath, BackupJobResult::Status::kFailed,
                    path + ": " + why);
    }
    result.skipped.push_back({path, ManifestCanHold(path)
                                        ? archive.LastError()
                                        : "its name cannot be recorded in a Backup"});
  } else if (archive.LastFileChanged()) {
    result.changed.push_back(path);
  }
  return std::nullopt;
}

// Writes the entries of every listed file, in list order. Workers open the
// files ahead of the writer, and read and compress the small ones whole;
// this thread writes the entries and has the pieces of large files deflated
// on the same workers. Returns the ended result when a cancel or a broken
// archive stopped it.
std::optional<BackupJobResult> WriteEntries(BackupRun& run) {
  uint64_t done = 0;
  const uint64_t total = run.list.size();
  AheadQueue queue(run.pool);
  for (const std::string& path : run.list) {
    queue.Fill(run);
    Ahead file = queue.Take();
    if (run.cancel.load())
      return Finish(std::move(run.result), run.archive, run.partialPath,
                    BackupJobResult::Status::kCancelled);
    if (std::optional<BackupJobResult> ended = AddEntry(run, path, file)) return ended;
    ++done;
    run.bytes.Flush();
    if (run.sink) run.sink->OnProgress(done, total);
  }
  return std::nullopt;
}

// Writes the manifest, closes the archive and renames the partial file over
// the Backup's name.
BackupJobResult Complete(BackupJobResult result, CBackupArchive& archive,
                         const std::string& partialPath, int partialFd,
                         const std::string& backupPath) {
  result.filesStored = archive.paths.size();
  const bool manifestWritten = archive.WriteManifest();
  const std::string manifestError = archive.LastError();
  if (!manifestWritten)
    return Finish(std::move(result), archive, partialPath, BackupJobResult::Status::kFailed,
                  manifestError);
  if (archive.Close() != 0) {
    const std::string why = archive.LastError();
    return Finish(std::move(result), archive, partialPath, BackupJobResult::Status::kFailed, why);
  }
  // Private, unless it replaces a Backup whose mode the user chose.
  ::fchmod(partialFd, ModeForReplacing(backupPath));
  if (::rename(partialPath.c_str(), backupPath.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(partialPath.c_str());
    result.status = BackupJobResult::Status::kFailed;
    result.error = why;
    result.filesStored = 0;
    return result;
  }
  struct stat st {};
  if (stat(backupPath.c_str(), &st) == 0) result.archiveSize = static_cast<uint64_t>(st.st_size);
  result.status = BackupJobResult::Status::kDone;
  return result;
}

}  // namespace

CBackupJob::CBackupJob(std::vector<CSchemeFile> files, std::vector<CSchemeFolder> folders)
    : m_files(std::move(files)), m_folders(std::move(folders)) {}

std::vector<std::string> CBackupJob::CollectFiles(std::vector<SkippedFile>& skipped,
                                                  const std::atomic<bool>* cancel,
                                                  std::vector<SourceIdentity>* identities) const {
  std::vector<std::string> list;
  list.reserve(m_files.size());
  for (const CSchemeFile& f : m_files) {
    list.push_back(f.m_path);
    if (identities) identities->push_back(ListedFileIdentity(f.m_path));
  }
  for (const CSchemeFolder& folder : m_folders)
    if (!WalkFolder(folder.m_path, folder.m_excludedExtensions, list, skipped, cancel, identities))
      break;
  return list;
}

BackupJobResult CBackupJob::Run(const std::string& backupPath, const std::atomic<bool>& cancel,
                                IProgressSink* sink, const CBackupNameLock* held) const {
  BackupJobResult result;
  result.backupPath = backupPath;

  CBackupNameLock ownLock;
  if (!HoldName(ownLock, held, backupPath, cancel, result)) return result;

  // An old Backup of this name is replaced (the caller has asked about it),
  // but only once the new one is complete.
  const std::string partialPath = PartialPathFor(backupPath);
  if (!PrepareFolder(backupPath, result)) return result;
  HeldPartial partialLock{OpenLockedPartial(partialPath, false, kPrivateFileMode)};
  if (partialLock.fd < 0) {
    result.error = "cannot create " + partialPath + ": " + std::strerror(errno);
    return result;
  }

  // The earlier Backup unchanged files are copied from, chosen before this
  // one starts: an old Backup of this very name may be it.
  CParentBackup parent;
  if (!m_reread && parent.Choose(FolderOf(backupPath), backupPath)) result.parent = parent.Path();

  CByteMeter bytes(sink);
  CBackupArchive archive;
  if (!archive.Create(partialPath)) {
    result.error = archive.LastError();
    return result;
  }
  archive.SetCancelFlag(&cancel);
  archive.SetLevel(m_level);
  archive.SetDataObserver([&bytes](uint64_t n) { bytes.Add(n); });

  std::vector<SourceIdentity> listed;
  const std::vector<std::string> list = CollectFiles(result.skipped, &cancel, &listed);
  if (sink) sink->OnProgress(0, list.size());
  uint64_t totalBytes = 0;
  for (const SourceIdentity& file : listed) totalBytes += file.size;
  bytes.Start(totalBytes);

  // The workers refer to paths of `list`: the pool comes after it, so that
  // they are joined before it goes.
  CTaskPool pool(m_jobs);
  BackupRun run{partialPath, cancel, sink, m_level, result, archive,
                bytes,       parent, pool, list,    listed};
  if (std::optional<BackupJobResult> ended = WriteEntries(run)) return std::move(*ended);
  if (cancel.load())
    return Finish(std::move(result), archive, partialPath, BackupJobResult::Status::kCancelled);
  return Complete(std::move(result), archive, partialPath, partialLock.fd, backupPath);
}

}  // namespace tessarook
