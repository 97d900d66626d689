// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes opening arbitrary bytes as a Backup: opening, reading the manifest,
// testing and reading entries, extracting one and verifying must never crash,
// hang or allocate without bound.

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "backup/BackupArchive.h"
#include "backup/BackupVerifier.h"
#include "backup/ZipExtract.h"

using tessarook::CBackupArchive;

namespace {

std::string Scratch(const char* what) {
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(dir) + "/fuzz_backup_open_" + std::to_string(getpid()) + what;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string zip = Scratch(".zip");
  static const std::string out = Scratch(".out/x/file");
  FILE* f = std::fopen(zip.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  {
    CBackupArchive archive;
    if (archive.Open(zip)) {
      archive.ReadManifest();
      const int64_t count = archive.GetEntryCount();
      // The manifest costs what the directory does, whatever it inflates to.
      if (archive.paths.size() > static_cast<uint64_t>(count)) abort();
      for (int64_t i = 0; i < count && i < 64; ++i) {
        std::string reason;
        archive.TestEntry(i, reason);
        std::string bytes;
        archive.ReadEntry(i, bytes, 1 << 20);
        if (bytes.size() > (1u << 20)) abort();
        char small[64];
        uint64_t n = sizeof small;
        archive.ExtractToMemory(small, n, i);
      }
      if (count > 0) tessarook::CZipExtractor(archive).ExtractToFile(out, int64_t{0});
      for (const std::string& p : archive.paths) archive.EntryNameFor(p);
    }
  }
  std::atomic<bool> cancel{false};
  tessarook::VerifyBackup(zip, &cancel, nullptr);
  unlink(out.c_str());
  unlink(zip.c_str());
  return 0;
}
