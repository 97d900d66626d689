// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "BackupTestSupport.h"
#include "backup/BackupArchive.h"
#include "backup/BackupTree.h"

using namespace backup_test;
using tessarook::CBackupArchive;
using tessarook::CBackupTree;
using Check = CBackupTree::Check;

namespace {

std::vector<std::string> Names(const CBackupTree& tree, CBackupTree::NodeId id) {
  std::vector<std::string> names;
  for (CBackupTree::NodeId child : tree.Children(id))
    names.push_back(std::string(tree.Name(child)) + (tree.IsFolder(child) ? "/" : ""));
  return names;
}

CBackupTree::NodeId Find(const CBackupTree& tree, const std::string& path) {
  for (CBackupTree::NodeId id = 0; id < tree.NodeCount(); ++id)
    if (tree.Path(id) == path && tree.IsFolder(id)) return id;
  return CBackupTree::kRoot;
}

}  // namespace

// A Backup's paths as folders: a folder's files together even where a sibling
// name sorts between them byte-wise, a file and a folder of one name apart,
// sizes and times from the Backup's entries summed and maximised upwards,
// checks counted per folder, and a filter that matches any part of a path.
TEST(BackupTree, FoldersOfTheSourcePathsWithSizesTimesChecksAndAFilter) {
  TempDir dir;
  const std::vector<std::string> files = {"ann/a/y", "ann/a b/x", "ann/a/z", "ann/c.txt",
                                          "bob/Notes.TXT"};
  for (size_t i = 0; i < files.size(); ++i) {
    std::filesystem::create_directories(std::filesystem::path(dir / files[i]).parent_path());
    WriteFile(dir / files[i], std::string(i + 1, 'x'));
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000 + time_t(i), 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / files[i]).c_str(), times, 0), 0);
  }
  CBackupArchive archive;
  ASSERT_TRUE(archive.Create(dir / "b.zip"));
  for (const std::string& file : files) ASSERT_TRUE(archive.AddBackupFile(dir / file));
  ASSERT_TRUE(archive.WriteManifest());
  ASSERT_EQ(archive.Close(), 0);
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  // Paths no walk gives still find a place: empty parts are left out.
  archive.paths.push_back("/odd//name");
  archive.paths.push_back(dir / "ann/a");  // a file beside the folder of its name
  std::vector<uint64_t> sizes;
  std::vector<int64_t> times;
  archive.ReadEntryFacts(sizes, times);
  ASSERT_EQ(sizes.size(), 7u);
  EXPECT_EQ(sizes, (std::vector<uint64_t>{1, 2, 3, 4, 5, 0, 0}));
  EXPECT_EQ(times[2], (1700000000 + 2) * int64_t{1000000000} + 500000000);

  std::vector<bool> checked(archive.paths.size(), false);
  CBackupTree tree;
  tree.Build(archive.paths, sizes, times, checked);
  EXPECT_TRUE(tree.Complete());
  EXPECT_EQ(tree.FileCount(), 7u);
  const std::string top = (++std::filesystem::path(dir.str()).begin())->string();  // "tmp"
  EXPECT_EQ(Names(tree, CBackupTree::kRoot), (std::vector<std::string>{"odd/", top + "/"}));
  const CBackupTree::NodeId ann = Find(tree, dir / "ann");
  ASSERT_NE(ann, CBackupTree::kRoot);
  EXPECT_EQ(Names(tree, ann), (std::vector<std::string>{"a", "a/", "a b/", "c.txt"}));
  const CBackupTree::NodeId a = Find(tree, dir / "ann/a");
  EXPECT_EQ(Names(tree, a), (std::vector<std::string>{"y", "z"}));
  EXPECT_EQ(tree.Size(a), 1u + 3u);
  EXPECT_EQ(tree.Time(a), (1700000000 + 2) * int64_t{1000000000} + 500000000);
  EXPECT_EQ(tree.Size(ann), 1u + 2u + 3u + 4u);
  EXPECT_EQ(tree.Files(ann), 5u);
  EXPECT_EQ(tree.Size(CBackupTree::kRoot), 15u);
  // A folder's files are all of those below it, whatever their order in the list.
  EXPECT_EQ(tree.PositionsBelow(a), (std::vector<size_t>{0, 2}));
  EXPECT_EQ(tree.PositionsBelow(ann), (std::vector<size_t>{6, 0, 2, 1, 3}));
  EXPECT_EQ(tree.Path(tree.NodeOf(5)), "/odd/name");
  EXPECT_EQ(tree.Path(tree.NodeOf(1)), dir / "ann/a b/x");

  tree.SetChecked(ann, true, checked);
  EXPECT_EQ(checked, (std::vector<bool>{true, true, true, true, false, false, true}));
  EXPECT_EQ(tree.CheckState(ann), Check::kAll);
  EXPECT_EQ(tree.CheckState(CBackupTree::kRoot), Check::kSome);
  tree.SetChecked(tree.NodeOf(2), false, checked);
  EXPECT_EQ(tree.CheckState(a), Check::kSome);
  EXPECT_EQ(tree.CheckState(tree.NodeOf(0)), Check::kAll);
  tree.SetChecked(tree.NodeOf(0), false, checked);
  EXPECT_EQ(tree.CheckState(a), Check::kNone);
  EXPECT_EQ(tree.CheckState(ann), Check::kSome);
  tree.SetChecked(CBackupTree::kRoot, true, checked);
  EXPECT_EQ(checked, std::vector<bool>(7, true));

  // The filter: any part of a path, letters in either case; the checks stay.
  tree.Build(archive.paths, sizes, times, checked, "NOTES.txt");
  EXPECT_EQ(tree.FileCount(), 1u);
  EXPECT_EQ(tree.PositionsBelow(CBackupTree::kRoot), (std::vector<size_t>{4}));
  EXPECT_EQ(tree.CheckState(CBackupTree::kRoot), Check::kAll);
  tree.Build(archive.paths, sizes, times, checked, "n/a");
  EXPECT_EQ(tree.PositionsBelow(CBackupTree::kRoot), (std::vector<size_t>{6, 0, 2, 1}));
  tree.Build(archive.paths, sizes, times, checked, "nothing like it");
  EXPECT_EQ(tree.FileCount(), 0u);
  EXPECT_TRUE(tree.Children(CBackupTree::kRoot).empty());
}

