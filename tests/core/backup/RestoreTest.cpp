// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "../util/DeadProcess.h"
#include "BackupTestSupport.h"
#include "backup/BackupJob.h"
#include "backup/BackupVerifier.h"
#include "backup/RestoreJob.h"

using namespace backup_test;
using tessarook::CBackupArchive;
using tessarook::CRestoreJob;
using tessarook::RestoreFailure;
using tessarook::RestoreItem;

namespace {

// Writes a Backup of the given files (in order) with the archive class.
void MakeBackup(const std::string& zip, const std::vector<std::string>& files) {
  CBackupArchive archive;
  ASSERT_TRUE(archive.Create(zip));
  for (const auto& f : files) ASSERT_TRUE(archive.AddBackupFile(f));
  ASSERT_TRUE(archive.WriteManifest());
  ASSERT_EQ(archive.Close(), 0);
}

struct CancelAfter : tessarook::IProgressSink {
  std::atomic<bool>& flag;
  uint64_t after;
  CancelAfter(std::atomic<bool>& f, uint64_t n) : flag(f), after(n) {}
  void OnProgress(uint64_t done, uint64_t) override {
    if (done >= after) flag.store(true);
  }
};

}  // namespace

TEST(Restore, PutsFilesBackCreatingFoldersAndReplacingOldOnes) {
  TempDir dir;
  WriteFile(dir / "home/docs/a.txt", "version one");
  WriteFile(dir / "home/b.txt", "bee");
  MakeBackup(dir / "b.zip", {dir / "home/docs/a.txt", dir / "home/b.txt"});
  fs::remove_all(dir / "home/docs");               // a folder that no longer exists
  WriteFile(dir / "home/b.txt", "changed since");  // a file to be replaced

  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  std::vector<RestoreFailure> refused;
  const auto items = CRestoreJob::Plan(archive, {0, 1}, "", refused);
  EXPECT_TRUE(refused.empty());
  const auto result = CRestoreJob::Run(archive, items, nullptr, nullptr);
  EXPECT_EQ(result.restored, (std::vector<size_t>{0, 1}));
  EXPECT_TRUE(result.failed.empty());
  EXPECT_EQ(ReadFile(dir / "home/docs/a.txt"), "version one");
  EXPECT_EQ(ReadFile(dir / "home/b.txt"), "bee");
}

TEST(Restore, ToAFolderPrefixesSourcePathsAndRefusesEscapes) {
  TempDir dir;
  WriteFile(dir / "src/x.txt", "x");
  MakeBackup(dir / "b.zip", {dir / "src/x.txt"});
  // A hostile manifest: a path that climbs out, a relative path, a position too many.
  {
    CBackupArchive archive;
    ASSERT_TRUE(archive.Create(dir / "evil.zip"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(archive.AddFromMemory("bad", 3, std::to_string(i)));
    const std::string list = "0: /../../escape.txt\r\n1: relative.txt\r\n2: /fine/ok.txt";
    ASSERT_TRUE(archive.AddFromMemory(list.data(), list.size(), "list.txt"));
    ASSERT_EQ(archive.Close(), 0);
  }
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "evil.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  std::vector<RestoreFailure> refused;
  const auto items = CRestoreJob::Plan(archive, {0, 1, 2, 3}, dir / "to/", refused);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].destination, dir / "to/fine/ok.txt");
  ASSERT_EQ(refused.size(), 3u);
  EXPECT_EQ(refused[0].position, 0u);
  EXPECT_EQ(refused[1].position, 1u);
  EXPECT_EQ(refused[2].position, 3u);
  const auto result = CRestoreJob::Run(archive, items, nullptr, nullptr);
  EXPECT_EQ(result.restored.size(), 1u);
  EXPECT_EQ(ReadFile(dir / "to/fine/ok.txt"), "bad");
  EXPECT_FALSE(fs::exists(dir / "escape.txt"));
  EXPECT_FALSE(fs::exists(dir.str() + "/../escape.txt"));
}

