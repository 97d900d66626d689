// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <atomic>
#include <filesystem>

#include "../exchange/TestFiles.h"
#include "backup/BackupStore.h"
#include "library/SchemeLibrary.h"

namespace tessarook {
namespace {

using namespace tessarook::testing;

class SchemeLibraryOps : public ::testing::Test {
 protected:
  std::string Dir() const { return tmp / "schemes"; }

  void MakeScheme(const std::string& name, const std::string& data, bool withBackups = true) {
    WriteFile(tmp / ("schemes/" + name + ".tsbak"), data);
    if (withBackups) {
      WriteFile(tmp / ("schemes/" + name + ".tsbak.backups/b1.zip"), data + "-b1");
      WriteFile(tmp / ("schemes/" + name + ".tsbak.backups/sub/b2.zip"), data + "-b2");
    }
  }

  // Hooks that act like an open Scheme document and log what was asked of them.
  OpenSchemeHooks Hooks() {
    OpenSchemeHooks h;
    h.openSchemePath = [this] { return openPath; };
    h.saveTo = [this](const std::string& p) {
      log.push_back("save " + fs::path(p).filename().string());
      return true;
    };
    h.close = [this] {
      log.push_back("close");
      openPath.clear();
    };
    h.open = [this](const std::string& p) {
      log.push_back("open " + fs::path(p).filename().string() +
                    (fs::exists(p) ? "" : " (missing)"));
      openPath = p;
      return true;
    };
    return h;
  }

