// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "BackupTestSupport.h"
#include "backup/BackupArchive.h"
#include "backup/ZipExport.h"

using namespace backup_test;
using tessarook::CBackupArchive;
using tessarook::CZipExport;
using tessarook::ExportEntryNames;
using tessarook::ZipExportResult;
using tessarook::ZipPathStyle;

namespace {

void MakeBackup(const std::string& zip, const std::vector<std::string>& files) {
  CBackupArchive archive;
  ASSERT_TRUE(archive.Create(zip));
  for (const auto& f : files) ASSERT_TRUE(archive.AddBackupFile(f)) << f;
  ASSERT_TRUE(archive.WriteManifest());
  ASSERT_EQ(archive.Close(), 0);
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

struct CancelAfter : tessarook::IProgressSink {
  std::atomic<bool>& flag;
  uint64_t after;
  uint64_t lastTotal = 0;
  CancelAfter(std::atomic<bool>& f, uint64_t n) : flag(f), after(n) {}
  void OnProgress(uint64_t done, uint64_t total) override {
    lastTotal = total;
    if (done >= after) flag.store(true);
  }
};

}  // namespace

TEST(ZipExportNames, RelativeNamesStartBelowTheSharedFolder) {
  EXPECT_EQ(ExportEntryNames({"/home/u/docs/a.txt", "/home/u/docs/sub/b.txt", "/home/u/c.txt"},
                             ZipPathStyle::kRelative),
            (std::vector<std::string>{"docs/a.txt", "docs/sub/b.txt", "c.txt"}));
  // A lone file keeps only its name; files with nothing in common keep all.
  EXPECT_EQ(ExportEntryNames({"/home/u/a.txt"}, ZipPathStyle::kRelative),
            (std::vector<std::string>{"a.txt"}));
  EXPECT_EQ(ExportEntryNames({"/etc/x", "/var/y"}, ZipPathStyle::kRelative),
            (std::vector<std::string>{"etc/x", "var/y"}));
  // A file whose name equals a folder of another does not shorten the base
  // past that folder.
  EXPECT_EQ(ExportEntryNames({"/a/b", "/a/b/c"}, ZipPathStyle::kRelative),
            (std::vector<std::string>{"b", "b/c"}));
}

TEST(ZipExportNames, AbsoluteNamesAreWholePathsWithoutTheLeadingSlash) {
  EXPECT_EQ(ExportEntryNames({"/home/u/a.txt", "//home/./u//b.txt"}, ZipPathStyle::kAbsolute),
            (std::vector<std::string>{"home/u/a.txt", "home/u/b.txt"}));
}

TEST(ZipExportNames, UnsafeEmptyAndRepeatedPathsAreLeftOut) {
  for (ZipPathStyle style : {ZipPathStyle::kRelative, ZipPathStyle::kAbsolute}) {
    const auto names = ExportEntryNames(
        {"/srv/a.txt", "/srv/../etc/passwd", "", "/", "/srv/a.txt", "/srv/b"}, style);
    ASSERT_EQ(names.size(), 6u);
    EXPECT_FALSE(names[0].empty());
    EXPECT_EQ(names[1], "");
    EXPECT_EQ(names[2], "");
    EXPECT_EQ(names[3], "");
    EXPECT_EQ(names[4], "") << "the second copy of a path";
    EXPECT_FALSE(names[5].empty());
    for (const auto& n : names) EXPECT_EQ(n.find(".."), std::string::npos) << n;
  }
}

TEST(ZipExport, WritesRealNamesThatOtherToolsRead) {
  TempDir dir;
  WriteFile(dir / "tree/docs/report.txt", "quarterly numbers");
  WriteFile(dir / "tree/docs/deep/notes.md", "# notes");
  WriteFile(dir / "tree/photo.jpg", std::string(70000, '\x7f'));
  MakeBackup(dir / "b.zip", {dir / "tree/docs/report.txt", dir / "tree/docs/deep/notes.md",
                             dir / "tree/photo.jpg"});

  for (ZipPathStyle style : {ZipPathStyle::kRelative, ZipPathStyle::kAbsolute}) {
    const std::string out = dir / (style == ZipPathStyle::kRelative ? "rel.zip" : "abs.zip");
    const ZipExportResult result = CZipExport::Run(dir / "b.zip", out, style, nullptr, nullptr);
    ASSERT_EQ(result.status, ZipExportResult::Status::kDone) << result.error;
    EXPECT_EQ(result.filesWritten, 3u);
    EXPECT_TRUE(result.skipped.empty());
    EXPECT_TRUE(UnzipAccepts(out));

    const std::string into = out + ".x";
    const RunResult py = PythonExtract(out, into);
    ASSERT_EQ(py.status, 0);
    // Relative: below the shared "tree" folder; absolute: the whole path.
    const std::string prefix =
        style == ZipPathStyle::kRelative ? "" : (dir / "tree").substr(1) + "/";
    EXPECT_EQ(Sorted(Lines(py.out)), Sorted({prefix + "docs/report.txt",
                                             prefix + "docs/deep/notes.md", prefix + "photo.jpg"}));
    EXPECT_EQ(ReadFile(into + "/" + prefix + "docs/report.txt"), "quarterly numbers");
    EXPECT_EQ(ReadFile(into + "/" + prefix + "photo.jpg"), std::string(70000, '\x7f'));
  }
}

TEST(ZipExport, LeavesOutAPathThatWouldClimbOutOfTheExtractFolder) {
  TempDir dir;
  WriteFile(dir / "a/keep.txt", "keep");
  WriteFile(dir / "b/other.txt", "other");
  // A real file reached through "..": stored in the Backup under that path.
  MakeBackup(dir / "b.zip", {dir / "a/keep.txt", dir / "a/../b/other.txt"});
  const ZipExportResult result =
      CZipExport::Run(dir / "b.zip", dir / "out.zip", ZipPathStyle::kRelative, nullptr, nullptr);
  ASSERT_EQ(result.status, ZipExportResult::Status::kDone) << result.error;
  EXPECT_EQ(result.filesWritten, 1u);
  ASSERT_EQ(result.skipped.size(), 1u);
  EXPECT_EQ(result.skipped[0].path, dir / "a/../b/other.txt");
  const RunResult py = PythonExtract(dir / "out.zip", dir / "x");
  ASSERT_EQ(py.status, 0);
  EXPECT_EQ(Lines(py.out), (std::vector<std::string>{"keep.txt"}));
}

TEST(ZipExport, CancelAndFailureLeaveTheTargetAsItWas) {
  TempDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 5; ++i) {
    files.push_back(dir / ("src/f" + std::to_string(i)));
    WriteFile(files.back(), "data " + std::to_string(i));
  }
  MakeBackup(dir / "b.zip", files);
  WriteFile(dir / "out.zip", "an older export");

