// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>

#include "../util/DeadProcess.h"
#include "TestFiles.h"
#include "exchange/CsmReader.h"
#include "exchange/CsmWriter.h"

namespace tessarook {
namespace {

using namespace tessarook::testing;

// Records the progress calls and can ask the job to stop at a chosen step.
class RecordingProgress : public CExchangeProgress {
 public:
  void Show() override { shown = true; }
  void Hide() override { hidden = true; }
  void SetRange(uint32_t upper) override { range = upper; }
  void SetPos(uint32_t p) override { pos = p; }
  void Step() override {
    ++pos;
    if (onStep) onStep(pos);
  }
  bool shown = false, hidden = false;
  uint32_t range = 0, pos = 0;
  std::function<void(uint32_t)> onStep;
};

class CsmExchange : public ::testing::Test {
 protected:
  std::string Src() const { return tmp / "src"; }
  std::string Dst() const { return tmp / "dst"; }
  std::string Csm() const { return tmp / "out.csm"; }

  // Scheme "work" with Backups in the folder and in a sub-folder.
  void MakeScheme() {
    WriteFile(tmp / "src/work.tsbak", RandomBytes(300, 1));
    WriteFile(tmp / "src/work.tsbak.backups/monday.zip", RandomBytes(3 * 1024 * 1024 + 7, 2));
    WriteFile(tmp / "src/work.tsbak.backups/empty.zip", "");
    WriteFile(tmp / "src/work.tsbak.backups/.hidden", "h");
    WriteFile(tmp / "src/work.tsbak.backups/old/a.zip", RandomBytes(5000, 3));
  }

  ImportResult Import(const std::string& dir, const std::string& csm) {
    CCsmReader reader(dir);
    return reader.Run(csm);
  }

