// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>
#include <utility>

#include "../util/DeadProcess.h"
#include "BackupTestSupport.h"
#include "backup/BackupArchive.h"
#include "backup/BackupJob.h"
#include "backup/BackupStore.h"
#include "backup/BackupVerifier.h"
#include "backup/RestoreJob.h"
#include "util/PartialFiles.h"

using namespace backup_test;
using tessarook::BackupJobResult;
using tessarook::CBackupArchive;
using tessarook::CBackupJob;
using tessarook::CSchemeFile;
using tessarook::CSchemeFolder;
using Status = tessarook::BackupJobResult::Status;

namespace {

struct Recorder : tessarook::IProgressSink {
  std::vector<std::pair<uint64_t, uint64_t>> calls;
  std::atomic<bool>* cancelAt = nullptr;
  uint64_t cancelAfter = 0;
  void OnProgress(uint64_t done, uint64_t total) override {
    calls.emplace_back(done, total);
    if (cancelAt && done >= cancelAfter) cancelAt->store(true);
  }
};

CSchemeFolder Folder(const std::string& path, std::vector<std::string> excluded = {}) {
  CSchemeFolder f(path);
  f.m_excludedExtensions = std::move(excluded);
  return f;
}

// The manifest of a written Backup, read by Python's zipfile (which also
// checks every CRC): the source paths in order.
std::vector<std::string> PythonManifest(const std::string& zip, const TempDir& dir) {
  const RunResult r = PythonExtract(zip, dir / "py-manifest");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(UnzipAccepts(zip));
  const std::string text = ReadFile(dir / "py-manifest/list.txt");
  std::vector<std::string> out = tessarook::ParseManifest(text);
  EXPECT_EQ(tessarook::BuildManifest(out), text);  // the exact bytes the writer makes
  fs::remove_all(dir / "py-manifest");
  return out;
}

}  // namespace

TEST(BackupJob, WalkAppliesExcludedExtensionsAtEveryDepth) {
  TempDir dir;
  const std::string src = dir / "src";
  for (const char* name : {"a.TXT", "b.txt", "c.doc", "txt", "deep/d.Txt", "deep/e.doc",
                           "arch.tar.gz", "keep.tar.gz.bak", ".txt"})
    WriteFile(src + "/" + name, name);
  std::vector<tessarook::SkippedFile> skipped;
  auto collect = [&](std::vector<std::string> excluded) {
    CBackupJob job({}, {Folder(src, std::move(excluded))});
    auto list = job.CollectFiles(skipped);
    std::vector<std::string> rel;
    for (auto& p : list) rel.push_back(p.substr(src.size() + 1));
    std::sort(rel.begin(), rel.end());
    return rel;
  };
  EXPECT_EQ(collect({"txt"}),
            (std::vector<std::string>{"arch.tar.gz", "c.doc", "deep/e.doc", "keep.tar.gz.bak"}));
  EXPECT_EQ(collect({"gz", "BAK"}), (std::vector<std::string>{".txt", "a.TXT", "b.txt", "c.doc",
                                                              "deep/d.Txt", "deep/e.doc", "txt"}));
  // Only the part after the last dot counts: "tar.gz" excludes nothing.
  EXPECT_EQ(collect({"tar.gz"}).size(), 9u);
  EXPECT_TRUE(skipped.empty());
}

TEST(BackupJob, WalkIsDepthFirstAndSkipsSpecialFilesAndFolderLinks) {
  TempDir dir;
  const std::string src = dir / "src";
  WriteFile(src + "/sub/inner/file.txt", "x");
  WriteFile(src + "/target.txt", "target");
  ASSERT_EQ(mkfifo((src + "/pipe").c_str(), 0600), 0);
  ASSERT_EQ(symlink(src.c_str(), (src + "/sub/loop").c_str()), 0);   // a cycle
  ASSERT_EQ(symlink("target.txt", (src + "/link.txt").c_str()), 0);  // link to a file
  ASSERT_EQ(symlink("nowhere", (src + "/dangling").c_str()), 0);
  std::vector<tessarook::SkippedFile> skipped;
  CBackupJob job({}, {Folder(src)});
  auto list = job.CollectFiles(skipped);
  std::sort(list.begin(), list.end());
  EXPECT_EQ(list, (std::vector<std::string>{src + "/link.txt", src + "/sub/inner/file.txt",
                                            src + "/target.txt"}));
  EXPECT_TRUE(skipped.empty());

  // The whole job with the FIFO present finishes (nothing waits on the pipe).
  std::atomic<bool> cancel{false};
  const auto result = job.Run(dir / "out/b.zip", cancel, nullptr);
  EXPECT_EQ(result.status, Status::kDone);
  EXPECT_EQ(result.filesStored, 3u);
}

