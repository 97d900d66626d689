// SPDX-License-Identifier: GPL-3.0-or-later
// The parallel engine: whatever the number of workers, entry i is file i, a
// skipped file takes no number, and the archive other tools read is the same.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <random>

#include "BackupTestSupport.h"
#include "backup/BackupArchive.h"
#include "backup/BackupJob.h"
#include "backup/DeflateEngine.h"
#include "backup/DeflateScan.h"
#include "backup/ZipReader.h"
#include "util/TaskPool.h"

using namespace backup_test;
using tessarook::CBackupArchive;
using tessarook::CBackupJob;
using tessarook::CSchemeFile;
using tessarook::CSchemeFolder;
using Status = tessarook::BackupJobResult::Status;
namespace fs = std::filesystem;

namespace {

// Text that compresses, different for each seed.
std::string Text(size_t size, unsigned seed) {
  static const char* const kWords[] = {"backup ", "scheme ", "restore ", "folder ",
                                       "entry ",  "zip ",    "data ",    "file\n"};
  std::mt19937 rng(seed);
  std::string out;
  out.reserve(size + 16);
  while (out.size() < size) out += kWords[rng() % 8];
  out.resize(size);
  return out;
}

std::string Noise(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

// Bytes of very unequal frequency, so that codes of every length up to the
// longest are used, with long matches from as far back as a match reaches.
std::string Skewed(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::geometric_distribution<int> byteOf(0.3);
  std::string out;
  out.reserve(size + 300);
  while (out.size() < size) {
    if (out.size() > 40000 && rng() % 8 == 0) {
      const std::string copy = out.substr(out.size() - 32768 + rng() % 64, 3 + rng() % 256);
      out += copy;
    } else {
      out.push_back(static_cast<char>(std::min(255, byteOf(rng))));
    }
  }
  out.resize(size);
  return out;
}

// Deletes some listed files once the list is made, before any is read.
struct VanishAfterListing : tessarook::IProgressSink {
  std::vector<std::string> doomed;
  void OnProgress(uint64_t done, uint64_t) override {
    if (done == 0)
      for (const auto& p : doomed) fs::remove(p);
  }
};

// Names and uncompressed data of every entry, in archive order.
std::vector<std::pair<std::string, std::string>> Entries(const std::string& zip) {
  CBackupArchive archive;
  EXPECT_TRUE(archive.Open(zip));
  std::vector<std::pair<std::string, std::string>> out;
  for (int64_t i = 0; i < archive.GetEntryCount(); ++i) {
    std::string data;
    EXPECT_TRUE(archive.ReadEntry(i, data, uint64_t{1} << 30)) << i;
    out.emplace_back(archive.GetEntryName(i), std::move(data));
  }
  return out;
}

}  // namespace

TEST(ParallelBackup, OrderHoldsUnderSkippedVanishedAndLargeFilesWhateverTheWorkers) {
  TempDir dir;
  // Small, empty, incompressible and multi-piece files mixed, some that will
  // vanish after listing and one that cannot be read.
  std::vector<std::string> vanishing;
  for (int i = 0; i < 300; ++i) {
    const std::string path = dir / ("src/f" + std::to_string(1000 + i));
    std::string data;
    if (i % 50 == 7)
      data = Text(tessarook::kWholeFileLimit + (i % 3) * 700001 + 12345, i);  // streamed in pieces
    else if (i % 10 == 3)
      data = Noise(20000 + i, i);
    else if (i % 17 != 0)
      data = Text(static_cast<size_t>(i) * 37, i);
    WriteFile(path, data);
    if (i % 23 == 5) vanishing.push_back(path);
  }
  const std::string locked = dir / "src/f1100";
  const bool root = geteuid() == 0;
  if (!root) {
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  }
  // What should be stored: the listing, in its order, without what goes.
  std::vector<tessarook::SkippedFile> none;
  std::vector<std::string> expected =
      CBackupJob({}, {CSchemeFolder(dir / "src")}).CollectFiles(none);
  ASSERT_EQ(expected.size(), 300u);
  std::vector<std::string> expectedSkipped = vanishing;
  if (!root) expectedSkipped.push_back(locked);
  for (const auto& p : expectedSkipped)
    expected.erase(std::find(expected.begin(), expected.end(), p));
  std::sort(expectedSkipped.begin(), expectedSkipped.end());

  std::vector<std::vector<std::pair<std::string, std::string>>> results;
  for (unsigned jobs : {1u, 2u, 5u}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    for (const auto& p : vanishing) WriteFile(p, "gone soon");
    CBackupJob job({}, {CSchemeFolder(dir / "src")});
    job.SetJobs(jobs);
    VanishAfterListing sink;
    sink.doomed = vanishing;
    std::atomic<bool> cancel{false};
    const std::string zip = dir / ("b" + std::to_string(jobs) + ".zip");
    const auto result = job.Run(zip, cancel, &sink);
    ASSERT_EQ(result.status, Status::kDone) << result.error;
    std::vector<std::string> skipped;
    for (const auto& s : result.skipped) skipped.push_back(s.path);
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped, expectedSkipped);
    EXPECT_TRUE(result.changed.empty());
    // Python's zipfile and Info-ZIP read it; entry i holds path i's data.
    ASSERT_EQ(PythonExtract(zip, dir / ("py" + std::to_string(jobs))).status, 0);
    EXPECT_TRUE(UnzipAccepts(zip));
    const auto entries = Entries(zip);
    ASSERT_EQ(entries.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(entries[i].first, std::to_string(i));
      EXPECT_TRUE(entries[i].second == ReadFile(expected[i])) << expected[i];
    }
    EXPECT_EQ(tessarook::ParseManifest(entries.back().second), expected);
    results.push_back(entries);
  }
  EXPECT_TRUE(results[0] == results[1]);
  EXPECT_TRUE(results[0] == results[2]);
  // The compressed data, too, does not depend on the number of workers
  // (the records beside it may: a file's identity is recorded only once it
  // has stood unchanged for a while).
  auto compressed = [&](const std::string& zip) {
    tessarook::CZipReader reader;
    std::string error;
    EXPECT_TRUE(reader.Open(zip, error)) << error;
    std::vector<std::pair<uint32_t, uint64_t>> out;
    for (const auto& e : reader.Entries()) out.emplace_back(e.crc, e.compressedSize);
    return out;
  };
  EXPECT_EQ(compressed(dir / "b1.zip"), compressed(dir / "b5.zip"));
}

