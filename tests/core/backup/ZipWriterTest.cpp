// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <random>

#include "BackupTestSupport.h"
#include "SharedBlocks.h"
#include "backup/BackupRecords.h"
#include "backup/ZipFile.h"
#include "backup/ZipReader.h"
#include "backup/ZipWriter.h"

using namespace backup_test;
using tessarook::CZipFile;
using tessarook::CZipReader;
using tessarook::ZipCopiedEntry;

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

std::string Text(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  static const char* const kWords[] = {"backup ", "scheme ", "folder ", "file ", "list\n"};
  std::string out;
  while (out.size() < n) out += kWords[gen() % 5];
  out.resize(n);
  return out;
}

struct Source {
  std::string name;
  std::string bytes;
};

// Files that take every way into an archive: whole and streamed, deflated
// and stored, empty.
std::vector<Source> Sources() {
  return {{"small.txt", "a few words\n"},
          {"empty", ""},
          {"text.txt", Text(5 << 20, 1)},          // streamed, deflated
          {"noise.bin", RandomBytes(5 << 20, 2)},  // streamed, stored
          {"medium.bin", RandomBytes(300 << 10, 3)},
          {"page.txt", Text(200 << 10, 4)}};
}

struct Opened {
  CZipReader reader;
  std::vector<ZipCopiedEntry> stored;
};

void OpenStored(const std::string& path, Opened& out) {
  std::string error;
  ASSERT_TRUE(out.reader.Open(path, error)) << error;
  for (size_t i = 0; i < out.reader.Entries().size(); ++i) {
    ZipCopiedEntry e;
    ASSERT_TRUE(out.reader.StoredEntry(i, e, error)) << error;
    out.stored.push_back(e);
  }
}

uint64_t PaddingOf(const std::string& archive, const ZipCopiedEntry& e) {
  const std::string bytes = ReadFile(archive);
  const size_t nameLen = static_cast<unsigned char>(bytes[e.headerAt + 26]) |
                         static_cast<unsigned char>(bytes[e.headerAt + 27]) << 8;
  const size_t extraLen = static_cast<unsigned char>(bytes[e.headerAt + 28]) |
                          static_cast<unsigned char>(bytes[e.headerAt + 29]) << 8;
  const std::string extra = bytes.substr(e.headerAt + 30 + nameLen, extraLen);
  for (size_t at = 0; at + 4 <= extra.size();) {
    const unsigned tag =
        static_cast<unsigned char>(extra[at]) | static_cast<unsigned char>(extra[at + 1]) << 8;
    const size_t len =
        static_cast<unsigned char>(extra[at + 2]) | static_cast<unsigned char>(extra[at + 3]) << 8;
    if (tag == tessarook::kPaddingTag) return 4 + len;
    at += 4 + len;
  }
  return 0;
}

// A new scratch folder below `parent`.
std::string TempDirIn(const std::string& parent) {
  std::string pattern = parent + "/tessarook-test-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : parent + "/tessarook-test-failed";
}

}  // namespace

