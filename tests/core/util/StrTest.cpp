#include <gtest/gtest.h>

#include "util/Str.h"

namespace tessarook {
namespace {

TEST(StrTest, TrimUsesTheFiveWhiteSpaceCharactersOrAGivenSet) {
  EXPECT_EQ(Trim(" \t \t "), "");
  EXPECT_EQ(Trim("\r\n\t\v a b \v\t\n\r"), "a b");
  EXPECT_EQ(Trim("\fa\f"), "\fa\f");  // form feed is not in the set
  EXPECT_EQ(Trim("--a-b--", "-"), "a-b");
  EXPECT_EQ(Trim(""), "");
}

TEST(StrTest, CaseHelpersFoldOnlyAsciiLetters) {
  EXPECT_EQ(ToLower("AbZ@[`{\xC3\x89"), "abz@[`{\xC3\x89");
  EXPECT_TRUE(EqualsNoCase("ZIP", "zip"));
  EXPECT_FALSE(EqualsNoCase("zip", "zi"));
  EXPECT_FALSE(EqualsNoCase("@", "`"));  // 0x40 and 0x60 differ by the case bit only
  EXPECT_FALSE(EqualsNoCase("\xC3\x89", "\xC3\xA9"));
}

TEST(StrTest, IntegersFollowAtol) {
  EXPECT_EQ(FromInt(-5), "-5");
  EXPECT_EQ(FromInt(INT32_MIN), "-2147483648");
  EXPECT_EQ(ToInt(" 42x"), 42);
  EXPECT_EQ(ToInt("\t\n-17"), -17);
  EXPECT_EQ(ToInt("+8"), 8);
  EXPECT_EQ(ToInt("x1"), 0);
  EXPECT_EQ(ToInt("- 1"), 0);
  EXPECT_EQ(ToInt(""), 0);
  EXPECT_EQ(ToInt("2147483647"), INT32_MAX);
  EXPECT_EQ(ToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ToInt("2147483648"), INT32_MAX);
  EXPECT_EQ(ToInt("-99999999999999999999999999"), INT32_MIN);
}

TEST(StrTest, EnsureTrailingBackslashAppendsTheSeparatorOnce) {
  EXPECT_EQ(EnsureTrailingBackslash(""), "/");
  EXPECT_EQ(EnsureTrailingBackslash("/home/a"), "/home/a/");
  EXPECT_EQ(EnsureTrailingBackslash("/home/a/"), "/home/a/");
}

TEST(StrTest, CutAtLastKeepsTheTextBeforeTheLastSeparator) {
  std::string text = "/dir/sub/file.exe";
  EXPECT_TRUE(CutAtLast(text, "/"));
  EXPECT_EQ(text, "/dir/sub");
  text = "name";
  EXPECT_FALSE(CutAtLast(text, "/"));
  EXPECT_EQ(text, "name");
  text = "a::b::c";
  EXPECT_TRUE(CutAtLast(text, "::"));
  EXPECT_EQ(text, "a::b");
  EXPECT_FALSE(CutAtLast(text, ""));
}

TEST(StrTest, CountOfCountsNonOverlappingFromTheLeft) {
  EXPECT_EQ(CountOf("aaaa", "aa"), 2);
  EXPECT_EQ(CountOf("aaa", "aa"), 1);
  EXPECT_EQ(CountOf("", "|"), 0);
  EXPECT_EQ(CountOf("abc", ""), 0);
  EXPECT_EQ(FieldCount("a|b|", "|"), 3);
}

TEST(StrTest, FieldNumbersFieldsFromOne) {
  EXPECT_EQ(Field("name|/x.csm", "|", 1), "name");
  EXPECT_EQ(Field("name|/x.csm", "|", 2), "/x.csm");
  EXPECT_EQ(Field("0: /a: b", ": ", 3), "b");
  EXPECT_EQ(FieldCount("0: /a: b", ": "), 3);
  EXPECT_EQ(Field("a|b", "|", 3), "");
  EXPECT_EQ(Field("abc", "|", 1), "abc");
  EXPECT_EQ(Field("abc", "|", 2), "");
  EXPECT_EQ(Field("", "|", 1), "");
  EXPECT_EQ(Field("a||c", "|", 2), "");
  EXPECT_EQ(Field("a||c", "|", 3), "c");
  EXPECT_EQ(Field("a|b", "|", 0), "");
}

TEST(StrTest, SplitKeepsEmptyTokensAndTheirDelimiters) {
  std::vector<SplitToken> tokens{{"stale", "x"}};
  EXPECT_FALSE(Split("", ".", tokens));
  EXPECT_TRUE(tokens.empty());

  ASSERT_TRUE(Split("a..b", ".", tokens));
  EXPECT_EQ(tokens, (std::vector<SplitToken>{{"a", "."}, {"", "."}, {"b", ""}}));

  ASSERT_TRUE(Split("x,y;", ",;", tokens));
  EXPECT_EQ(tokens, (std::vector<SplitToken>{{"x", ","}, {"y", ";"}, {"", ""}}));

  ASSERT_TRUE(Split("plain", ",", tokens));
  EXPECT_EQ(tokens, (std::vector<SplitToken>{{"plain", ""}}));
}

TEST(StrTest, FormatAndReplaceArgInsertTexts) {
  EXPECT_EQ(Format("Delete %s from %s?", {"a", "b"}), "Delete a from b?");
  EXPECT_EQ(Format("100%% %s", {"done"}), "100% done");
  EXPECT_EQ(Format("%s and %s", {"one"}), "one and ");
  EXPECT_EQ(Format("%d %", {"x"}), "%d %");
  EXPECT_EQ(Format("%s", {"%s"}), "%s");  // inserted text is not rescanned
  EXPECT_EQ(ReplaceArg("Save changes to %1?", "%1", "Work"), "Save changes to Work?");
  EXPECT_EQ(ReplaceArg("%1%1", "%1", "%1x"), "%1x%1x");
  EXPECT_EQ(ReplaceArg("none", "%1", "x"), "none");
}

}  // namespace
}  // namespace tessarook