  TempDir tmp;
  std::string openPath;
  std::vector<std::string> log;
};

TEST_F(SchemeLibraryOps, ListTakesExactlyTheTsbakEntries) {
  EXPECT_TRUE(CSchemeLibrary(Dir()).List().empty());  // no folder yet
  WriteFile(tmp / "schemes/b.tsbak", "");
  WriteFile(tmp / "schemes/a.tsbak", "");
  WriteFile(tmp / "schemes/c.TSBAK", "");  // letter case counts here
  WriteFile(tmp / "schemes/x.tsbak.old", "");
  WriteFile(tmp / "schemes/my.project.tsbak", "");
  WriteFile(tmp / "schemes/B.tsbak", "");
  fs::create_directories(tmp / "schemes/folder.tsbak");
  fs::create_directories(tmp / "schemes/a.tsbak.backups");
  EXPECT_EQ(CSchemeLibrary(Dir()).List(),
            (std::vector<std::string>{"B", "a", "b", "folder", "my.project"}));
}

TEST_F(SchemeLibraryOps, DeleteRemovesBothPathsAndNothingElse) {
  MakeScheme("work", "w");
  MakeScheme("other", "o");
  // A link inside the Backups folder to a folder elsewhere: the link goes, not its target.
  WriteFile(tmp / "outside/precious.txt", "p");
  fs::create_directory_symlink(tmp / "outside", tmp / "schemes/work.tsbak.backups/link");
  const auto otherBefore = Tree(tmp.path() / "outside");

  openPath = CSchemeLibrary(Dir()).SchemeFile("work");
  CSchemeLibrary lib(Dir(), Hooks());
  EXPECT_TRUE(lib.IsOpen("work"));
  EXPECT_FALSE(lib.IsOpen("other"));
  EXPECT_EQ(lib.Delete("work"), LibraryResult::kDone);
  EXPECT_EQ(log, std::vector<std::string>{"close"});
  EXPECT_EQ(lib.List(), std::vector<std::string>{"other"});
  EXPECT_FALSE(fs::exists(tmp / "schemes/work.tsbak.backups"));
  EXPECT_EQ(Tree(tmp.path() / "outside"), otherBefore);
  EXPECT_EQ(ReadFile(tmp / "schemes/other.tsbak.backups/sub/b2.zip"), "o-b2");

  EXPECT_EQ(lib.Delete("work"), LibraryResult::kMissing);
  EXPECT_EQ(lib.Delete("../outside/precious"), LibraryResult::kBadName);
  EXPECT_EQ(ReadFile(tmp / "outside/precious.txt"), "p");
}

TEST_F(SchemeLibraryOps, RenameMovesSchemeAndBackupsReplacingTheTarget) {
  MakeScheme("work", "w");
  MakeScheme("home", "h");
  WriteFile(tmp / "schemes/home.tsbak.backups/only-home.zip", "x");
  CSchemeLibrary lib(Dir(), Hooks());
  EXPECT_EQ(lib.Rename("work", "home"), LibraryResult::kDone);
  EXPECT_EQ(lib.List(), std::vector<std::string>{"home"});
  EXPECT_EQ(ReadFile(tmp / "schemes/home.tsbak"), "w");
  // The target's whole Backups folder is replaced, not merged.
  EXPECT_EQ(Tree(tmp.path() / "schemes/home.tsbak.backups"),
            (std::map<std::string, std::string>{
                {"b1.zip", "w-b1"}, {"sub", "<dir>"}, {"sub/b2.zip", "w-b2"}}));
  EXPECT_TRUE(log.empty());

  // Same name: nothing happens. Letter case differs: a different Scheme here.
  const auto before = Tree(tmp.path());
  EXPECT_EQ(lib.Rename("home", "home"), LibraryResult::kUnchanged);
  EXPECT_EQ(Tree(tmp.path()), before);
  EXPECT_EQ(lib.Rename("home", "HOME"), LibraryResult::kDone);
  EXPECT_EQ(lib.List(), std::vector<std::string>{"HOME"});
}

TEST_F(SchemeLibraryOps, RenameRefusesWithoutTouchingTheTarget) {
  MakeScheme("home", "h");
  CSchemeLibrary lib(Dir());
  const auto before = Tree(tmp.path());
  // A missing source must not cost the target its files.
  EXPECT_EQ(lib.Rename("ghost", "home"), LibraryResult::kMissing);
  EXPECT_EQ(lib.Duplicate("ghost", "home"), LibraryResult::kMissing);
  for (const char* bad : {"", "a/b", "a:b", "..", "x|y"}) {
    EXPECT_EQ(lib.Rename("home", bad), LibraryResult::kBadName) << bad;
    EXPECT_EQ(lib.Duplicate("home", bad), LibraryResult::kBadName) << bad;
  }
  // A folder in the way of the new scheme file: the rename fails and changes nothing.
  fs::create_directories(tmp / "schemes/blocked.tsbak");
  const auto withFolder = Tree(tmp.path());
  EXPECT_EQ(lib.Rename("home", "blocked"), LibraryResult::kFailed);
  EXPECT_EQ(Tree(tmp.path()), withFolder);
  fs::remove(tmp / "schemes/blocked.tsbak");
  EXPECT_EQ(Tree(tmp.path()), before);
}

TEST_F(SchemeLibraryOps, RenamingTheOpenSchemeSavesClosesMovesAndReopens) {
  MakeScheme("work", "w");
  openPath = CSchemeLibrary(Dir()).SchemeFile("work");
  CSchemeLibrary lib(Dir(), Hooks());
  EXPECT_EQ(lib.Rename("work", "job"), LibraryResult::kDone);
  EXPECT_EQ(log, (std::vector<std::string>{"save work.tsbak", "close", "open job.tsbak",
                                           "save job.tsbak"}));
  EXPECT_EQ(openPath, lib.SchemeFile("job"));
  EXPECT_EQ(ReadFile(tmp / "schemes/job.tsbak.backups/b1.zip"), "w-b1");
}

TEST_F(SchemeLibraryOps, DuplicateCopiesAndAlwaysMakesABackupsFolder) {
  MakeScheme("work", "w");
  MakeScheme("bare", "b", false);
  MakeScheme("copy", "old copy");
  openPath = CSchemeLibrary(Dir()).SchemeFile("work");
  CSchemeLibrary lib(Dir(), Hooks());
  EXPECT_EQ(lib.Duplicate("work", "copy"), LibraryResult::kDone);
  EXPECT_TRUE(log.empty());  // the open Scheme is not affected
  EXPECT_EQ(Tree(tmp.path() / "schemes/copy.tsbak.backups"),
            Tree(tmp.path() / "schemes/work.tsbak.backups"));
  EXPECT_EQ(ReadFile(tmp / "schemes/copy.tsbak"), "w");
  EXPECT_EQ(ReadFile(tmp / "schemes/work.tsbak"), "w");

  EXPECT_EQ(lib.Duplicate("bare", "bare2"), LibraryResult::kDone);
  EXPECT_TRUE(fs::is_directory(tmp / "schemes/bare2.tsbak.backups"));
  EXPECT_TRUE(fs::is_empty(tmp / "schemes/bare2.tsbak.backups"));
  EXPECT_EQ(lib.Duplicate("bare", "bare"), LibraryResult::kUnchanged);
  EXPECT_EQ(lib.List(), (std::vector<std::string>{"bare", "bare2", "copy", "work"}));
}

TEST_F(SchemeLibraryOps, DuplicateUnderAControlCountsBytesAndACancelLeavesNothing) {
  MakeScheme("work", "w");
  WriteFile(tmp / "schemes/work.tsbak.backups/big.zip", std::string(3 << 20, 'z'));
  MakeScheme("copy", "old copy");
  const auto before = Tree(tmp.path() / "schemes");
  CSchemeLibrary lib(Dir());
  const uint64_t total = lib.DataBytes("work");
  EXPECT_EQ(total, 1u + 4u + 4u + (3u << 20));

  // Cancelled inside the large file: the Scheme of the new name is as it was, and no
  // staging folder or partial file is left anywhere.
  std::atomic<bool> cancel{false};
  uint64_t counted = 0;
  CopyControl control;
  control.cancel = &cancel;
  control.copied = [&](uint64_t bytes) {
    counted += bytes;
    if (counted > (1u << 20)) cancel = true;
  };
  EXPECT_EQ(lib.Duplicate("work", "copy", control), LibraryResult::kCancelled);
  EXPECT_EQ(Tree(tmp.path() / "schemes"), before);
  EXPECT_EQ(lib.Duplicate("work", "fresh", control), LibraryResult::kCancelled);
  EXPECT_EQ(Tree(tmp.path() / "schemes"), before);

  // Not cancelled: every byte counted once, the copy complete and private.
  cancel = false;
  counted = 0;
  control.copied = [&](uint64_t bytes) { counted += bytes; };
  EXPECT_EQ(lib.Duplicate("work", "copy", control), LibraryResult::kDone);
  EXPECT_EQ(counted, total);
  EXPECT_EQ(Tree(tmp.path() / "schemes/copy.tsbak.backups"),
            Tree(tmp.path() / "schemes/work.tsbak.backups"));
  EXPECT_EQ(fs::status(tmp / "schemes/copy.tsbak.backups").permissions() & fs::perms::all,
            fs::perms::owner_all);
  EXPECT_EQ(lib.List(), (std::vector<std::string>{"copy", "work"}));
  for (const auto& entry : fs::directory_iterator(tmp.path() / "schemes"))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(SchemeLibraryOps, RenameCopiesABackupsFolderThatCannotBeMovedAndACancelUndoesIt) {
  // A Backups folder that is a mount point of its own cannot be renamed: its files
  // are copied to the new name instead.
  MakeScheme("work", "w", false);
  const fs::path backups = tmp / "schemes/work.tsbak.backups";
  fs::create_directories(backups);
  if (::mount("tmpfs", backups.c_str(), "tmpfs", 0, "size=16m") != 0)
    GTEST_SKIP() << "cannot mount a file system here";
  struct Unmount {
    fs::path path;
    ~Unmount() { ::umount(path.c_str()); }
  } unmount{backups};
  WriteFile(backups / "b1.zip", std::string(2 << 20, 'b'));
  WriteFile(backups / "sub/b2.zip", "w-b2");
  const auto before = Tree(tmp.path() / "schemes");
  CSchemeLibrary lib(Dir());

  std::atomic<bool> cancel{false};
  CopyControl control;
  control.cancel = &cancel;
  control.copied = [&](uint64_t) { cancel = true; };
  EXPECT_EQ(lib.Rename("work", "job", control), LibraryResult::kCancelled);
  EXPECT_EQ(Tree(tmp.path() / "schemes"), before);

  cancel = false;
  uint64_t counted = 0;
  control.copied = [&](uint64_t bytes) { counted += bytes; };
  EXPECT_EQ(lib.Rename("work", "job", control), LibraryResult::kDone);
  EXPECT_EQ(counted, (2u << 20) + 4u);
  EXPECT_EQ(lib.List(), std::vector<std::string>{"job"});
  EXPECT_EQ(ReadFile(tmp / "schemes/job.tsbak.backups/sub/b2.zip"), "w-b2");
  EXPECT_TRUE(fs::is_empty(backups));  // the mount point itself stays, emptied
}

// What follows a Scheme (its schedule) is carried within the operation, while
// it still holds the Backups folder it moved, and only when it was done.
TEST_F(SchemeLibraryOps, TheFollowerRunsWithinTheOperation) {
  MakeScheme("a", "A");
  CSchemeLibrary library(Dir());
  std::vector<std::string> calls;
  library.SetFollower([&](const std::string& from, const std::string& to, bool copy) {
    const bool held =
        !to.empty() && CSchemeLibrary(Dir()).IsBeingWritten(fs::path(to).stem().string());
    calls.push_back(fs::path(from).filename().string() + (to.empty() ? "" : " -> ") +
                    fs::path(to).filename().string() + (copy ? " copy" : "") +
                    (held ? " held" : ""));
    return to == Dir() + "/c.tsbak" ? std::string("no timer") : std::string();
  });
  ASSERT_EQ(library.Rename("a", "b"), LibraryResult::kDone);
  EXPECT_EQ(library.FollowError(), "");
  ASSERT_EQ(library.Duplicate("b", "c"), LibraryResult::kDone);
  EXPECT_EQ(library.FollowError(), "no timer");
  ASSERT_EQ(library.Delete("c"), LibraryResult::kDone);
  EXPECT_EQ(library.FollowError(), "");
  // Refused or missing: nothing follows.
  CBackupsFolderLock writing;
  ASSERT_TRUE(writing.Acquire(library.BackupsFolder("b")));
  EXPECT_EQ(library.Delete("b"), LibraryResult::kBusy);
  EXPECT_EQ(library.Rename("missing", "d"), LibraryResult::kMissing);
  EXPECT_EQ(calls, (std::vector<std::string>{"a.tsbak -> b.tsbak held", "b.tsbak -> c.tsbak copy",
                                             "c.tsbak"}));
}

TEST_F(SchemeLibraryOps, ClearBackupsDeletesFilesAndKeepsFolders) {
  MakeScheme("work", "w");
  WriteFile(tmp / "outside/precious.txt", "p");
  fs::create_directory_symlink(tmp / "outside", tmp / "schemes/work.tsbak.backups/sub/link");
  CSchemeLibrary lib(Dir());
  EXPECT_TRUE(lib.ClearBackups("work"));
  EXPECT_EQ(Tree(tmp.path() / "schemes/work.tsbak.backups"),
            (std::map<std::string, std::string>{{"sub", "<dir>"}}));
  EXPECT_EQ(ReadFile(tmp / "outside/precious.txt"), "p");
  EXPECT_TRUE(lib.ClearBackups("never-backed-up"));
}

}  // namespace
}  // namespace tessarook