// An archive with every record of the program's own (identities, the taken
// record, padding) and with entries copied from another archive, both as
// runs and one by one under new names: every standard reader takes it and
// reads the same bytes, and the program's reader finds the records again.
TEST(ZipWriter, OwnRecordsPaddingAndCopiesAreInvisibleToStandardReaders) {
  TempDir dir;
  const std::vector<Source> sources = Sources();
  std::vector<std::pair<std::string, std::string>> expected;
  for (const Source& s : sources) WriteFile(dir / ("src/" + s.name), s.bytes);

  CZipFile parent;
  parent.SetIdentityCutoff(INT64_MAX);
  ASSERT_TRUE(parent.Create(dir / "parent.zip"));
  for (size_t i = 0; i < sources.size(); ++i) {
    ASSERT_TRUE(parent.AddFile(dir / ("src/" + sources[i].name), std::to_string(i)));
    expected.emplace_back(std::to_string(i), sources[i].bytes);
  }
  const tessarook::TakenRecord taken{1700000000123456789LL, tessarook::ThisMachine()};
  const struct timespec takenAt = {1700000000, 123456789};
  ASSERT_TRUE(parent.AddMemoryEntry("0: x", 4, "list.txt", takenAt, tessarook::TakenField(taken)));
  ASSERT_EQ(parent.Close(), 0);
  std::vector<std::string> missing;
  EXPECT_EQ(StandardReaderComplaints(dir / "parent.zip", expected, dir / "x", &missing),
            std::vector<std::string>{});
  for (const std::string& tool : missing)
    std::cout << "[ SKIPPED  ] " << tool << " not installed\n";

  Opened p;
  ASSERT_NO_FATAL_FAILURE(OpenStored(dir / "parent.zip", p));
  ASSERT_EQ(p.reader.Entries().size(), sources.size() + 1);
  for (size_t i = 0; i < sources.size(); ++i) {
    struct stat st {};
    ASSERT_EQ(stat((dir / ("src/" + sources[i].name)).c_str(), &st), 0);
    ASSERT_TRUE(p.reader.Entries()[i].source.has_value()) << i;
    EXPECT_EQ(*p.reader.Entries()[i].source, tessarook::IdentityOf(st)) << i;
  }
  EXPECT_FALSE(p.reader.Entries().back().source.has_value());
  ASSERT_TRUE(p.reader.Taken().has_value());
  EXPECT_EQ(p.reader.Taken()->takenNs, taken.takenNs);
  EXPECT_EQ(p.reader.Taken()->machine, taken.machine);
  std::string lastName;
  std::optional<tessarook::TakenRecord> lastTaken;
  ASSERT_TRUE(tessarook::ReadLastZipRecord(dir / "parent.zip", lastName, lastTaken));
  EXPECT_EQ(lastName, "list.txt");
  ASSERT_TRUE(lastTaken.has_value());
  EXPECT_EQ(lastTaken->takenNs, taken.takenNs);

  // The copy: a new entry first, so nothing stands where it stood, then the
  // file entries as one run under their names, then again one by one under
  // new names. Where blocks may be shared (XFS), long runs are padded into
  // place; where they never are (tmpfs), nothing is padded.
  LoopFs xfs("xfs");
  if (!xfs.Ok()) std::cout << "[ SKIPPED  ] padding on XFS: " << xfs.Error() << "\n";
  const bool shmIsTmpfs = Shell("stat -f -c %T /dev/shm 2>/dev/null").out == "tmpfs\n";
  struct Place {
    std::string folder;
    bool pads;
  };
  std::vector<Place> places = {{dir / "here", false}};
  if (xfs.Ok()) places.push_back({xfs / "w", true});
  if (shmIsTmpfs) places.push_back({TempDirIn("/dev/shm"), false});
  for (const Place& place : places) {
    SCOPED_TRACE(place.folder);
    fs::create_directories(place.folder);
    const std::string zip = place.folder + "/child.zip";
    CZipFile child;
    ASSERT_TRUE(child.Create(zip));
    ASSERT_TRUE(child.AddFromMemory("new", 3, "new"));
    std::vector<std::pair<std::string, std::string>> childExpected = {{"new", "new"}};
    for (size_t i = 0; i < sources.size(); ++i) {
      ASSERT_TRUE(child.AddCopied(p.stored[i], std::to_string(i)));
      childExpected.emplace_back(std::to_string(i), sources[i].bytes);
    }
    for (size_t i = 0; i < sources.size(); ++i) {
      ASSERT_TRUE(child.AddCopied(p.stored[i], "again" + std::to_string(i)));
      childExpected.emplace_back("again" + std::to_string(i), sources[i].bytes);
    }
    ASSERT_EQ(child.Close(), 0);
    EXPECT_EQ(StandardReaderComplaints(zip, childExpected, place.folder + "/readers"),
              std::vector<std::string>{});

    Opened c;
    ASSERT_NO_FATAL_FAILURE(OpenStored(zip, c));
    ASSERT_EQ(c.reader.Entries().size(), 1 + 2 * sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
      for (size_t k : {1 + i, 1 + sources.size() + i}) {
        const tessarook::ZipEntryInfo& e = c.reader.Entries()[k];
        EXPECT_EQ(e.crc, p.reader.Entries()[i].crc) << k;
        EXPECT_EQ(e.compressedSize, p.reader.Entries()[i].compressedSize) << k;
        EXPECT_EQ(e.source, p.reader.Entries()[i].source) << k;
        EXPECT_EQ(e.mtime.tv_sec, p.reader.Entries()[i].mtime.tv_sec) << k;
        EXPECT_EQ(e.externalAttributes, p.reader.Entries()[i].externalAttributes) << k;
      }
    }
    CZipFile check;
    ASSERT_TRUE(check.Open(zip));
    for (int64_t k = 0; k < check.GetEntryCount(); ++k) {
      std::string reason;
      EXPECT_TRUE(check.TestEntry(k, reason)) << k << ": " << reason;
    }
    if (!place.pads) {
      for (const ZipCopiedEntry& e : c.stored) EXPECT_EQ(PaddingOf(zip, e), 0u) << e.storedName;
      if (place.folder.rfind("/dev/shm/", 0) == 0) fs::remove_all(place.folder);
      continue;
    }
    // The run starts with padding that puts its data where it lay in the
    // parent, modulo the block size; so does each large entry copied alone.
    // Small ones alone get no padding.
    const uint64_t block = 4096;
    EXPECT_GT(PaddingOf(zip, c.stored[1]), 0u);
    for (size_t i = 0; i < sources.size(); ++i) {
      const bool large = p.stored[i].fields.compressedSize >= 16 * block;
      EXPECT_EQ(c.stored[1 + i].dataAt % block, p.stored[i].dataAt % block) << i;
      const ZipCopiedEntry& alone = c.stored[1 + sources.size() + i];
      if (large)
        EXPECT_EQ(alone.dataAt % block, p.stored[i].dataAt % block) << i;
      else
        EXPECT_EQ(PaddingOf(zip, alone), 0u) << i;
    }
  }
}

