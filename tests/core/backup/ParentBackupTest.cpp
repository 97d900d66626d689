// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>

#include "BackupTestSupport.h"
#include "ZipCraft.h"
#include "backup/BackupArchive.h"
#include "backup/BackupRecords.h"
#include "backup/ParentBackup.h"
#include "backup/ZipReader.h"

using namespace backup_test;
using tessarook::CBackupArchive;
using tessarook::CParentBackup;
using tessarook::SourceIdentity;
using tessarook::ZipCopiedEntry;

namespace {

// Writes a Backup of `files` at `path`, recording every file's identity
// (the settling time is the job's business; here every file counts).
void WriteBackup(const std::string& path, const std::vector<std::string>& files) {
  CBackupArchive a;
  ASSERT_TRUE(a.Create(path));
  a.SetIdentityCutoff(INT64_MAX);
  for (const std::string& f : files) ASSERT_TRUE(a.AddBackupFile(f)) << f;
  ASSERT_TRUE(a.WriteManifest());
  ASSERT_EQ(a.Close(), 0);
}

SourceIdentity Identity(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return tessarook::IdentityOf(st);
}

// Overwrites bytes of a file in place.
void Patch(const std::string& path, uint64_t at, const std::string& bytes) {
  std::string data = ReadFile(path);
  data.replace(at, bytes.size(), bytes);
  WriteFile(path, data);
}

std::string Le32(uint32_t v) {
  std::string out;
  Put(out, v, 4);
  return out;
}

// Offset of entry `index`'s central record.
uint64_t CentralRecordAt(const std::string& zip, size_t index) {
  tessarook::CZipReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open(zip, error)) << error;
  const std::string bytes = ReadFile(zip);
  uint64_t at = reader.DirectoryOffset();
  auto get16 = [&](uint64_t p) {
    return static_cast<uint64_t>(static_cast<unsigned char>(bytes[p]) |
                                 static_cast<unsigned char>(bytes[p + 1]) << 8);
  };
  for (size_t i = 0; i < index; ++i) at += 46 + get16(at + 28) + get16(at + 30) + get16(at + 32);
  return at;
}

std::string Chosen(const std::string& folder, const std::string& own = {}) {
  CParentBackup parent;
  std::string why;
  return parent.Choose(folder, own, &why) ? parent.Path().substr(folder.size() + 1)
                                          : "none: " + why;
}

}  // namespace

// The parent is the newest Backup by taken time that this program wrote on
// this machine, complete, and not held by another writer; the file times,
// the names and anything foreign or damaged do not count.
TEST(ParentBackup, TheNewestCompleteBackupOfThisMachineIsChosen) {
  TempDir dir;
  const std::string src = dir / "src/a.txt";
  WriteFile(src, "contents of a\n");
  const std::string folder = dir / "S.tsbak.backups";
  fs::create_directories(folder);
  EXPECT_EQ(Chosen(folder).substr(0, 5), "none:");

  WriteBackup(folder + "/b.zip", {src});
  WriteBackup(folder + "/a.zip", {src});
  EXPECT_EQ(Chosen(folder), "a.zip");
  // A copy of the older one is a newer file, but keeps its taken time.
  fs::copy_file(folder + "/b.zip", folder + "/c.zip");
  EXPECT_EQ(Chosen(folder), "a.zip");

  // Another writer holds the newest one's name: the next newest (equal
  // times: the greater name), unless the name is the new Backup's own.
  WriteFile(folder + "/.a.zip.lock", "");
  EXPECT_EQ(Chosen(folder), "c.zip");
  EXPECT_EQ(Chosen(folder, folder + "/a.zip"), "a.zip");
  fs::remove(folder + "/.a.zip.lock");

  // Newer, but written by another program: no taken record.
  ASSERT_EQ(Shell("cd " + Quote(folder) +
                  " && python3 -c \"import zipfile; z=zipfile.ZipFile('z.zip','w'); "
                  "z.writestr('0','x'); z.writestr('list.txt','0: /x')\"")
                .status,
            0);
  EXPECT_EQ(Chosen(folder), "a.zip");

  // Newer, but taken on another machine.
  WriteBackup(folder + "/d.zip", {src});
  ASSERT_TRUE(PretendTakenElsewhere(folder + "/d.zip"));
  CParentBackup probe;
  std::string why;
  EXPECT_FALSE(probe.Open(folder + "/d.zip", why));
  EXPECT_NE(why.find("another machine"), std::string::npos) << why;
  EXPECT_EQ(Chosen(folder), "a.zip");

  // Newer, but its list of files is damaged.
  WriteBackup(folder + "/e.zip", {src, src, src});
  {
    tessarook::CZipReader reader;
    ASSERT_TRUE(reader.Open(folder + "/e.zip", why)) << why;
    const tessarook::ZipEntryInfo& manifest = reader.Entries().back();
    ZipCopiedEntry stored;
    ASSERT_TRUE(reader.StoredEntry(reader.Entries().size() - 1, stored, why)) << why;
    Patch(folder + "/e.zip", stored.dataAt + manifest.compressedSize / 2, "\xff\xff");
  }
  EXPECT_FALSE(probe.Open(folder + "/e.zip", why));
  EXPECT_EQ(Chosen(folder), "a.zip");

  // Newer, but its entries are not in the program's order.
  {
    tessarook::CZipFile zip;
    ASSERT_TRUE(zip.Create(folder + "/f.zip"));
    ASSERT_TRUE(zip.AddFromMemory("x", 1, "1"));
    ASSERT_TRUE(zip.AddFromMemory("y", 1, "0"));
    const struct timespec now = {time(nullptr), 0};
    const std::string list = "0: " + src + "\r\n1: " + src;
    ASSERT_TRUE(
        zip.AddMemoryEntry(list.data(), list.size(), "list.txt", now,
                           tessarook::TakenField({int64_t{now.tv_sec} * 1000000000 + 999999999,
                                                  tessarook::ThisMachine()})));
    ASSERT_EQ(zip.Close(), 0);
  }
  EXPECT_FALSE(probe.Open(folder + "/f.zip", why));
  EXPECT_EQ(Chosen(folder), "a.zip");

  // A sound newer one wins again.
  WriteBackup(folder + "/0.zip", {src});
  EXPECT_EQ(Chosen(folder), "0.zip");
}

