// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes reading a Backup's manifest: arbitrary bytes stored as "list.txt"
// must read back without crashing, as the parser says within the reading
// bounds (no more lines than the archive has entries, no line longer than the
// line bound), and every path the parser returns that a manifest can hold
// must survive a write/read cycle.

#include <unistd.h>

#include <algorithm>
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

  // The same bytes through a real archive holding a few numbered entries
  // besides the manifest (how many follows from the input's size).
  const size_t files = size % 7;
  {
    CBackupArchive writer;
    if (!writer.Create(TempZip())) return 0;
    for (size_t i = 0; i < files; ++i) writer.AddFromMemory("x", 1, std::to_string(i));
    writer.AddFromMemory(data, size, tessarook::kManifestName);
    if (writer.Close() != 0) return 0;
  }
  CBackupArchive reader;
  if (!reader.Open(TempZip())) abort();
  if (!reader.ReadManifest()) abort();

  // Memory stays proportionate: no more lines than entries, none longer than
  // the line bound.
  const uint64_t entries = static_cast<uint64_t>(reader.GetEntryCount());
  if (reader.paths.size() > entries) abort();
  for (const std::string& p : reader.paths)
    if (p.size() > tessarook::kMaxManifestLine) abort();

  // What was kept is what the unbounded parser reads, up to the first bound;
  // a manifest within the bounds is read whole and not called damaged.
  if (reader.paths.size() > parsed.size() ||
      !std::equal(reader.paths.begin(), reader.paths.end(), parsed.begin()))
    abort();
  bool linesFit = true;
  const std::string_view upToNul = text.substr(0, text.find('\0'));
  for (size_t start = 0; start <= upToNul.size();) {
    size_t cr = upToNul.find('\r', start);
    if (cr == std::string_view::npos) cr = upToNul.size();
    if (cr - start > tessarook::kMaxManifestLine) linesFit = false;
    start = cr + 1;
  }
  const bool withinBounds = parsed.size() <= entries && linesFit;
  if (withinBounds != reader.ManifestDamage().empty()) abort();
  if (withinBounds && reader.paths != parsed) abort();

  for (size_t i = 0; i < reader.paths.size() && i < 4; ++i)
    if (reader.EntryNameFor(reader.paths[i]).empty()) abort();
  reader.Close();
  unlink(TempZip().c_str());
  return 0;
}