TEST(Restore, SamePathTwiceRestoresEachFromItsOwnEntry) {
  TempDir dir;
  CBackupArchive writer;
  ASSERT_TRUE(writer.Create(dir / "b.zip"));
  ASSERT_TRUE(writer.AddFromMemory("older", 5, "0"));
  ASSERT_TRUE(writer.AddFromMemory("newer", 5, "1"));
  const std::string list = "0: " + (dir / "f.txt") + "\r\n1: " + (dir / "f.txt");
  ASSERT_TRUE(writer.AddFromMemory(list.data(), list.size(), "list.txt"));
  ASSERT_EQ(writer.Close(), 0);
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  std::string error;
  ASSERT_TRUE(CRestoreJob::ExtractPosition(archive, 0, dir / "first", error));
  ASSERT_TRUE(CRestoreJob::ExtractPosition(archive, 1, dir / "second", error));
  EXPECT_EQ(ReadFile(dir / "first"), "older");
  EXPECT_EQ(ReadFile(dir / "second"), "newer");
  EXPECT_FALSE(CRestoreJob::ExtractPosition(archive, 2, dir / "third", error));
  EXPECT_FALSE(error.empty());
}

TEST(Restore, CancelStopsAndLeavesDestinationsIntact) {
  TempDir dir;
  for (int i = 0; i < 4; ++i) WriteFile(dir / ("src/" + std::to_string(i)), "new");
  MakeBackup(dir / "b.zip", {dir / "src/0", dir / "src/1", dir / "src/2", dir / "src/3"});
  for (int i = 0; i < 4; ++i) WriteFile(dir / ("src/" + std::to_string(i)), "old");
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  std::vector<RestoreFailure> refused;
  const auto items = CRestoreJob::Plan(archive, {0, 1, 2, 3}, "", refused);
  std::atomic<bool> cancel{false};
  CancelAfter sink(cancel, 2);
  // One worker, so the cancel given after the second file is seen before the
  // third begins (several workers may have finished more by then).
  const auto result = CRestoreJob::Run(archive, items, &cancel, &sink, 1);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.restored.size(), 2u);
  EXPECT_EQ(ReadFile(dir / "src/1"), "new");
  EXPECT_EQ(ReadFile(dir / "src/2"), "old");
  // A cancel during a file's extraction removes what was cut short.
  archive.SetCancelFlag(&cancel);
  std::string error;
  EXPECT_FALSE(CRestoreJob::ExtractPosition(archive, 3, dir / "src/3", error));
  EXPECT_EQ(ReadFile(dir / "src/3"), "old");
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir / "src")) entries += !e.is_directory();
  EXPECT_EQ(entries, 4u);
}

TEST(Verify, FindsFlippedDataMissingEntriesAndStrays) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "row " + std::to_string(i) + "\n";
  WriteFile(dir / "t.txt", text);
  WriteFile(dir / "u.txt", "short");
  MakeBackup(dir / "good.zip", {dir / "t.txt", dir / "u.txt"});
  auto good = tessarook::VerifyBackup(dir / "good.zip", nullptr, nullptr);
  EXPECT_EQ(good.status, tessarook::VerifyResult::Status::kChecked);
  EXPECT_EQ(good.files, 2u);
  EXPECT_TRUE(good.faults.empty());

  // One flipped byte inside entry 0's data.
  std::string bytes = ReadFile(dir / "good.zip");
  bytes[200] ^= 0x20;  // entry 0's data starts at byte 76
  WriteFile(dir / "flipped.zip", bytes);
  auto flipped = tessarook::VerifyBackup(dir / "flipped.zip", nullptr, nullptr);
  ASSERT_EQ(flipped.status, tessarook::VerifyResult::Status::kChecked);
  ASSERT_EQ(flipped.faults.size(), 1u);
  EXPECT_EQ(flipped.faults[0].index, 0);
  EXPECT_EQ(flipped.faults[0].path, dir / "t.txt");
  EXPECT_FALSE(UnzipAccepts(dir / "flipped.zip"));  // the oracle agrees

  // Entry 1 missing, a stray entry, no manifest, not a ZIP.
  CBackupArchive odd;
  ASSERT_TRUE(odd.Create(dir / "odd.zip"));
  ASSERT_TRUE(odd.AddFromMemory("a", 1, "0"));
  ASSERT_TRUE(odd.AddFromMemory("s", 1, "stray"));
  const std::string list = "0: /a\r\n1: /b";
  ASSERT_TRUE(odd.AddFromMemory(list.data(), list.size(), "list.txt"));
  ASSERT_EQ(odd.Close(), 0);
  auto r = tessarook::VerifyBackup(dir / "odd.zip", nullptr, nullptr);
  ASSERT_EQ(r.faults.size(), 2u);
  EXPECT_EQ(r.faults[0].path, "stray");
  EXPECT_EQ(r.faults[1].index, 1);
  EXPECT_EQ(r.faults[1].path, "/b");

  WriteFile(dir / "text.zip", "plain text");
  EXPECT_EQ(tessarook::VerifyBackup(dir / "text.zip", nullptr, nullptr).status,
            tessarook::VerifyResult::Status::kNotAZip);
  CBackupArchive bare;
  ASSERT_TRUE(bare.Create(dir / "bare.zip"));
  ASSERT_TRUE(bare.AddFromMemory("a", 1, "0"));
  ASSERT_EQ(bare.Close(), 0);
  EXPECT_EQ(tessarook::VerifyBackup(dir / "bare.zip", nullptr, nullptr).status,
            tessarook::VerifyResult::Status::kNoManifest);
}

