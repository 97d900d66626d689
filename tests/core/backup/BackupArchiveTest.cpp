// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "BackupTestSupport.h"
#include "ZipCraft.h"
#include "backup/BackupArchive.h"

using namespace backup_test;
using tessarook::BuildManifest;
using tessarook::CBackupArchive;
using tessarook::ParseManifest;

TEST(BackupArchive, WritesNumberedEntriesAndTheExactManifest) {
  TempDir dir;
  WriteFile(dir / "first.txt", "first");
  WriteFile(dir / "third.txt", "third");
  CBackupArchive archive;
  ASSERT_TRUE(archive.Create(dir / "b.zip"));
  EXPECT_TRUE(archive.AddBackupFile(dir / "first.txt"));
  EXPECT_FALSE(archive.AddBackupFile(dir / "second.txt"));  // missing: skipped, no number used
  EXPECT_TRUE(archive.AddBackupFile(dir / "third.txt"));
  ASSERT_EQ(archive.paths.size(), 2u);
  ASSERT_TRUE(archive.WriteManifest());
  ASSERT_EQ(archive.Close(), 0);
  EXPECT_TRUE(archive.paths.empty());

  ASSERT_TRUE(UnzipAccepts(dir / "b.zip"));
  const RunResult py = PythonExtract(dir / "b.zip", dir / "py");
  ASSERT_EQ(py.status, 0);
  EXPECT_EQ(py.out, "0\n1\nlist.txt\n");
  EXPECT_EQ(ReadFile(dir / "py/0"), "first");
  EXPECT_EQ(ReadFile(dir / "py/1"), "third");
  EXPECT_EQ(ReadFile(dir / "py/list.txt"),
            "0: " + (dir / "first.txt") + "\r\n1: " + (dir / "third.txt"));

  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  EXPECT_EQ(archive.paths, (std::vector<std::string>{dir / "first.txt", dir / "third.txt"}));
  EXPECT_EQ(archive.EntryIndexFor(1), 1);
  EXPECT_EQ(archive.EntryIndexFor(2), -1);
}

TEST(BackupArchive, NoFilesGiveAnEmptyManifestThatReadsBack) {
  TempDir dir;
  CBackupArchive archive;
  ASSERT_TRUE(archive.Create(dir / "b.zip"));
  ASSERT_TRUE(archive.WriteManifest());
  ASSERT_EQ(archive.Close(), 0);
  ASSERT_TRUE(UnzipAccepts(dir / "b.zip"));
  const RunResult py = PythonExtract(dir / "b.zip", dir / "py");
  EXPECT_EQ(py.out, "list.txt\n");
  EXPECT_EQ(ReadFile(dir / "py/list.txt"), "");
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  archive.paths.push_back("stale");
  EXPECT_TRUE(archive.ReadManifest());
  EXPECT_TRUE(archive.paths.empty());
}

TEST(BackupArchive, SamePathStoredTwiceAndLookedUpExactly) {
  TempDir dir;
  WriteFile(dir / "Same.txt", "same");
  CBackupArchive archive;
  ASSERT_TRUE(archive.Create(dir / "b.zip"));
  ASSERT_TRUE(archive.AddBackupFile(dir / "Same.txt"));
  ASSERT_TRUE(archive.AddBackupFile(dir / "Same.txt"));
  ASSERT_TRUE(archive.WriteManifest());
  ASSERT_EQ(archive.Close(), 0);
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  ASSERT_EQ(archive.paths.size(), 2u);
  EXPECT_EQ(archive.paths[0], archive.paths[1]);
  EXPECT_EQ(archive.EntryNameFor(dir / "Same.txt"), "0");
  // Paths are told apart as the file system does: letter case counts.
  EXPECT_EQ(archive.EntryNameFor(dir / "same.txt"), "");
  EXPECT_EQ(archive.EntryNameFor(dir / "other.txt"), "");
}

TEST(BackupArchive, ReadManifestNeedsAnOpenArchiveWithAList) {
  TempDir dir;
  CBackupArchive archive;
  EXPECT_FALSE(archive.ReadManifest());
  ASSERT_TRUE(archive.Create(dir / "b.zip"));
  ASSERT_TRUE(archive.AddFromMemory("x", 1, "0"));
  ASSERT_EQ(archive.Close(), 0);
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  EXPECT_FALSE(archive.ReadManifest());
}

TEST(BackupArchive, PathsAManifestCannotCarryAreRefused) {
  TempDir dir;
  WriteFile(dir / "a\rb", "carriage return in the name");
  WriteFile(dir / "tail\n", "line feed at the end");
  WriteFile(dir / "mid\nname", "line feed inside");
  WriteFile(dir / "x: y", "colon and blank");
  CBackupArchive archive;
  ASSERT_TRUE(archive.Create(dir / "b.zip"));
  EXPECT_FALSE(archive.AddBackupFile(dir / "a\rb"));
  EXPECT_FALSE(archive.AddBackupFile(dir / "tail\n"));
  EXPECT_TRUE(archive.AddBackupFile(dir / "mid\nname"));
  EXPECT_TRUE(archive.AddBackupFile(dir / "x: y"));
  ASSERT_TRUE(archive.WriteManifest());
  ASSERT_EQ(archive.Close(), 0);
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  EXPECT_EQ(archive.paths, (std::vector<std::string>{dir / "mid\nname", dir / "x: y"}));
}

