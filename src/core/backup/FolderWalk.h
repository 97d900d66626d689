// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupRecords.h"

namespace tessarook {

// Something a Backup could not take, and why.
struct SkippedFile {
  std::string path;
  std::string reason;

  bool operator==(const SkippedFile&) const = default;
};

// True when the file name's extension (the text after its last ".", or the
// whole name when it holds no ".") equals one of `excluded` after both are
// lower-cased (A-Z only).
bool IsExcludedExtension(std::string_view fileName, const std::vector<std::string>& excluded);

// Appends the files below `folder` to `list`, depth first in the order the
// file system returns the entries: each sub-folder is walked when it is met.
// Takes regular files and symbolic links to regular files; symbolic links to
// folders are not followed; FIFOs, sockets, devices and dangling links are
// left out. Files whose extension is excluded are left out at every depth.
// A folder that cannot be read is added to `skipped`, as is a missing
// `folder` itself. Stops early (returning false) once `cancel` is set.
// With `identities`, the identity of each listed file (size and all, see
// ListedFileIdentity) is appended there, in step with `list`.
bool WalkFolder(const std::string& folder, const std::vector<std::string>& excluded,
                std::vector<std::string>& list, std::vector<SkippedFile>& skipped,
                const std::atomic<bool>* cancel = nullptr,
                std::vector<SourceIdentity>* identities = nullptr);

// The identity of the file at `path` (following links); all zero when it is
// no regular file or cannot be reached.
SourceIdentity ListedFileIdentity(const std::string& path);

}  // namespace tessarook
