// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct stat;

namespace tessarook {

class CFileHandle;
class CZipFile;
struct ZipEntryInfo;

// Writes entries of an archive open for reading to disk files. The data comes
// through the archive's ReadData, so the archive's cancel flag and data
// observer apply to extraction too. An extractor is used by one thread at a
// time, the one that uses its archive, and must not outlive the archive.
//
// Failures are reported by return value; LastError() then holds a short
// explanation for the user.
class CZipExtractor {
 public:
  explicit CZipExtractor(CZipFile& archive);
  ~CZipExtractor();
  CZipExtractor(const CZipExtractor&) = delete;
  CZipExtractor& operator=(const CZipExtractor&) = delete;

  // Writes the entry to a disk file, creating missing folders. The entry is
  // first read into a temporary file beside the destination and checked
  // (size and CRC); nothing at the destination changes before that has
  // succeeded. A new file then gets the entry's permission bits and
  // last-write time and is renamed into place.
  //
  // An existing file that already holds the entry's data (same size and CRC,
  // then the same bytes) is not written again (LastPlaced() == kSame); only
  // its last-write time is set to the entry's when it differs.
  // Otherwise it keeps its owner, group and mode and gets the entry's
  // last-write time. Where its identity matters it is rewritten in place:
  // a file with several hard links, the target of a symbolic link at the
  // path, a file this user does not own (unless the user is root, who can
  // give the new file the old owner), and a file whose group or extended
  // attributes the new file cannot take over, or in a folder the user may
  // not write. A kill part-way through such a rewrite leaves the file part
  // new, part old. Every other file is replaced by renaming the checked
  // temporary file over it (flushed to disk first), so a kill or a power
  // loss leaves the old file or the new one. A file marked read-only or not
  // writable by this user is not replaced (see DestinationProtected). On
  // failure the folders this call made are removed again.
  bool ExtractToFile(const std::string& diskPath, int64_t index);
  bool ExtractToFile(const std::string& diskPath, const std::string& name);
  // As ExtractToFile (by index), for the file at `relative` ("a/b/c") below the
  // folder `root`; nothing is written outside `root`. The root itself is made
  // when missing and may be reached through links (it is the caller's
  // choice); below it every folder is opened or made without following a
  // symbolic link, and a link met on the way or at the file is a failure.
  bool ExtractBeneath(const std::string& root, const std::string& relative, int64_t index);
  // As ExtractBeneath (`refuseLink`) or ExtractToFile, for the file `leaf` in
  // the folder open as `folder`, which the caller found or made; `shown`
  // names the file in messages. Made folders are the caller's to remove.
  bool ExtractIntoFolder(int folder, const std::string& leaf, const std::string& shown,
                         int64_t index, bool refuseLink);
  // As ExtractToFile (by index), except that whatever is at the path (a file
  // of any mode, a symbolic link) is replaced by the new file: for scratch
  // copies, where a link planted at the path must not be written through.
  bool ExtractReplacing(const std::string& diskPath, int64_t index);
  // True when the latest extraction failed because the destination may not be
  // replaced (marked read-only, or this user may not write it); the
  // destination was left as it was.
  bool DestinationProtected() const { return m_protected; }
  // True when the latest extraction failed because the entry's data is
  // damaged (a CRC or size mismatch, data that does not inflate) or could
  // not be read from the archive; the destination was left as it was.
  bool EntryDamaged() const { return m_damaged; }

  // What the latest successful extraction did at the destination.
  enum class Placed { kCreated, kReplaced, kSame };
  Placed LastPlaced() const { return m_placed; }

  // What extracting the entry to the file `leaf` in the folder open as
  // `folder` (-1: a folder still to be made) would do, changing nothing.
  // `reason` says why a file is replaced: "size" (its size differs), "time"
  // (same size, another last-write time) or "content" (same size and time,
  // other bytes); or why it would not be restored.
  struct Foresight {
    enum class Action { kCreate, kReplace, kSame, kRefuse };
    Action action = Action::kCreate;
    std::string reason;
  };
  Foresight ForeseeInto(int folder, const std::string& leaf, const std::string& shown,
                        int64_t index, bool refuseLink);

  // The explanation of the latest failure ("" after a success).
  const std::string& LastError() const { return m_lastError; }

 private:
  enum class LeafRule { kFollowLink, kRefuseLink, kReplace };
  struct Destination;

  bool Fail(std::string text);
  bool Succeed();
  bool Protected(std::string text);
  bool Usable(int64_t index);
  bool ExtractByPath(const std::string& diskPath, int64_t index, LeafRule rule);
  bool ExtractInto(int folder, const std::string& leaf, const std::string& shown, int64_t index,
                   LeafRule rule);
  bool LookAt(Destination& d);
  bool OpenExisting(Destination& d);
  bool HoldsEntry(Destination& d, int64_t index, const ZipEntryInfo& info);
  bool MakeCopy(Destination& d, CFileHandle& temp, std::string& tempName);
  bool TakeOver(const Destination& d, int temp);
  bool RewriteInPlace(Destination& d, int temp, const ZipEntryInfo& info);
  bool PlaceCopy(const Destination& d, CFileHandle& temp, const std::string& tempName,
                 const ZipEntryInfo& info);
  bool WriteEntryTo(int fd, int64_t index, const std::string& shown, std::string& error);
  std::string DifferenceFrom(int fd, const struct stat& st, int64_t index);
  bool SameData(int fd, int64_t index);
  bool OverwriteWith(int from, int to, uint64_t size, uint64_t oldSize, const std::string& shown,
                     std::string& error);

  CZipFile& m_archive;
  bool m_protected = false;
  bool m_damaged = false;
  Placed m_placed = Placed::kCreated;
  std::string m_lastError;
  std::vector<char> m_buffer;
};

}  // namespace tessarook