TEST(BackupJob, SingleFilesComeFirstAndMissingOnesAreReported) {
  TempDir dir;
  WriteFile(dir / "one.txt", "one");
  WriteFile(dir / "folder/two.txt", "two");
  CBackupJob job(
      {CSchemeFile(dir / "one.txt"), CSchemeFile(dir / "gone.txt"), CSchemeFile(dir / "one.txt")},
      {Folder(dir / "folder"), Folder(dir / "no-such-folder")});
  std::atomic<bool> cancel{false};
  Recorder progress;
  const auto result = job.Run(dir / "S.tsbak.backups/b.zip", cancel, &progress);
  ASSERT_EQ(result.status, Status::kDone);
  EXPECT_EQ(result.filesStored, 3u);
  ASSERT_EQ(result.skipped.size(), 2u);
  EXPECT_EQ(result.skipped[0].path, dir / "no-such-folder");
  EXPECT_EQ(result.skipped[1].path, dir / "gone.txt");
  EXPECT_EQ(result.archiveSize, fs::file_size(dir / "S.tsbak.backups/b.zip"));
  // Progress counts every listed file, also the one that could not be added.
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_EQ(progress.calls.front(), std::make_pair(uint64_t{0}, uint64_t{4}));
  EXPECT_EQ(progress.calls.back(), std::make_pair(uint64_t{4}, uint64_t{4}));
  EXPECT_EQ(PythonManifest(dir / "S.tsbak.backups/b.zip", dir),
            (std::vector<std::string>{dir / "one.txt", dir / "one.txt", dir / "folder/two.txt"}));
}

TEST(BackupJob, OnlyAMissingFileGivesAValidEmptyBackup) {
  TempDir dir;
  CBackupJob job({CSchemeFile(dir / "missing")}, {});
  std::atomic<bool> cancel{false};
  const auto result = job.Run(dir / "b.zip", cancel, nullptr);
  ASSERT_EQ(result.status, Status::kDone);
  EXPECT_EQ(result.filesStored, 0u);
  EXPECT_EQ(result.skipped.size(), 1u);
  EXPECT_TRUE(PythonManifest(dir / "b.zip", dir).empty());
}

