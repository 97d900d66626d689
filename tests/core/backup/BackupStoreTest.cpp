// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../util/DeadProcess.h"
#include "BackupTestSupport.h"
#include "backup/BackupStore.h"

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
  EXPECT_FALSE(store.Rename("absent", "new", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadFile(store.GetBackupPath("new")), "new data");
  // Same path: nothing happens.
  EXPECT_TRUE(store.Rename("old", "old"));
  EXPECT_EQ(ReadFile(store.GetBackupPath("old")), "old data");
  // Only a case change renames, since the file system tells case apart.
  EXPECT_TRUE(store.Rename("old", "OLD"));
  EXPECT_FALSE(store.Exists("old"));
  EXPECT_TRUE(store.Rename("OLD", "new"));
  EXPECT_FALSE(store.Exists("OLD"));
  EXPECT_EQ(ReadFile(store.GetBackupPath("new")), "old data");
}

TEST(BackupStore, DuplicateCopiesAndDeleteRemoves) {
  TempDir dir;
  const CBackupStore store(dir / "S.tsbak");
  WriteFile(store.GetBackupPath("a"), "contents of a");
  WriteFile(store.GetBackupPath("b"), "contents of b");
  EXPECT_TRUE(store.Duplicate("a", "a"));
  EXPECT_TRUE(store.Duplicate("a", "b"));
  EXPECT_EQ(ReadFile(store.GetBackupPath("b")), "contents of a");
  EXPECT_EQ(ReadFile(store.GetBackupPath("a")), "contents of a");
  EXPECT_FALSE(store.Duplicate("missing", "b"));
  EXPECT_EQ(ReadFile(store.GetBackupPath("b")), "contents of a");
  EXPECT_EQ(store.List().size(), 2u);  // no temporary copy left behind
  EXPECT_TRUE(store.Delete("a"));
  EXPECT_FALSE(store.Exists("a"));
  EXPECT_FALSE(store.Delete("a"));
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
  ASSERT_TRUE(store.Duplicate("a", "b"));
  for (const std::string& name : stale) EXPECT_FALSE(fs::exists(folder + name)) << name;
  EXPECT_TRUE(fs::exists(folder + ".b.zip." + self + ".partial"));
  auto list = store.List();
  SortBackups(list, BackupSort::kName);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b"}));
}
