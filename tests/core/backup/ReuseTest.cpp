// SPDX-License-Identifier: GPL-3.0-or-later
// Backups that copy what did not change from the Backup before: every way a
// file can change is read again, every doubtful parent is passed over, and
// each Backup made so is whole and restores what the files held.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "BackupTestSupport.h"
#include "SharedBlocks.h"
#include "backup/BackupArchive.h"
#include "backup/BackupJob.h"
#include "backup/BackupStore.h"
#include "backup/BackupVerifier.h"
#include "backup/RestoreJob.h"
#include "backup/ZipReader.h"

using namespace backup_test;
using tessarook::BackupJobResult;
using tessarook::CBackupArchive;
using tessarook::CBackupJob;
using tessarook::CSchemeFile;
using tessarook::CSchemeFolder;
using Status = tessarook::BackupJobResult::Status;

namespace {

std::string Text(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  static const char* const kWords[] = {"unchanged ", "files ", "are ", "copied ", "again\n"};
  std::string out;
  while (out.size() < n) out += kWords[gen() % 5];
  out.resize(n);
  return out;
}

std::string Noise(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

// A home folder in small: text and noise, one file large enough to be
// streamed, a few dozen small ones.
void MakeCorpus(const std::string& root) {
  WriteFile(root + "/a/one.txt", Text(5000, 1));
  WriteFile(root + "/a/two.bin", Noise(300 << 10, 2));
  WriteFile(root + "/a/big.txt", Text(6 << 20, 3));
  WriteFile(root + "/b/three.txt", Text(20000, 4));
  WriteFile(root + "/b/sub/four.txt", Text(7000, 5));
  for (int i = 0; i < 40; ++i)
    WriteFile(root + "/c/small" + std::to_string(i) + ".txt", Text(100 + 37 * i, 10 + i));
}

// Files become worth recording only once they have stood unchanged a while.
void LetSettle() {
  std::this_thread::sleep_for(std::chrono::nanoseconds(tessarook::kSettledNs) +
                              std::chrono::milliseconds(300));
}

struct timespec MTime(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mtim;
}

// Gives the file the last-write time it had, as tools that keep times do.
void SetMTime(const std::string& path, const struct timespec& t) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, t};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

BackupJobResult Take(const CBackupJob& job, const std::string& zip,
                     tessarook::IProgressSink* sink = nullptr) {
  std::atomic<bool> cancel{false};
  BackupJobResult result = job.Run(zip, cancel, sink);
  EXPECT_EQ(result.status, Status::kDone) << result.error;
  return result;
}

// The Backup is whole and holds what the files hold now: verify finds no
// fault, every standard reader agrees, and a restore of every file into a
// folder gives the files' bytes.
void ExpectHoldsTheFiles(const std::string& zip, const TempDir& dir) {
  SCOPED_TRACE(zip);
  const tessarook::VerifyResult verified = tessarook::VerifyBackup(zip, nullptr, nullptr);
  EXPECT_EQ(verified.status, tessarook::VerifyResult::Status::kChecked);
  for (const auto& f : verified.faults) ADD_FAILURE() << f.path << ": " << f.reason;
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(zip));
  ASSERT_TRUE(archive.ReadManifest());
  std::vector<std::pair<std::string, std::string>> expected;
  std::vector<size_t> positions;
  for (size_t i = 0; i < archive.paths.size(); ++i) {
    expected.emplace_back(std::to_string(i), ReadFile(archive.paths[i]));
    positions.push_back(i);
  }
  EXPECT_EQ(StandardReaderComplaints(zip, expected, dir / "readers"), std::vector<std::string>{});
  const std::string to = dir / "restored";
  fs::remove_all(to);
  std::vector<tessarook::RestoreFailure> refused;
  const auto items = tessarook::CRestoreJob::Plan(archive, positions, to, refused);
  const auto restored = tessarook::CRestoreJob::Run(archive, items, nullptr, nullptr);
  EXPECT_TRUE(refused.empty());
  EXPECT_TRUE(restored.failed.empty());
  for (const std::string& path : archive.paths)
    EXPECT_TRUE(ReadFile(to + path) == ReadFile(path)) << path;
  fs::remove_all(to);
}

}  // namespace

