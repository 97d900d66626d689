#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "util/PathUtil.h"

namespace tessarook {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::TempFolder;
using test::WriteText;

TEST(PathUtilTest, ModulePathIsTheExecutablesFolderPlusTheName) {
  const std::string exe = fs::read_symlink("/proc/self/exe").string();
  const std::string folder = exe.substr(0, exe.rfind('/') + 1);
  EXPECT_EQ(MakeModulePath("settings.xml"), folder + "settings.xml");
  EXPECT_EQ(MakeModulePath(""), folder);
}

TEST(PathUtilTest, OnlyALeadingSlashMakesAPathAbsolute) {
  EXPECT_FALSE(IsRelativePath("/home"));
  EXPECT_FALSE(IsRelativePath("//server"));
  EXPECT_TRUE(IsRelativePath("My Schemes"));
  EXPECT_TRUE(IsRelativePath("./x"));
  EXPECT_TRUE(IsRelativePath("C:\\x"));
  EXPECT_TRUE(IsRelativePath(""));
}

TEST(PathUtilTest, ExistenceChecksDoNotMoveTheCurrentDirectory) {
  TempFolder tmp;
  WriteText(tmp.Path("file"), "x");
  fs::create_directory(tmp.Path("dir"));
  fs::create_symlink(tmp.Path("dir"), tmp.Path("dirlink"));
  fs::create_symlink(tmp.Path("gone"), tmp.Path("dangling"));
  const fs::path cwd = fs::current_path();

  EXPECT_TRUE(FileExists(tmp.Path("file")));
  EXPECT_TRUE(FileExists(tmp.Path("dir")));
  EXPECT_FALSE(FileExists(tmp.Path("gone")));
  EXPECT_FALSE(FileExists(tmp.Path("dangling")));
  EXPECT_TRUE(FolderExists(tmp.Path("dir")));
  EXPECT_TRUE(FolderExists(tmp.Path("dirlink")));
  EXPECT_FALSE(FolderExists(tmp.Path("file")));
  EXPECT_FALSE(FolderExists(tmp.Path("gone")));
  EXPECT_FALSE(FolderExists(""));
  EXPECT_EQ(fs::current_path(), cwd);

  // Many threads asking at once all get the right answer.
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int j = 0; j < 500; ++j) {
        if (!FolderExists(tmp.Path("dir")) || FolderExists(tmp.Path("file"))) ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(PathUtilTest, DeleteFolderTreeRemovesLinksNotTheirTargets) {
  TempFolder tmp;
  const std::string tree = tmp.Path("tree");
  fs::create_directories(tree + "/a/b/c");
  WriteText(tree + "/top.txt", "1");
  WriteText(tree + "/a/b/c/deep.txt", "2");
  fs::create_directories(tmp.Path("outside/keep"));
  WriteText(tmp.Path("outside/keep/precious.txt"), "keep");
  fs::create_directory_symlink(tmp.Path("outside"), tree + "/a/link-to-dir");
  fs::create_symlink(tmp.Path("outside/keep/precious.txt"), tree + "/link-to-file");

  EXPECT_TRUE(DeleteFolderTree(tree));
  EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
  EXPECT_EQ(ReadText(tmp.Path("outside/keep/precious.txt")), "keep");

  // A link given as the folder itself is removed as a link.
  fs::create_directory_symlink(tmp.Path("outside"), tmp.Path("alias"));
  EXPECT_TRUE(DeleteFolderTree(tmp.Path("alias")));
  EXPECT_TRUE(fs::exists(tmp.Path("outside/keep/precious.txt")));
  EXPECT_TRUE(DeleteFolderTree(tmp.Path("never-existed")));
}

TEST(PathUtilTest, DeleteFolderTreeKeepsWhatCannotBeDeletedAndGoesOn) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempFolder tmp;
  const std::string tree = tmp.Path("tree");
  fs::create_directories(tree + "/locked");
  fs::create_directories(tree + "/open");
  WriteText(tree + "/locked/stays.txt", "x");
  WriteText(tree + "/open/goes.txt", "x");
  ::chmod((tree + "/locked").c_str(), 0500);  // its file cannot be unlinked

  EXPECT_FALSE(DeleteFolderTree(tree));
  EXPECT_TRUE(fs::exists(tree + "/locked/stays.txt"));
  EXPECT_FALSE(fs::exists(tree + "/open"));
}

TEST(PathUtilTest, DeleteFolderTreeHandlesDeepTrees) {
  TempFolder tmp;
  std::string path = tmp.Path("deep");
  for (int i = 0; i < 300; ++i) path += "/d";
  fs::create_directories(path);
  WriteText(path + "/leaf", "x");
  EXPECT_TRUE(DeleteFolderTree(tmp.Path("deep")));
  EXPECT_FALSE(fs::exists(tmp.Path("deep")));
}

TEST(PathUtilTest, CopyFolderCopiesFilesAndSubfolders) {
  TempFolder tmp;
  const std::string src = tmp.Path("src");
  fs::create_directories(src + "/sub/inner");
  WriteText(src + "/one.txt", "one");
  WriteText(src + "/two.bin", std::string("t\0w\0o", 5));
  WriteText(src + "/sub/three.txt", "three");
  WriteText(src + "/sub/inner/four.txt", std::string(200000, 'q'));  // several chunks
  ::chmod((src + "/one.txt").c_str(), 0640);
  const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(48);
  fs::last_write_time(src + "/one.txt", stamp);
  WriteText(tmp.Path("dst-existing"), "");  // unrelated file beside the target

  const std::string dst = tmp.Path("dst");
  fs::create_directory(dst);
  WriteText(dst + "/one.txt", "old content to be replaced");
  EXPECT_TRUE(CopyFolder(dst, src));
  EXPECT_EQ(ReadText(dst + "/one.txt"), "one");
  EXPECT_EQ(ReadText(dst + "/two.bin"), std::string("t\0w\0o", 5));
  EXPECT_EQ(ReadText(dst + "/sub/three.txt"), "three");
  EXPECT_EQ(ReadText(dst + "/sub/inner/four.txt"), std::string(200000, 'q'));
  EXPECT_EQ(fs::status(dst + "/one.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(fs::last_write_time(dst + "/one.txt"), stamp);
}

TEST(PathUtilTest, CopyFolderFollowsFileLinksOnlyAndSkipsSpecialFiles) {
  TempFolder tmp;
  const std::string src = tmp.Path("src");
  fs::create_directories(src);
  fs::create_directories(tmp.Path("elsewhere/big"));
  WriteText(tmp.Path("elsewhere/target.txt"), "linked");
  WriteText(tmp.Path("elsewhere/big/file"), "must not be copied");
  fs::create_symlink(tmp.Path("elsewhere/target.txt"), src + "/file-link");
  fs::create_directory_symlink(tmp.Path("elsewhere"), src + "/dir-link");
  fs::create_directory_symlink(src, src + "/loop");
  fs::create_symlink(tmp.Path("nothing"), src + "/dangling");
  ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0600), 0);

  const std::string dst = tmp.Path("dst");
  EXPECT_TRUE(CopyFolder(dst, src));  // would hang on the FIFO or loop on "loop"
  EXPECT_EQ(ReadText(dst + "/file-link"), "linked");
  EXPECT_FALSE(fs::is_symlink(dst + "/file-link"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dst + "/dir-link")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dst + "/loop")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dst + "/dangling")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dst + "/pipe")));
}

