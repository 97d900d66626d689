// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "TempFolder.h"
#include "util/PathUtil.h"

namespace tessarook {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::TempFolder;
using test::WriteText;

bool Gone(const std::string& path) { return !fs::exists(fs::symlink_status(path)); }

TEST(PathUtilTest, ModulePathAndRelativePaths) {
  const std::string exe = fs::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(MakeModulePath("settings.xml"), exe.substr(0, exe.rfind('/') + 1) + "settings.xml");
  EXPECT_FALSE(IsRelativePath("/home"));
  EXPECT_TRUE(IsRelativePath("My Schemes"));
  EXPECT_TRUE(IsRelativePath(""));
}

TEST(PathUtilTest, ExistenceChecksKeepTheCurrentDirectory) {
  TempFolder tmp;
  WriteText(tmp.Path("file"), "x");
  fs::create_directory(tmp.Path("dir"));
  fs::create_directory_symlink(tmp.Path("dir"), tmp.Path("dirlink"));
  fs::create_symlink(tmp.Path("gone"), tmp.Path("dangling"));
  const fs::path cwd = fs::current_path();
  EXPECT_TRUE(FileExists(tmp.Path("file")));
  EXPECT_FALSE(FileExists(tmp.Path("dangling")));
  EXPECT_TRUE(FolderExists(tmp.Path("dirlink")));
  EXPECT_FALSE(FolderExists(tmp.Path("file")));
  EXPECT_FALSE(FolderExists(""));

  EXPECT_EQ(fs::current_path(), cwd);
}

TEST(PathUtilTest, DeleteFolderTreeRemovesLinksNotTheirTargets) {
  TempFolder tmp;
  const std::string tree = tmp.Path("tree");
  std::string deep = tree + "/a";
  for (int i = 0; i < 300; ++i) deep += "/d";
  fs::create_directories(deep);
  WriteText(deep + "/leaf.txt", "x");
  fs::create_directories(tmp.Path("outside"));
  WriteText(tmp.Path("outside/precious.txt"), "keep");
  fs::create_directory_symlink(tmp.Path("outside"), tree + "/a/link-to-dir");
  fs::create_symlink(tmp.Path("outside/precious.txt"), tree + "/link-to-file");

  EXPECT_TRUE(DeleteFolderTree(tree));
  EXPECT_TRUE(Gone(tree));
  EXPECT_EQ(ReadText(tmp.Path("outside/precious.txt")), "keep");

  fs::create_directory_symlink(tmp.Path("outside"), tmp.Path("alias"));
  EXPECT_TRUE(DeleteFolderTree(tmp.Path("alias")));  // the link itself goes
  EXPECT_TRUE(fs::exists(tmp.Path("outside/precious.txt")));
}

TEST(PathUtilTest, DeleteFolderTreeKeepsWhatCannotBeDeletedAndGoesOn) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempFolder tmp;
  const std::string tree = tmp.Path("tree");
  fs::create_directories(tree + "/locked");
  fs::create_directories(tree + "/open");
  WriteText(tree + "/locked/stays.txt", "x");
  WriteText(tree + "/open/goes.txt", "x");
  ::chmod((tree + "/locked").c_str(), 0500);
  EXPECT_FALSE(DeleteFolderTree(tree));
  EXPECT_TRUE(fs::exists(tree + "/locked/stays.txt"));
  EXPECT_TRUE(Gone(tree + "/open"));
  ::chmod((tree + "/locked").c_str(), 0700);
}

TEST(PathUtilTest, CopyFolderCopiesFilesSubfoldersModesAndTimes) {
  TempFolder tmp;
  const std::string src = tmp.Path("src");
  fs::create_directories(src + "/sub/inner");
  WriteText(src + "/one.txt", "one");
  WriteText(src + "/sub/two.bin", std::string("t\0w\0o", 5));
  WriteText(src + "/sub/inner/big", std::string(200000, 'q'));  // several chunks
  ::chmod((src + "/one.txt").c_str(), 0640);
  const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(48);
  fs::last_write_time(src + "/one.txt", stamp);

  const std::string dst = tmp.Path("dst");
  fs::create_directory(dst);
  WriteText(dst + "/one.txt", "old content to be replaced");
  EXPECT_TRUE(CopyFolder(dst, src));
  EXPECT_EQ(ReadText(dst + "/one.txt"), "one");
  EXPECT_EQ(ReadText(dst + "/sub/two.bin"), std::string("t\0w\0o", 5));
  EXPECT_EQ(ReadText(dst + "/sub/inner/big"), std::string(200000, 'q'));
  EXPECT_EQ(fs::status(dst + "/one.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(fs::last_write_time(dst + "/one.txt"), stamp);

  EXPECT_FALSE(CopyFolder(tmp.Path("new/target"), tmp.Path("missing")));
  EXPECT_TRUE(fs::is_empty(tmp.Path("new/target")));
}

TEST(PathUtilTest, CopyFolderFollowsFileLinksOnlyAndSkipsSpecialFiles) {
  TempFolder tmp;
  const std::string src = tmp.Path("src");
  fs::create_directories(src);
  fs::create_directories(tmp.Path("elsewhere/big"));
  WriteText(tmp.Path("elsewhere/target.txt"), "linked");
  fs::create_symlink(tmp.Path("elsewhere/target.txt"), src + "/file-link");
  fs::create_directory_symlink(tmp.Path("elsewhere"), src + "/dir-link");
  fs::create_directory_symlink(src, src + "/loop");
  fs::create_symlink(tmp.Path("nothing"), src + "/dangling");
  ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0600), 0);

  const std::string dst = tmp.Path("dst");
  EXPECT_TRUE(CopyFolder(dst, src));  // would hang on the FIFO or loop on "loop"
  EXPECT_EQ(ReadText(dst + "/file-link"), "linked");
  EXPECT_FALSE(fs::is_symlink(dst + "/file-link"));
  for (const char* skipped : {"dir-link", "loop", "dangling", "pipe"}) {
    EXPECT_TRUE(Gone(dst + "/" + skipped)) << skipped;
  }
}

TEST(PathUtilTest, CopyFolderNeverDamagesItsSource) {
  TempFolder tmp;
  const std::string src = tmp.Path("src");
  fs::create_directories(src + "/sub");
  WriteText(src + "/a.txt", "a");
  EXPECT_FALSE(CopyFolder(src, src));  // onto itself: nothing truncated
  EXPECT_EQ(ReadText(src + "/a.txt"), "a");

  EXPECT_TRUE(CopyFolder(src + "/sub/copy", src));  // into itself: once, no endless descent
  EXPECT_EQ(ReadText(src + "/sub/copy/a.txt"), "a");
  EXPECT_TRUE(Gone(src + "/sub/copy/sub/copy"));

  const std::string dst = tmp.Path("dst");  // a link in the target is replaced, not followed
  fs::create_directory(dst);
  WriteText(tmp.Path("victim.txt"), "victim");
  fs::create_symlink(tmp.Path("victim.txt"), dst + "/a.txt");
  EXPECT_TRUE(CopyFolder(dst, src));
  EXPECT_EQ(ReadText(dst + "/a.txt"), "a");
  EXPECT_EQ(ReadText(tmp.Path("victim.txt")), "victim");
}

}  // namespace
}  // namespace tessarook