// Every way a file can change without its last-write time or size telling
// is read again; what did not change is copied; files moved, reordered or
// left out are handled as they are; a damaged entry of the parent is read
// again. Every Backup stays whole.
TEST(Reuse, UnchangedFilesAreCopiedAndEveryChangeIsReadAgain) {
  TempDir dir;
  const std::string src = dir / "src";
  MakeCorpus(src);
  const std::string single1 = dir / "single/x.txt";
  const std::string single2 = dir / "single/y.txt";
  WriteFile(single1, Text(3000, 50));
  WriteFile(single2, Text(4000, 51));
  const std::string folder = dir / "S.tsbak.backups";
  LetSettle();

  CBackupJob job({CSchemeFile(single1), CSchemeFile(single2)}, {CSchemeFolder(src)});
  const BackupJobResult first = Take(job, folder + "/first.zip");
  EXPECT_EQ(first.parent, "");
  EXPECT_EQ(first.filesReused, 0u);
  const uint64_t files = first.filesStored;
  ASSERT_EQ(files, 47u);

  // Nothing changed: everything is copied, as one run whose bytes are the
  // first Backup's. The copied files' bytes count as done, so the progress
  // ends at its total, and the total is what the files hold.
  struct Bytes : tessarook::IProgressSink {
    uint64_t done = 0, total = 0;
    void OnProgress(uint64_t, uint64_t) override {}
    void OnBytes(uint64_t d, uint64_t t) override { done = d, total = t; }
  } bytes;
  const BackupJobResult second = Take(job, folder + "/second.zip", &bytes);
  uint64_t held = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir / "src"))
    held += e.is_regular_file() ? e.file_size() : 0;
  EXPECT_EQ(bytes.total, held + fs::file_size(single1) + fs::file_size(single2));
  EXPECT_EQ(bytes.done, bytes.total);
  EXPECT_EQ(second.parent, folder + "/first.zip");
  EXPECT_EQ(second.filesReused, files);
  {
    tessarook::CZipReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(folder + "/first.zip", error));
    const size_t data = reader.Entries().back().localOffset;  // where the manifest begins
    EXPECT_TRUE(ReadFile(folder + "/first.zip")
                    .compare(0, data, ReadFile(folder + "/second.zip"), 0, data) == 0);
  }
  ExpectHoldsTheFiles(folder + "/second.zip", dir);

  // Changes the last-write time and size do not show.
  const std::string one = src + "/a/one.txt";
  const struct timespec oneTime = MTime(one);
  WriteFile(one, Text(5000, 99));  // same size, other bytes, old time given back
  SetMTime(one, oneTime);
  const std::string three = src + "/b/three.txt";
  const struct timespec threeTime = MTime(three);
  WriteFile(dir / "new-three", Text(20000, 98));  // a new file renamed over it
  SetMTime(dir / "new-three", threeTime);
  fs::rename(dir / "new-three", three);
  const std::string four = src + "/b/sub/four.txt";
  const struct timespec fourTime = MTime(four);
  fs::remove(four);  // its inode may well go to the next new file
  WriteFile(four, Text(7000, 97));
  SetMTime(four, fourTime);
  // Moved to another folder of the Scheme: a path the parent has no record of.
  fs::rename(src + "/a/two.bin", src + "/b/two.bin");
  // The parent's entry of one small file is damaged: its local header says
  // another CRC.
  {
    CBackupArchive parent;
    ASSERT_TRUE(parent.Open(folder + "/second.zip"));
    ASSERT_TRUE(parent.ReadManifest());
    const auto at = std::find(parent.paths.begin(), parent.paths.end(), src + "/c/small7.txt");
    ASSERT_NE(at, parent.paths.end());
    const auto index = static_cast<int64_t>(at - parent.paths.begin());
    const uint64_t header = parent.Reader()->Entries()[static_cast<size_t>(index)].localOffset;
    std::string bytes = ReadFile(folder + "/second.zip");
    bytes[header + 14] ^= 0x5a;
    WriteFile(folder + "/second.zip", bytes);
  }
  // The single files swap places.
  CBackupJob swapped({CSchemeFile(single2), CSchemeFile(single1)}, {CSchemeFolder(src)});
  const BackupJobResult third = Take(swapped, folder + "/third.zip");
  EXPECT_EQ(third.parent, folder + "/second.zip");
  // Read again: one, three, four, two (moved) and small7 (damaged parent).
  EXPECT_EQ(third.filesReused, files - 5);
  ExpectHoldsTheFiles(folder + "/third.zip", dir);

  // Asked to, it reads every file.
  CBackupJob reread({CSchemeFile(single2), CSchemeFile(single1)}, {CSchemeFolder(src)});
  reread.SetReread(true);
  const BackupJobResult fourth = Take(reread, folder + "/fourth.zip");
  EXPECT_EQ(fourth.parent, "");
  EXPECT_EQ(fourth.filesReused, 0u);
  // A Backup replaced under its own name copies from the one it replaces:
  // every file that one recorded. (The files changed just before it was
  // taken are recorded only if they had settled by then.)
  size_t recorded = 0;
  {
    tessarook::CZipReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(folder + "/fourth.zip", error)) << error;
    for (const auto& e : reader.Entries()) recorded += e.source.has_value();
  }
  EXPECT_GE(recorded, files - 4);
  const BackupJobResult again = Take(swapped, folder + "/fourth.zip");
  EXPECT_EQ(again.parent, folder + "/fourth.zip");
  EXPECT_EQ(again.filesReused, recorded);
  ExpectHoldsTheFiles(folder + "/fourth.zip", dir);
}