// Only the Backups folder's own entries: no partial archive may be left behind.
std::vector<std::string> FolderNames(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(BackupJob, CancelRemovesThePartialBackupAndKeepsTheOldOne) {
  TempDir dir;
  for (int i = 0; i < 5; ++i) WriteFile(dir / ("src/f" + std::to_string(i)), "data");
  const std::string older = "an older Backup of this name";
  WriteFile(dir / "b.zip", older);
  CBackupJob job({}, {Folder(dir / "src")});
  const std::vector<std::string> expected = {"b.zip", "src"};
  {
    std::atomic<bool> cancel{true};  // before the first file
    const auto result = job.Run(dir / "b.zip", cancel, nullptr);
    EXPECT_EQ(result.status, Status::kCancelled);
    EXPECT_EQ(ReadFile(dir / "b.zip"), older);
    EXPECT_EQ(FolderNames(dir.str()), expected);
  }
  {
    std::atomic<bool> cancel{false};
    Recorder progress;
    progress.cancelAt = &cancel;
    progress.cancelAfter = 2;
    const auto result = job.Run(dir / "b.zip", cancel, &progress);
    EXPECT_EQ(result.status, Status::kCancelled);
    EXPECT_EQ(ReadFile(dir / "b.zip"), older);
    EXPECT_EQ(FolderNames(dir.str()), expected);
    EXPECT_EQ(progress.calls.back().first, 2u);  // stopped before the third file
  }
  {
    std::atomic<bool> cancel{false};
    ASSERT_EQ(job.Run(dir / "b.zip", cancel, nullptr).status, Status::kDone);
    EXPECT_NE(ReadFile(dir / "b.zip"), older);  // a complete Backup replaces it
    EXPECT_EQ(FolderNames(dir.str()), expected);
  }
}

TEST(BackupJob, JobKeepsItsOwnCopyOfTheLists) {
  TempDir dir;
  WriteFile(dir / "a.txt", "a");
  std::vector<CSchemeFile> files = {CSchemeFile(dir / "a.txt")};
  CBackupJob job(files, {});
  files.clear();
  std::atomic<bool> cancel{false};
  EXPECT_EQ(job.Run(dir / "b.zip", cancel, nullptr).filesStored, 1u);
}

TEST(BackupJob, CreateFailureIsReported) {
  TempDir dir;
  WriteFile(dir / "a.txt", "a");
  CBackupJob job({CSchemeFile(dir / "a.txt")}, {});
  std::atomic<bool> cancel{false};
  const auto result = job.Run(dir / "missing/deeper/b.zip", cancel, nullptr);
  EXPECT_EQ(result.status, Status::kFailed);
  EXPECT_FALSE(result.error.empty());

  // A Backups folder that cannot be made is named with the reason, not the
  // hidden file the Backup would have been written to first.
  WriteFile(dir / "file", "x");
  auto named = job.Run(dir / "file/Home.tsbak.backups/b.zip", cancel, nullptr);
  EXPECT_EQ(named.status, Status::kFailed);
  EXPECT_EQ(named.error, "cannot create the folder " + (dir / "file/Home.tsbak.backups") + ": " +
                             std::strerror(ENOTDIR));
  if (geteuid() == 0) return;  // root may write into any folder
  fs::create_directories(dir / "locked");
  chmod((dir / "locked").c_str(), 0555);
  named = job.Run(dir / "locked/Home.tsbak.backups/b.zip", cancel, nullptr);
  chmod((dir / "locked").c_str(), 0755);
  EXPECT_EQ(named.error, "cannot create the folder " + (dir / "locked/Home.tsbak.backups") + ": " +
                             std::strerror(EACCES));
}

// A full disk, simulated by a file size limit in a child process: the job must
// report failure, leave no partial file behind and keep the Backup it was to replace.
TEST(BackupJob, FullDiskFailsDeletesThePartialBackupAndKeepsTheOldOne) {
  TempDir dir;
  std::string noise(1 << 20, '\0');
  std::mt19937 rng(3);
  for (char& c : noise) c = static_cast<char>(rng());
  for (int i = 0; i < 3; ++i) WriteFile(dir / ("src/n" + std::to_string(i)), noise);
  const std::string zip = dir / "b.zip";
  const std::string older = "an older Backup of this name";
  WriteFile(zip, older);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {1 << 20, 1 << 20};  // the Backup cannot grow past 1 MiB
    setrlimit(RLIMIT_FSIZE, &limit);
    CBackupJob job({}, {Folder(dir / "src")});
    std::atomic<bool> cancel{false};
    const auto result = job.Run(zip, cancel, nullptr);
    _exit(result.status == Status::kFailed && !result.error.empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(zip), older);  // the old Backup survives its failed replacement
  EXPECT_EQ(FolderNames(dir.str()), (std::vector<std::string>{"b.zip", "src"}));
}

TEST(BackupJob, UnreadableFilesAreSkippedAndNamed) {
  TempDir dir;
  WriteFile(dir / "src/open.txt", "open");
  WriteFile(dir / "src/locked.txt", "locked");
  chmod((dir / "src/locked.txt").c_str(), 0);
  const bool lockedIsReadable = geteuid() == 0;  // root reads every file
  // A folder listed as a single file, and a file whose first read fails.
  std::vector<CSchemeFile> files = {CSchemeFile(dir / "src")};
  if (fs::exists("/proc/self/mem")) files.emplace_back("/proc/self/mem");
  CBackupJob job(files, {Folder(dir / "src")});
  std::atomic<bool> cancel{false};
  const auto result = job.Run(dir / "b.zip", cancel, nullptr);
  ASSERT_EQ(result.status, Status::kDone);
  EXPECT_EQ(result.filesStored, lockedIsReadable ? 2u : 1u);
  std::vector<std::string> skipped;
  for (const auto& s : result.skipped) skipped.push_back(s.path);
  std::vector<std::string> expected(files.size());
  for (size_t i = 0; i < files.size(); ++i) expected[i] = files[i].m_path;
  if (!lockedIsReadable) expected.push_back(dir / "src/locked.txt");
  EXPECT_EQ(skipped, expected);
  EXPECT_EQ(PythonManifest(dir / "b.zip", dir).size(), result.filesStored);
}

// Byte progress: taking, restoring and verifying a Backup each report bytes
// growing while one multi-MiB file moves, not only once it is done.
TEST(BackupJob, ByteProgressGrowsInsideALargeFile) {
  struct ByteRecorder : tessarook::IProgressSink {
    std::vector<std::pair<uint64_t, uint64_t>> bytes;
    uint64_t filesDone = 0;
    uint64_t bytesBeforeFirstFile = 0;  // OnBytes calls made while file 0 moved
    void OnProgress(uint64_t done, uint64_t) override {
      if (done == 1 && filesDone == 0) bytesBeforeFirstFile = bytes.size();
      filesDone = done;
    }
    void OnBytes(uint64_t done, uint64_t total) override { bytes.emplace_back(done, total); }
    void ExpectGrowth(uint64_t total, const char* what) {
      SCOPED_TRACE(what);
      ASSERT_FALSE(bytes.empty());
      EXPECT_EQ(bytes.front(), std::make_pair(uint64_t{0}, total));
      EXPECT_EQ(bytes.back(), std::make_pair(total, total));
      for (size_t i = 1; i < bytes.size(); ++i) EXPECT_GT(bytes[i].first, bytes[i - 1].first);
      // At least one report per 2 MiB of the large file, before it was finished.
      EXPECT_GE(bytesBeforeFirstFile, 1 + (8u << 20) / (2u << 20));
    }
  };
  TempDir dir;
  std::string big(8 << 20, '\0');
  std::mt19937 rng(5);
  for (char& c : big) c = static_cast<char>('a' + rng() % 3);
  WriteFile(dir / "src/big", big);
  WriteFile(dir / "src/small", "small");
  const uint64_t total = big.size() + 5;
  CBackupJob job({CSchemeFile(dir / "src/big"), CSchemeFile(dir / "src/small")}, {});
  std::atomic<bool> cancel{false};
  ByteRecorder backup;
  ASSERT_EQ(job.Run(dir / "b.zip", cancel, &backup).status, Status::kDone);
  backup.ExpectGrowth(total, "backup");

  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  std::vector<tessarook::RestoreFailure> refused;
  ByteRecorder restore;
  const auto items = tessarook::CRestoreJob::Plan(archive, {0, 1}, dir / "out", refused);
  EXPECT_EQ(tessarook::CRestoreJob::Run(archive, items, nullptr, &restore).restored.size(), 2u);
  restore.ExpectGrowth(total, "restore");

  ByteRecorder verify;
  EXPECT_TRUE(tessarook::VerifyBackup(dir / "b.zip", nullptr, &verify).faults.empty());
  verify.ExpectGrowth(total, "verify");
}

namespace {

// Changes the listed files while the job reads them: `act` runs at the first
// byte report inside file `index`, i.e. after its first block was stored.
struct ChangeWhileRead : tessarook::IProgressSink {
  std::vector<std::pair<uint64_t, std::function<void()>>> acts;
  uint64_t current = 0;
  void OnProgress(uint64_t done, uint64_t) override { current = done; }
  void OnBytes(uint64_t done, uint64_t) override {
    if (done == 0) return;  // the report before the first file
    for (auto& [index, act] : acts)
      if (index == current && act) std::exchange(act, nullptr)();
  }
};

}  // namespace

TEST(BackupJob, FilesThatChangeWhileReadAreStoredAsReadAndReported) {
  TempDir dir;
  std::string data(4 << 20, '\0');
  std::mt19937 rng(9);
  for (char& c : data) c = static_cast<char>('a' + rng() % 26);
  const std::string shrinks = dir / "src/shrinks", grows = dir / "src/grows",
                    rewritten = dir / "src/rewritten", restamped = dir / "src/restamped";
  WriteFile(dir / "src/steady", "steady");
  WriteFile(shrinks, data);
  WriteFile(grows, data);
  WriteFile(rewritten, data);
  WriteFile(restamped, data);
  // An old last-write time, so that a change now always moves it.
  const struct timespec old[2] = {{0, UTIME_OMIT}, {946684800, 0}};
  for (const std::string& p : {shrinks, grows, rewritten, restamped})
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), old, 0), 0);
  const std::string more(1 << 20, 'm');
  ChangeWhileRead sink;
  sink.acts.emplace_back(1, [&] { fs::resize_file(shrinks, 1536 << 10); });
  sink.acts.emplace_back(2, [&] { std::ofstream(grows, std::ios::app) << more; });
  sink.acts.emplace_back(3, [&] {
    std::fstream f(rewritten, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(3 << 20);
    f << "REWRITTEN";
  });
  // Rewritten in place, then given back its old last-write time, as tools
  // that "keep the time" do: only the status-change time tells.
  sink.acts.emplace_back(5, [&] {
    {
      std::fstream f(restamped, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(3 << 20);
      f << "RESTAMPED";
    }
    ASSERT_EQ(utimensat(AT_FDCWD, restamped.c_str(), old, 0), 0);
  });
  std::vector<CSchemeFile> files;
  for (const char* name : {"steady", "shrinks", "grows", "rewritten", "steady", "restamped"})
    files.emplace_back(dir / ("src/" + std::string(name)));
  // A file the system makes up as it is read has no size; it is not "changed".
  if (fs::exists("/proc/self/status")) files.emplace_back("/proc/self/status");
  CBackupJob job(files, {});
  std::atomic<bool> cancel{false};
  const auto result = job.Run(dir / "b.zip", cancel, &sink);
  ASSERT_EQ(result.status, Status::kDone) << result.error;
  EXPECT_TRUE(result.skipped.empty());
  EXPECT_EQ(result.changed, (std::vector<std::string>{shrinks, grows, rewritten, restamped}));
  // Entry i is still path i, and every entry's data agrees with its CRC and size.
  ASSERT_EQ(result.filesStored, files.size());
  std::vector<std::string> paths;
  for (const auto& f : files) paths.push_back(f.m_path);
  EXPECT_EQ(PythonManifest(dir / "b.zip", dir), paths);
  ASSERT_EQ(PythonExtract(dir / "b.zip", dir / "py").status, 0);
  EXPECT_EQ(ReadFile(dir / "py/0"), "steady");
  EXPECT_EQ(ReadFile(dir / "py/1"), data.substr(0, 1536 << 10));
  EXPECT_EQ(ReadFile(dir / "py/2"), data + more);
  EXPECT_EQ(ReadFile(dir / "py/3"), ReadFile(rewritten));
  EXPECT_EQ(ReadFile(dir / "py/4"), "steady");
  EXPECT_EQ(ReadFile(dir / "py/5"), ReadFile(restamped));
  if (files.size() > 6) {
    EXPECT_NE(ReadFile(dir / "py/6").find("Name:"), std::string::npos);
  }
}

// A file just below the zip64 limit that grows past it while it is read no
// longer breaks the whole Backup. Moves about 4 GB: skipped like the other
// huge tests.
TEST(BackupJob, AFileGrowingPastTheZip64LimitWhileReadIsStored) {
  if (std::getenv("TESSAROOK_SKIP_HUGE")) GTEST_SKIP() << "TESSAROOK_SKIP_HUGE is set";
  if (kSanitized) GTEST_SKIP() << "too slow under the sanitizers";
  TempDir dir;
  const std::string path = dir / "huge.bin";
  const uint64_t size = 0xF0000000ull - (8u << 20);
  WriteFile(path, "start");
  fs::resize_file(path, size);  // sparse: costs no disk
  ChangeWhileRead sink;
  sink.acts.emplace_back(0, [&] { fs::resize_file(path, size + (512u << 20)); });
  CBackupJob job({CSchemeFile(path)}, {});
  std::atomic<bool> cancel{false};
  const auto result = job.Run(dir / "b.zip", cancel, &sink);
  ASSERT_EQ(result.status, Status::kDone) << result.error;
  EXPECT_EQ(result.changed, std::vector<std::string>{path});
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  EXPECT_GE(archive.GetEntrySize(0), size);
  std::string reason;
  EXPECT_TRUE(archive.TestEntry(0, reason)) << reason;
  const RunResult py = Shell(
      "python3 -c " +
      Quote("import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); print(z.getinfo('0').file_size)") +
      " " + Quote(dir / "b.zip"));
  EXPECT_EQ(py.out, std::to_string(archive.GetEntrySize(0)) + "\n");
}

// What killed Backups and copies left in the Backups folder goes at the next
// Backup; the partial being written is held locked, so a sweep by another
// operation leaves it alone even when it cannot judge by the process id.
TEST(BackupJob, StalePartialsGoAndTheOwnPartialIsHeld) {
  TempDir dir;
  WriteFile(dir / "src/a", "a");
  WriteFile(dir / "src/b", "b");
  const std::string folder = dir / "S.tsbak.backups/";
  const std::string dead = std::to_string(tessarook::test::DeadProcessId());
  const std::vector<std::string> stale = {".old.zip." + dead + ".partial",
                                          ".tessarook-copy-" + dead + "-2.part"};
  for (const std::string& name : stale) WriteFile(folder + name, "left behind");
  const std::string own = folder + ".b.zip." + std::to_string(getpid()) + ".partial";
  struct Sweep : tessarook::IProgressSink {
    std::string own, folder;
    size_t removed = 99;
    bool existed = false;
    void OnProgress(uint64_t done, uint64_t) override {
      if (done != 1) return;
      existed = fs::exists(own);
      const struct timespec old[2] = {{0, UTIME_OMIT}, {946684800, 0}};
      utimensat(AT_FDCWD, own.c_str(), old, 0);  // as if its process id had been reused
      removed = tessarook::RemoveStalePartials(folder);
    }
  } sweep;
  sweep.own = own;
  sweep.folder = folder;
  CBackupJob job({CSchemeFile(dir / "src/a"), CSchemeFile(dir / "src/b")}, {});
  std::atomic<bool> cancel{false};
  const auto result = job.Run(folder + "b.zip", cancel, &sweep);
  ASSERT_EQ(result.status, Status::kDone) << result.error;
  EXPECT_TRUE(sweep.existed);
  EXPECT_EQ(sweep.removed, 0u);
  for (const std::string& name : stale) EXPECT_FALSE(fs::exists(folder + name)) << name;
  EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"b.zip"});
}

