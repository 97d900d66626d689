// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace tessarook {

// One single-file entry of a Scheme: the file's full path exactly as it was
// added (letter case kept).
class CSchemeFile {
 public:
  CSchemeFile() = default;
  explicit CSchemeFile(std::string path) : m_path(std::move(path)) {}

  bool operator==(const CSchemeFile&) const = default;

  std::string m_path;
};

}  // namespace tessarook
