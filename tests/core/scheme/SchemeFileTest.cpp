// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "scheme/Scheme.h"

namespace tessarook {
namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

Bytes U32(uint32_t v) {
  Bytes b;
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
  return b;
}

Bytes Utf16(std::initializer_list<uint16_t> units) {
  Bytes b;
  for (uint16_t u : units) b += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  return b;
}

Bytes ToBytes(const CScheme& s) {
  Bytes out;
  EXPECT_EQ(s.ToBytes(out), SchemeError::kOk);
  return out;
}

SchemeError Read(const Bytes& b, CScheme& s) { return s.ReadFromMemory(b.data(), b.size()); }

// The first file path of a one-file Scheme whose text has the given encoding.
std::string ReadOneText(const Bytes& encodedText) {
  CScheme s;
  EXPECT_EQ(Read(U32(1) + encodedText + U32(0), s), SchemeError::kOk);
  return s.m_files.size() == 1 ? s.m_files[0].m_path : "<none>";
}

class TempDir {
 public:
  TempDir() : path_(fs::temp_directory_path() / ("tessarook-scheme-" + Random())) {
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  size_t Count() const {
    return std::distance(fs::directory_iterator(path_), fs::directory_iterator());
  }

 private:
  static std::string Random() { return std::to_string(std::random_device()()); }
  fs::path path_;
};

void WriteFile(const std::string& path, const Bytes& b) { std::ofstream(path) << b; }
Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(SchemeFileWrite, Layouts) {
  EXPECT_EQ(ToBytes(CScheme()), Bytes(8, '\0'));
  CScheme s;
  s.AddFileEntry("C:\\a.txt");
  EXPECT_EQ(ToBytes(s), U32(1) + "\x08" + "C:\\a.txt" + U32(0));

  CScheme t;
  t.AddFileEntry("/f1");
  t.AddFileEntry("/f2");
  t.AddFolderEntry("/d1");
  t.AddFolderEntry("/d2");
  t.m_folders[0].m_excludedExtensions = {"tmp", "o"};
  EXPECT_EQ(ToBytes(t), U32(2) + "\x03/f1\x03/f2" + U32(2) + "\x03/d1" + U32(2) + "\x03tmp\x01o" +
                            "\x03/d2" + U32(0));
}

TEST(SchemeFileWrite, SmallestLengthPrefixForEachSize) {
  const std::pair<size_t, Bytes> cases[] = {
      {0, Bytes(1, '\0')},
      {0xFE, "\xFE"},
      {0xFF, Bytes("\xFF\xFF\x00", 3)},
      {300, "\xFF\x2C\x01"},
      {0xFFFD, "\xFF\xFD\xFF"},
      {0xFFFE, Bytes("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
      {0x10000, Bytes("\xFF\xFF\xFF\x00\x00\x01\x00", 7)},
  };
  for (const auto& [length, prefix] : cases) {
    SCOPED_TRACE(length);
    CScheme s;
    s.AddFolderEntry(Bytes(length, 'p'));
    const Bytes bytes = ToBytes(s);
    ASSERT_EQ(bytes.size(), 8 + prefix.size() + length + 4);
    EXPECT_EQ(bytes.substr(8, prefix.size()), prefix);
    CScheme back;
    ASSERT_EQ(Read(bytes, back), SchemeError::kOk);
    EXPECT_EQ(back, s);
  }
}

TEST(SchemeFileRead, EveryPrefixFormAndWideTexts) {
  EXPECT_EQ(ReadOneText("\x03/ab"), "/ab");
  EXPECT_EQ(ReadOneText(Bytes("\xFF\x03\x00/ab", 6)), "/ab");
  EXPECT_EQ(ReadOneText(Bytes("\xFF\xFF\xFF\x03\x00\x00\x00/ab", 10)), "/ab");
  EXPECT_EQ(ReadOneText(Bytes(7, '\xFF') + Bytes("\x03\0\0\0\0\0\0\0/ab", 11)), "/ab");

  const Bytes wide("\xFF\xFE\xFF", 3);
  EXPECT_EQ(ReadOneText(wide + "\x02" + Utf16({'/', 0xE9})), "/\xC3\xA9");
  // A 3-byte character and a surrogate pair (U+1F600).
  EXPECT_EQ(ReadOneText(wide + "\x03" + Utf16({0x20AC, 0xD83D, 0xDE00})),
            "\xE2\x82\xAC\xF0\x9F\x98\x80");
  // Unpaired surrogates: a high one at the end, a low one alone, a high one before a letter.
  EXPECT_EQ(ReadOneText(wide + "\x01" + Utf16({0xD800})), "\xEF\xBF\xBD");
  EXPECT_EQ(ReadOneText(wide + "\x02" + Utf16({0xDC00, 'a'})),
            "\xEF\xBF\xBD"
            "a");
  EXPECT_EQ(ReadOneText(wide + "\x02" + Utf16({0xDBFF, 'b'})),
            "\xEF\xBF\xBD"
            "b");
  // 2-byte and 4-byte lengths after the wide mark.
  EXPECT_EQ(ReadOneText(wide + Bytes("\xFF\x01\x00", 3) + Utf16({'z'})), "z");
  EXPECT_EQ(ReadOneText(wide + Bytes("\xFF\xFF\xFF\x01\x00\x00\x00", 7) + Utf16({'q'})), "q");
}

TEST(SchemeFileRead, ShortAndCutFiles) {
  CScheme s;
  EXPECT_EQ(Read(Bytes(), s), SchemeError::kOk);
  for (size_t n = 1; n <= 3; ++n)
    EXPECT_EQ(Read(Bytes(n, '\0'), s), SchemeError::kUnexpectedFormat);
  const Bytes cut[] = {
      U32(1) + "\x02/a",                                 // the folder count is missing
      U32(1) + "\x05/ab",                                // a text cut short
      U32(1) + "\xFF\xFE\xFF\x02" + Utf16({'a'}) + "x",  // a wide text cut short
      U32(0) + U32(1) + "\x02/d",                        // no exclusion count
      U32(0) + U32(1) + "\x02/d" + U32(2) + "\x01x",     // an exclusion missing
      U32(1) + Bytes(7, '\xFF') + "\x01",                // the 8-byte length cut short
  };
  for (const Bytes& b : cut) EXPECT_EQ(Read(b, s), SchemeError::kUnexpectedFormat);
}

TEST(SchemeFileRead, ImpossibleEightByteLengthIsAGeneralError) {
  CScheme s;
  const Bytes marker(7, '\xFF');
  EXPECT_EQ(Read(U32(1) + marker + Bytes("\x01\0\0\0\x01\0\0\0x", 9), s), SchemeError::kOpenFailed);
  EXPECT_EQ(Read(U32(1) + marker + Bytes("\0\0\0\x80\0\0\0\0", 8), s), SchemeError::kOpenFailed);
}

TEST(SchemeFileRead, SignedCountsAndTrailingBytes) {
  CScheme s;
  // A negative file count reads no files; the next 4 bytes are the folder count.
  ASSERT_EQ(Read(U32(0x80000000u) + U32(1) + "\x02/d" + U32(0xFFFFFFFFu) + "junk", s),
            SchemeError::kOk);
  EXPECT_TRUE(s.m_files.empty());
  ASSERT_EQ(s.m_folders.size(), 1u);
  EXPECT_EQ(s.m_folders[0].m_path, "/d");

  CScheme full;
  full.AddFileEntry("/x");
  full.AddFolderEntry("/y");
  full.m_folders[0].m_excludedExtensions = {"bak"};
  CScheme back;
  ASSERT_EQ(Read(ToBytes(full) + Bytes("\x07\xFF\0more", 7), back), SchemeError::kOk);
  EXPECT_EQ(back, full);
}

TEST(SchemeFileRead, HostileCountsAndLengthsFailWithoutAllocating) {
  CScheme s;
  const Bytes hostile[] = {
      U32(0x7FFFFFFF) + "\x01x",
      U32(0) + U32(0x7FFFFFFF) + Bytes(1, '\0') + U32(0x7FFFFFFF),
      U32(1) + Bytes("\xFF\xFF\xFF\xFE\xFF\xFF\xFF", 7) + "x",                // 4 GiB text
      U32(1) + Bytes(10, '\xFF') + Bytes("\x7F\0\0\0\0", 5),                  // 8-byte 2^31-1
      U32(1) + Bytes("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 10) + "ab",  // wide 2^31-1
  };
  // Under the sanitizer build a huge allocation would abort the run.
  for (const Bytes& b : hostile) EXPECT_EQ(Read(b, s), SchemeError::kUnexpectedFormat);
}

// Peak resident memory of this process so far, in KiB.
long PeakKiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(SchemeFileRead, MemoryFollowsTheFileNotItsCounts) {
  // 20 million one-byte (empty) paths: cut before the folder count, and whole.
  const Bytes empties(20'000'000, '\0');
  const Bytes cut = U32(20'000'000) + empties;
  const Bytes whole = cut + U32(0);
  for (const Bytes* b : {&cut, &whole}) {
    const long before = PeakKiB();
    CScheme s;
    EXPECT_EQ(Read(*b, s), SchemeError::kUnexpectedFormat);
    EXPECT_TRUE(s.m_files.empty());
    // Each empty path would cost a string object many times its one byte.
    EXPECT_LT(PeakKiB() - before, 64 << 10);  // KiB
  }
  // A large Scheme of real paths still reads, from memory and from a file.
  CScheme big;
  for (int i = 0; i < 100'000; ++i) big.m_files.emplace_back("/data/file" + std::to_string(i));
  big.AddFolderEntry("/home");
  big.m_folders[0].m_excludedExtensions = {"tmp", "bak"};
  const Bytes bytes = ToBytes(big);
  CScheme back;
  ASSERT_EQ(Read(bytes, back), SchemeError::kOk);
  EXPECT_EQ(back, big);
  TempDir dir;
  WriteFile(dir / "big.tsbak", bytes);
  CScheme loaded;
  ASSERT_EQ(loaded.Load(dir / "big.tsbak"), SchemeError::kOk);
  EXPECT_EQ(loaded, big);
}

TEST(SchemeFileRead, FailedReadLeavesTheSchemeAsItWas) {
  CScheme s;
  s.AddFileEntry("/keep");
  const CScheme before = s;
  // Two good entries are read before the third one fails.
  EXPECT_EQ(Read(U32(3) + "\x02/a\x02/b\x09/c", s), SchemeError::kUnexpectedFormat);
  EXPECT_EQ(s, before);
  TempDir dir;
  WriteFile(dir / "cut.tsbak", U32(0) + U32(1) + "\x02/d");
  EXPECT_EQ(s.Load(dir / "cut.tsbak"), SchemeError::kUnexpectedFormat);
  EXPECT_EQ(s, before);
}

TEST(SchemeFileDisk, SaveAndLoadRoundTrip) {
  TempDir dir;
  CScheme s;
  s.AddFileEntry("/home/ann/\xC3\xA9t\xC3\xA9.txt");
  s.AddFileEntry(Bytes(70000, 'f'));
  s.AddFolderEntry("/home/ann/src");
  s.m_folders[0].m_excludedExtensions = {"o", "tmp ", ".bak"};
  ASSERT_EQ(s.Save(dir / "W.tsbak"), SchemeError::kOk);
  EXPECT_EQ(ReadFile(dir / "W.tsbak"), ToBytes(s));
  CScheme back;
  ASSERT_EQ(back.Load(dir / "W.tsbak"), SchemeError::kOk);
  EXPECT_EQ(back, s);
  WriteFile(dir / "zero.tsbak", "");
  ASSERT_EQ(back.Load(dir / "zero.tsbak"), SchemeError::kOk);
  EXPECT_EQ(back, CScheme());
  EXPECT_EQ(dir.Count(), 2u);  // no temporary file left behind
}

TEST(SchemeFileDisk, OpenAndSaveErrorsNameTheirCause) {
  TempDir dir;
  CScheme s;
  const std::string missing = dir / "none.tsbak";
  ASSERT_EQ(s.Load(missing), SchemeError::kFileNotFound);
  EXPECT_EQ(SchemeErrorText(SchemeError::kFileNotFound, missing), missing + " was not found.");
  fs::create_directory(dir / "d.tsbak");
  EXPECT_EQ(s.Load(dir / "d.tsbak"), SchemeError::kAccessDenied);
  EXPECT_EQ(s.Save(dir / "d.tsbak"), SchemeError::kAccessDenied);
  EXPECT_EQ(SchemeErrorText(SchemeError::kAccessDenied, "/x"), "Access to /x was denied.");
  WriteFile(dir / "plain", "x");
  EXPECT_EQ(s.Load(dir / "plain/in.tsbak"), SchemeError::kInvalidPath);
  EXPECT_EQ(s.Save(dir / "no-folder/a.tsbak"), SchemeError::kInvalidPath);
  EXPECT_EQ(SchemeErrorText(SchemeError::kInvalidPath, "/q"), "/q contains an invalid path.");
  EXPECT_EQ(s.Save(""), SchemeError::kInvalidFilename);
  // A FIFO is refused without waiting for a writer.
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(s.Load(dir / "fifo"), SchemeError::kOpenFailed);
  EXPECT_EQ(SchemeErrorText(SchemeError::kDiskFull, "/s"), "Disk full while accessing /s.");
}

// A write that fails half-way (here: the file size limit is reached) keeps the
// old scheme file as it was. Run in a child process so the limit stays there.
TEST(SchemeFileDisk, FailedSaveKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir / "Old.tsbak";
  CScheme old;
  old.AddFileEntry("/old/one");
  ASSERT_EQ(old.Save(path), SchemeError::kOk);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    CScheme big;
    big.AddFileEntry(Bytes(100000, 'n'));
    _exit(big.Save(path) == SchemeError::kSaveFailed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save should have failed";
  EXPECT_EQ(ReadFile(path), ToBytes(old));
  EXPECT_EQ(dir.Count(), 1u);
}

}  // namespace
}  // namespace tessarook
