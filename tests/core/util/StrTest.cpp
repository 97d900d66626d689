// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "util/Str.h"

namespace tessarook {
namespace {

TEST(StrTest, TrimAndCaseFolding) {
  EXPECT_EQ(Trim(" \t \t "), "");
  EXPECT_EQ(Trim("\r\n\t\v a b \v\t\n\r"), "a b");
  EXPECT_EQ(Trim("\fa\f"), "\fa\f");  // form feed is not in the set
  EXPECT_EQ(Trim("--a-b--", "-"), "a-b");
  EXPECT_EQ(ToLower("AbZ@[`{\xC3\x89"), "abz@[`{\xC3\x89");
  EXPECT_TRUE(EqualsNoCase("ZIP", "zip"));
  EXPECT_FALSE(EqualsNoCase("@", "`"));  // differ by the case bit only
  EXPECT_FALSE(EqualsNoCase("\xC3\x89", "\xC3\xA9"));
}

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

TEST(StrTest, SeparatorsAndFields) {
  EXPECT_EQ(EnsureTrailingBackslash(""), "/");
  EXPECT_EQ(EnsureTrailingBackslash("/home/a/"), "/home/a/");

  std::string text = "/dir/sub/file.exe";
  EXPECT_TRUE(CutAtLast(text, "/"));
  EXPECT_EQ(text, "/dir/sub");
  text = "name";
  EXPECT_FALSE(CutAtLast(text, "/"));
  EXPECT_EQ(text, "name");

  EXPECT_EQ(CountOf("aaaa", "aa"), 2);
  EXPECT_EQ(CountOf("aaa", "aa"), 1);
  EXPECT_EQ(CountOf("abc", ""), 0);
  EXPECT_EQ(Field("0: /a: b", ": ", 3), "b");
  EXPECT_EQ(FieldCount("0: /a: b", ": "), 3);
  EXPECT_EQ(Field("a|b", "|", 3), "");
  EXPECT_EQ(Field("abc", "|", 1), "abc");
  EXPECT_EQ(Field("a||c", "|", 2), "");
  EXPECT_EQ(Field("a||c", "|", 3), "c");
}

TEST(StrTest, SplitKeepsEmptyTokensAndTheirDelimiters) {
  std::vector<SplitToken> tokens{{"stale", "x"}};
  EXPECT_FALSE(Split("", ".", tokens));
  EXPECT_TRUE(tokens.empty());
  ASSERT_TRUE(Split("a..b", ".", tokens));
  EXPECT_EQ(tokens, (std::vector<SplitToken>{{"a", "."}, {"", "."}, {"b", ""}}));
  ASSERT_TRUE(Split("x,y;", ",;", tokens));
  EXPECT_EQ(tokens, (std::vector<SplitToken>{{"x", ","}, {"y", ";"}, {"", ""}}));
}

TEST(StrTest, FormatAndReplaceArgInsertTexts) {
  EXPECT_EQ(Format("Delete %s from %s?", {"a", "b"}), "Delete a from b?");
  EXPECT_EQ(Format("100%% %s and %s", {"one"}), "100% one and ");
  EXPECT_EQ(Format("%s", {"%s"}), "%s");  // inserted text is not rescanned
  EXPECT_EQ(ReplaceArg("Save changes to %1?", "%1", "Work"), "Save changes to Work?");
  EXPECT_EQ(ReplaceArg("%1%1", "%1", "%1x"), "%1x%1x");
}

}  // namespace
}  // namespace tessarook
