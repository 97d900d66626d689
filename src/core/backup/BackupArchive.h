#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backup/ZipFile.h"

namespace tessarook {

// A Backup: a ZIP archive whose n files are stored as the entries "0", "1",
// ..., "n-1" (their position, in decimal) followed by the manifest "list.txt",
// which gives each position's full source path: lines "i: path" joined by
// CR LF, no line break after the last one, an empty text for no files.
//
// While writing, `paths` holds exactly the paths whose entries were added, in
// order, so entry i and paths[i] always belong together.
class CBackupArchive : public CZipFile {
 public:
  ~CBackupArchive() override;

  // Empties `paths`, then closes the archive as CZipFile does.
  int Close() override;

  // Adds the file as the entry named by the current count of `paths`; on
  // success appends the path. On failure nothing is appended, so the next file
  // is offered under the same number. A path that the manifest cannot carry
  // (one holding a CR, or ending in a LF) is refused: it would read back as a
  // different path and shift every later line.
  bool AddBackupFile(const std::string& sourcePath);

  // Adds "list.txt" built from `paths`. Call once, after the last file.
  bool WriteManifest();

  // Fills `paths` from an opened archive's "list.txt". False when no archive
  // is open or it holds no "list.txt"; true otherwise, also for an empty
  // manifest. A manifest that fails to decompress still yields the lines of
  // whatever text could be read.
  bool ReadManifest();

  // The entry name of the first position whose path equals `sourcePath`
  // exactly (paths are told apart as the file system does), or "" when none.
  std::string EntryNameFor(const std::string& sourcePath) const;

  // Entry index of manifest position i (the entry named i in decimal), or -1.
  int64_t EntryIndexFor(size_t position);

  std::vector<std::string> paths;
};

// Decimal text of a manifest position: the name of its entry.
std::string EntryNameOf(size_t position);

// The manifest text for a list of paths.
std::string BuildManifest(const std::vector<std::string>& paths);

// Splits a manifest text into paths. The text ends at its first NUL byte. Each
// CR ends one line; the text after the last CR is one more line. A line that
// starts with a decimal number and ": " gives the text after that first ": "
// (so a path that itself holds ": " reads back whole); any other line gives
// the text after its last ": ", or the whole line when it holds none. Line
// feeds at either end of the value are removed.
std::vector<std::string> ParseManifest(std::string_view text);

// True when a path reads back unchanged from a manifest.
bool ManifestCanHold(std::string_view path);

// The manifest entry's name.
inline constexpr const char* kManifestName = "list.txt";

}  // namespace tessarook
