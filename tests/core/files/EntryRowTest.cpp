// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/EntryRow.h"
#include "files/IconKeys.h"

namespace tessarook {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    m_path = fs::temp_directory_path() /
             ("tessarook-files-" + std::to_string(getpid()) + "-" + std::to_string(++s_count));
    fs::remove_all(m_path);
    fs::create_directories(m_path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }

 private:
  static inline int s_count = 0;
  fs::path m_path;
};

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

CEntryRow Row(const std::string& name, const std::string& location, bool folder) {
  CEntryRow row;
  row.m_name = name;
  row.m_location = location;
  row.m_folder = folder;
  return row;
}

std::vector<std::string> Names(const std::vector<CEntryRow>& rows) {
  std::vector<std::string> names;
  for (const CEntryRow& row : rows) names.push_back(row.m_location + row.m_name);
  return names;
}

TEST(EntryRowTest, SplitsPathIntoNameAndLocation) {
  const CEntryRow file = CEntryRow::Make("/home/ann/notes.txt", false);
  EXPECT_EQ(file.m_name, "notes.txt");
  EXPECT_EQ(file.m_location, "/home/ann/");
  EXPECT_EQ(file.FullPath(), "/home/ann/notes.txt");

  // The root folder has no name; opening it opens "/".
  const CEntryRow root = CEntryRow::Make("/", true);
  EXPECT_EQ(root.m_name, "");
  EXPECT_EQ(root.m_location, "/");
  EXPECT_EQ(root.FullPath(), "/");
  EXPECT_TRUE(root.m_exists);

  // A path without any "/" (a damaged scheme file) is all name.
  const CEntryRow bare = CEntryRow::Make("loose", false);
  EXPECT_EQ(bare.m_name, "loose");
  EXPECT_EQ(bare.m_location, "");
  EXPECT_EQ(bare.EntryPath(), "loose");
}

TEST(EntryRowTest, ExistenceAndSizeFollowTheFileSystem) {
  TempDir dir;
  Write(dir / "data.bin", std::string(1234, 'x'));
  Write(dir / "empty.txt", "");
  fs::create_directory(dir / "sub");

  const CEntryRow data = CEntryRow::Make(dir / "data.bin", false);
  EXPECT_TRUE(data.m_exists);
  EXPECT_TRUE(data.m_readable);
  EXPECT_EQ(data.SizeText(), "1.2 kB");

  // A zero-byte file shows no size.
  const CEntryRow empty = CEntryRow::Make(dir / "empty.txt", false);
  EXPECT_TRUE(empty.m_exists);
  EXPECT_EQ(empty.SizeText(), "");

  const CEntryRow missingFile = CEntryRow::Make(dir / "gone.txt", false);
  EXPECT_FALSE(missingFile.m_exists);
  EXPECT_EQ(missingFile.SizeText(), "");

  const CEntryRow folder = CEntryRow::Make(dir / "sub", true);
  EXPECT_TRUE(folder.m_exists);
  EXPECT_EQ(folder.SizeText(), "");  // folders never show a size

  EXPECT_FALSE(CEntryRow::Make(dir / "nowhere", true).m_exists);
  // A file entry is not a folder entry: a file where a folder is expected is missing.
  EXPECT_FALSE(CEntryRow::Make(dir / "data.bin", true).m_exists);
  // Anything at a file entry's path counts as present, a folder included, without a size.
  const CEntryRow folderAsFile = CEntryRow::Make(dir / "sub", false);
  EXPECT_TRUE(folderAsFile.m_exists);
  EXPECT_EQ(folderAsFile.SizeText(), "");
  // ... but a Backup cannot read it, and the pane marks it.
  EXPECT_FALSE(folderAsFile.m_readable);
  // A link whose target is gone is still something at the path, and unreadable.
  fs::create_symlink(dir / "gone.txt", dir / "dangling");
  EXPECT_TRUE(CEntryRow::Make(dir / "dangling", false).m_exists);
  EXPECT_FALSE(CEntryRow::Make(dir / "dangling", false).m_readable);
  // A link to a readable file is read through.
  fs::create_symlink(dir / "data.bin", dir / "link");
  EXPECT_TRUE(CEntryRow::Make(dir / "link", false).m_readable);
  // A file its owner may not read (root reads anything: then it counts as readable).
  Write(dir / "secret", "s");
  fs::permissions(dir / "secret", fs::perms::none);
  EXPECT_EQ(CEntryRow::Make(dir / "secret", false).m_readable, geteuid() == 0);
}

