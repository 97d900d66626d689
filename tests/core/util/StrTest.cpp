// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "util/Str.h"

namespace tessarook {
namespace {

TEST(StrTest, IntegersFollowAtolAndClampAtThe32BitRange) {
  EXPECT_EQ(FromInt(-5), "-5");
  EXPECT_EQ(FromInt(INT32_MIN), "-2147483648");
  EXPECT_EQ(ToInt(" 42x"), 42);
  EXPECT_EQ(ToInt("\t\n-17"), -17);
  EXPECT_EQ(ToInt("- 1"), 0);
  EXPECT_EQ(ToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ToInt("2147483648"), INT32_MAX);
  EXPECT_EQ(ToInt("-99999999999999999999999999"), INT32_MIN);
}

TEST(StrTest, PathSeparators) {
  EXPECT_EQ(EnsureTrailingBackslash(""), "/");
  EXPECT_EQ(EnsureTrailingBackslash("/home/a/"), "/home/a/");

  std::string text = "/dir/sub/file.exe";
  EXPECT_TRUE(CutAtLast(text, "/"));
  EXPECT_EQ(text, "/dir/sub");
  text = "name";
  EXPECT_FALSE(CutAtLast(text, "/"));
  EXPECT_EQ(text, "name");
}

}  // namespace
}  // namespace tessarook
