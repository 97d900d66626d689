// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "BackupTestSupport.h"
#include "ZipCraft.h"
#include "backup/ZipExtract.h"
#include "backup/ZipFile.h"
#include "backup/ZipReader.h"

using namespace backup_test;
using tessarook::CZipExtractor;
using tessarook::CZipFile;

namespace {

struct timespec MTime(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mtim;
}

mode_t Mode(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

}  // namespace

TEST(ZipExtract, ExtractionRestoresBytesModeAndTimeAndCreatesFolders) {
  TempDir dir;
  std::string big;
  for (int i = 0; i < 300000; ++i)
    big += std::to_string(static_cast<long long>(i) * 7919) + (i % 9 ? " " : "\n");
  WriteFile(dir / "src/big.txt", big);
  WriteFile(dir / "src/ro.txt", "read only");
  WriteFile(dir / "src/none.txt", "no permissions at all");
  chmod((dir / "src/big.txt").c_str(), 0750);
  chmod((dir / "src/ro.txt").c_str(), 0444);
  chmod((dir / "src/none.txt").c_str(), 0);
  struct timespec old[2] = {{0, UTIME_OMIT}, {1234567890, 123456700}};
  utimensat(AT_FDCWD, (dir / "src/ro.txt").c_str(), old, 0);

  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "a.zip"));
  ASSERT_TRUE(zip.AddFile(dir / "src/big.txt", "0"));
  ASSERT_TRUE(zip.AddFile(dir / "src/ro.txt", "1"));
  const bool rootReads = geteuid() == 0;  // otherwise a mode of 000 cannot be read back
  if (rootReads) {
    ASSERT_TRUE(zip.AddFile(dir / "src/none.txt", "2"));
  }
  ASSERT_EQ(zip.Close(), 0);
  EXPECT_LT(fs::file_size(dir / "a.zip"), big.size() / 2);  // deflated
  ASSERT_TRUE(UnzipAccepts(dir / "a.zip"));
  ASSERT_EQ(PythonExtract(dir / "a.zip", dir / "py").status, 0);
  EXPECT_EQ(ReadFile(dir / "py/0"), big);

  ASSERT_TRUE(zip.Open(dir / "a.zip"));
  CZipExtractor extract(zip);
  ASSERT_TRUE(extract.ExtractToFile(dir / "out/deep/er/big.txt", int64_t{0}));
  ASSERT_TRUE(extract.ExtractToFile(dir / "out/ro.txt", "1"));
  EXPECT_EQ(ReadFile(dir / "out/deep/er/big.txt"), big);
  EXPECT_EQ(Mode(dir / "out/deep/er/big.txt"), 0750u);
  EXPECT_EQ(Mode(dir / "out/ro.txt"), 0444u);
  if (rootReads) {
    ASSERT_TRUE(extract.ExtractToFile(dir / "out/none.txt", "2"));
    EXPECT_EQ(Mode(dir / "out/none.txt"), 0u);
  }
  const struct timespec t = MTime(dir / "out/ro.txt");
  EXPECT_EQ(t.tv_sec, 1234567890);
  EXPECT_EQ(t.tv_nsec, 123456700);
  EXPECT_EQ(MTime(dir / "out/deep/er/big.txt").tv_sec, MTime(dir / "src/big.txt").tv_sec);

  // An existing read-only file is left as it was; a writable one receives the
  // data. Neither leaves a temporary file behind.
  EXPECT_FALSE(extract.ExtractToFile(dir / "out/ro.txt", "1"));
  EXPECT_TRUE(extract.DestinationProtected());
  EXPECT_EQ(MTime(dir / "out/ro.txt").tv_sec, 1234567890);
  ASSERT_TRUE(extract.ExtractToFile(dir / "out/deep/er/big.txt", int64_t{0}));
  EXPECT_FALSE(extract.DestinationProtected());
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir / "out")) files += e.is_regular_file();
  EXPECT_EQ(files, rootReads ? 2u : 1u);
}

TEST(ZipExtract, DamagedDataFailsExtractionAndKeepsTheOldFile) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "line " + std::to_string(i) + "\n";
  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "a.zip"));
  ASSERT_TRUE(zip.AddFromMemory(text.data(), text.size(), "0"));
  ASSERT_EQ(zip.Close(), 0);
  // Flip one byte in the middle of the compressed data.
  std::string bytes = ReadFile(dir / "a.zip");
  bytes[bytes.size() / 3] ^= 0x55;
  WriteFile(dir / "a.zip", bytes);
  WriteFile(dir / "dest.txt", "good old contents");

  ASSERT_TRUE(zip.Open(dir / "a.zip"));
  std::string reason;
  EXPECT_FALSE(zip.TestEntry(0, reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_FALSE(CZipExtractor(zip).ExtractToFile(dir / "dest.txt", int64_t{0}));
  EXPECT_EQ(ReadFile(dir / "dest.txt"), "good old contents");
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.str())) files += e.is_regular_file();
  EXPECT_EQ(files, 2u);  // a.zip and dest.txt: the temporary file is gone
}

