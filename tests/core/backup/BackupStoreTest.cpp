// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../util/DeadProcess.h"
#include "BackupTestSupport.h"
#include "SharedBlocks.h"
#include "backup/BackupArchive.h"
#include "backup/BackupStore.h"
#include "backup/Prune.h"
#include "util/PathUtil.h"

using namespace backup_test;
using tessarook::BackupInfo;
using tessarook::BackupSort;
using tessarook::CBackupStore;
using tessarook::SortBackups;

namespace {

std::vector<std::string> Names(const std::vector<BackupInfo>& list) {
  std::vector<std::string> out;
  for (const auto& b : list) out.push_back(b.name);
  return out;
}

bool Ok(tessarook::StoreResult r) { return r == tessarook::StoreResult::kDone; }

BackupInfo Info(std::string name, int64_t time, uint64_t size) {
  BackupInfo b;
  b.name = std::move(name);
  b.creationTime = time;
  b.size = size;
  return b;
}

}  // namespace

TEST(BackupStore, PathsFollowTheSchemeFile) {
  const CBackupStore store("/home/u/My Schemes/Work.tsbak");
  EXPECT_EQ(store.BackupsFolder(), "/home/u/My Schemes/Work.tsbak.backups");
  EXPECT_EQ(store.GetBackupPath(" Mon "), "/home/u/My Schemes/Work.tsbak.backups/ Mon .zip");
}

TEST(BackupStore, ListsOnlyZipFilesOfTheFolderItself) {
  TempDir dir;
  const CBackupStore store(dir / "S.tsbak");
  EXPECT_TRUE(store.List().empty());  // no Backups folder yet
  const std::string folder = store.BackupsFolder();
  WriteFile(folder + "/one.zip", "1");
  WriteFile(folder + "/two.zip.zip", "22");
  WriteFile(folder + "/upper.ZIP", "x");
  WriteFile(folder + "/notes.txt", "x");
  WriteFile(folder + "/sub/inner.zip", "x");
  fs::create_directories(folder + "/dir.zip");
  auto list = store.List();
  SortBackups(list, BackupSort::kName);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"one", "two.zip"}));
  EXPECT_EQ(list[1].size, 2u);
  EXPECT_EQ(list[1].path, folder + "/two.zip.zip");
  EXPECT_GT(list[0].creationTime, 0);
  EXPECT_FALSE(tessarook::BackupTimeText(list[0]).empty());
}

TEST(BackupStore, SortOrdersAndTheirTieBreaks) {
  std::vector<BackupInfo> list = {Info("b", 20, 5), Info("a", 20, 7), Info("c", 10, 5),
                                  Info("B", 30, 1)};
  SortBackups(list, BackupSort::kName);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"B", "a", "b", "c"}));  // byte order
  SortBackups(list, BackupSort::kTime);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"c", "a", "b", "B"}));
  SortBackups(list, BackupSort::kSize);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"B", "b", "c", "a"}));
  SortBackups(list, BackupSort::kNone);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"c", "b", "a", "B"}));
}

TEST(BackupStore, RenameReplacesInOneStepAndNeverLosesTheTarget) {
  TempDir dir;
  const CBackupStore store(dir / "S.tsbak");
  WriteFile(store.GetBackupPath("old"), "old data");
  WriteFile(store.GetBackupPath("new"), "new data");
  // A missing source leaves an existing target alone.
  std::string error;
  EXPECT_FALSE(Ok(store.Rename("absent", "new", &error)));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadFile(store.GetBackupPath("new")), "new data");
  // Same path: nothing happens.
  EXPECT_TRUE(Ok(store.Rename("old", "old")));
  EXPECT_EQ(ReadFile(store.GetBackupPath("old")), "old data");
  // Only a case change renames, since the file system tells case apart.
  EXPECT_TRUE(Ok(store.Rename("old", "OLD")));
  EXPECT_FALSE(store.Exists("old"));
  EXPECT_TRUE(Ok(store.Rename("OLD", "new")));
  EXPECT_FALSE(store.Exists("OLD"));
  EXPECT_EQ(ReadFile(store.GetBackupPath("new")), "old data");
}

TEST(BackupStore, DuplicateCopiesAndDeleteRemoves) {
  TempDir dir;
  const CBackupStore store(dir / "S.tsbak");
  WriteFile(store.GetBackupPath("a"), "contents of a");
  WriteFile(store.GetBackupPath("b"), "contents of b");
  EXPECT_TRUE(Ok(store.Duplicate("a", "a")));
  EXPECT_TRUE(Ok(store.Duplicate("a", "b")));
  EXPECT_EQ(ReadFile(store.GetBackupPath("b")), "contents of a");
  EXPECT_EQ(ReadFile(store.GetBackupPath("a")), "contents of a");
  EXPECT_FALSE(Ok(store.Duplicate("missing", "b")));
  EXPECT_EQ(ReadFile(store.GetBackupPath("b")), "contents of a");
  EXPECT_EQ(store.List().size(), 2u);  // no temporary copy left behind
  EXPECT_TRUE(Ok(store.Delete("a")));
  EXPECT_FALSE(store.Exists("a"));
  EXPECT_FALSE(Ok(store.Delete("a")));
}