  TempDir tmp;
};

TEST_F(CsmExchange, RoundTripIsByteIdenticalAndSubfolderFilesLandFlat) {
  MakeScheme();
  CCsmWriter writer(Src());
  RecordingProgress progress;
  writer.SetProgress(&progress);
  ASSERT_EQ(writer.Run("work", Csm()), ExportResult::kDone);
  EXPECT_EQ(writer.Records(), 4u);
  EXPECT_EQ(writer.Bytes(), fs::file_size(Csm()));
  EXPECT_TRUE(progress.shown && progress.hidden);
  EXPECT_EQ(progress.range, 4u);
  EXPECT_EQ(progress.pos, 4u);

  CsmSummary summary;
  ASSERT_EQ(CCsmReader::Inspect(Csm(), summary), ImportResult::kDone);
  EXPECT_EQ(summary.name, "work");
  EXPECT_EQ(summary.schemeBytes, 300u);
  EXPECT_EQ(summary.records, 4u);

  CCsmReader reader(Dst());  // the folder does not exist yet
  ASSERT_EQ(reader.Run(Csm()), ImportResult::kDone);
  EXPECT_EQ(reader.Name(), "work");
  EXPECT_TRUE(reader.Skipped().empty());
  auto expected = Tree(tmp.path() / "src");
  expected.erase("work.tsbak.backups/old");
  expected["work.tsbak.backups/a.zip"] = expected["work.tsbak.backups/old/a.zip"];
  expected.erase("work.tsbak.backups/old/a.zip");
  EXPECT_EQ(Tree(tmp.path() / "dst"), expected);
}

TEST_F(CsmExchange, SchemeWithoutBackupsIsTheTwentyFiveByteExample) {
  const std::string scheme = "0123456789";
  WriteFile(tmp / "src/abc.tsbak", scheme);
  CCsmWriter writer(Src());
  ASSERT_EQ(writer.Run("abc", Csm()), ExportResult::kDone);
  const std::string expected = std::string("\x03\0\0\0abc\x0A\0\0\0", 11) + scheme + U32(0);
  EXPECT_EQ(ReadFile(Csm()), expected);
  EXPECT_EQ(expected.size(), 25u);

  ASSERT_EQ(Import(Dst(), Csm()), ImportResult::kDone);
  EXPECT_EQ(ReadFile(tmp / "dst/abc.tsbak"), scheme);
  EXPECT_TRUE(fs::is_directory(tmp / "dst/abc.tsbak.backups"));
  EXPECT_TRUE(fs::is_empty(tmp / "dst/abc.tsbak.backups"));
}

TEST_F(CsmExchange, LaterRecordOfOneNameWins) {
  WriteFile(Csm(), Field("w") + Field("xyz") + U32(3) + Field("a.zip") + Field("first") +
                       Field("b.zip") + Field("bee") + Field("a.zip") + Field("second"));
  ASSERT_EQ(Import(Dst(), Csm()), ImportResult::kDone);
  EXPECT_EQ(ReadFile(tmp / "dst/w.tsbak"), "xyz");
  EXPECT_EQ(ReadFile(tmp / "dst/w.tsbak.backups/a.zip"), "second");
  EXPECT_EQ(ReadFile(tmp / "dst/w.tsbak.backups/b.zip"), "bee");
}

TEST_F(CsmExchange, StopDuringExportLeavesNoTargetAndKeepsAnOldOne) {
  MakeScheme();
  WriteFile(Csm(), "an older file");
  const auto before = Tree(tmp.path());
  for (uint32_t stopAt : {0u, 1u, 3u}) {
    std::atomic<bool> stop{stopAt == 0};
    RecordingProgress progress;
    progress.onStep = [&](uint32_t pos) {
      if (pos == stopAt) stop = true;
    };
    CCsmWriter writer(Src());
    writer.SetProgress(&progress);
    writer.SetStopFlag(&stop);
    EXPECT_EQ(writer.Run("work", Csm()), ExportResult::kStopped) << stopAt;
    EXPECT_TRUE(progress.hidden);
    // No temporary file stays beside the target, the source is untouched.
    EXPECT_EQ(Tree(tmp.path()), before) << stopAt;
  }
}

TEST_F(CsmExchange, StopDuringImportRemovesWhatItMadeAndKeepsTheOldScheme) {
  MakeScheme();
  ASSERT_EQ(CCsmWriter(Src()).Run("work", Csm()), ExportResult::kDone);
  // An older Scheme of the same name with a Backup the import does not carry.
  WriteFile(tmp / "dst/work.tsbak", "old scheme");
  WriteFile(tmp / "dst/work.tsbak.backups/keep.zip", "old backup");
  WriteFile(tmp / "dst/work.tsbak.backups/monday.zip", "old monday");
  const auto before = Tree(tmp.path() / "dst");
  // The reader asks after the scheme data, then before each record.
  for (int stopAtCheck : {1, 2, 4}) {
    int checks = 0;
    CCsmReader reader(Dst());
    reader.SetStopCheck([&] { return ++checks >= stopAtCheck; });
    EXPECT_EQ(reader.Run(Csm()), ImportResult::kStopped);
    EXPECT_EQ(checks, stopAtCheck);
    EXPECT_EQ(Tree(tmp.path() / "dst"), before) << stopAtCheck;
  }
  // Into an empty folder: nothing is left either.
  CCsmReader reader(tmp / "fresh");
  reader.SetStopCheck([] { return true; });
  EXPECT_EQ(reader.Run(Csm()), ImportResult::kStopped);
  EXPECT_TRUE(fs::is_empty(tmp / "fresh"));
}

TEST_F(CsmExchange, ImportOverAnExistingSchemeKeepsBackupsItDoesNotCarry) {
  MakeScheme();
  ASSERT_EQ(CCsmWriter(Src()).Run("work", Csm()), ExportResult::kDone);
  WriteFile(tmp / "dst/work.tsbak", "old scheme");
  WriteFile(tmp / "dst/work.tsbak.backups/keep.zip", "old backup");
  WriteFile(tmp / "dst/work.tsbak.backups/monday.zip", "old monday");
  // A folder in the way of one carried file: that record is skipped, later ones land.
  fs::create_directories(tmp / "dst/work.tsbak.backups/empty.zip");
  CCsmReader reader(Dst());
  ASSERT_EQ(reader.Run(Csm()), ImportResult::kDone);
  EXPECT_EQ(reader.Skipped(), std::vector<std::string>{"empty.zip"});
  EXPECT_EQ(ReadFile(tmp / "dst/work.tsbak"), ReadFile(tmp / "src/work.tsbak"));
  EXPECT_EQ(ReadFile(tmp / "dst/work.tsbak.backups/keep.zip"), "old backup");
  EXPECT_EQ(ReadFile(tmp / "dst/work.tsbak.backups/monday.zip"),
            ReadFile(tmp / "src/work.tsbak.backups/monday.zip"));
  EXPECT_EQ(ReadFile(tmp / "dst/work.tsbak.backups/a.zip"),
            ReadFile(tmp / "src/work.tsbak.backups/old/a.zip"));
  EXPECT_TRUE(fs::is_directory(tmp / "dst/work.tsbak.backups/empty.zip"));
  // No staging folder is left in the My Schemes folder.
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(Dst())) entries += e.exists() ? 1 : 0;
  EXPECT_EQ(entries, 2u);
}

TEST_F(CsmExchange, HostileFilesChangeNothing) {
  WriteFile(tmp / "dst/keep.tsbak", "keep");
  WriteFile(tmp / "dst/keep.tsbak.backups/k.zip", "k");
  const std::string good = Field("w") + Field("xyz");
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"name ../x", Field("../x") + Field("s") + U32(0)},
      {"record ../x", good + U32(1) + Field("../x") + Field("evil")},
      {"record a/b", good + U32(1) + Field("a/b") + Field("evil")},
      {"record ..", good + U32(1) + Field("..") + Field("evil")},
      {"record with colon", good + U32(1) + Field("a:b") + Field("evil")},
      {"record with NUL", good + U32(1) + Field(std::string("a\0b", 3)) + Field("evil")},
      {"name with a line feed", Field("a\nb") + Field("s") + U32(0)},
      {"record with a tab", good + U32(1) + Field("a\tb.zip") + Field("evil")},
      {"record with DEL", good + U32(1) + Field("a\x7f.zip") + Field("evil")},
      {"empty name", Field("") + Field("s") + U32(0)},
      {"empty record name", good + U32(1) + Field("") + Field("evil")},
      {"length past the end", good + U32(1) + Field("a.zip") + U32(1000) + "short"},
      {"scheme length past the end", Field("w") + U32(0xFFFFFFF0u) + "abc"},
      {"count 2^31, tiny file", good + U32(0x80000000u) + Field("a.zip") + Field("x")},
      {"count one too many", good + U32(2) + Field("a.zip") + Field("x")},
      {"truncated count", good + "\x01\x00"},
      {"bytes after the last record", good + U32(0) + "junk"},
      {"empty file", ""},
      {"name length huge", U32(0xFFFFFFFFu) + "abc"},
  };
  const auto before = Tree(tmp.path());
  for (const auto& [what, bytes] : cases) {
    WriteFile(Csm(), bytes);
    const auto withInput = Tree(tmp.path());
    CsmSummary summary;
    EXPECT_EQ(CCsmReader::Inspect(Csm(), summary), ImportResult::kDamaged) << what;
    EXPECT_EQ(Import(Dst(), Csm()), ImportResult::kDamaged) << what;
    EXPECT_EQ(Tree(tmp.path()), withInput) << what;
    fs::remove(Csm());
    EXPECT_EQ(Tree(tmp.path()), before) << what;
  }
  EXPECT_STREQ(ImportMessage(ImportResult::kDamaged),
               "The compressed Scheme is damaged or incomplete");
}