// One writer per Backup name: a second Backup of a name being written is
// refused (the first is not replaced behind its back), or waits for it.
TEST(BackupJob, ABackupOfANameBeingWrittenIsRefusedOrWaits) {
  using tessarook::CBackupNameLock;
  using Outcome = CBackupNameLock::Outcome;
  TempDir dir;
  WriteFile(dir / "src/a", "a");
  const std::string folder = dir / "S.tsbak.backups/";
  const std::string zip = folder + "b.zip";
  WriteFile(zip, "the Backup being replaced");
  CBackupJob job({CSchemeFile(dir / "src/a")}, {});
  std::atomic<bool> cancel{false};

  CBackupNameLock first;
  ASSERT_EQ(first.Acquire(zip, false, nullptr), Outcome::kHeld);
  const auto refused = job.Run(zip, cancel, nullptr);
  EXPECT_EQ(refused.status, Status::kFailed);
  EXPECT_EQ(refused.error, tessarook::kBackupBeingWrittenText);
  EXPECT_EQ(ReadFile(zip), "the Backup being replaced");
  // The holder itself may write; the lock file is hidden and never listed.
  ASSERT_EQ(job.Run(zip, cancel, nullptr, &first).status, Status::kDone);
  EXPECT_EQ(tessarook::CBackupStore(dir / "S.tsbak").List().size(), 1u);

  // Waiting: a stop ends the wait without the lock while the first holds it;
  // once the first lets go, the waiter gets it.
  CBackupNameLock second;
  std::atomic<bool> stopWaiting{false};
  std::thread stopped(
      [&] { EXPECT_EQ(second.Acquire(zip, true, &stopWaiting), Outcome::kCancelled); });
  stopWaiting = true;
  stopped.join();
  EXPECT_EQ(second.Acquire(zip, false, nullptr), Outcome::kBusy);
  std::thread waiter([&] { EXPECT_EQ(second.Acquire(zip, true, nullptr), Outcome::kHeld); });
  first.Release();
  waiter.join();
  EXPECT_EQ(job.Run(zip, cancel, nullptr, &second).status, Status::kDone);
  second.Release();
  EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"b.zip"});  // no lock file left
}
