#include <gtest/gtest.h>
#include <sys/stat.h>

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
  const auto result = CRestoreJob::Run(archive, items, &cancel, &sink);
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

TEST(Restore, PreviewPathIsTheTemporaryFolderAndTheLastComponent) {
  const std::string a = tessarook::PreviewTempPath("/home/a/report.pdf");
  const std::string b = tessarook::PreviewTempPath("/srv/other/report.pdf");
  EXPECT_EQ(a, b);
  EXPECT_EQ(fs::path(a).filename(), "report.pdf");
  EXPECT_EQ(a, (fs::temp_directory_path() / "report.pdf").string());
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