// Copying every entry under its own name into a new archive reproduces the
// bytes up to the directory exactly: nothing is padded, nothing rewritten.
TEST(ZipWriter, AnUnchangedRunIsCopiedByteForByte) {
  TempDir dir;
  CZipFile parent;
  ASSERT_TRUE(parent.Create(dir / "parent.zip"));
  const std::vector<Source> sources = Sources();
  for (size_t i = 0; i < sources.size(); ++i) {
    WriteFile(dir / sources[i].name, sources[i].bytes);
    ASSERT_TRUE(parent.AddFile(dir / sources[i].name, std::to_string(i)));
  }
  ASSERT_EQ(parent.Close(), 0);
  Opened p;
  ASSERT_NO_FATAL_FAILURE(OpenStored(dir / "parent.zip", p));

  CZipFile child;
  ASSERT_TRUE(child.Create(dir / "child.zip"));
  for (size_t i = 0; i < sources.size(); ++i)
    ASSERT_TRUE(child.AddCopied(p.stored[i], std::to_string(i)));
  ASSERT_TRUE(child.AddFromMemory("end", 3, "end"));
  ASSERT_EQ(child.Close(), 0);
  const std::string a = ReadFile(dir / "parent.zip");
  const std::string b = ReadFile(dir / "child.zip");
  const size_t dataEnd = p.reader.DirectoryOffset();
  ASSERT_GE(b.size(), dataEnd);
  EXPECT_TRUE(a.compare(0, dataEnd, b, 0, dataEnd) == 0);
  EXPECT_TRUE(UnzipAccepts(dir / "child.zip"));
}

