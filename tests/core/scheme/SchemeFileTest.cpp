#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

Bytes ToBytes(const CScheme& s) {
  Bytes out;
  EXPECT_EQ(s.ToBytes(out), SchemeError::kOk);
  return out;
}

SchemeError Read(const Bytes& bytes, CScheme& s) {
  return s.ReadFromMemory(bytes.data(), bytes.size());
}

// A single-file Scheme's bytes with the text given as its raw encoding.
Bytes OneFileWithText(const Bytes& encodedText) { return U32(1) + encodedText + U32(0); }

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("tessarook-scheme-" + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(SchemeFileWrite, EmptyAndSingleFileLayouts) {
  EXPECT_EQ(ToBytes(CScheme()), Bytes(8, '\0'));

  CScheme s;
  s.AddFileEntry("C:\\a.txt");
  EXPECT_EQ(ToBytes(s), U32(1) + "\x08" + "C:\\a.txt" + U32(0));
  EXPECT_EQ(ToBytes(s).size(), 17u);

  CScheme t;
  t.AddFileEntry("/home/ann/notes.txt");
  EXPECT_EQ(ToBytes(t), U32(1) + "\x13" + "/home/ann/notes.txt" + U32(0));
}

TEST(SchemeFileWrite, FoldersWithExclusionsInListOrder) {
  CScheme s;
  s.AddFileEntry("/f1");
  s.AddFileEntry("/f2");
  s.AddFolderEntry("/d1");
  s.AddFolderEntry("/d2");
  s.m_folders[0].m_excludedExtensions = {"tmp", "o"};
  const Bytes expected = U32(2) + "\x03/f1" + "\x03/f2" + U32(2) + "\x03/d1" + U32(2) + "\x03tmp" +
                         "\x01o" + "\x03/d2" + U32(0);
  EXPECT_EQ(ToBytes(s), expected);
}

TEST(SchemeFileWrite, SmallestLengthPrefixForEachSize) {
  struct Case {
    size_t length;
    Bytes prefix;
  };
  const Case cases[] = {
      {0, Bytes("\x00", 1)},
      {0xFE, "\xFE"},
      {0xFF, Bytes("\xFF\xFF\x00", 3)},
      {300, "\xFF\x2C\x01"},
      {0xFFFD, "\xFF\xFD\xFF"},
      {0xFFFE, Bytes("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
      {0xFFFF, Bytes("\xFF\xFF\xFF\xFF\xFF\x00\x00", 7)},
      {0x10000, Bytes("\xFF\xFF\xFF\x00\x00\x01\x00", 7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    CScheme s;
    s.AddFolderEntry(Bytes(c.length, 'p'));
    const Bytes bytes = ToBytes(s);
    ASSERT_EQ(bytes.size(), 4 + 4 + c.prefix.size() + c.length + 4);
    EXPECT_EQ(bytes.substr(8, c.prefix.size()), c.prefix);
    CScheme back;
    ASSERT_EQ(Read(bytes, back), SchemeError::kOk);
    EXPECT_EQ(back, s);
  }
}

TEST(SchemeFileRead, EveryPrefixFormIncludingLongerThanNeeded) {
  const Bytes forms[] = {
      Bytes("\x03", 1),
      Bytes("\xFF\x03\x00", 3),
      Bytes("\xFF\xFF\xFF\x03\x00\x00\x00", 7),
      Bytes("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x03\x00\x00\x00\x00\x00\x00\x00", 15),
  };
  for (const Bytes& prefix : forms) {
    CScheme s;
    ASSERT_EQ(Read(OneFileWithText(prefix + "/ab"), s), SchemeError::kOk);
    ASSERT_EQ(s.m_files.size(), 1u);
    EXPECT_EQ(s.m_files[0].m_path, "/ab");
  }
}

TEST(SchemeFileRead, ImpossibleEightByteLengthIsAGeneralError) {
  const Bytes marker("\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 7);
  CScheme s;
  // Upper 32 bits set.
  EXPECT_EQ(Read(OneFileWithText(marker + Bytes("\x01\0\0\0\x01\0\0\0", 8) + "x"), s),
            SchemeError::kOpenFailed);
  // Lower 32 bits negative as a signed value.
  EXPECT_EQ(Read(OneFileWithText(marker + Bytes("\0\0\0\x80\0\0\0\0", 8)), s),
            SchemeError::kOpenFailed);
  EXPECT_EQ(SchemeErrorText(SchemeError::kOpenFailed, "x"), "Failed to open document.");
  // The 8-byte value itself cut short is an end-of-file error.
  EXPECT_EQ(Read(U32(1) + marker + "\x01", s), SchemeError::kUnexpectedFormat);
}

Bytes Utf16(std::initializer_list<uint16_t> units) {
  Bytes b;
  for (uint16_t u : units) {
    b += static_cast<char>(u & 0xFF);
    b += static_cast<char>(u >> 8);
  }
  return b;
}

TEST(SchemeFileRead, WideTextsBecomeUtf8) {
  const Bytes wide("\xFF\xFE\xFF", 3);
  struct Case {
    Bytes encoded;
    Bytes expected;
  };
  const Case cases[] = {
      // "/é" with a 1-byte length
      {wide + "\x02" + Utf16({'/', 0xE9}), "/\xC3\xA9"},
      // a 3-byte character and a surrogate pair (U+1F600)
      {wide + "\x03" + Utf16({0x20AC, 0xD83D, 0xDE00}), "\xE2\x82\xAC\xF0\x9F\x98\x80"},
      // unpaired surrogates: a high one at the end, a low one alone, a high one before a letter
      {wide + "\x01" + Utf16({0xD800}), "\xEF\xBF\xBD"},
      {wide + "\x02" + Utf16({0xDC00, 'a'}),
       "\xEF\xBF\xBD"
       "a"},
      {wide + "\x02" + Utf16({0xDBFF, 'b'}),
       "\xEF\xBF\xBD"
       "b"},
      // 2-byte and 4-byte lengths after the wide mark
      {wide + Bytes("\xFF\x01\x00", 3) + Utf16({'z'}), "z"},
      {wide + Bytes("\xFF\xFF\xFF\x01\x00\x00\x00", 7) + Utf16({'q'}), "q"},
  };
  for (const Case& c : cases) {
    CScheme s;
    ASSERT_EQ(Read(OneFileWithText(c.encoded), s), SchemeError::kOk);
    ASSERT_EQ(s.m_files.size(), 1u);
    EXPECT_EQ(s.m_files[0].m_path, c.expected);
  }
  // A long wide text keeps every character.
  CScheme s;
  Bytes units;
  for (int i = 0; i < 400; ++i) units += Utf16({static_cast<uint16_t>('a' + i % 26)});
  ASSERT_EQ(Read(OneFileWithText(wide + "\xFF\x90\x01" + units), s), SchemeError::kOk);
  ASSERT_EQ(s.m_files[0].m_path.size(), 400u);
  EXPECT_EQ(s.m_files[0].m_path.substr(0, 3), "abc");
}

TEST(SchemeFileRead, ShortFiles) {
  CScheme s;
  EXPECT_EQ(Read(Bytes(), s), SchemeError::kOk);
  EXPECT_TRUE(s.m_files.empty() && s.m_folders.empty());
  for (size_t n = 1; n <= 3; ++n)
    EXPECT_EQ(Read(Bytes(n, '\0'), s), SchemeError::kUnexpectedFormat) << n;
  // The folder count is missing.
  EXPECT_EQ(Read(U32(1) + "\x02/a", s), SchemeError::kUnexpectedFormat);
  // A text cut short, in the single-byte and the wide form.
  EXPECT_EQ(Read(U32(1) + "\x05/ab", s), SchemeError::kUnexpectedFormat);
  EXPECT_EQ(Read(U32(1) + "\xFF\xFE\xFF\x02" + Utf16({'a'}) + "x", s),
            SchemeError::kUnexpectedFormat);
  // A folder without its exclusion count, and one with an exclusion missing.
  EXPECT_EQ(Read(U32(0) + U32(1) + "\x02/d", s), SchemeError::kUnexpectedFormat);
  EXPECT_EQ(Read(U32(0) + U32(1) + "\x02/d" + U32(2) + "\x01x", s), SchemeError::kUnexpectedFormat);
  EXPECT_EQ(SchemeErrorText(SchemeError::kUnexpectedFormat, "x"), "Unexpected file format.");
}

TEST(SchemeFileRead, SignedCountsAndTrailingBytes) {
  CScheme s;
  // A negative file count reads no files; the next 4 bytes are the folder count.
  ASSERT_EQ(Read(U32(0x80000000u) + U32(1) + "\x02/d" + U32(0xFFFFFFFFu) + "junk", s),
            SchemeError::kOk);
  EXPECT_TRUE(s.m_files.empty());
  ASSERT_EQ(s.m_folders.size(), 1u);
  EXPECT_EQ(s.m_folders[0].m_path, "/d");
  EXPECT_TRUE(s.m_folders[0].m_excludedExtensions.empty());

  CScheme full;
  full.AddFileEntry("/x");
  full.AddFolderEntry("/y");
  full.m_folders[0].m_excludedExtensions = {"bak"};
  CScheme back;
  ASSERT_EQ(Read(ToBytes(full) + Bytes("\x07\xFF\0more", 7), back), SchemeError::kOk);
  EXPECT_EQ(back, full);
}

TEST(SchemeFileRead, EntriesAreTakenAsTheyAre) {
  CScheme s;
  ASSERT_EQ(Read(U32(3) + "\x02/a" + "\x02/a" + Bytes("\x00", 1) + U32(0), s), SchemeError::kOk);
  ASSERT_EQ(s.m_files.size(), 3u);
  EXPECT_EQ(s.m_files[1].m_path, "/a");
  EXPECT_EQ(s.m_files[2].m_path, "");
}

TEST(SchemeFileRead, HostileCountsAndLengthsFailFast) {
  const auto start = std::chrono::steady_clock::now();
  CScheme s;
  const Bytes hostile[] = {
      U32(0x7FFFFFFF) + "\x01x",  // huge count, tiny file
      U32(0) + U32(0x7FFFFFFF) + Bytes("\0", 1) + U32(0x7FFFFFFF),
      U32(1) + Bytes("\xFF\xFF\xFF\xFE\xFF\xFF\xFF", 7) + "x",  // 4 GiB text
      U32(1) + Bytes("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F\0\0\0\0", 15),
      U32(1) + Bytes("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 10) + "ab",  // wide 2^31-1
  };
  for (const Bytes& b : hostile) EXPECT_EQ(Read(b, s), SchemeError::kUnexpectedFormat);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(SchemeFileRead, FailedReadLeavesTheSchemeAsItWas) {
  CScheme s;
  s.AddFileEntry("/keep");
  s.AddFolderEntry("/keep-dir");
  const CScheme before = s;
  // Two good entries are read before the third one fails.
  EXPECT_EQ(Read(U32(3) + "\x02/a" + "\x02/b" + "\x09/c", s), SchemeError::kUnexpectedFormat);
  EXPECT_EQ(s, before);
  TempDir dir;
  WriteFile(dir / "cut.tsbak", U32(0) + U32(1) + "\x02/d");
  EXPECT_EQ(s.Load(dir / "cut.tsbak"), SchemeError::kUnexpectedFormat);
  EXPECT_EQ(s, before);
  EXPECT_EQ(s.Load(dir / "missing.tsbak"), SchemeError::kFileNotFound);
  EXPECT_EQ(s, before);
}

TEST(SchemeFileDisk, SaveAndLoadRoundTrip) {
  TempDir dir;
  CScheme s;
  s.AddFileEntry("/home/ann/\xC3\xA9t\xC3\xA9.txt");
  s.AddFileEntry(Bytes(70000, 'f'));
  s.AddFolderEntry("/home/ann/src");
  s.m_folders[0].m_excludedExtensions = {"o", "tmp ", ".bak"};
  const std::string path = dir / "Work.tsbak";
  ASSERT_EQ(s.Save(path), SchemeError::kOk);
  EXPECT_EQ(ReadFile(path), ToBytes(s));
  CScheme back;
  back.AddFileEntry("/replaced");
  ASSERT_EQ(back.Load(path), SchemeError::kOk);
  EXPECT_EQ(back, s);

  // A zero-length file opens as an empty Scheme.
  WriteFile(dir / "zero.tsbak", "");
  ASSERT_EQ(back.Load(dir / "zero.tsbak"), SchemeError::kOk);
  EXPECT_EQ(back, CScheme());
  // Only the scheme file is left in the folder: no temporary files.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(SchemeFileDisk, OpenErrorsNameTheirCause) {
  TempDir dir;
  CScheme s;
  const std::string missing = dir / "none.tsbak";
  ASSERT_EQ(s.Load(missing), SchemeError::kFileNotFound);
  EXPECT_EQ(SchemeErrorText(SchemeError::kFileNotFound, missing), missing + " was not found.");
  EXPECT_EQ(s.Load(dir.path().string()), SchemeError::kAccessDenied);
  EXPECT_EQ(SchemeErrorText(SchemeError::kAccessDenied, "/x"), "Access to /x was denied.");
  // A path through a file is an invalid path.
  WriteFile(dir / "plain", "x");
  EXPECT_EQ(s.Load(dir / "plain/inner.tsbak"), SchemeError::kInvalidPath);
  // A FIFO is refused without waiting for a writer.
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(s.Load(dir / "fifo"), SchemeError::kOpenFailed);
}

TEST(SchemeFileDisk, SaveErrorsNameTheirCause) {
  TempDir dir;
  CScheme s;
  EXPECT_EQ(s.Save(""), SchemeError::kInvalidFilename);
  EXPECT_EQ(SchemeErrorText(SchemeError::kInvalidFilename, ""), "Invalid filename.");
  EXPECT_EQ(s.Save(dir / "no-such-folder/a.tsbak"), SchemeError::kInvalidPath);
  EXPECT_EQ(SchemeErrorText(SchemeError::kInvalidPath, "/q"), "/q contains an invalid path.");
  fs::create_directory(dir / "taken.tsbak");
  EXPECT_EQ(s.Save(dir / "taken.tsbak"), SchemeError::kAccessDenied);
  EXPECT_TRUE(fs::is_directory(dir / "taken.tsbak"));
  EXPECT_EQ(SchemeErrorText(SchemeError::kDiskFull, "/m/s.tsbak"),
            "Disk full while accessing /m/s.tsbak.");
  EXPECT_EQ(SchemeErrorText(SchemeError::kSaveFailed, "/m"), "Failed to save document.");
}

// A write that fails half-way (here: the file size limit is reached) keeps the
// old scheme file as it was. Run in a child process so the limit stays there.
TEST(SchemeFileDisk, FailedSaveKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir / "Old.tsbak";
  CScheme old;
  old.AddFileEntry("/old/one");
  ASSERT_EQ(old.Save(path), SchemeError::kOk);
  const Bytes before = ReadFile(path);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    CScheme big;
    big.AddFileEntry(Bytes(100000, 'n'));
    _exit(big.Save(path) == SchemeError::kOk ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << "the save should have failed";
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace tessarook