TEST(ZipExtract, OutOfRangeNtfsTimeFallsBackToTheOtherTimes) {
  TempDir dir;
  const uint64_t kBad = 0x8000000000000000ull;  // past the last time the field can mean
  const uint64_t kGood = 116444736000000000ull + 1500000000ull * 10000000 + 1234500;
  struct Case {
    const char* what;
    std::string extra;
    time_t expected;
  };
  struct tm dos {};
  dos.tm_year = 120;  // the craft's DOS date: 2020-01-01 00:00 local time
  dos.tm_mday = 1;
  dos.tm_isdst = -1;
  const time_t dosTime = mktime(&dos);
  const std::vector<Case> cases = {
      {"bad NTFS, then extended", NtfsExtra(kBad) + UnixTimeExtra(1000000000), 1000000000},
      {"extended, then bad NTFS", UnixTimeExtra(1000000000) + NtfsExtra(kBad), 1000000000},
      {"bad NTFS alone", NtfsExtra(kBad), dosTime},
      {"largest NTFS value", NtfsExtra(~0ull), dosTime},
      {"good NTFS wins", UnixTimeExtra(1000000000) + NtfsExtra(kGood), 1500000000},
  };
  for (const Case& c : cases) {
    ZipCraft zip;
    ZipCraft::Record r = zip.AddStored("0", "timed");
    r.centralExtra = c.extra;
    WriteFile(dir / "t.zip", zip.Finish({r}));
    tessarook::CZipReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(dir / "t.zip", error)) << c.what << ": " << error;
    EXPECT_EQ(reader.Entries().at(0).mtime.tv_sec, c.expected) << c.what;

    CZipFile archive;
    ASSERT_TRUE(archive.Open(dir / "t.zip")) << c.what;
    ASSERT_TRUE(CZipExtractor(archive).ExtractToFile(dir / "out", int64_t{0})) << c.what;
    EXPECT_EQ(MTime(dir / "out").tv_sec, c.expected) << c.what;
  }
}

// A file with another name is rewritten in place: stretches of zeros in the
// entry come out as zeros over the old data (as holes where the file system
// has them), and the old tail goes.
TEST(ZipExtract, RewriteInPlaceClearsOldDataWhereTheEntryHasZeros) {
  TempDir dir;
  constexpr size_t kMiB = 1 << 20;
  std::string data(10 * kMiB, '\0');
  std::fill(data.begin(), data.begin() + kMiB, 'a');
  std::fill(data.begin() + 5 * kMiB, data.begin() + 6 * kMiB + 17, 'b');
  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "a.zip"));
  ASSERT_TRUE(zip.AddFromMemory(data.data(), data.size(), "0"));
  ASSERT_EQ(zip.Close(), 0);
  WriteFile(dir / "dest", std::string(12 * kMiB, 'x'));
  ASSERT_EQ(link((dir / "dest").c_str(), (dir / "other").c_str()), 0);
  struct stat before {};
  ASSERT_EQ(stat((dir / "dest").c_str(), &before), 0);

  ASSERT_TRUE(zip.Open(dir / "a.zip"));
  CZipExtractor extract(zip);
  ASSERT_TRUE(extract.ExtractToFile(dir / "dest", int64_t{0})) << extract.LastError();
  EXPECT_EQ(extract.LastPlaced(), CZipExtractor::Placed::kReplaced);
  struct stat after {};
  ASSERT_EQ(stat((dir / "dest").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_TRUE(ReadFile(dir / "other") == data);
  // Where a punched hole reads as zeros, the stretches of zeros take no room.
  WriteFile(dir / "probe", std::string(4096, 'p'));
  const int probe = ::open((dir / "probe").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(probe, 0);
  const bool punches = fallocate(probe, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, 4096) == 0;
  ::close(probe);
  if (punches) {
    EXPECT_LT(static_cast<uint64_t>(after.st_blocks) * 512, 4 * kMiB);
  }

  // The same data again is left alone.
  ASSERT_TRUE(extract.ExtractToFile(dir / "dest", int64_t{0}));
  EXPECT_EQ(extract.LastPlaced(), CZipExtractor::Placed::kSame);
}
