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
  return static_cast<int>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(AtomicFileTest, ReplacesTheFileKeepsItsModeAndLeavesNoTemporary) {
  TempFolder tmp;
  const std::string path = tmp.Path("settings.xml");
  EXPECT_TRUE(WriteFileAtomic(path, "first"));
  ::chmod(path.c_str(), 0640);
  EXPECT_TRUE(WriteFileAtomic(path, std::string("sec\0ond", 7)));
  EXPECT_EQ(ReadText(path), std::string("sec\0ond", 7));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(CountEntries(tmp.Path()), 1);

  fs::create_directory(tmp.Path("real"));  // through a link: the link stays
  fs::create_symlink(tmp.Path("real/target"), tmp.Path("link"));
  EXPECT_TRUE(WriteFileAtomic(tmp.Path("link"), "via link"));
  EXPECT_TRUE(fs::is_symlink(tmp.Path("link")));
  EXPECT_EQ(ReadText(tmp.Path("real/target")), "via link");
}

TEST(AtomicFileTest, AFailedOrAbandonedWriteKeepsTheOldFile) {
  TempFolder tmp;
  const std::string path = tmp.Path("data");
  WriteText(path, "good data");
  fs::create_directory(tmp.Path("folder"));
  EXPECT_FALSE(WriteFileAtomic(tmp.Path("folder"), "x"));  // the rename fails
  EXPECT_FALSE(WriteFileAtomic(tmp.Path("missing/data"), "x"));
  EXPECT_TRUE(fs::is_empty(tmp.Path("folder")));
  {
    CAtomicFile out;
    ASSERT_TRUE(out.Open(path));
    EXPECT_TRUE(out.Write("new content"));
    EXPECT_TRUE(fs::exists(out.TempPath()));
  }  // dropped without Commit
  EXPECT_EQ(ReadText(path), "good data");
  EXPECT_EQ(CountEntries(tmp.Path()), 2);

  CAtomicFile out;
  ASSERT_TRUE(out.Open(path));
  EXPECT_TRUE(out.Write("new"));
  EXPECT_TRUE(out.Commit());
  EXPECT_FALSE(out.Write("late"));
  EXPECT_EQ(ReadText(path), "new");
}

}  // namespace
}  // namespace tessarook