// An entry is offered only for the same path, with the identity recorded
// exactly, and when its local header agrees with its central record and its
// data lies before the directory.
TEST(ParentBackup, OnlyAnEntryWhoseIdentityAndHeadersAgreeIsOffered) {
  TempDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 4; ++i) {
    files.push_back(dir / ("src/f" + std::to_string(i)));
    WriteFile(files.back(), std::string(1000 + i, static_cast<char>('a' + i)));
  }
  const std::string zip = dir / "p.zip";
  WriteBackup(zip, files);

  CParentBackup parent;
  std::string why;
  ASSERT_TRUE(parent.Open(zip, why)) << why;
  ZipCopiedEntry e;
  ASSERT_TRUE(parent.Find(files[0], Identity(files[0]), e));
  EXPECT_EQ(e.fields.size, 1000u);
  EXPECT_EQ(e.storedName, "0");
  EXPECT_EQ(e.fields.crc, Crc(std::string(1000, 'a')));
  EXPECT_FALSE(parent.Find(files[1], Identity(files[0]), e));  // another file's identity
  EXPECT_FALSE(parent.Find(dir / "src/elsewhere", Identity(files[0]), e));
  for (int64_t SourceIdentity::*field : {&SourceIdentity::mtimeNs, &SourceIdentity::ctimeNs}) {
    SourceIdentity moved = Identity(files[0]);
    moved.*field += 1;
    EXPECT_FALSE(parent.Find(files[0], moved, e));
  }
  for (uint64_t SourceIdentity::*field :
       {&SourceIdentity::device, &SourceIdentity::inode, &SourceIdentity::size}) {
    SourceIdentity moved = Identity(files[0]);
    moved.*field += 1;
    EXPECT_FALSE(parent.Find(files[0], moved, e));
  }

  // Entry 1: its local header says another CRC. Entry 2: both headers say
  // its data runs into the directory.
  tessarook::CZipReader reader;
  ASSERT_TRUE(reader.Open(zip, why));
  Patch(zip, reader.Entries()[1].localOffset + 14, Le32(0x12345678));
  const uint32_t huge = static_cast<uint32_t>(fs::file_size(zip));
  Patch(zip, reader.Entries()[2].localOffset + 18, Le32(huge));
  Patch(zip, CentralRecordAt(zip, 2) + 20, Le32(huge));
  CParentBackup damaged;
  ASSERT_TRUE(damaged.Open(zip, why)) << why;
  EXPECT_FALSE(damaged.Find(files[1], Identity(files[1]), e));
  EXPECT_FALSE(damaged.Find(files[2], Identity(files[2]), e));
  EXPECT_TRUE(damaged.Find(files[3], Identity(files[3]), e));

  // A file that had changed just before the Backup was taken has no
  // recorded identity, so it is never offered.
  CBackupArchive fresh;
  ASSERT_TRUE(fresh.Create(dir / "fresh.zip"));
  ASSERT_TRUE(fresh.AddBackupFile(files[0]));
  ASSERT_TRUE(fresh.WriteManifest());
  ASSERT_EQ(fresh.Close(), 0);
  CParentBackup recent;
  ASSERT_TRUE(recent.Open(dir / "fresh.zip", why)) << why;
  EXPECT_FALSE(recent.Find(files[0], Identity(files[0]), e));
}