namespace {

// A Backup whose manifest lists `files` (path, contents) as given, whatever
// the paths look like.
void MakeListedBackup(const std::string& zip,
                      const std::vector<std::pair<std::string, std::string>>& files) {
  CBackupArchive archive;
  ASSERT_TRUE(archive.Create(zip));
  std::vector<std::string> paths;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& data = files[i].second;
    ASSERT_TRUE(archive.AddFromMemory(data.data(), data.size(), std::to_string(i)));
    paths.push_back(files[i].first);
  }
  const std::string list = tessarook::BuildManifest(paths);
  ASSERT_TRUE(archive.AddFromMemory(list.data(), list.size(), "list.txt"));
  ASSERT_EQ(archive.Close(), 0);
}

struct Outcome {
  std::vector<RestoreFailure> refused;
  tessarook::RestoreResult result;
};

// Plans and runs the restore of every position of the Backup.
Outcome RestoreAll(const std::string& zip, const std::string& toFolder) {
  Outcome out;
  CBackupArchive archive;
  EXPECT_TRUE(archive.Open(zip));
  EXPECT_TRUE(archive.ReadManifest());
  std::vector<size_t> all(archive.paths.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  const auto items = CRestoreJob::Plan(archive, all, toFolder, out.refused);
  out.result = CRestoreJob::Run(archive, items, nullptr, nullptr);
  return out;
}

struct stat LStat(const std::string& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st;
}

// The files and links below a folder, as relative paths.
std::vector<std::string> TreeOf(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    out.push_back(fs::relative(e.path(), folder).string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(Restore, ReadOnlyDestinationIsSkippedAndReported) {
  TempDir dir;
  MakeListedBackup(dir / "b.zip",
                   {{dir / "ro.txt", "new"}, {dir / "rw.txt", "new"}, {dir / "b.zip", "self"}});
  const std::string archiveBytes = ReadFile(dir / "b.zip");
  WriteFile(dir / "ro.txt", "old");
  WriteFile(dir / "rw.txt", "old");
  ASSERT_EQ(chmod((dir / "ro.txt").c_str(), 0444), 0);
  // Marked read-only counts for every user, the superuser included.
  const Outcome out = RestoreAll(dir / "b.zip", "");
  EXPECT_EQ(out.result.restored, (std::vector<size_t>{1}));
  ASSERT_EQ(out.result.failed.size(), 2u);
  EXPECT_EQ(out.result.failed[0].path, dir / "ro.txt");
  EXPECT_TRUE(out.result.failed[0].skipped);
  EXPECT_NE(out.result.failed[0].reason.find("read-only"), std::string::npos)
      << out.result.failed[0].reason;
  EXPECT_EQ(ReadFile(dir / "ro.txt"), "old");
  EXPECT_EQ(LStat(dir / "ro.txt").st_mode & 07777, 0444u);
  EXPECT_EQ(ReadFile(dir / "rw.txt"), "new");
  // The Backup being read is not written over while it is read.
  EXPECT_EQ(out.result.failed[1].path, dir / "b.zip");
  EXPECT_TRUE(ReadFile(dir / "b.zip") == archiveBytes);
}

TEST(Restore, ExistingFileKeepsItsInodeOwnerAndHardLinks) {
  TempDir dir;
  std::string big;
  for (int i = 0; i < 30000; ++i) big += "row " + std::to_string(i) + "\n";
  MakeListedBackup(dir / "b.zip", {{dir / "f.txt", big}, {dir / "short.txt", "ab"}});
  WriteFile(dir / "f.txt", "old");
  ASSERT_EQ(link((dir / "f.txt").c_str(), (dir / "other-name.txt").c_str()), 0);
  WriteFile(dir / "short.txt", std::string(100000, 'z'));  // longer than what comes back
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((dir / "f.txt").c_str(), 65534, 65534), 0);
  }
  const struct stat before = LStat(dir / "f.txt");

  const Outcome out = RestoreAll(dir / "b.zip", "");
  for (const auto& f : out.result.failed) ADD_FAILURE() << f.path << ": " << f.reason;
  const struct stat after = LStat(dir / "f.txt");
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_TRUE(ReadFile(dir / "other-name.txt") == big);  // the other name sees the data
  EXPECT_TRUE(ReadFile(dir / "f.txt") == big);
  EXPECT_EQ(ReadFile(dir / "short.txt"), "ab");
  if (root) {
    EXPECT_EQ(after.st_uid, 65534u);
    EXPECT_EQ(after.st_gid, 65534u);
  }
  // No temporary file stays behind.
  EXPECT_EQ(TreeOf(dir.str()),
            (std::vector<std::string>{"b.zip", "f.txt", "other-name.txt", "short.txt"}));

  // A damaged entry leaves the existing file and its other name untouched.
  std::string bytes = ReadFile(dir / "b.zip");
  bytes[100] ^= 0x55;  // inside entry 0's compressed data
  WriteFile(dir / "bad.zip", bytes);
  WriteFile(dir / "f.txt", "kept");
  const Outcome bad = RestoreAll(dir / "bad.zip", "");
  ASSERT_EQ(bad.result.failed.size(), 1u);
  EXPECT_FALSE(bad.result.failed[0].skipped);
  EXPECT_EQ(ReadFile(dir / "other-name.txt"), "kept");
}

TEST(Restore, LinkAtTheDestinationStaysAndItsTargetReceivesTheData) {
  TempDir dir;
  MakeListedBackup(dir / "b.zip", {{dir / "link.txt", "new"}, {dir / "dangling.txt", "new"}});
  WriteFile(dir / "real/target.txt", "old");
  ASSERT_EQ(symlink("real/target.txt", (dir / "link.txt").c_str()), 0);
  ASSERT_EQ(symlink("real/missing.txt", (dir / "dangling.txt").c_str()), 0);

  const Outcome out = RestoreAll(dir / "b.zip", "");
  EXPECT_EQ(out.result.restored, (std::vector<size_t>{0}));
  EXPECT_TRUE(S_ISLNK(LStat(dir / "link.txt").st_mode));
  EXPECT_EQ(ReadFile(dir / "real/target.txt"), "new");
  // A link to nothing is neither replaced nor used to create a file.
  ASSERT_EQ(out.result.failed.size(), 1u);
  EXPECT_EQ(out.result.failed[0].path, dir / "dangling.txt");
  EXPECT_TRUE(S_ISLNK(LStat(dir / "dangling.txt").st_mode));
  EXPECT_FALSE(fs::exists(dir / "real/missing.txt"));
}

TEST(Restore, ToAFolderNeverFollowsLinksPlantedInside) {
  TempDir dir;
  MakeListedBackup(
      dir / "b.zip",
      {{"/home/u/notes.txt", "planted"}, {"/etc/passwd", "planted"}, {"/fine/ok.txt", "fine"}});
  WriteFile(dir / "outside/victim", "untouched");
  fs::create_directories(dir / "to/etc");
  ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "to/home").c_str()), 0);
  ASSERT_EQ(symlink((dir / "outside/victim").c_str(), (dir / "to/etc/passwd").c_str()), 0);

  const Outcome out = RestoreAll(dir / "b.zip", dir / "to");
  EXPECT_EQ(out.result.restored, (std::vector<size_t>{2}));
  EXPECT_EQ(out.result.failed.size(), 2u);
  for (const auto& f : out.result.failed)
    EXPECT_NE(f.reason.find("symbolic link"), std::string::npos) << f.path << ": " << f.reason;
  EXPECT_EQ(TreeOf(dir / "outside"), (std::vector<std::string>{"victim"}));
  EXPECT_EQ(ReadFile(dir / "outside/victim"), "untouched");
  EXPECT_TRUE(S_ISLNK(LStat(dir / "to/etc/passwd").st_mode));
  EXPECT_EQ(ReadFile(dir / "to/fine/ok.txt"), "fine");
}

