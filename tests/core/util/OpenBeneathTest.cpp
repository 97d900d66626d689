// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "TempFolder.h"
#include "util/OpenBeneath.h"

namespace fs = std::filesystem;
using namespace tessarook;

TEST(OpenBeneath, RefusesLinksAndClimbingAndTakesAwayOnlyEmptyMadeFolders) {
  test::TempFolder temp;
  fs::create_directories(temp.Path("root/real"));
  fs::create_directories(temp.Path("outside"));
  fs::create_symlink(temp.Path("outside"), temp.Path("root/link"));
  const CFileHandle root(open(temp.Path("root").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(root.IsOpen());

  CMadeFolders made;
  std::string error;
  EXPECT_FALSE(
      OpenFolderBelow(root.Get(), {"link", "x"}, LinkRule::kRefuse, made, "R", error).IsOpen());
  EXPECT_EQ(error, "R/link: is a symbolic link; links inside the target folder are not followed");
  EXPECT_FALSE(
      OpenFolderBelow(root.Get(), {"real", "..", ".."}, LinkRule::kRefuse, made, "R", error)
          .IsOpen());
  EXPECT_NE(error.find("R/real/.."), std::string::npos) << error;
  EXPECT_TRUE(made.IsEmpty());
  EXPECT_TRUE(fs::is_empty(temp.Path("outside")));
  // Followed, the same link leads where it points.
  EXPECT_TRUE(
      OpenFolderBelow(root.Get(), {"link", "x"}, LinkRule::kFollow, made, "R", error).IsOpen());
  EXPECT_TRUE(fs::is_directory(temp.Path("outside/x")));

  // Made folders go again when empty; one that holds something stays, and so
  // do the folders above it.
  CMadeFolders deep;
  ASSERT_TRUE(
      OpenFolderBelow(root.Get(), {"real", "a", "b", "c"}, LinkRule::kRefuse, deep, "R", error)
          .IsOpen());
  test::WriteText(temp.Path("root/real/a/b/kept.txt"), "x");
  deep.RemoveEmpty();
  EXPECT_FALSE(fs::exists(temp.Path("root/real/a/b/c")));
  EXPECT_TRUE(fs::exists(temp.Path("root/real/a/b/kept.txt")));
  CMadeFolders again;
  ASSERT_TRUE(OpenFolderMaking(temp.Path("new/one"), again, error).IsOpen());
  again.RemoveEmpty();
  EXPECT_FALSE(fs::exists(temp.Path("new")));
  EXPECT_TRUE(fs::exists(temp.Path("root")));
}
