#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include "BackupTestSupport.h"
#include "backup/BackupArchive.h"
#include "backup/BackupJob.h"

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