// On file systems that share blocks, a run of copied entries shares all its
// whole blocks with the archive it came from, even where it does not stand
// at the same offset (its first header is padded); only the head and tail
// blocks are new. Skipped where loop mounts cannot be made.
TEST(ZipWriter, CopiedRunsShareTheirBlocksOnXfsAndBtrfs) {
  for (const char* kind : {"xfs", "btrfs"}) {
    SCOPED_TRACE(kind);
    LoopFs mount(kind);
    if (!mount.Ok()) {
      std::cout << "[ SKIPPED  ] block sharing on " << kind << ": " << mount.Error() << "\n";
      continue;
    }
    WriteFile(mount / "noise.bin", RandomBytes(8 << 20, 5));
    WriteFile(mount / "text.txt", Text(6 << 20, 6));
    CZipFile parent;
    ASSERT_TRUE(parent.Create(mount / "parent.zip"));
    ASSERT_TRUE(parent.AddFile(mount / "noise.bin", "0"));
    ASSERT_TRUE(parent.AddFile(mount / "text.txt", "1"));
    ASSERT_EQ(parent.Close(), 0);
    Opened p;
    ASSERT_NO_FATAL_FAILURE(OpenStored(mount / "parent.zip", p));

    CZipFile child;
    ASSERT_TRUE(child.Create(mount / "child.zip"));
    ASSERT_TRUE(child.AddFromMemory("new", 3, "new"));
    ASSERT_TRUE(child.AddCopied(p.stored[0], "0"));
    ASSERT_TRUE(child.AddCopied(p.stored[1], "1"));
    ASSERT_EQ(child.Close(), 0);

    const uint64_t run = p.reader.DirectoryOffset() - p.stored[0].dataAt;
    const uint64_t shared = SharedBytes(mount / "child.zip");
    EXPECT_GE(shared, run - 2 * 4096) << "of " << run;
    EXPECT_GE(SharedBytes(mount / "parent.zip"), run - 2 * 4096);
    std::vector<std::pair<std::string, std::string>> expected = {
        {"0", ReadFile(mount / "noise.bin")}, {"1", ReadFile(mount / "text.txt")}};
    EXPECT_EQ(StandardReaderComplaints(mount / "child.zip", expected, mount / "x"),
              std::vector<std::string>{});
  }
}

// A directory too large to be kept in memory is set aside as it grows, also
// in the middle of a run of copies: every record still names its entry's
// header, for the standard readers and the program's own.
TEST(ZipWriter, ALargeDirectoryIsSetAsideAndStillRight) {
  TempDir dir;
  const std::string padding(240, 'n');  // long names: 2 MiB of records
  const int count = 6000;
  CZipFile parent;
  ASSERT_TRUE(parent.Create(dir / "parent.zip"));
  for (int i = 0; i < count; ++i) {
    const std::string data = Text(50 + i % 300, static_cast<unsigned>(i));
    ASSERT_TRUE(parent.AddFromMemory(data.data(), data.size(), padding + std::to_string(i)));
  }
  ASSERT_EQ(parent.Close(), 0);
  Opened p;
  ASSERT_NO_FATAL_FAILURE(OpenStored(dir / "parent.zip", p));

  // Long runs of copies, broken by renamed copies and new entries.
  CZipFile child;
  ASSERT_TRUE(child.Create(dir / "child.zip"));
  for (int i = 0; i < count; ++i) {
    const std::string name =
        i % 2500 == 7 ? "renamed" + std::to_string(i) : padding + std::to_string(i);
    ASSERT_TRUE(child.AddCopied(p.stored[static_cast<size_t>(i)], name));
    if (i % 3000 == 11) {
      ASSERT_TRUE(child.AddFromMemory("new", 3, "new" + std::to_string(i)));
    }
  }
  ASSERT_EQ(child.Close(), 0);
  EXPECT_TRUE(UnzipAccepts(dir / "child.zip"));
  const RunResult python = Shell("python3 -c " +
                                 Quote("import sys, zipfile\n"
                                       "z = zipfile.ZipFile(sys.argv[1])\n"
                                       "for i in z.infolist()[::97]: z.read(i)\n"
                                       "print(len(z.infolist()))\n") +
                                 " " + Quote(dir / "child.zip"));
  EXPECT_EQ(python.out, std::to_string(count + 2) + "\n");
  CZipFile back;
  ASSERT_TRUE(back.Open(dir / "child.zip"));
  ASSERT_EQ(back.GetEntryCount(), count + 2);
  for (int64_t i = 0, copy = 0; i < back.GetEntryCount(); ++i) {
    std::string data;
    ASSERT_TRUE(back.ReadEntry(i, data, 1 << 20)) << i;
    if (back.GetEntryName(i).rfind("new", 0) == 0) continue;
    EXPECT_EQ(data, Text(50 + copy % 300, static_cast<unsigned>(copy))) << i;
    ++copy;
  }
}
