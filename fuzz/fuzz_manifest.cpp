// Fuzzes reading a Backup's manifest: arbitrary bytes stored as "list.txt"
// must read back without crashing, as the parser says, and every path the
// parser returns that a manifest can hold must survive a write/read cycle.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "backup/BackupArchive.h"

using tessarook::BuildManifest;
using tessarook::CBackupArchive;
using tessarook::ManifestCanHold;
using tessarook::ParseManifest;

namespace {

const std::string& TempZip() {
  static const std::string path = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/fuzz_manifest_" + std::to_string(getpid()) + ".zip";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = ParseManifest(text);
  if (parsed.size() > size + 1) abort();  // one line per CR, plus one

  // Paths the manifest can hold come back unchanged.
  std::vector<std::string> holdable;
  for (const std::string& p : parsed)
    if (ManifestCanHold(p) && !p.empty() && p[0] == '/') holdable.push_back(p);
  if (ParseManifest(BuildManifest(holdable)) != holdable && !holdable.empty()) abort();

  // The same bytes through a real archive.
  {
    CBackupArchive writer;
    if (!writer.Create(TempZip())) return 0;
    writer.AddFromMemory(data, size, tessarook::kManifestName);
    if (writer.Close() != 0) return 0;
  }
  CBackupArchive reader;
  if (!reader.Open(TempZip())) abort();
  if (!reader.ReadManifest()) abort();
  if (reader.paths != parsed) abort();
  for (size_t i = 0; i < reader.paths.size() && i < 4; ++i)
    if (reader.EntryNameFor(reader.paths[i]).empty()) abort();
  reader.Close();
  unlink(TempZip().c_str());
  return 0;
}
