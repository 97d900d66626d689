// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "BackupTestSupport.h"
#include "backup/ZipExtract.h"
#include "backup/ZipFile.h"

using namespace backup_test;
using tessarook::CZipFile;

TEST(ZipFile, CloseOnNothingAndTwiceReturnsZero) {
  CZipFile zip;
  EXPECT_EQ(zip.Close(), 0);
  TempDir dir;
  ASSERT_TRUE(zip.Create(dir / "a.zip"));
  EXPECT_EQ(zip.Close(), 0);
  EXPECT_EQ(zip.Close(), 0);
  EXPECT_EQ(zip.GetEntryCount(), 0);
}

TEST(ZipFile, EmptyArchiveIsAValidZip) {
  TempDir dir;
  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "e.zip"));
  ASSERT_EQ(zip.Close(), 0);
  // Info-ZIP only warns that the archive is empty; Python reads it as valid.
  EXPECT_NE(Shell("unzip -l " + Quote(dir / "e.zip") + " 2>&1").out.find("empty"),
            std::string::npos);
  const RunResult py = PythonExtract(dir / "e.zip", dir / "x");
  EXPECT_EQ(py.status, 0);
  EXPECT_EQ(py.out, "\n");
  ASSERT_TRUE(zip.Open(dir / "e.zip"));
  EXPECT_EQ(zip.GetEntryCount(), 0);
  EXPECT_EQ(zip.FindEntry("list.txt"), -1);
}

TEST(ZipFile, CreateInMissingFolderFailsAndHoldsNothing) {
  TempDir dir;
  CZipFile zip;
  EXPECT_FALSE(zip.Create(dir / "no/such/folder/a.zip"));
  EXPECT_FALSE(zip.IsWriting());
  EXPECT_FALSE(zip.LastError().empty());
  EXPECT_EQ(zip.Close(), 0);
}

TEST(ZipFile, FailedAddFileLeavesArchiveUsable) {
  TempDir dir;
  WriteFile(dir / "real.txt", "real contents");
  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "a.zip"));
  EXPECT_FALSE(zip.AddFile(dir / "missing.txt", "0"));
  EXPECT_FALSE(zip.AddFile(dir.str(), "0"));  // a folder is not a file
  EXPECT_TRUE(zip.AddFile(dir / "real.txt", "0"));
  ASSERT_EQ(zip.Close(), 0);
  ASSERT_TRUE(UnzipAccepts(dir / "a.zip"));
  const RunResult py = PythonExtract(dir / "a.zip", dir / "x");
  ASSERT_EQ(py.status, 0);
  EXPECT_EQ(py.out, "0\n");
  EXPECT_EQ(ReadFile(dir / "x/0"), "real contents");
}

TEST(ZipFile, AddFileOfAFifoFailsWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "a.zip"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(zip.AddFile(dir / "pipe", "0"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(zip.Close(), 0);
}

TEST(ZipFile, FindEntryIgnoresLetterCaseAndFindsTheFirst) {
  TempDir dir;
  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "a.zip"));
  ASSERT_TRUE(zip.AddFromMemory("one", 3, "list.txt"));
  ASSERT_TRUE(zip.AddFromMemory("two", 3, "List.TXT"));
  ASSERT_EQ(zip.Close(), 0);
  ASSERT_TRUE(zip.Open(dir / "a.zip"));
  EXPECT_EQ(zip.GetEntryCount(), 2);
  EXPECT_EQ(zip.FindEntry("LIST.TXT"), 0);
  EXPECT_EQ(zip.FindEntry("list.txt"), 0);
  EXPECT_EQ(zip.FindEntry("list"), -1);
}

TEST(ZipFile, ExtractToMemoryNeedsRoomForTheWholeEntry) {
  TempDir dir;
  const std::string data = "0123456789abcdef";
  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "a.zip"));
  ASSERT_TRUE(zip.AddFromMemory(data.data(), data.size(), "e"));
  ASSERT_TRUE(zip.AddFromMemory(nullptr, 0, "empty"));
  ASSERT_EQ(zip.Close(), 0);
  ASSERT_TRUE(zip.Open(dir / "a.zip"));
  EXPECT_EQ(zip.GetEntrySize(0), data.size());

  std::string buf(data.size() - 1, '#');
  uint64_t size = buf.size();
  EXPECT_FALSE(zip.ExtractToMemory(buf.data(), size, "e"));
  EXPECT_EQ(size, data.size() - 1);
  EXPECT_EQ(buf, std::string(data.size() - 1, '#'));

  buf.assign(data.size(), '#');
  size = buf.size();
  EXPECT_TRUE(zip.ExtractToMemory(buf.data(), size, int64_t{0}));
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(buf, data);

  size = 0;
  EXPECT_TRUE(zip.ExtractToMemory(nullptr, size, "EMPTY"));
  EXPECT_EQ(size, 0u);
  EXPECT_FALSE(zip.ExtractToMemory(buf.data(), size, "absent"));
}

