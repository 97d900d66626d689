#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "TempFolder.h"
#include "util/AtomicFile.h"

namespace tessarook {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::TempFolder;
using test::WriteText;

int CountEntries(const std::string& folder) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
  return n;
}

TEST(AtomicFileTest, ReplacesTheFileAndLeavesNoTemporaryBehind) {
  TempFolder tmp;
  const std::string path = tmp.Path("settings.xml");
  EXPECT_TRUE(WriteFileAtomic(path, "first"));
  EXPECT_EQ(ReadText(path), "first");
  ::chmod(path.c_str(), 0640);
  EXPECT_TRUE(WriteFileAtomic(path, std::string("sec\0ond", 7)));
  EXPECT_EQ(ReadText(path), std::string("sec\0ond", 7));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_TRUE(WriteFileAtomic(path, ""));
  EXPECT_EQ(fs::file_size(path), 0u);
  EXPECT_EQ(CountEntries(tmp.Path()), 1);
}

TEST(AtomicFileTest, AFailedWriteKeepsTheOldFile) {
  TempFolder tmp;
  const std::string path = tmp.Path("data");
  WriteText(path, "good data");
  // The target is a folder: the rename fails after the bytes were written.
  fs::create_directory(tmp.Path("folder"));
  EXPECT_FALSE(WriteFileAtomic(tmp.Path("folder"), "x"));
  EXPECT_FALSE(WriteFileAtomic(tmp.Path("missing/data"), "x"));
  EXPECT_FALSE(WriteFileAtomic("", "x"));
  EXPECT_EQ(CountEntries(tmp.Path()), 2);
  EXPECT_TRUE(fs::is_empty(tmp.Path("folder")));

  if (::geteuid() != 0) {
    ::chmod(tmp.Path().c_str(), 0500);  // folder not writable
    EXPECT_FALSE(WriteFileAtomic(path, "bad"));
    ::chmod(tmp.Path().c_str(), 0700);
    EXPECT_EQ(ReadText(path), "good data");
  }
}

TEST(AtomicFileTest, StreamedWritesAppearOnlyOnCommit) {
  TempFolder tmp;
  const std::string path = tmp.Path("big");
  WriteText(path, "old");
  {
    CAtomicFile out;
    ASSERT_TRUE(out.Open(path));
    EXPECT_TRUE(out.Write("new "));
    EXPECT_TRUE(out.Write("content"));
    EXPECT_EQ(ReadText(path), "old");
    EXPECT_TRUE(fs::exists(out.TempPath()));
  }  // dropped without Commit
  EXPECT_EQ(ReadText(path), "old");
  EXPECT_EQ(CountEntries(tmp.Path()), 1);

  CAtomicFile out;
  ASSERT_TRUE(out.Open(path));
  EXPECT_TRUE(out.Write("new"));
  EXPECT_TRUE(out.Commit());
  EXPECT_FALSE(out.IsOpen());
  EXPECT_FALSE(out.Write("late"));
  EXPECT_EQ(ReadText(path), "new");
  EXPECT_EQ(CountEntries(tmp.Path()), 1);
}

TEST(AtomicFileTest, WritingThroughALinkKeepsTheLink) {
  TempFolder tmp;
  fs::create_directory(tmp.Path("real"));
  WriteText(tmp.Path("real/settings.xml"), "old");
  fs::create_symlink(tmp.Path("real/settings.xml"), tmp.Path("settings.xml"));
  EXPECT_TRUE(WriteFileAtomic(tmp.Path("settings.xml"), "new"));
  EXPECT_TRUE(fs::is_symlink(tmp.Path("settings.xml")));
  EXPECT_EQ(ReadText(tmp.Path("real/settings.xml")), "new");
}

}  // namespace
}  // namespace tessarook