// The two orders of a Backup's paths, against plain one-byte-at-a-time
// sorting: long shared beginnings (compared a word at a time), a difference
// at every place within a word, "/" against the bytes below it, a path that
// begins another, and equal paths kept in manifest order.
TEST(BackupTree, TreeOrderAndByteOrderAgreeWithPlainSorting) {
  const std::string base = "/home/someone/a rather long folder name/";
  std::vector<std::string> paths;
  for (const char* tail : {"x/1", "x 2", "x-3", "x.4", "x", "x/0", "xx", "x/1", "", "x0", "x/ "})
    paths.push_back(base + tail);
  for (size_t at = 0; at < 17; ++at) {
    std::string path = base + "abcdefghijklmnopq";
    path[at] = '/';
    paths.push_back(path);
    path[at] = '!';
    paths.push_back(path);
  }
  std::vector<size_t> expected(paths.size());
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = i;
  auto plainLess = [&paths](size_t a, size_t b) {
    const std::string& x = paths[a];
    const std::string& y = paths[b];
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
      if (x[i] == y[i]) continue;
      if (x[i] == '/' || y[i] == '/') return x[i] == '/';
      return (unsigned char)x[i] < (unsigned char)y[i];
    }
    return x.size() < y.size();
  };
  std::stable_sort(expected.begin(), expected.end(), plainLess);
  std::vector<size_t> order = tessarook::TreeOrder(paths);
  EXPECT_EQ(order, expected);

  std::stable_sort(expected.begin(), expected.end(),
                   [&paths](size_t a, size_t b) { return paths[a] < paths[b]; });
  tessarook::ToByteOrder(paths, order);
  EXPECT_EQ(order, expected);
  EXPECT_NE(tessarook::TreeOrder(paths), order) << "the two orders differ here";

  // Built from a sorted order, the tree is the one built from the paths alone.
  const std::vector<bool> checked(paths.size(), false);
  CBackupTree fromPaths;
  CBackupTree fromOrder;
  fromPaths.Build(paths, {}, {}, checked, "X");
  fromOrder.Build(paths, tessarook::TreeOrder(paths), {}, {}, checked, "X");
  EXPECT_EQ(fromOrder.PositionsBelow(CBackupTree::kRoot),
            fromPaths.PositionsBelow(CBackupTree::kRoot));
  EXPECT_EQ(fromOrder.NodeCount(), fromPaths.NodeCount());
}