  std::atomic<bool> cancel{false};
  CancelAfter sink(cancel, 2);
  const ZipExportResult cancelled =
      CZipExport::Run(dir / "b.zip", dir / "out.zip", ZipPathStyle::kRelative, &cancel, &sink);
  EXPECT_EQ(cancelled.status, ZipExportResult::Status::kCancelled);
  EXPECT_EQ(sink.lastTotal, 5u);
  EXPECT_EQ(ReadFile(dir / "out.zip"), "an older export");

  // A missing Backup, and one without its manifest, write nothing.
  ZipExportResult missing =
      CZipExport::Run(dir / "none.zip", dir / "out.zip", ZipPathStyle::kRelative, nullptr, nullptr);
  EXPECT_EQ(missing.status, ZipExportResult::Status::kFailed);
  EXPECT_EQ(missing.error, "The Backup file doesn't exist");
  {
    tessarook::CZipFile plain;
    ASSERT_TRUE(plain.Create(dir / "plain.zip"));
    ASSERT_TRUE(plain.AddFromMemory("x", 1, "0"));
    ASSERT_EQ(plain.Close(), 0);
  }
  ZipExportResult damaged = CZipExport::Run(dir / "plain.zip", dir / "out.zip",
                                            ZipPathStyle::kRelative, nullptr, nullptr);
  EXPECT_EQ(damaged.error, "The Backup appears to be damaged or incomplete");
  // Into a folder that does not exist.
  ZipExportResult nowhere = CZipExport::Run(dir / "b.zip", dir / "no/such/out.zip",
                                            ZipPathStyle::kRelative, nullptr, nullptr);
  EXPECT_EQ(nowhere.status, ZipExportResult::Status::kFailed);
  EXPECT_FALSE(nowhere.error.empty());

  EXPECT_EQ(ReadFile(dir / "out.zip"), "an older export");
  // No partial file is left beside the target.
  int others = 0;
  for (const auto& e : fs::directory_iterator(dir.str()))
    if (e.path().filename().string().find(".part-") != std::string::npos) ++others;
  EXPECT_EQ(others, 0);
}

TEST(ZipExport, AnEmptyBackupGivesAnEmptyZip) {
  TempDir dir;
  MakeBackup(dir / "b.zip", {});
  const ZipExportResult result =
      CZipExport::Run(dir / "b.zip", dir / "out.zip", ZipPathStyle::kAbsolute, nullptr, nullptr);
  ASSERT_EQ(result.status, ZipExportResult::Status::kDone) << result.error;
  EXPECT_EQ(result.filesWritten, 0u);
  const RunResult py = PythonExtract(dir / "out.zip", dir / "x");
  EXPECT_EQ(py.status, 0);
  EXPECT_TRUE(Lines(py.out).empty() || Lines(py.out) == std::vector<std::string>{""});
}
