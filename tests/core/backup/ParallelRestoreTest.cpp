// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "BackupTestSupport.h"
#include "ZipCraft.h"
#include "backup/BackupArchive.h"
#include "backup/BackupVerifier.h"
#include "backup/RestoreJob.h"

using namespace backup_test;
using tessarook::CBackupArchive;
using tessarook::CRestoreJob;
using tessarook::CZipFile;
using tessarook::RestoreFailure;
using tessarook::RestoreResult;
using tessarook::VerifyBackup;
using tessarook::VerifyResult;

namespace {

// Text that deflates well, of the given size.
std::string Text(size_t size, int seed) {
  std::string out;
  while (out.size() < size) out += "line " + std::to_string(seed * 7919 + out.size() % 977) + "\n";
  out.resize(size);
  return out;
}

// Records every progress call and the thread it came on.
struct Recorder : tessarook::IProgressSink {
  std::vector<uint64_t> done;
  std::vector<std::thread::id> threads;
  uint64_t lastBytes = 0;
  void OnProgress(uint64_t d, uint64_t) override {
    done.push_back(d);
    threads.push_back(std::this_thread::get_id());
  }
  void OnBytes(uint64_t d, uint64_t) override {
    lastBytes = d;
    threads.push_back(std::this_thread::get_id());
  }
};

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// Files whose names hold the marker of a restore's temporary file.
size_t TemporariesBelow(const std::string& folder) {
  size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    n += e.path().filename().string().find(".tessarook-") != std::string::npos;
  return n;
}

}  // namespace

// Many files, some failing (a read-only destination, a link in the way of a
// folder), restored by one worker and by several: the same tree and the same
// reports, in position order, with every progress call on the caller's thread.
TEST(ParallelRestore, GivesTheSameTreeAndReportsAsOneWorker) {
  TempDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 120; ++i) {
    const std::string path = dir / ("src/d" + std::to_string(i % 7) + "/f" + std::to_string(i));
    WriteFile(path, Text(static_cast<size_t>(i * 331 + (i == 50 ? 5 << 20 : 0)), i));
    files.push_back(path);
  }
  files.push_back(files[10]);  // one path twice: the later entry wins, as in order
  WriteFile(files[10], "changed after the first copy");
  {
    CBackupArchive writer;
    ASSERT_TRUE(writer.Create(dir / "b.zip"));
    for (const auto& f : files) ASSERT_TRUE(writer.AddBackupFile(f));
    ASSERT_TRUE(writer.WriteManifest());
    ASSERT_EQ(writer.Close(), 0);
  }
  const std::string src = dir / "src";
  std::vector<RestoreResult> results;
  std::vector<std::string> tos;
  for (unsigned jobs : {1u, 4u}) {
    const std::string to = dir / ("to" + std::to_string(jobs));
    tos.push_back(to);
    WriteFile(to + files[3], "protected");
    ASSERT_EQ(chmod((to + files[3]).c_str(), 0444), 0);
    fs::create_directories(dir / "elsewhere");
    fs::create_directories(fs::path(to + src));
    fs::create_directory_symlink(dir / "elsewhere", to + src + "/d2");

    CBackupArchive archive;
    ASSERT_TRUE(archive.Open(dir / "b.zip"));
    ASSERT_TRUE(archive.ReadManifest());
    std::vector<size_t> all(archive.paths.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    std::vector<RestoreFailure> refused;
    const auto items = CRestoreJob::Plan(archive, all, to, refused);
    ASSERT_TRUE(refused.empty());
    Recorder sink;
    results.push_back(CRestoreJob::Run(archive, items, nullptr, &sink, jobs));
    std::vector<uint64_t> expected(items.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = i;
    EXPECT_EQ(sink.done, expected);
    for (const auto& id : sink.threads) EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_EQ(TemporariesBelow(to), 0u);
  }
  const RestoreResult& one = results[0];
  const RestoreResult& many = results[1];
  EXPECT_EQ(one.restored, many.restored);
  ASSERT_EQ(one.failed.size(), many.failed.size());
  // d2 is a link (17 files) and files[3] read-only.
  EXPECT_EQ(one.failed.size(), 18u);
  for (size_t i = 0; i < one.failed.size(); ++i) {
    EXPECT_EQ(one.failed[i].position, many.failed[i].position);
    EXPECT_EQ(one.failed[i].skipped, many.failed[i].skipped);
    EXPECT_EQ(Replace(one.failed[i].reason, tos[0], "TO"),
              Replace(many.failed[i].reason, tos[1], "TO"));
    if (i > 0) {
      EXPECT_LT(many.failed[i - 1].position, many.failed[i].position);
    }
  }
  for (size_t i = 1; i < many.restored.size(); ++i)
    EXPECT_LT(many.restored[i - 1], many.restored[i]);
  for (size_t i = 0; i < files.size(); ++i) {
    if (i == 3 || files[i].find("/d2/") != std::string::npos) continue;
    EXPECT_EQ(ReadFile(tos[0] + files[i]), ReadFile(tos[1] + files[i])) << files[i];
  }
  EXPECT_EQ(ReadFile(tos[1] + files[10]), "changed after the first copy");
  EXPECT_EQ(ReadFile(tos[1] + files[50]), ReadFile(files[50]));
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

// A cancel given while several workers are inside large files stops them
// all; what they cut short is removed, and what is listed as restored is whole.
TEST(ParallelRestore, CancelInsideLargeFilesStopsEveryWorkerAndLeavesNoTemporaries) {
  TempDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 8; ++i) {
    const std::string path = dir / ("src/big" + std::to_string(i));
    WriteFile(path, Text(6 << 20, i));
    files.push_back(path);
  }
  {
    CBackupArchive writer;
    ASSERT_TRUE(writer.Create(dir / "b.zip"));
    for (const auto& f : files) ASSERT_TRUE(writer.AddBackupFile(f));
    ASSERT_TRUE(writer.WriteManifest());
    ASSERT_EQ(writer.Close(), 0);
  }
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(dir / "b.zip"));
  ASSERT_TRUE(archive.ReadManifest());
  std::vector<RestoreFailure> refused;
  const auto items = CRestoreJob::Plan(archive, {0, 1, 2, 3, 4, 5, 6, 7}, dir / "to", refused);
  std::atomic<bool> cancel{false};
  struct CancelAtBytes : tessarook::IProgressSink {
    std::atomic<bool>& flag;
    explicit CancelAtBytes(std::atomic<bool>& f) : flag(f) {}
    void OnProgress(uint64_t, uint64_t) override {}
    void OnBytes(uint64_t done, uint64_t) override {
      if (done >= (3u << 20)) flag.store(true);
    }
  } sink(cancel);
  const RestoreResult r = CRestoreJob::Run(archive, items, &cancel, &sink, 3);
  EXPECT_TRUE(r.cancelled);
  EXPECT_TRUE(r.failed.empty());
  EXPECT_LT(r.restored.size(), 8u);
  for (size_t pos : r.restored)
    EXPECT_EQ(ReadFile(dir / "to" + files[pos]), ReadFile(files[pos])) << pos;
  if (fs::exists(dir / "to")) {
    EXPECT_EQ(TemporariesBelow(dir / "to"), 0u);
  }
  size_t present = 0;
  if (fs::exists(dir / ("to" + dir.str() + "/src")))
    for (const auto& e : fs::directory_iterator(dir / ("to" + dir.str() + "/src")))
      present += e.is_regular_file();
  EXPECT_EQ(present, r.restored.size());
}

