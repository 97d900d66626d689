// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "scheme/SchemeError.h"
#include "scheme/SchemeFile.h"
#include "scheme/SchemeFolder.h"

namespace tessarook {

// A Scheme: the ordered list of single files and the ordered list of folders
// (each with its excluded extensions) that a Backup takes. A plain copyable
// value; the desktop document holds one, the backup worker may take a copy.
//
// Invariants kept by the Add operations: no two m_files entries are SamePath,
// no two m_folders entries are SamePath; the two lists are independent.
// Additions append, removals keep the order of the rest. None of these
// operations marks anything modified: the caller does that.
class CScheme {
 public:
  // False (nothing changes) when an entry of m_files is SamePath with path;
  // otherwise appends a file entry with the path as given.
  bool AddFileEntry(std::string_view path);
  // The same on m_folders; the new folder excludes nothing.
  bool AddFolderEntry(std::string_view path);
  // Index of the first entry SamePath with path, or -1.
  int FindFileEntry(std::string_view path) const;
  int FindFolderEntry(std::string_view path) const;
  // Removes the entry FindFileEntry/FindFolderEntry finds; false when none.
  bool RemoveFileEntry(std::string_view path);
  bool RemoveFolderEntry(std::string_view path);

  // Empties both lists.
  void Clear();

  bool operator==(const CScheme&) const = default;

  // --- the scheme file ---

  // Reads a scheme file. A zero-length file is an empty Scheme. On failure
  // *this is left exactly as it was (nothing half-read is kept); map the error
  // to the user's message with SchemeErrorText(error, path).
  SchemeError Load(const std::string& path);

  // Reads a scheme file's bytes from memory, with the same rules as Load.
  SchemeError ReadFromMemory(const void* data, size_t size);

  // Writes the scheme file atomically: the old file stays untouched unless the
  // whole new file was written. kOk on success.
  SchemeError Save(const std::string& path) const;

  // The scheme file's bytes for this Scheme (what Save writes). Fails with
  // kSaveFailed only when a count or text is too large to be read back.
  SchemeError ToBytes(std::string& out) const;

  std::vector<CSchemeFile> m_files;
  std::vector<CSchemeFolder> m_folders;
};

}  // namespace tessarook