TEST(ZipFile, IncompressibleDataIsStoredAndStillReadsBack) {
  TempDir dir;
  std::string noise(300000, '\0');
  std::mt19937 rng(1);
  for (char& c : noise) c = static_cast<char>(rng());
  WriteFile(dir / "noise.bin", noise);
  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "a.zip"));
  ASSERT_TRUE(zip.AddFile(dir / "noise.bin", "0"));
  ASSERT_EQ(zip.Close(), 0);
  EXPECT_LT(fs::file_size(dir / "a.zip"), noise.size() + 400);
  EXPECT_NE(Shell("unzip -v " + Quote(dir / "a.zip") + " | grep -w Stored").status, 1);
  ASSERT_EQ(PythonExtract(dir / "a.zip", dir / "py").status, 0);
  EXPECT_EQ(ReadFile(dir / "py/0"), noise);
}

TEST(ZipFile, OpenRefusesWhatIsNotAZip) {
  TempDir dir;
  WriteFile(dir / "text.zip", "this is not a zip file at all, just text");
  WriteFile(dir / "empty.zip", "");
  ASSERT_EQ(mkfifo((dir / "fifo.zip").c_str(), 0600), 0);
  CZipFile zip;
  EXPECT_FALSE(zip.Open(dir / "text.zip"));
  EXPECT_FALSE(zip.Open(dir / "empty.zip"));
  EXPECT_FALSE(zip.Open(dir / "missing.zip"));
  EXPECT_FALSE(zip.Open(dir / "fifo.zip"));
  EXPECT_FALSE(zip.Open(dir.str()));
  EXPECT_FALSE(zip.IsReading());
  EXPECT_EQ(zip.Close(), 0);
}

TEST(ZipFile, ManyEntriesPastTheClassicLimit) {
  TempDir dir;
  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "many.zip"));
  const int n = 70000;
  for (int i = 0; i < n; ++i) {
    const std::string name = std::to_string(i);
    ASSERT_TRUE(zip.AddFromMemory(name.data(), name.size(), name));
  }
  ASSERT_EQ(zip.Close(), 0);
  EXPECT_TRUE(UnzipAccepts(dir / "many.zip"));
  const RunResult py = Shell("python3 -c " +
                             Quote("import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                                   "print(len(z.namelist()), z.read('69999').decode())") +
                             " " + Quote(dir / "many.zip"));
  EXPECT_EQ(py.out, "70000 69999\n");
  ASSERT_TRUE(zip.Open(dir / "many.zip"));
  EXPECT_EQ(zip.GetEntryCount(), n);
  EXPECT_TRUE(zip.IsDirectoryComplete());
  EXPECT_EQ(zip.FindEntry("65536"), 65536);
}

// One file past 4 GiB (a sparse file, so it costs little disk). Deflating it
// takes a while: TESSAROOK_SKIP_HUGE skips it, and sanitizer builds skip it.
TEST(ZipFile, FileLargerThan4GiBRestoresByteIdentical) {
  if (std::getenv("TESSAROOK_SKIP_HUGE")) GTEST_SKIP() << "TESSAROOK_SKIP_HUGE is set";
  if (kSanitized) GTEST_SKIP() << "too slow under the sanitizers";
  TempDir dir;
  const uint64_t size = (uint64_t{4} << 30) + 12345;
  {
    const int fd = ::open((dir / "huge.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    const std::string marks[] = {"start", "middle of the file", "the end"};
    const uint64_t at[] = {0, uint64_t{3} << 30, size - 7};
    for (int i = 0; i < 3; ++i)
      ASSERT_EQ(pwrite(fd, marks[i].data(), marks[i].size(), static_cast<off_t>(at[i])),
                static_cast<ssize_t>(marks[i].size()));
    ::close(fd);
  }
  CZipFile zip;
  ASSERT_TRUE(zip.Create(dir / "huge.zip"));
  ASSERT_TRUE(zip.AddFile(dir / "huge.bin", "0"));
  ASSERT_TRUE(zip.AddFromMemory("x", 1, "after"));
  ASSERT_EQ(zip.Close(), 0);
  EXPECT_TRUE(UnzipAccepts(dir / "huge.zip"));
  const RunResult py =
      Shell("python3 -c " +
            Quote("import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); i=z.getinfo('0'); "
                  "print(i.file_size, z.read('after').decode())") +
            " " + Quote(dir / "huge.zip"));
  EXPECT_EQ(py.out, std::to_string(size) + " x\n");

  ASSERT_TRUE(zip.Open(dir / "huge.zip"));
  EXPECT_EQ(zip.GetEntrySize(0), size);
  ASSERT_TRUE(tessarook::CZipExtractor(zip).ExtractToFile(dir / "restored.bin", int64_t{0}));
  EXPECT_EQ(fs::file_size(dir / "restored.bin"), size);
  EXPECT_EQ(Shell("cmp -s " + Quote(dir / "huge.bin") + " " + Quote(dir / "restored.bin")).status,
            0);
}
