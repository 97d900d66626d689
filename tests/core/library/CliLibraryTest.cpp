// SPDX-License-Identifier: GPL-3.0-or-later
// tessarook-cli schemes, delete, rename and duplicate, end to end.

#include <gtest/gtest.h>

#include "../exchange/TestFiles.h"

namespace tessarook {
namespace {

using namespace tessarook::testing;

class CliLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TESSAROOK_CLI)) GTEST_SKIP() << "tessarook-cli is not built";
    WriteFile(tmp / "s/work.tsbak", "w");
    WriteFile(tmp / "s/work.tsbak.backups/b.zip", "wb");
    WriteFile(tmp / "s/home.tsbak", "h");
    WriteFile(tmp / "s/home.tsbak.backups/h.zip", "hb");
  }
  int Run(const std::string& args, std::string* out = nullptr) {
    return RunCommand(std::string(TESSAROOK_CLI) + " --schemes-dir " + Quote(tmp / "s") + " " +
                          args + " 2>/dev/null",
                      out);
  }
  TempDir tmp;
};

TEST_F(CliLibrary, ListsRenamesDuplicatesAndDeletes) {
  std::string out;
  ASSERT_EQ(Run("schemes", &out), 0);
  EXPECT_EQ(out, "home\nwork\n");

  const auto before = Tree(tmp.path());
  EXPECT_EQ(Run("rename work home"), 3);  // exists: refused without --force
  EXPECT_EQ(Run("duplicate work home"), 3);
  EXPECT_EQ(Run("rename work 'a:b'"), 2);
  EXPECT_EQ(Run("rename ghost other"), 3);
  EXPECT_EQ(Run("delete ghost"), 3);
  EXPECT_EQ(Tree(tmp.path()), before);

  EXPECT_EQ(Run("duplicate work copy"), 0);
  EXPECT_EQ(ReadFile(tmp / "s/copy.tsbak.backups/b.zip"), "wb");
  EXPECT_EQ(Run("rename work home --force"), 0);
  EXPECT_EQ(ReadFile(tmp / "s/home.tsbak"), "w");
  EXPECT_FALSE(fs::exists(tmp / "s/home.tsbak.backups/h.zip"));
  EXPECT_EQ(Run("delete copy"), 0);
  ASSERT_EQ(Run("schemes", &out), 0);
  EXPECT_EQ(out, "home\n");
  EXPECT_EQ(Tree(tmp.path() / "s"),
            (std::map<std::string, std::string>{{"home.tsbak", "w"},
                                                {"home.tsbak.backups", "<dir>"},
                                                {"home.tsbak.backups/b.zip", "wb"}}));
}

}  // namespace
}  // namespace tessarook
