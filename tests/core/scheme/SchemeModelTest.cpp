// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "scheme/Exclusions.h"
#include "scheme/Scheme.h"

namespace tessarook {
namespace {

using List = std::vector<std::string>;

List FilePaths(const CScheme& s) {
  List out;
  for (const auto& f : s.m_files) out.push_back(f.m_path);
  return out;
}

TEST(SchemeModel, AddRefusesSamePathAndKeepsTheFirstAsAdded) {
  CScheme s;
  EXPECT_TRUE(s.AddFileEntry("/data/A.txt"));
  EXPECT_FALSE(s.AddFileEntry("/data/A.txt"));
  // Paths are told apart as the file system does: letter case matters.
  EXPECT_TRUE(s.AddFileEntry("/data/a.txt"));
  EXPECT_TRUE(s.AddFileEntry("/data/\xC3\xA4.txt"));
  EXPECT_EQ(FilePaths(s), (List{"/data/A.txt", "/data/a.txt", "/data/\xC3\xA4.txt"}));
  // The two lists never look at each other.
  EXPECT_TRUE(s.AddFolderEntry("/data/A.txt"));
  EXPECT_FALSE(s.AddFolderEntry("/data/A.txt"));
  EXPECT_EQ(s.FindFolderEntry("/data/A.txt"), 0);
  EXPECT_TRUE(s.m_folders[0].m_excludedExtensions.empty());
  EXPECT_TRUE(s.RemoveFileEntry("/data/A.txt"));
  EXPECT_EQ(s.FindFileEntry("/data/A.txt"), -1);
  EXPECT_EQ(s.FindFolderEntry("/data/A.txt"), 0);
}

TEST(SchemeModel, RemoveKeepsTheOrderOfTheRest) {
  CScheme s;
  for (const char* p : {"/1", "/2", "/3"}) s.AddFileEntry(p);
  EXPECT_TRUE(s.RemoveFileEntry("/2"));
  EXPECT_FALSE(s.RemoveFileEntry("/2"));
  EXPECT_EQ(s.FindFileEntry("/3"), 1);
  s.AddFileEntry("/2");
  EXPECT_EQ(FilePaths(s), (List{"/1", "/3", "/2"}));
  for (const char* p : {"/a", "/b", "/c"}) s.AddFolderEntry(p);
  EXPECT_TRUE(s.RemoveFolderEntry("/a"));
  ASSERT_EQ(s.m_folders.size(), 2u);
  EXPECT_EQ(s.m_folders[1].m_path, "/c");
}

List Norm(List items) { return NormalizeExcludedExtensions(items); }

TEST(Exclusions, LeadingDotAndLetterCase) {
  EXPECT_EQ(Norm({"txt", ".txt"}), (List{"txt"}));
  EXPECT_EQ(Norm({"TXT", "txt"}), (List{"TXT"}));
  // Only one dot is dropped.
  EXPECT_EQ(Norm({"..txt", ".txt"}), (List{".txt", "txt"}));
  // Folding is A-Z only: other bytes compare as they are.
  EXPECT_EQ(Norm({"\xC3\x84", "\xC3\xA4"}), (List{"\xC3\x84", "\xC3\xA4"}));
}

TEST(Exclusions, ForbiddenAndBlankItemsAreDropped) {
  EXPECT_TRUE(Norm({"*.txt", "a/b", "a|b", "a\\b", "c:", "?", "\"", "<", ">"}).empty());
  EXPECT_TRUE(Norm({"   ", ".", "", "\t\r\n\v\f", ". "}).empty());
  // Blanks at the ends are kept in what is stored; only the emptiness test trims.
  EXPECT_EQ(Norm({"txt ", "txt", " doc"}), (List{"txt ", "txt", " doc"}));
  // A dropped item does not block a later good one.
  EXPECT_EQ(Norm({"x*", "x", ".X"}), (List{"x"}));
}

}  // namespace
}  // namespace tessarook