TEST(ParallelBackup, APieceJoinedStreamInflatesWithPythonsZlib) {
  TempDir dir;
  // Repeats farther apart than a piece, so the dictionaries matter, plus a
  // tail shorter than a piece.
  const std::string part = Text(3 * tessarook::kStreamPiece / 2, 3);
  const std::string data = part + Noise(5000, 4) + part + part + Text(777, 5);
  WriteFile(dir / "src/big.txt", data);
  CBackupJob job({CSchemeFile(dir / "src/big.txt")}, {});
  std::atomic<bool> cancel{false};
  ASSERT_EQ(job.Run(dir / "b.zip", cancel, nullptr).status, Status::kDone);
  // The entry's raw data, taken out by Python and inflated by its zlib as one
  // raw deflate stream that must end exactly where the entry ends.
  const RunResult r =
      Shell("python3 -c " +
            Quote("import sys, zipfile, zlib, struct\n"
                  "z = zipfile.ZipFile(sys.argv[1])\n"
                  "i = z.getinfo('0')\n"
                  "assert i.compress_type == zipfile.ZIP_DEFLATED\n"
                  "f = open(sys.argv[1], 'rb'); f.seek(i.header_offset)\n"
                  "h = f.read(30); n, m = struct.unpack('<HH', h[26:30])\n"
                  "f.seek(i.header_offset + 30 + n + m); raw = f.read(i.compress_size)\n"
                  "d = zlib.decompressobj(-15); out = d.decompress(raw)\n"
                  "assert d.eof and not d.unused_data, 'stream does not end at the entry end'\n"
                  "sys.stdout.buffer.write(out)\n") +
            " " + Quote(dir / "b.zip"));
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == data);
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  std::string reason;
  EXPECT_TRUE(archive.TestEntry(0, reason)) << reason;
  // Deflated, and smaller than its repeats would be alone.
  EXPECT_LT(fs::file_size(dir / "b.zip"), data.size() / 2);
}

