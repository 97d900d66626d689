// SPDX-License-Identifier: GPL-3.0-or-later
#include "scheme/SchemePaths.h"

namespace tessarook {

std::string SchemeFilePath(std::string_view schemesDir, std::string_view name) {
  std::string path(schemesDir);
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  path += kSchemeExtension;
  return path;
}

std::string BackupsFolderFor(std::string_view schemeFile) {
  std::string path(schemeFile);
  path += kBackupsSuffix;
  return path;
}

std::string BackupFilePath(std::string_view backupsFolder, std::string_view name) {
  std::string path(backupsFolder);
  path += '/';
  path += name;
  path += kBackupExtension;
  return path;
}

bool HasControlChar(std::string_view name) {
  for (const char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

bool HasForbiddenNameChar(std::string_view name) {
  return name.find_first_of("\\/:*?\"<>|") != std::string_view::npos || HasControlChar(name);
}

}  // namespace tessarook
