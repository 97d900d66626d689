// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace tessarook {

// One folder entry of a Scheme: the folder's full path exactly as it was added,
// and the extensions (without their leading dot) whose files a Backup of this
// folder leaves out. A new folder entry excludes nothing. The list is kept as
// NormalizeExcludedExtensions (scheme/Exclusions.h) makes it.
class CSchemeFolder {
 public:
  CSchemeFolder() = default;
  explicit CSchemeFolder(std::string path) : m_path(std::move(path)) {}

  bool operator==(const CSchemeFolder&) const = default;

  std::string m_path;
  std::vector<std::string> m_excludedExtensions;
};

}  // namespace tessarook