TEST(Restore, WindowsPathsGoBelowATargetFolderOnly) {
  TempDir dir;
  MakeListedBackup(dir / "b.zip", {{"C:\\Users\\x\\notes.txt", "drive"},
                                   {"\\\\server\\share\\dept\\plan.txt", "unc"},
                                   {"d:/mixed\\seps.txt", "mixed"},
                                   {"C:\\Users\\..\\..\\escape.txt", "no"},
                                   {"C:relative.txt", "no"},
                                   {"C:\\", "no"}});
  const Outcome to = RestoreAll(dir / "b.zip", dir / "to");
  EXPECT_EQ(to.result.restored, (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(ReadFile(dir / "to/C/Users/x/notes.txt"), "drive");
  EXPECT_EQ(ReadFile(dir / "to/UNC/server/share/dept/plan.txt"), "unc");
  EXPECT_EQ(ReadFile(dir / "to/d/mixed/seps.txt"), "mixed");
  ASSERT_EQ(to.refused.size(), 3u);
  EXPECT_EQ(to.refused[0].position, 3u);
  EXPECT_EQ(to.refused[1].position, 4u);
  EXPECT_EQ(to.refused[2].position, 5u);
  EXPECT_FALSE(fs::exists(dir / "escape.txt"));
  EXPECT_FALSE(fs::exists(dir / "to/escape.txt"));

  // Without a target folder nothing of it is written, and the reason says so.
  const Outcome home = RestoreAll(dir / "b.zip", "");
  EXPECT_TRUE(home.result.restored.empty());
  ASSERT_EQ(home.refused.size(), 6u);
  EXPECT_TRUE(home.refused[0].needsFolder);
  EXPECT_TRUE(home.refused[1].needsFolder);
  EXPECT_FALSE(home.refused[3].needsFolder);
  EXPECT_FALSE(fs::exists("C:\\Users\\x\\notes.txt"));
}

TEST(Restore, FailureTakesAwayTheFoldersItCreated) {
  TempDir dir;
  std::string big;
  for (int i = 0; i < 30000; ++i) big += "row " + std::to_string(i) + "\n";
  MakeListedBackup(dir / "b.zip", {{dir / "made/deeper/f.txt", big},
                                   {dir / "kept/new/g.txt", big},
                                   {dir / "dots/sub/..", "x"}});
  std::string bytes = ReadFile(dir / "b.zip");
  bytes[100] ^= 0x55;  // entry 0 is damaged
  const size_t second = bytes.find("PK\3\4", 4);
  ASSERT_NE(second, std::string::npos);
  bytes[second + 100] ^= 0x55;  // and so is entry 1
  WriteFile(dir / "bad.zip", bytes);
  fs::create_directories(dir / "kept");

  const Outcome out = RestoreAll(dir / "bad.zip", "");
  EXPECT_TRUE(out.result.restored.empty());
  EXPECT_EQ(out.result.failed.size() + out.refused.size(), 3u);
  EXPECT_EQ(TreeOf(dir.str()), (std::vector<std::string>{"b.zip", "bad.zip", "kept"}));

  // The same for a single extraction to a path that names no file.
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  std::string error;
  EXPECT_FALSE(CRestoreJob::ExtractPosition(archive, 2, dir / "other/sub/..", error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(dir / "other"));
}

// Preview copies go to a private folder of the program's own (in the runtime
// folder when there is one), are readable by this user only, and go with the
// folder; a file another user put in the shared temporary folder is not in
// their way.
TEST(Restore, PreviewCopiesLiveInAPrivateFolderThatGoesAtTheEnd) {
  TempDir dir;
  MakeListedBackup(dir / "b.zip", {{"/home/a/report.pdf", "mine"}, {"/srv/other/report.pdf", "b"}});
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  const char* oldRuntime = getenv("XDG_RUNTIME_DIR");
  const std::string saved = oldRuntime ? oldRuntime : "";
  for (bool runtime : {true, false}) {
    SCOPED_TRACE(runtime);
    fs::create_directories(dir / "run");
    chmod((dir / "run").c_str(), 0700);
    if (runtime)
      setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
    const mode_t oldMask = umask(0);
    std::string first, second, folder, error;
    {
      tessarook::CPreviewFolder previews;
      ASSERT_TRUE(CRestoreJob::ExtractPreviewCopy(archive, 0, previews, first, error)) << error;
      folder = previews.Path();
      EXPECT_EQ(fs::path(folder).parent_path().string(),
                runtime ? dir / "run" : fs::temp_directory_path().string());
      EXPECT_EQ(fs::path(first).parent_path().string(), folder);
      EXPECT_EQ(fs::path(first).filename(), "report.pdf");
      EXPECT_EQ(LStat(folder).st_mode & 0777, 0700u);
      EXPECT_EQ(LStat(first).st_mode & 0777, 0600u);
      EXPECT_EQ(ReadFile(first), "mine");
      // Two files of one name share the copy.
      ASSERT_TRUE(CRestoreJob::ExtractPreviewCopy(archive, 1, previews, second, error)) << error;
      EXPECT_EQ(second, first);
      EXPECT_EQ(ReadFile(second), "b");
    }
    umask(oldMask);
    EXPECT_FALSE(fs::exists(folder));
  }
  if (oldRuntime)
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(Restore, PreviewCopyReplacesWhatHoldsItsNameWithoutWritingThroughLinks) {
  TempDir dir;
  MakeListedBackup(dir / "b.zip", {{"/x/report.txt", "new"}, {"C:\\Docs\\memo.txt", "memo"}});
  WriteFile(dir / "victim", "untouched");
  fs::create_directories(dir / "tmp");
  const char* oldTmp = getenv("TMPDIR");
  const std::string saved = oldTmp ? oldTmp : "";
  setenv("TMPDIR", (dir / "tmp").c_str(), 1);
  const char* oldRuntime = getenv("XDG_RUNTIME_DIR");
  const std::string savedRuntime = oldRuntime ? oldRuntime : "";
  unsetenv("XDG_RUNTIME_DIR");

  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  tessarook::CPreviewFolder previews;
  // A link planted where the copy goes (in the private folder only its owner could).
  ASSERT_EQ(symlink((dir / "victim").c_str(), (previews.Path() + "/report.txt").c_str()), 0);
  std::string path, error;
  EXPECT_TRUE(CRestoreJob::ExtractPreviewCopy(archive, 0, previews, path, error)) << error;
  EXPECT_EQ(path, previews.Path() + "/report.txt");
  EXPECT_FALSE(S_ISLNK(LStat(path).st_mode));
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_EQ(ReadFile(dir / "victim"), "untouched");
  // A read-only earlier copy is replaced all the same.
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(CRestoreJob::ExtractPreviewCopy(archive, 0, previews, path, error)) << error;
  // A Windows path's file name is its last backslash-separated component.
  EXPECT_TRUE(CRestoreJob::ExtractPreviewCopy(archive, 1, previews, path, error)) << error;
  EXPECT_EQ(path, previews.Path() + "/memo.txt");
  EXPECT_EQ(ReadFile(path), "memo");

  if (oldTmp)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
  if (oldRuntime) setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
}

// A restore killed part-way leaves its temporary file beside the destination;
// the next restore into that folder removes it (a live writer's stays).
TEST(Restore, RemovesTemporariesOfKilledRestoresBesideTheDestination) {
  TempDir dir;
  WriteFile(dir / "home/a.txt", "a");
  MakeBackup(dir / "b.zip", {dir / "home/a.txt"});
  const std::string dead =
      dir / (".tessarook-" + std::to_string(tessarook::test::DeadProcessId()) + "-0.part");
  const std::string live = dir / (".tessarook-" + std::to_string(getpid()) + "-99.part");
  const std::string deadHere =
      dir / ("home/.tessarook-" + std::to_string(tessarook::test::DeadProcessId()) + "-1.part");
  WriteFile(dead, "elsewhere");
  WriteFile(live, "being written");
  WriteFile(deadHere, "killed restore");
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  std::vector<RestoreFailure> refused;
  const auto items = CRestoreJob::Plan(archive, {0}, "", refused);
  EXPECT_EQ(CRestoreJob::Run(archive, items, nullptr, nullptr).restored.size(), 1u);
  EXPECT_FALSE(fs::exists(deadHere));
  EXPECT_TRUE(fs::exists(dead));  // not a folder the restore wrote into
  EXPECT_TRUE(fs::exists(live));

  // Below a --to folder nothing is cleared through a symbolic link: what lies
  // where the link leads is not the restore's to touch.
  const std::string to = dir / "to";
  const std::string elsewhere = dir / "elsewhere";
  const std::string source = dir / "home/a.txt";
  const std::string linked = to + fs::path(source).parent_path().string();
  fs::create_directories(fs::path(linked).parent_path());
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, linked);
  const std::string beyond =
      elsewhere + "/.tessarook-" + std::to_string(tessarook::test::DeadProcessId()) + "-2.part";
  WriteFile(beyond, "not the restore's");
  CRestoreJob::Run(archive, CRestoreJob::Plan(archive, {0}, to, refused), nullptr, nullptr);
  EXPECT_TRUE(fs::exists(beyond));
}
