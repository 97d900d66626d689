// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessarook {

// The image a row of the files pane shows. Indexes 0-2 are fixed; a file that
// exists and can be read shows an icon chosen by its key (see CIconKeys),
// index 4 and up.
enum EntryImage : int {
  kImageFolder = 0,
  kImageMissingFolder = 1,
  kImageMissingFile = 2,
  kImageUnreadableFile = 3,  // something is there, but a Backup could not read it
  kFirstFileImage = 4,
};

// One row of the files pane: a Scheme entry as the pane shows it, with what
// the file system says about it when the row was made.
class CEntryRow {
 public:
  // Reads the file system for `path`: existence and, for a regular file, its size.
  // A folder exists when it is a folder that can be entered; a file exists when
  // anything (a folder or a dangling link included) is at its path.
  static CEntryRow Make(std::string_view path, bool folder);

  // Splits a path at its last "/": the name after it, the location up to and
  // including it. A root folder "/" has an empty name; a path without "/" is all
  // name.
  static void SplitPath(std::string_view path, std::string& name, std::string& location);

  // The size column's text as people read it ("1.5 GB", see FormatFileSize),
  // empty for 0 (folders, missing or unreadable entries, empty files).
  std::string SizeText() const;
  // The path that opens the entry: location, a "/" only when the location does
  // not end in one, and the name.
  std::string FullPath() const;
  // The entry's path as the Scheme lists it: location followed by name.
  std::string EntryPath() const { return m_location + m_name; }

  std::string m_name;
  std::string m_location;
  bool m_folder = false;
  bool m_exists = false;
  // A file entry whose data a Backup can read now: a regular file (or a link
  // to one) that opens for reading. Folders: whether they exist.
  bool m_readable = false;
  std::uint64_t m_size = 0;
};

// The key that picks a file's icon: the text after the last "." of the file's
// name, lower-cased (A-Z); empty when the name holds no ".".
std::string IconKeyFor(std::string_view path);

// Whether row `a` stands before row `b` in an arrangement: 1 by name, 2 by
// location. Folder rows come before file rows; then names (by location: the
// locations) compare byte by byte, case-sensitive, and the other text breaks a
// tie. Any other arrangement orders by name, descending.
bool EntryRowBefore(const CEntryRow& a, const CEntryRow& b, int arrangement);

// Sorts rows for an arrangement; rows that compare equal keep their order.
void ArrangeEntryRows(std::vector<CEntryRow>& rows, int arrangement);

}  // namespace tessarook