TEST(EntryRowTest, LargeFileShowsItsExactSize) {
  TempDir dir;
  const std::string path = dir / "big.img";
  { std::ofstream(path, std::ios::binary); }
  const std::uint64_t size = (std::uint64_t{5} << 30) + 7;  // sparse: takes no space
  if (truncate(path.c_str(), static_cast<off_t>(size)) != 0) GTEST_SKIP() << "no sparse files";
  EXPECT_EQ(CEntryRow::Make(path, false).SizeText(), "5.4 GB");
  EXPECT_EQ(CEntryRow::Make(path, false).m_size, size);
}

TEST(EntryRowTest, IconKeyIsTheNamesExtensionLowerCased) {
  EXPECT_EQ(IconKeyFor("/a/Report.PDF"), "pdf");
  EXPECT_EQ(IconKeyFor("/a/archive.tar.gz"), "gz");
  EXPECT_EQ(IconKeyFor("/a/.bashrc"), "bashrc");
  // A dot in a folder name is not the file's extension.
  EXPECT_EQ(IconKeyFor("/home/a.b/Makefile"), "");
  EXPECT_EQ(IconKeyFor("/a/trailing."), "");
}

TEST(EntryRowTest, ArrangementsPutFoldersFirstAndCompareBytes) {
  std::vector<CEntryRow> rows = {Row("a.txt", "/x/", false), Row("B.txt", "/y/", false),
                                 Row("zeta", "/a/", true), Row("a.txt", "/a/", false),
                                 Row("Alpha", "/z/", true)};
  ArrangeEntryRows(rows, 1);
  // Upper-case letters sort before lower-case ones (byte values); equal names
  // fall back to their locations.
  EXPECT_EQ(Names(rows),
            (std::vector<std::string>{"/z/Alpha", "/a/zeta", "/y/B.txt", "/a/a.txt", "/x/a.txt"}));
  ArrangeEntryRows(rows, 2);
  EXPECT_EQ(Names(rows),
            (std::vector<std::string>{"/a/zeta", "/z/Alpha", "/a/a.txt", "/x/a.txt", "/y/B.txt"}));
  // Without an arrangement the rows stand by name, descending.
  ArrangeEntryRows(rows, 0);
  EXPECT_EQ(Names(rows),
            (std::vector<std::string>{"/a/zeta", "/a/a.txt", "/x/a.txt", "/y/B.txt", "/z/Alpha"}));
}

TEST(IconKeysTest, FilesShareAnIconPerKeyButProgramsGetTheirOwn) {
  CIconKeys keys;
  ASSERT_EQ(keys.Count(), 4u);
  EXPECT_EQ(keys.Key(kImageFolder), "Directory");
  EXPECT_EQ(keys.Key(kImageMissingFolder), "No Directory");
  EXPECT_EQ(keys.Key(kImageMissingFile), "No File");
  EXPECT_EQ(keys.Key(kImageUnreadableFile), "Unreadable File");

  // The fixed images are never taken for a file's key.
  EXPECT_EQ(keys.Find("Directory"), -1);
  EXPECT_EQ(keys.Find("txt"), -1);
  const int txt = keys.Append("txt");
  EXPECT_EQ(txt, 4);
  EXPECT_EQ(keys.Find("txt"), txt);

  // Every program file asks for a new image.
  EXPECT_EQ(keys.Find("exe"), -1);
  keys.Append("exe");
  EXPECT_EQ(keys.Find("exe"), -1);
}

}  // namespace
}  // namespace tessarook