namespace {

// Renames its Backup after the first file and deletes it after the second.
struct PullAway : tessarook::IProgressSink {
  std::string path;
  void OnProgress(uint64_t done, uint64_t) override {
    if (done == 1) fs::rename(path, path + ".moved.zip");
    if (done == 2) fs::remove(path + ".moved.zip");
  }
};

}  // namespace

// A parent whose name another writer holds is passed over; one renamed and
// deleted while the Backup runs still gives all it was asked for (it is read
// through the file opened at the start); Backups from another machine give
// nothing.
TEST(Reuse, AParentBusyGoneOrFromAnotherMachine) {
  TempDir dir;
  const std::string src = dir / "src";
  MakeCorpus(src);
  const std::string folder = dir / "S.tsbak.backups";
  LetSettle();
  CBackupJob job({}, {CSchemeFolder(src)});
  const uint64_t files = Take(job, folder + "/first.zip").filesStored;
  EXPECT_EQ(Take(job, folder + "/second.zip").filesReused, files);

  {
    tessarook::CBackupNameLock busy;
    ASSERT_EQ(busy.Acquire(folder + "/second.zip", false, nullptr),
              tessarook::CBackupNameLock::Outcome::kHeld);
    const BackupJobResult third = Take(job, folder + "/third.zip");
    EXPECT_EQ(third.parent, folder + "/first.zip");
    EXPECT_EQ(third.filesReused, files);
  }

  PullAway sink;
  sink.path = folder + "/third.zip";
  const BackupJobResult fourth = Take(job, folder + "/fourth.zip", &sink);
  EXPECT_EQ(fourth.parent, folder + "/third.zip");
  EXPECT_EQ(fourth.filesReused, files);
  EXPECT_FALSE(fs::exists(folder + "/third.zip.moved.zip"));
  ExpectHoldsTheFiles(folder + "/fourth.zip", dir);

  // The Scheme with its Backups came from another machine.
  for (const char* name : {"first", "second", "fourth"})
    ASSERT_TRUE(PretendTakenElsewhere(folder + "/" + name + ".zip")) << name;
  const BackupJobResult fifth = Take(job, folder + "/fifth.zip");
  EXPECT_EQ(fifth.parent, "");
  EXPECT_EQ(fifth.filesReused, 0u);
  ExpectHoldsTheFiles(folder + "/fifth.zip", dir);
}

