// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/NewSchemeFile.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "library/SchemePaths.h"

namespace tessarook {

std::string PrepareNewSchemeFile(std::string_view schemesDir, std::string_view name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!schemesDir.empty() && !fs::is_directory(fs::path(std::string(schemesDir)), ec))
    fs::create_directory(fs::path(std::string(schemesDir)), ec);
  const std::string schemeFile = SchemeFilePath(schemesDir, name);
  // remove_all removes a symbolic link as a link and never follows it.
  fs::remove_all(fs::path(BackupsFolderFor(schemeFile)), ec);
  return schemeFile;
}

bool IsUsableSchemesFolder(std::string_view folder) {
  if (folder.empty()) return false;
  struct stat st;
  return stat(std::string(folder).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace tessarook