// Both ways of inflating (one call for small entries, streaming for large
// ones) accept a good entry and refuse a damaged one, and an entry that
// inflates past its recorded size never writes past the room for it.
TEST(ParallelRestore, SmallAndLargeEntriesAreCheckedAlike) {
  for (const size_t size : {size_t{100000}, size_t{5} << 20}) {
    SCOPED_TRACE(size);
    TempDir dir;
    const std::string data = Text(size, 3);
    uint32_t crc = 0;
    const std::string deflated = DeflateRepeated(data, 1, crc);
    auto make = [&](const std::string& name, std::string body, uint32_t c, uint64_t recorded) {
      ZipCraft zip;
      auto rec = zip.AddLocal("0", body, 8, c, recorded);
      const std::string path = dir / name;
      WriteFile(path, zip.Finish({rec}));
      return path;
    };
    std::string flipped = deflated;
    flipped[flipped.size() / 2] ^= 0x40;
    struct Case {
      std::string path;
      bool good;
      std::string reason;
    };
    const std::vector<Case> cases = {
        {make("good", deflated, crc, size), true, ""},
        {make("padded", deflated + std::string(100, 'x'), crc, size), true, ""},
        {make("flipped", flipped, crc, size), false, ""},
        {make("crc", deflated, crc ^ 1, size), false, "CRC mismatch"},
        {make("short", deflated, crc, size - 1), false, "the entry holds more data than recorded"},
        {make("long", deflated, crc, size + 1), false, "size mismatch"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.path);
      CZipFile zip;
      ASSERT_TRUE(zip.Open(c.path));
      std::string reason;
      EXPECT_EQ(zip.TestEntry(0, reason), c.good) << reason;
      if (!c.reason.empty()) {
        EXPECT_EQ(reason, c.reason);
      }
      // Room for exactly the recorded size, and a guard after it.
      const uint64_t recorded = zip.GetEntrySize(0);
      std::vector<char> buffer(recorded + 64, '\x5a');
      uint64_t room = recorded;
      EXPECT_EQ(zip.ExtractToMemory(buffer.data(), room, 0), c.good);
      for (size_t k = recorded; k < buffer.size(); ++k) ASSERT_EQ(buffer[k], '\x5a');
      if (c.good) {
        EXPECT_EQ(std::string(buffer.data(), recorded), data);
        // The entry's span ends where its deflate data really ended.
        uint64_t begin = 0, end = 0;
        ASSERT_TRUE(zip.GetEntrySpan(0, begin, end));
        EXPECT_EQ(end - begin, 30 + 1 + deflated.size());
      }
    }
  }
}