TEST(Manifest, ParsesLinesAsTheWriterNumbersThem) {
  EXPECT_TRUE(ParseManifest("").empty());
  EXPECT_EQ(ParseManifest("0: /a/b\r\n1: /c"), (std::vector<std::string>{"/a/b", "/c"}));
  // A line without ": " is the path itself; a trailing CR gives one more empty line.
  EXPECT_EQ(ParseManifest("plain line\r"), (std::vector<std::string>{"plain line", ""}));
  // Unnumbered lines keep the rule of the text after the last ": ".
  EXPECT_EQ(ParseManifest("x: y: /z"), (std::vector<std::string>{"/z"}));
  // Numbered lines keep paths that hold ": " whole.
  EXPECT_EQ(ParseManifest("0: /notes: draft\r\n1: /b"),
            (std::vector<std::string>{"/notes: draft", "/b"}));
  // Line feeds at the ends of a value go; the text ends at a NUL byte.
  EXPECT_EQ(ParseManifest(std::string("0: \n/a\n\n\r\n1: /b\0junk", 21)),
            (std::vector<std::string>{"/a", "/b"}));
}

TEST(Manifest, TextArrivingInPiecesGivesTheSameLines) {
  static const char kText[] = "0: /a\r\n1: /b: c\r\n\r\n2: /d\n\r3: /e\0tail\r9: /f";
  const std::string text(kText, sizeof kText - 1);
  const auto whole = ParseManifest(text);
  ASSERT_EQ(whole, (std::vector<std::string>{"/a", "/b: c", "", "/d", "/e"}));
  for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}}) {
    tessarook::CManifestParser parser(UINT64_MAX, SIZE_MAX);
    for (size_t at = 0; at < text.size(); at += piece)
      ASSERT_TRUE(parser.Feed(text.data() + at, std::min(piece, text.size() - at)));
    EXPECT_EQ(parser.Finish(true), whole) << piece;
  }
  // Bounds keep the lines before them; an unfinished line of an incomplete
  // text is dropped.
  tessarook::CManifestParser few(2, SIZE_MAX);
  EXPECT_FALSE(few.Feed(text.data(), text.size()));
  EXPECT_FALSE(few.Problem().empty());
  EXPECT_EQ(few.Finish(true), (std::vector<std::string>{"/a", "/b: c"}));
  tessarook::CManifestParser shortLines(UINT64_MAX, 6);
  EXPECT_FALSE(shortLines.Feed(text.data(), text.size()));
  EXPECT_EQ(shortLines.Finish(true), (std::vector<std::string>{"/a"}));
  tessarook::CManifestParser cut(UINT64_MAX, SIZE_MAX);
  EXPECT_TRUE(cut.Feed(text.data(), 10));
  EXPECT_EQ(cut.Finish(false), (std::vector<std::string>{"/a"}));
}

TEST(Manifest, RoundTripsWhatTheWriterWrites) {
  const std::vector<std::string> paths = {"/a", "/with: colon", "/with\nfeed", "/", "/9: x"};
  EXPECT_EQ(ParseManifest(BuildManifest(paths)), paths);
  EXPECT_EQ(BuildManifest({"/a", "/b"}), "0: /a\r\n1: /b");
}

TEST(Manifest, FuzzFoundLineAfterCrLfKeepsItsNumber) {
  // A line that follows CR LF begins with the LF; its number prefix must still count.
  const std::string text =
      ReadFile(std::string(TESSAROOK_TEST_DATA) + "/backup/manifest-crlf-numbered.txt");
  ASSERT_FALSE(text.empty());
  const auto parsed = ParseManifest(text);
  std::vector<std::string> holdable;
  for (const auto& p : parsed)
    if (!p.empty() && p[0] == '/' && tessarook::ManifestCanHold(p)) holdable.push_back(p);
  ASSERT_FALSE(holdable.empty());
  EXPECT_EQ(ParseManifest(BuildManifest(holdable)), holdable);
}

namespace {

long PeakKiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A Backup of one small file whose manifest inflates to `repeat` copies of
// `chunk`: a few KiB on disk, as much text as the caller likes.
std::string ManifestBomb(const std::string& chunk, uint64_t repeat) {
  ZipCraft zip;
  std::vector<ZipCraft::Record> records{zip.AddStored("0", "x")};
  uint32_t crc = 0;
  const std::string deflated = DeflateRepeated(chunk, repeat, crc);
  records.push_back(zip.AddLocal("list.txt", deflated, 8, crc, chunk.size() * repeat));
  return zip.Finish(records);
}

}  // namespace

TEST(BackupArchive, HostileManifestCostsWhatTheArchiveHoldsNotWhatItInflatesTo) {
  TempDir dir;
  // 64 MiB of CRs (67 million empty lines) and one 64 MiB line without any.
  WriteFile(dir / "crs.zip", ManifestBomb(std::string(64 << 10, '\r'), 1024));
  WriteFile(dir / "line.zip", ManifestBomb("0: /" + std::string((64 << 10) - 4, 'a'), 1024));
  ASSERT_LT(fs::file_size(dir / "crs.zip"), 256u << 10);
  for (const char* name : {"crs.zip", "line.zip"}) {
    const long before = PeakKiB();
    CBackupArchive archive;
    ASSERT_TRUE(archive.Open(dir / name)) << name;
    ASSERT_TRUE(archive.ReadManifest()) << name;
    // No more lines than the archive has entries, no line longer than a path can be.
    EXPECT_LE(archive.paths.size(), static_cast<size_t>(archive.GetEntryCount())) << name;
    for (const std::string& p : archive.paths) EXPECT_LE(p.size(), 64u << 10) << name;
    EXPECT_FALSE(archive.ManifestDamage().empty()) << name;
    EXPECT_LT(PeakKiB() - before, 32 << 10) << name;  // KiB
  }
}
