// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <numeric>

#include "BackupTestSupport.h"
#include "ZipCraft.h"
#include "backup/BackupArchive.h"
#include "backup/BackupVerifier.h"
#include "backup/RestoreJob.h"

using namespace backup_test;
using tessarook::CBackupArchive;
using tessarook::CRestoreJob;
using tessarook::kManifestName;
using tessarook::RestoreFailure;
using tessarook::VerifyBackup;
using tessarook::VerifyFault;
using tessarook::VerifyResult;

namespace {

std::vector<std::string> Reasons(const VerifyResult& r) {
  std::vector<std::string> out;
  for (const VerifyFault& f : r.faults)
    out.push_back(std::to_string(f.index) + " " + f.path + ": " + f.reason);
  return out;
}

}  // namespace

TEST(Verify, ReportsPathsRestoreRefusesAnywhere) {
  TempDir dir;
  ZipCraft zip;
  std::vector<ZipCraft::Record> records;
  for (int i = 0; i < 5; ++i) records.push_back(zip.AddStored(std::to_string(i), "data"));
  // Climbing out, relative, empty, and a ".." inside a full path: restore
  // refuses these both to their places and below a chosen folder.
  const std::string list = "0: ../../x\r\n1: relative.txt\r\n2: \r\n3: /a/../b\r\n4: /fine";
  records.push_back(zip.AddStored("list.txt", list));
  WriteFile(dir / "b.zip", zip.Finish(records));
  const VerifyResult r = VerifyBackup(dir / "b.zip", nullptr, nullptr);
  ASSERT_EQ(r.status, VerifyResult::Status::kChecked);
  ASSERT_EQ(r.faults.size(), 4u) << ::testing::PrintToString(Reasons(r));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.faults[i].index, i);
    EXPECT_EQ(r.faults[i].reason, "not a full path");
  }
  EXPECT_EQ(r.faults[0].path, "../../x");
  EXPECT_EQ(r.faults[3].path, "/a/../b");
  EXPECT_NE(r.faults[3].reason.find(".."), std::string::npos);
}

TEST(Verify, ReportsEntriesWhoseDataOverlap) {
  TempDir dir;
  const std::string list = "0: /a\r\n1: /b";
  // Two directory records pointing at one local header.
  {
    ZipCraft zip;
    ZipCraft::Record shared = zip.AddStored("0", "same data");
    ZipCraft::Record twin = shared;
    twin.name = "1";
    const ZipCraft::Record manifest = zip.AddStored("list.txt", list);
    WriteFile(dir / "shared.zip", zip.Finish({shared, twin, manifest}));
  }
  // Entry 1's header and data lie inside entry 0's data.
  {
    ZipCraft inner;
    inner.AddStored("1", "inner data");
    const std::string nested = inner.Finish({}).substr(0, 30 + 1 + 10);
    ZipCraft zip;
    const ZipCraft::Record outer = zip.AddStored("0", nested);
    ZipCraft::Record inside{"1", outer.localOffset + 30 + 1, 0, Crc("inner data"), 10, 10, ""};
    const ZipCraft::Record manifest = zip.AddStored("list.txt", list);
    WriteFile(dir / "nested.zip", zip.Finish({outer, inside, manifest}));
  }
  for (const char* name : {"shared.zip", "nested.zip"}) {
    const VerifyResult r = VerifyBackup(dir / name, nullptr, nullptr);
    ASSERT_EQ(r.status, VerifyResult::Status::kChecked) << name;
    ASSERT_FALSE(r.faults.empty()) << name;
    bool overlap = false;
    for (const VerifyFault& f : r.faults)
      overlap = overlap || f.reason.find("overlap") != std::string::npos;
    EXPECT_TRUE(overlap) << name << ": " << ::testing::PrintToString(Reasons(r));
  }
}

// Every single-byte flip of a small Backup: whatever verify finds must also
// stop restore from reporting success, and damage to the list of files (the
// manifest or the directory) must stop the listing from reporting success,
// as the commands decide it.
TEST(Verify, WhatVerifyFindsInAFlippedByteRestoreAndTheListingReportToo) {
  TempDir dir;
  WriteFile(dir / "src/a", "alpha alpha alpha alpha");
  WriteFile(dir / "src/b", "bravo");
  {
    CBackupArchive writer;
    ASSERT_TRUE(writer.Create(dir / "good.zip"));
    ASSERT_TRUE(writer.AddBackupFile(dir / "src/a"));
    ASSERT_TRUE(writer.AddBackupFile(dir / "src/b"));
    ASSERT_TRUE(writer.WriteManifest());
    ASSERT_EQ(writer.Close(), 0);
  }
  const std::string good = ReadFile(dir / "good.zip");
  size_t found = 0;
  for (size_t at = 0; at < good.size(); ++at) {
    for (const unsigned char mask : {0x01, 0xFF}) {
      std::string bytes = good;
      bytes[at] = static_cast<char>(bytes[at] ^ mask);
      WriteFile(dir / "v.zip", bytes);
      const VerifyResult v = VerifyBackup(dir / "v.zip", nullptr, nullptr);
      if (v.status == VerifyResult::Status::kChecked && v.faults.empty()) continue;
      ++found;
      bool listFault = v.status != VerifyResult::Status::kChecked;
      for (const VerifyFault& f : v.faults)
        listFault = listFault || (f.index < 0 && (f.path.empty() || f.path == kManifestName) &&
                                  f.reason.find("overlaps") == std::string::npos);

      CBackupArchive archive;
      const bool listed = archive.Open(dir / "v.zip") && archive.ReadManifest();
      const bool listingOk = listed && archive.Damage().empty();
      bool restoreOk = listingOk;
      if (listed) {
        std::vector<size_t> all(archive.paths.size());
        std::iota(all.begin(), all.end(), size_t{0});
        std::vector<RestoreFailure> refused;
        const auto items = CRestoreJob::Plan(archive, all, dir / "out", refused);
        const auto result = CRestoreJob::Run(archive, items, nullptr, nullptr);
        restoreOk = restoreOk && refused.empty() && result.failed.empty();
      }
      const std::string where = "byte " + std::to_string(at) + " ^ " + std::to_string(mask) + ": " +
                                ::testing::PrintToString(Reasons(v));
      EXPECT_FALSE(restoreOk) << where;
      if (listFault) {
        EXPECT_FALSE(listingOk) << where;
      }
    }
  }
  EXPECT_GT(found, good.size() / 2);  // the sweep did meet damage
}