TEST(ParallelBackup, CancelInsideALargeFileStopsAndLeavesNothing) {
  TempDir dir;
  WriteFile(dir / "src/a", "first");
  WriteFile(dir / "src/big", Text(12 * tessarook::kStreamPiece, 8));
  for (int i = 0; i < 50; ++i) WriteFile(dir / ("src/z" + std::to_string(i)), Text(3000, i));
  struct CancelInside : tessarook::IProgressSink {
    std::atomic<bool>* cancel = nullptr;
    uint64_t files = 0, bytesAtCancel = 0;
    void OnProgress(uint64_t done, uint64_t) override { files = done; }
    void OnBytes(uint64_t done, uint64_t) override {
      if (files == 1 && done > 4 * tessarook::kStreamPiece && !cancel->load()) {
        bytesAtCancel = done;
        cancel->store(true);
      }
    }
  };
  std::atomic<bool> cancel{false};
  CancelInside sink;
  sink.cancel = &cancel;
  CBackupJob job({CSchemeFile(dir / "src/a"), CSchemeFile(dir / "src/big")},
                 {CSchemeFolder(dir / "src")});
  job.SetJobs(3);
  const auto result = job.Run(dir / "out/b.zip", cancel, &sink);
  EXPECT_EQ(result.status, Status::kCancelled);
  EXPECT_GT(sink.bytesAtCancel, 0u);
  EXPECT_EQ(sink.files, 1u);  // stopped inside the large file, not after it
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

TEST(ParallelBackup, UrgentTasksGoAheadOfWaitingOnes) {
  tessarook::CTaskPool pool(1);
  std::atomic<bool> release{false};
  std::vector<int> order;
  std::mutex m;
  auto blocker = pool.Post([&] {
    while (!release.load()) std::this_thread::yield();
    return 0;
  });
  auto note = [&](int v) {
    return [&, v] {
      std::lock_guard<std::mutex> lock(m);
      order.push_back(v);
      return v;
    };
  };
  auto a = pool.Post(note(1));
  auto b = pool.Post(note(2));
  auto c = pool.Post(note(3), true);
  release = true;
  EXPECT_EQ(a.get() + b.get() + c.get() + blocker.get(), 6);
  EXPECT_EQ(order, (std::vector<int>{3, 1, 2}));
  EXPECT_EQ(tessarook::CTaskPool::Resolve(0), std::max(1u, std::thread::hardware_concurrency()));
}

TEST(ParallelBackup, PiecesOfAnyContentAndSizeJoinIntoOneStream) {
  TempDir dir;
  std::string whole, joined;
  unsigned seed = 0;
  // Every level, every kind of block libdeflate makes (stored, fixed,
  // dynamic), codes of every length, and pieces of many sizes, so that they
  // end anywhere in a byte.
  for (int level : {1, 6, 9}) {
    for (size_t size : {size_t{1}, size_t{2}, size_t{3}, size_t{100}, size_t{5000}, size_t{70001},
                        tessarook::kStreamPiece}) {
      for (int kind = 0; kind < 5; ++kind) {
        ++seed;
        const std::string data = kind == 0   ? Text(size, seed)
                                 : kind == 1 ? Noise(size, seed)
                                 : kind == 2 ? std::string(size, '\0')
                                 : kind == 3 ? Text(size / 2, seed) + Noise(size - size / 2, seed)
                                             : Skewed(size, seed);
        const tessarook::DeflatedPiece piece =
            tessarook::DeflatePiece(data.data(), data.size(), level);
        ASSERT_TRUE(piece.ok) << size << " " << kind << " level " << level;
        EXPECT_EQ(piece.size, data.size());
        whole += data;
        joined.append(piece.data.begin(), piece.data.end());
      }
    }
  }
  joined.append(std::begin(tessarook::kFinalEmptyBlock), std::end(tessarook::kFinalEmptyBlock));
  WriteFile(dir / "joined", joined);
  const RunResult r = Shell("python3 -c " +
                            Quote("import sys, zlib\n"
                                  "d = zlib.decompressobj(-15)\n"
                                  "out = d.decompress(open(sys.argv[1], 'rb').read())\n"
                                  "assert d.eof and not d.unused_data\n"
                                  "sys.stdout.buffer.write(out)\n") +
                            " " + Quote(dir / "joined"));
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == whole);
}

TEST(ParallelBackup, AOneBlockStreamsEndIsTheOneItsCodesReach) {
  // Whenever the end is told from the header and the last bits, it is where
  // following the codes ends; and it is told for parts of the fastest level
  // that libdeflate makes one block (all but those with very many matches).
  int told = 0, cases = 0;
  unsigned seed = 100;
  for (int level : {1, 6, 9}) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    ASSERT_NE(compressor, nullptr);
    for (size_t size : {size_t{1}, size_t{7}, size_t{300}, size_t{5000}, tessarook::kFastPart}) {
      int toldHere = 0;
      for (int kind = 0; kind < 4; ++kind) {
        ++seed;
        const std::string data = kind == 0   ? Text(size, seed)
                                 : kind == 1 ? Noise(size, seed)
                                 : kind == 2 ? Skewed(size, seed)
                                             : Text(size / 2, seed) + Noise(size - size / 2, seed);
        std::vector<unsigned char> out(libdeflate_deflate_compress_bound(compressor, size));
        out.resize(
            libdeflate_deflate_compress(compressor, data.data(), size, out.data(), out.size()));
        tessarook::DeflateLayout scanned, found;
        ASSERT_TRUE(tessarook::ScanDeflate(out.data(), out.size(), scanned));
        ++cases;
        if (!tessarook::FindSingleBlockLayout(out.data(), out.size(), found)) continue;
        ++told;
        toldHere += kind == 1 || kind == 3;
        EXPECT_EQ(found.finalHeaderBit, scanned.finalHeaderBit) << level << " " << size;
        EXPECT_EQ(found.endBit, scanned.endBit) << level << " " << size << " " << kind;
      }
      if (level == 1 && size == tessarook::kFastPart) {
        EXPECT_EQ(toldHere, 2) << "a part not told";
      }
    }
    libdeflate_free_compressor(compressor);
  }
  EXPECT_GT(told, cases / 2);
}
