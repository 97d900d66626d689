#include <gtest/gtest.h>

#include "scheme/Exclusions.h"
#include "scheme/Scheme.h"

namespace tessarook {
namespace {

std::vector<std::string> FilePaths(const CScheme& s) {
  std::vector<std::string> out;
  for (const auto& f : s.m_files) out.push_back(f.m_path);
  return out;
}

TEST(SchemeModel, AddRefusesSamePathAndKeepsTheFirstAsAdded) {
  CScheme s;
  EXPECT_TRUE(s.AddFileEntry("/data/A.txt"));
  EXPECT_FALSE(s.AddFileEntry("/data/A.txt"));
  ASSERT_EQ(s.m_files.size(), 1u);
  EXPECT_EQ(s.m_files[0].m_path, "/data/A.txt");
  // Paths are told apart as the file system does: letter case matters.
  EXPECT_TRUE(s.AddFileEntry("/data/a.txt"));
  EXPECT_TRUE(s.AddFileEntry("/data/\xC3\x84.txt"));
  EXPECT_TRUE(s.AddFileEntry("/data/\xC3\xA4.txt"));
  EXPECT_EQ(s.m_files.size(), 4u);
}

TEST(SchemeModel, FileAndFolderListsAreIndependent) {
  CScheme s;
  EXPECT_TRUE(s.AddFileEntry("/srv/x"));
  EXPECT_TRUE(s.AddFolderEntry("/srv/x"));
  EXPECT_FALSE(s.AddFolderEntry("/srv/x"));
  EXPECT_EQ(s.FindFileEntry("/srv/x"), 0);
  EXPECT_EQ(s.FindFolderEntry("/srv/x"), 0);
  EXPECT_TRUE(s.m_folders[0].m_excludedExtensions.empty());
  EXPECT_TRUE(s.RemoveFileEntry("/srv/x"));
  EXPECT_EQ(s.FindFileEntry("/srv/x"), -1);
  EXPECT_EQ(s.FindFolderEntry("/srv/x"), 0);
}

TEST(SchemeModel, RemoveKeepsTheOrderOfTheRest) {
  CScheme s;
  for (const char* p : {"/1", "/2", "/3"}) s.AddFileEntry(p);
  EXPECT_TRUE(s.RemoveFileEntry("/2"));
  EXPECT_EQ(FilePaths(s), (std::vector<std::string>{"/1", "/3"}));
  EXPECT_FALSE(s.RemoveFileEntry("/2"));
  EXPECT_EQ(s.FindFileEntry("/3"), 1);
  s.AddFileEntry("/2");
  EXPECT_EQ(FilePaths(s), (std::vector<std::string>{"/1", "/3", "/2"}));

  for (const char* p : {"/a", "/b", "/c"}) s.AddFolderEntry(p);
  EXPECT_TRUE(s.RemoveFolderEntry("/a"));
  EXPECT_FALSE(s.RemoveFolderEntry("/A"));
  ASSERT_EQ(s.m_folders.size(), 2u);
  EXPECT_EQ(s.m_folders[0].m_path, "/b");
  EXPECT_EQ(s.m_folders[1].m_path, "/c");
}

TEST(SchemeModel, ExclusionsAreEditedInPlaceThroughTheIndex) {
  CScheme s;
  s.AddFolderEntry("/a");
  s.AddFolderEntry("/b");
  const int i = s.FindFolderEntry("/b");
  ASSERT_EQ(i, 1);
  s.m_folders[i].m_excludedExtensions = {"tmp", "o"};
  CScheme copy = s;
  copy.m_folders[i].m_excludedExtensions.clear();
  EXPECT_EQ(s.m_folders[1].m_excludedExtensions, (std::vector<std::string>{"tmp", "o"}));
  EXPECT_TRUE(s.m_folders[0].m_excludedExtensions.empty());
}

std::vector<std::string> Norm(std::vector<std::string> items) {
  return NormalizeExcludedExtensions(items);
}

TEST(Exclusions, LeadingDotAndLetterCase) {
  EXPECT_EQ(Norm({"txt", ".txt"}), (std::vector<std::string>{"txt"}));
  EXPECT_EQ(Norm({"txt", "TXT"}), (std::vector<std::string>{"txt"}));
  EXPECT_EQ(Norm({"TXT", "txt"}), (std::vector<std::string>{"TXT"}));
  // Only one dot is dropped.
  EXPECT_EQ(Norm({"..txt"}), (std::vector<std::string>{".txt"}));
  EXPECT_EQ(Norm({"..txt", ".txt"}), (std::vector<std::string>{".txt", "txt"}));
  // Folding is A-Z only: other bytes compare as they are.
  EXPECT_EQ(Norm({"\xC3\x84", "\xC3\xA4"}), (std::vector<std::string>{"\xC3\x84", "\xC3\xA4"}));
}

TEST(Exclusions, ForbiddenAndBlankItemsAreDropped) {
  EXPECT_TRUE(Norm({"*.txt", "a/b", "a|b", "a\\b", "c:", "?", "\"", "<", ">"}).empty());
  EXPECT_TRUE(Norm({"   ", ".", "", "\t\r\n\v\f", ". "}).empty());
  // Blanks at the ends are kept in what is stored; only the emptiness test trims.
  EXPECT_EQ(Norm({"txt ", "txt"}), (std::vector<std::string>{"txt ", "txt"}));
  EXPECT_EQ(Norm({" doc", "tmp", "bak"}), (std::vector<std::string>{" doc", "tmp", "bak"}));
  // The dot is dropped before the forbidden-character test, and a dropped item
  // does not block a later good one.
  EXPECT_EQ(Norm({"x*", "x", ".X"}), (std::vector<std::string>{"x"}));
}

}  // namespace
}  // namespace tessarook