TEST_F(CsmExchange, ExportFailuresLeaveNoTarget) {
  MakeScheme();
  // No such Scheme: nothing at the target (an empty name fails the same way).
  EXPECT_EQ(CCsmWriter(Src()).Run("nope", Csm()), ExportResult::kCannotReadSource);
  EXPECT_EQ(CCsmWriter(Src()).Run("", Csm()), ExportResult::kCannotReadSource);
  EXPECT_FALSE(fs::exists(Csm()));
  // The target's folder does not exist.
  EXPECT_EQ(CCsmWriter(Src()).Run("work", tmp / "no/such/dir/x.csm"), ExportResult::kCannotCreate);
  // A folder at the target.
  fs::create_directories(tmp / "adir.csm");
  EXPECT_EQ(CCsmWriter(Src()).Run("work", tmp / "adir.csm"), ExportResult::kCannotCreate);
  // The Scheme file is a folder.
  fs::create_directories(tmp / "src/dir.tsbak");
  EXPECT_EQ(CCsmWriter(Src()).Run("dir", Csm()), ExportResult::kCannotReadSource);
  EXPECT_FALSE(fs::exists(Csm()));
  EXPECT_STREQ(ExportMessage(ExportResult::kCannotCreate), "Error creating compressed Scheme");
  EXPECT_STREQ(ExportMessage(ExportResult::kCannotReadSource), "Error reading source Scheme");
}