// Verify on several workers finds the same faults, in the same order, as on one.
TEST(ParallelRestore, VerifyOnSeveralWorkersReportsTheSameFaultsInOrder) {
  TempDir dir;
  {
    CBackupArchive writer;
    ASSERT_TRUE(writer.Create(dir / "b.zip"));
    for (int i = 0; i < 60; ++i) {
      const std::string path = dir / ("src/f" + std::to_string(i));
      WriteFile(path, Text(static_cast<size_t>(2000 + i * 500), i));
      ASSERT_TRUE(writer.AddBackupFile(path));
    }
    ASSERT_TRUE(writer.WriteManifest());
    ASSERT_EQ(writer.Close(), 0);
  }
  std::string bytes = ReadFile(dir / "b.zip");
  // Damage the data of every seventh entry.
  size_t at = 0;
  for (int k = 0; (at = bytes.find("PK\3\4", at)) != std::string::npos; ++k, at += 4)
    if (k % 7 == 3 && at + 200 < bytes.size()) bytes[at + 150] ^= 0x21;
  WriteFile(dir / "bad.zip", bytes);
  const VerifyResult one = VerifyBackup(dir / "bad.zip", nullptr, nullptr, 1);
  const VerifyResult many = VerifyBackup(dir / "bad.zip", nullptr, nullptr, 4);
  ASSERT_EQ(one.status, VerifyResult::Status::kChecked);
  ASSERT_EQ(many.status, VerifyResult::Status::kChecked);
  EXPECT_GE(one.faults.size(), 8u);
  ASSERT_EQ(one.faults.size(), many.faults.size());
  for (size_t i = 0; i < one.faults.size(); ++i) {
    EXPECT_EQ(one.faults[i].index, many.faults[i].index);
    EXPECT_EQ(one.faults[i].reason, many.faults[i].reason);
  }
  std::atomic<bool> cancel{true};
  EXPECT_EQ(VerifyBackup(dir / "bad.zip", &cancel, nullptr, 4).status,
            VerifyResult::Status::kCancelled);
}

// Verify and restore on several workers, stopped part-way and run to the end,
// over Backups of two and of several entries. The workers must be done with
// everything the reporting thread owns before it returns: under the sanitizer
// build a worker still touching a counter that has gone out of scope is an
// error. Such a worker is there for sure when the stop comes while the
// workers are inside large entries: two small entries are reported first, and
// the stop follows the first report.
TEST(ParallelRestore, WorkersOutliveNothingTheyShareWhenStoppedOrDone) {
  TempDir dir;
  for (int large : {0, 6}) {
    const std::string zip = dir / ("b" + std::to_string(large) + ".zip");
    size_t count = 0;
    {
      CBackupArchive writer;
      ASSERT_TRUE(writer.Create(zip));
      for (int i = 0; i < 2 + large; ++i) {
        const std::string path = dir / ("src/f" + std::to_string(i));
        WriteFile(path, Text(i < 2 ? 100u : (4u << 20) - 1000, i));
        ASSERT_TRUE(writer.AddBackupFile(path));
        ++count;
      }
      ASSERT_TRUE(writer.WriteManifest());
      ASSERT_EQ(writer.Close(), 0);
    }
    struct StopAt : tessarook::IProgressSink {
      std::atomic<bool>* cancel = nullptr;
      uint64_t at = 0;
      void OnProgress(uint64_t done, uint64_t) override {
        if (at && done >= at) cancel->store(true);
      }
    };
    for (unsigned jobs : {2u, 4u}) {
      for (uint64_t stopAt : {uint64_t{0}, uint64_t{1}}) {
        SCOPED_TRACE(std::to_string(count) + " entries, " + std::to_string(jobs) + " jobs, stop " +
                     std::to_string(stopAt));
        std::atomic<bool> cancel{false};
        StopAt sink;
        sink.cancel = &cancel;
        sink.at = large ? stopAt : 0;
        const bool stops = sink.at != 0;
        const VerifyResult verified = VerifyBackup(zip, &cancel, &sink, jobs);
        EXPECT_EQ(verified.status,
                  stops ? VerifyResult::Status::kCancelled : VerifyResult::Status::kChecked);
        if (!stops) {
          EXPECT_TRUE(verified.faults.empty());
        }

        cancel = false;
        CBackupArchive archive;
        ASSERT_TRUE(archive.Open(zip));
        ASSERT_TRUE(archive.ReadManifest());
        std::vector<size_t> positions(archive.paths.size());
        for (size_t i = 0; i < positions.size(); ++i) positions[i] = i;
        std::vector<RestoreFailure> refused;
        const std::string to = dir / ("to-" + std::to_string(count) + "-" + std::to_string(jobs) +
                                      "-" + std::to_string(stopAt));
        const auto items = CRestoreJob::Plan(archive, positions, to, refused);
        const RestoreResult restored = CRestoreJob::Run(archive, items, &cancel, &sink, jobs);
        EXPECT_EQ(restored.cancelled, stops);
        if (!stops) {
          EXPECT_TRUE(restored.failed.empty());
          EXPECT_EQ(restored.restored.size(), count);
        }
      }
    }
  }
}
