// SPDX-License-Identifier: GPL-3.0-or-later
// tessarook-cli export and import, end to end.

#include <gtest/gtest.h>

#include "TestFiles.h"

namespace tessarook {
namespace {

using namespace tessarook::testing;

std::string Cli(const std::string& schemesDir) {
  return std::string(TESSAROOK_CLI) + " --quiet --schemes-dir " + Quote(schemesDir) + " ";
}

class CliExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TESSAROOK_CLI)) GTEST_SKIP() << "tessarook-cli is not built";
    WriteFile(tmp / "a/work.tsbak", RandomBytes(64, 9));
    WriteFile(tmp / "a/work.tsbak.backups/one.zip", RandomBytes(2 << 20, 10));
    WriteFile(tmp / "a/work.tsbak.backups/two.zip", RandomBytes(12345, 11));
  }
  TempDir tmp;
};

TEST_F(CliExchange, ExportThenImportElsewhereReproducesTheScheme) {
  const std::string csm = tmp / "work.csm";
  std::string out;
  ASSERT_EQ(RunCommand(Cli(tmp / "a") + "export work " + Quote(csm), &out), 0);
  EXPECT_EQ(out, csm + "\t2\t" + std::to_string(fs::file_size(csm)) + "\n");
  ASSERT_EQ(RunCommand(Cli(tmp / "b") + "import " + Quote(csm), &out), 0);
  EXPECT_EQ(out, "work\n");
  EXPECT_EQ(Tree(tmp.path() / "b"), Tree(tmp.path() / "a"));

  // A second import is refused unless forced; refusing changes nothing.
  WriteFile(tmp / "b/work.tsbak.backups/local.zip", "mine");
  const auto before = Tree(tmp.path() / "b");
  EXPECT_EQ(RunCommand(Cli(tmp / "b") + "import " + Quote(csm) + " 2>/dev/null"), 3);
  EXPECT_EQ(Tree(tmp.path() / "b"), before);
  EXPECT_EQ(RunCommand(Cli(tmp / "b") + "import --force " + Quote(csm)), 0);
  EXPECT_EQ(ReadFile(tmp / "b/work.tsbak.backups/local.zip"), "mine");

  // An existing target file is replaced only with --force.
  WriteFile(csm, "keep me");
  EXPECT_EQ(RunCommand(Cli(tmp / "a") + "export work " + Quote(csm) + " 2>/dev/null"), 3);
  EXPECT_EQ(ReadFile(csm), "keep me");
  EXPECT_EQ(RunCommand(Cli(tmp / "a") + "export work " + Quote(csm) + " --force >/dev/null"), 0);
  EXPECT_EQ(fs::file_size(csm), 4 + 4 + 4 + 64 + 4 + 2 * 8 + 14 + (2 << 20) + 12345);
}

TEST_F(CliExchange, DamagedFileAndMissingSchemeFail) {
  const std::string csm = tmp / "bad.csm";
  WriteFile(csm, Field("w") + Field("s") + U32(1) + Field("../escape") + Field("x"));
  std::string err;
  EXPECT_EQ(RunCommand(Cli(tmp / "b") + "import " + Quote(csm) + " 2>&1 >/dev/null", &err), 3);
  EXPECT_NE(err.find("The compressed Scheme is damaged or incomplete"), std::string::npos);
  EXPECT_FALSE(fs::exists(tmp / "b"));
  EXPECT_FALSE(fs::exists(tmp / "escape"));
  EXPECT_EQ(RunCommand(Cli(tmp / "a") + "export nope " + Quote(tmp / "x.csm") + " 2>/dev/null"), 3);
  EXPECT_FALSE(fs::exists(tmp / "x.csm"));
}

}  // namespace
}  // namespace tessarook