TEST_F(CsmExchange, FileOfFourGibibytesRefusesTheWholeExport) {
  MakeScheme();
  const std::string big = tmp / "src/work.tsbak.backups/old/huge.zip";
  { std::ofstream touch(big); }
  ASSERT_EQ(::truncate(big.c_str(), 0x100000000LL), 0);  // sparse: no disk space used
  WriteFile(Csm(), "an older file");
  EXPECT_EQ(CCsmWriter(Src()).Run("work", Csm()), ExportResult::kFileTooLarge);
  EXPECT_EQ(ReadFile(Csm()), "an older file");
  size_t entries = 0;  // no temporary file left beside the target
  for (const auto& e : fs::directory_iterator(tmp.path())) entries += e.exists() ? 1 : 0;
  EXPECT_EQ(entries, 2u);
  fs::remove(big);
}

TEST_F(CsmExchange, FileGoneAfterTheListingIsLeftOutAndTheCountCorrected) {
  MakeScheme();
  WriteFile(tmp / "src/work.tsbak.backups/zzz.zip", "z");
  // The listing is taken before the first record; each step removes every file not
  // yet written except the first, so at most two records can be written.
  RecordingProgress progress;
  std::vector<std::string> written;
  progress.onStep = [&](uint32_t) {
    for (const auto& e : fs::recursive_directory_iterator(tmp / "src/work.tsbak.backups"))
      if (e.is_regular_file() && e.path().filename() != "monday.zip" &&
          e.path().filename() != "empty.zip" && e.path().filename() != ".hidden")
        fs::remove(e.path());
  };
  CCsmWriter writer(Src());
  writer.SetProgress(&progress);
  ASSERT_EQ(writer.Run("work", Csm()), ExportResult::kDone);
  EXPECT_EQ(progress.pos, 5u);  // every listed file counts as a step
  EXPECT_EQ(writer.Records() + writer.Skipped().size(), 5u);
  EXPECT_FALSE(writer.Skipped().empty());
  CsmSummary summary;
  ASSERT_EQ(CCsmReader::Inspect(Csm(), summary), ImportResult::kDone);
  EXPECT_EQ(summary.records, writer.Records());
  ASSERT_EQ(Import(Dst(), Csm()), ImportResult::kDone);
  for (const auto& e : fs::directory_iterator(tmp / "dst/work.tsbak.backups"))
    EXPECT_EQ(ReadFile(e.path().string()),
              ReadFile(tmp / ("src/work.tsbak.backups/" + e.path().filename().string())));
}

// Partial files of a Backups folder (a Backup being taken, a copy, a lock) are
// never carried; those of killed exports and imports go at the next one.
TEST_F(CsmExchange, PartialFilesAreNotCarriedAndStaleOnesGo) {
  MakeScheme();
  const std::string self = std::to_string(getpid());
  const std::string dead = std::to_string(test::DeadProcessId());
  const std::string backups = tmp / "src/work.tsbak.backups/";
  for (const std::string& name :
       {".monday.zip." + self + ".partial", std::string(".monday.zip.lock"),
        ".tessarook-copy-" + dead + "-1.part", std::string("old/.a.zip.lock")})
    WriteFile(backups + name, "partial");
  const std::string staleExport = tmp / (".tessarook-export-" + dead + "-0a.part");
  const std::string staleImport = tmp / ("dst/.tessarook-import-" + dead + "-0b");
  WriteFile(staleExport, "killed export");
  WriteFile(staleImport + "/backups/x.zip", "killed import");

  CCsmWriter writer(Src());
  ASSERT_EQ(writer.Run("work", Csm()), ExportResult::kDone);
  EXPECT_EQ(writer.Records(), 4u);
  EXPECT_FALSE(fs::exists(staleExport));
  // A stale partial in the Backups folder is cleared as well; a live one stays.
  EXPECT_FALSE(fs::exists(backups + ".tessarook-copy-" + dead + "-1.part"));
  EXPECT_TRUE(fs::exists(backups + ".monday.zip." + self + ".partial"));

  ASSERT_EQ(Import(Dst(), Csm()), ImportResult::kDone);
  EXPECT_FALSE(fs::exists(staleImport));
  std::set<std::string> carried;
  for (const auto& e : fs::directory_iterator(tmp / "dst/work.tsbak.backups"))
    carried.insert(e.path().filename());
  EXPECT_EQ(carried, (std::set<std::string>{".hidden", "a.zip", "empty.zip", "monday.zip"}));
}

}  // namespace
}  // namespace tessarook