// On a file system that shares blocks, a copied Backup and a copied folder take
// no new room: both copiers let the kernel copy, and the copies read back whole.
TEST(BackupStore, CopiesShareBlocksOnXfs) {
  LoopFs xfs("xfs");
  if (!xfs.Ok()) GTEST_SKIP() << "block sharing on XFS: " << xfs.Error();
  std::string bytes(3 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 % 251);
  const CBackupStore store(xfs / "S.tsbak");
  WriteFile(store.GetBackupPath("a"), bytes);
  ASSERT_TRUE(Ok(store.Duplicate("a", "b")));
  EXPECT_EQ(ReadFile(store.GetBackupPath("b")), bytes);
  EXPECT_GE(SharedBytes(store.GetBackupPath("b")), bytes.size());

  WriteFile(xfs / "from/f", bytes);
  ASSERT_TRUE(tessarook::CopyFolder(xfs / "to", xfs / "from"));
  EXPECT_EQ(ReadFile(xfs / "to/f"), bytes);
  EXPECT_GE(SharedBytes(xfs / "to/f"), bytes.size());
}

// What a killed Backup, copy or export left in the Backups folder goes at the
// next copy; partials and locks are never listed as Backups.
TEST(BackupStore, DuplicateClearsStalePartialsAndNoneIsListed) {
  TempDir dir;
  const CBackupStore store(dir / "S.tsbak");
  const std::string folder = store.BackupsFolder() + "/";
  const std::string dead = std::to_string(tessarook::test::DeadProcessId());
  const std::string self = std::to_string(getpid());
  WriteFile(store.GetBackupPath("a"), "contents of a");
  const std::vector<std::string> stale = {".a.zip." + dead + ".partial",
                                          ".tessarook-copy-" + dead + "-0.part", ".a.zip.lock"};
  for (const std::string& name : stale) WriteFile(folder + name, "left behind");
  WriteFile(folder + ".b.zip." + self + ".partial", "being written");
  EXPECT_EQ(Names(store.List()), std::vector<std::string>{"a"});
  ASSERT_TRUE(Ok(store.Duplicate("a", "b")));
  for (const std::string& name : stale) EXPECT_FALSE(fs::exists(folder + name)) << name;
  EXPECT_TRUE(fs::exists(folder + ".b.zip." + self + ".partial"));
  auto list = store.List();
  SortBackups(list, BackupSort::kName);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b"}));
}

namespace {

// An empty Backup at `path`, born after every Backup listed in `before`
// (file times move in clock ticks: a new one is made until it is later).
BackupInfo MakeBackupAfter(const CBackupStore& store, const std::string& name,
                           const std::vector<BackupInfo>& before) {
  BackupInfo info;
  fs::create_directories(store.BackupsFolder());
  for (;;) {
    tessarook::CBackupArchive archive;
    if (!archive.Create(store.GetBackupPath(name)) || !archive.WriteManifest() ||
        archive.Close() != 0 || !store.GetInfo(name, info)) {
      ADD_FAILURE() << "cannot make the Backup " << name;
      return info;
    }
    bool later = true;
    for (const BackupInfo& b : before) later = later && info.creationTime > b.creationTime;
    if (later) return info;
    fs::remove(store.GetBackupPath(name));
  }
}

}  // namespace

// Prune judges the listed files and deletes exactly those: a name that another
// file took since it was listed is left alone, one already gone is no
// failure, and a Backup dated later than now is kept without pushing a
// present one out of the keep rules.
TEST(BackupStore, PruneDeletesOnlyTheFilesItJudged) {
  TempDir dir;
  const CBackupStore store(dir / "S.tsbak");
  std::vector<BackupInfo> made;
  for (const char* name : {"a", "b", "c", "d", "e"})
    made.push_back(MakeBackupAfter(store, name, made));
  tessarook::KeepPolicy policy;
  policy.last = 1;
  tessarook::PruneOptions options;
  options.now = made[3].creationTime;  // "e" lies in the future
  std::vector<std::string> hooked;
  options.beforeDelete = [&](const BackupInfo& b) {
    hooked.push_back(b.name);
    if (b.name == "a") {  // a Backup taken again under the name lands
      WriteFile(dir / "new-a", "the new Backup a");
      fs::rename(dir / "new-a", store.GetBackupPath("a"));
    }
    if (b.name == "b") fs::remove(store.GetBackupPath("b"));  // another prune was quicker
  };
  const tessarook::PruneOutcome outcome = PruneBackups(store, policy, options);
  EXPECT_EQ(hooked, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Names(outcome.deleted), std::vector<std::string>{"c"});
  EXPECT_EQ(Names(outcome.gone), std::vector<std::string>{"b"});
  ASSERT_EQ(outcome.passed.size(), 1u);
  EXPECT_EQ(outcome.passed[0].backup.name, "a");
  EXPECT_TRUE(outcome.failed.empty());
  EXPECT_EQ(Names(outcome.future), std::vector<std::string>{"e"});
  ASSERT_EQ(outcome.kept.size(), 2u);
  EXPECT_EQ(outcome.kept[0].backup.name, "d");
  EXPECT_EQ(outcome.kept[1].reasons, std::vector<std::string>{"future"});
  EXPECT_EQ(ReadFile(store.GetBackupPath("a")), "the new Backup a");
  EXPECT_EQ(Names(store.List()).size(), 3u);  // a (the new one), d, e

  // In a dry run nothing is deleted and the hook is not called.
  hooked.clear();
  options.dryRun = true;
  options.now = 0;
  EXPECT_EQ(Names(PruneBackups(store, policy, options).deleted).size(), 1u);
  EXPECT_TRUE(hooked.empty());
}
