// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupRecords.h"
#include "backup/ZipFile.h"

namespace tessarook {

// A Backup: a ZIP archive whose n files are stored as the entries "0", "1",
// ..., "n-1" (their position, in decimal) followed by the manifest "list.txt",
// which gives each position's full source path: lines "i: path" joined by
// CR LF, no line break after the last one, an empty text for no files.
//
// While writing, `paths` holds exactly the paths whose entries were added, in
// order, so entry i and paths[i] always belong together.
//
// What a Backup records for itself (formats in BackupRecords.h):
// - The time it was taken, in one place: the taken record in the central
//   record of the manifest entry "list.txt", the archive's last entry. It
//   holds the time in nanoseconds since 1970 and the identity of the machine
//   that took it. The manifest entry's own last-write time (its extended and
//   NTFS time stamps and DOS time) is the same moment, so any ZIP tool shows
//   it too. The time is when the archive was created, before any file was
//   read. Copies of the file (duplicate, .csm export and import, a copy by
//   hand) keep it; a Backup without it counts as taken when its file was
//   created (see ReadBackupTaken).
// - Each file's identity when it was read (device, inode, size, last-write
//   and status-change times), in its entry's central record, for files that
//   did not change while read and had not changed for kSettledNs before the
//   Backup was taken. A later Backup of the Scheme copies the entry instead
//   of reading the file again when the file's identity is still the same
//   (see CParentBackup).
class CBackupArchive : public CZipFile {
 public:
  ~CBackupArchive() override;

  // Creates the archive and takes its taken time: now.
  bool Create(const std::string& path) override;

  // The taken time (ns since 1970) recorded by WriteManifest.
  int64_t TakenTime() const { return m_takenNs; }

  // Empties `paths`, then closes the archive as CZipFile does.
  int Close() override;

  // Adds the file as the entry named by the current count of `paths`; on
  // success appends the path. On failure nothing is appended, so the next file
  // is offered under the same number. A path that the manifest cannot carry
  // (one holding a CR, or ending in a LF) is refused: it would read back as a
  // different path and shift every later line.
  bool AddBackupFile(const std::string& sourcePath);
  // As AddBackupFile, for the file PrepareFile(sourcePath) gave (see
  // CZipFile::AddPrepared).
  bool AddPreparedBackupFile(const std::string& sourcePath, PreparedFile file, CTaskPool* pool);

  // Adds the entry `copy` of an earlier Backup (see CParentBackup) as the
  // file at `sourcePath`, as AddBackupFile does with the file itself.
  bool AddCopiedBackupFile(const std::string& sourcePath, const ZipCopiedEntry& copy);

  // Adds "list.txt" built from `paths`, with the taken record. Call once,
  // after the last file.
  bool WriteManifest();

  // Fills `paths` from an opened archive's "list.txt". False when no archive
  // is open or it holds no "list.txt"; true otherwise, also for an empty
  // manifest. A damaged manifest still yields the lines that could be read,
  // and ManifestDamage() then says what is wrong.
  //
  // The manifest may be hostile, so reading it is bounded: no more lines are
  // kept than the archive has entries (each line names one), no line longer
  // than kMaxManifestLine, and no more than kMaxManifestBytes are
  // decompressed. Memory therefore follows the archive's own directory, not
  // what its data inflates to. A manifest past a bound counts as damaged.
  bool ReadManifest();

  // After ReadManifest returned true: "" when the manifest was read whole
  // with a good checksum and within the bounds; otherwise what is wrong.
  const std::string& ManifestDamage() const { return m_manifestDamage; }

  // After ReadManifest returned true: "" when the list of files can be
  // trusted (the manifest is whole and the archive's directory complete);
  // otherwise what is wrong, for the user.
  std::string Damage() const;

  // The entry name of the first position whose path equals `sourcePath`
  // exactly (paths are told apart as the file system does), or "" when none.
  std::string EntryNameFor(const std::string& sourcePath) const;

  // Entry index of manifest position i (the entry named i in decimal), or -1.
  int64_t EntryIndexFor(size_t position);

  // After ReadManifest: the size and last-write time (ns since 1970) of each
  // position's entry, 0 for a position without one.
  void ReadEntryFacts(std::vector<uint64_t>& sizes, std::vector<int64_t>& times);

  std::vector<std::string> paths;

 private:
  std::string m_manifestDamage;
  int64_t m_takenNs = 0;
};

// How long a file must have stood unchanged (by its status-change time)
// before a Backup is taken for its identity to be recorded: longer than the
// coarsest clock a file system keeps times with, so that a change made after
// the file was read always moves its times past the recorded ones.
inline constexpr int64_t kSettledNs = int64_t{3} * 1000000000;

// The taken record of the Backup file at `path`, read from its last
// directory record alone (a quick look, for listing). False when the file
// holds none: not a Backup, or one written before the program recorded it.
bool ReadBackupTaken(const std::string& path, TakenRecord& taken);

// Bounds on reading a manifest (see ReadManifest).
inline constexpr size_t kMaxManifestLine = 64 << 10;
inline constexpr uint64_t kMaxManifestBytes = uint64_t{1} << 30;

// Splits a manifest text into paths piece by piece, as the text arrives, so
// that no more than the kept lines and the current one are ever held. The
// rules are those of ParseManifest.
class CManifestParser {
 public:
  // Keeps at most `maxLines` lines of at most `maxLineBytes` bytes each.
  CManifestParser(uint64_t maxLines, size_t maxLineBytes);

  // Takes the next piece of text. False once a bound was passed: the lines
  // kept so far stay, Problem() says which bound, and further text is ignored.
  bool Feed(const char* data, size_t size);

  // Ends the text. `whole` says whether all of it arrived; when it did not,
  // an unfinished last line is dropped (it may be cut short). Returns the
  // lines.
  std::vector<std::string> Finish(bool whole);

  // "" while the text stays within the bounds.
  const std::string& Problem() const { return m_problem; }

 private:
  bool EndLine();

  uint64_t m_maxLines;
  size_t m_maxLineBytes;
  std::vector<std::string> m_lines;
  std::string m_line;
  bool m_started = false;  // some text came before the end or a NUL byte
  bool m_ended = false;    // a NUL byte ended the text
  std::string m_problem;
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