// Where the Backups folder's file system shares blocks, a Backup of an
// unchanged Scheme takes next to no room, and one after a small change
// little more. Skipped where loop mounts cannot be made.
TEST(Reuse, BackupsShareTheirBlocksOnXfsAndBtrfs) {
  std::vector<std::unique_ptr<LoopFs>> mounts;
  for (const char* kind : {"xfs", "btrfs"}) {
    mounts.push_back(std::make_unique<LoopFs>(kind));
    if (!mounts.back()->Ok()) {
      std::cout << "[ SKIPPED  ] block sharing on " << kind << ": " << mounts.back()->Error()
                << "\n";
      continue;
    }
    MakeCorpus(*mounts.back() / "src");
    WriteFile(*mounts.back() / "src/media.bin", Noise(8 << 20, 77));
  }
  LetSettle();
  for (const auto& mount : mounts) {
    if (!mount->Ok()) continue;
    const std::string folder = *mount / "S.tsbak.backups";
    CBackupJob job({}, {CSchemeFolder(*mount / "src")});
    Take(job, folder + "/first.zip");
    const BackupJobResult second = Take(job, folder + "/second.zip");
    const uint64_t size = fs::file_size(folder + "/second.zip");
    EXPECT_EQ(second.filesReused, second.filesStored);
    // All but the directory, the manifest and the last block of data.
    EXPECT_GE(SharedBytes(folder + "/second.zip"), size - 16 * 4096) << "of " << size;

    WriteFile(*mount / "src/c/small20.txt", "changed\n");
    const BackupJobResult third = Take(job, folder + "/third.zip");
    EXPECT_EQ(third.filesReused, third.filesStored - 1);
    EXPECT_GE(SharedBytes(folder + "/third.zip"), size - 32 * 4096) << "of " << size;
    ExpectHoldsTheFiles(folder + "/third.zip", TempDir());
  }
}

// The level changes the size of what is read and compressed, never what it
// holds; entries copied from the Backup before keep their bytes whatever
// the level. Files of many pieces, of a whole number of pieces, empty, and
// with data that does not compress amid data that does all come back.
TEST(Reuse, TheLevelChangesWhatIsReadNotWhatIsCopied) {
  TempDir dir;
  const std::string src = dir / "src";
  const size_t piece = tessarook::kStreamPiece;
  WriteFile(src + "/empty", "");
  WriteFile(src + "/small.txt", Text(30000, 1));
  WriteFile(src + "/four-pieces.txt", Text(tessarook::kWholeFileLimit, 2));
  WriteFile(src + "/five-and-a-byte.txt", Text(5 * piece + 1, 3));
  WriteFile(src + "/mixed.txt", Text(2 * piece, 4) + Noise(piece, 5) + Text(piece + 7, 6));
  WriteFile(src + "/noise.bin", Noise(tessarook::kWholeFileLimit + 1, 7));
  LetSettle();
  const std::string folder = dir / "S.tsbak.backups";
  CBackupJob job({}, {CSchemeFolder(src)});
  job.SetLevel(1);
  const BackupJobResult fast = Take(job, folder + "/fast.zip");
  job.SetLevel(9);
  job.SetReread(true);
  const BackupJobResult small = Take(job, folder + "/small.zip");
  EXPECT_EQ(small.filesReused, 0u);
  EXPECT_LT(small.archiveSize * 20, fast.archiveSize * 19);  // 5 % smaller at least

  job.SetLevel(1);
  job.SetReread(false);
  const BackupJobResult copied = Take(job, folder + "/copied.zip");
  EXPECT_EQ(copied.parent, folder + "/small.zip");
  EXPECT_EQ(copied.filesReused, 6u);
  {
    tessarook::CZipReader from, to;
    std::string error;
    ASSERT_TRUE(from.Open(folder + "/small.zip", error));
    ASSERT_TRUE(to.Open(folder + "/copied.zip", error));
    ASSERT_EQ(to.Entries().size(), from.Entries().size());
    for (size_t i = 0; i + 1 < from.Entries().size(); ++i)
      EXPECT_EQ(to.Entries()[i].compressedSize, from.Entries()[i].compressedSize) << i;
  }
  for (const char* zip : {"fast.zip", "small.zip", "copied.zip"})
    ExpectHoldsTheFiles(folder + "/" + zip, dir);
}