TEST(PathUtilTest, CopyFolderNeverDamagesItsSource) {
  TempFolder tmp;
  const std::string src = tmp.Path("src");
  fs::create_directories(src + "/sub");
  WriteText(src + "/a.txt", "a");

  // Onto itself: refused, nothing truncated.
  EXPECT_FALSE(CopyFolder(src, src));
  EXPECT_EQ(ReadText(src + "/a.txt"), "a");

  // Into one of its own subfolders: copies once, does not chase its tail.
  EXPECT_TRUE(CopyFolder(src + "/sub/copy", src));
  EXPECT_EQ(ReadText(src + "/sub/copy/a.txt"), "a");
  EXPECT_FALSE(fs::exists(src + "/sub/copy/sub/copy"));

  // A target file that is a link elsewhere is replaced, not written through.
  const std::string dst = tmp.Path("dst");
  fs::create_directory(dst);
  WriteText(tmp.Path("victim.txt"), "victim");
  fs::create_symlink(tmp.Path("victim.txt"), dst + "/a.txt");
  EXPECT_TRUE(CopyFolder(dst, src));
  EXPECT_EQ(ReadText(dst + "/a.txt"), "a");
  EXPECT_EQ(ReadText(tmp.Path("victim.txt")), "victim");
}

TEST(PathUtilTest, CopyFolderOfAMissingSourceStillCreatesTheTarget) {
  TempFolder tmp;
  EXPECT_FALSE(CopyFolder(tmp.Path("new/target"), tmp.Path("missing")));
  EXPECT_TRUE(fs::is_directory(tmp.Path("new/target")));
  EXPECT_TRUE(fs::is_empty(tmp.Path("new/target")));
}

}  // namespace
}  // namespace tessarook
