// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/NewSchemeFile.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "backup/BackupStore.h"
#include "scheme/SchemePaths.h"
#include "util/PrivateFiles.h"

namespace tessarook {

std::string PrepareNewSchemeFile(std::string_view schemesDir, std::string_view name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!schemesDir.empty() && !fs::is_directory(fs::path(std::string(schemesDir)), ec))
    MakePrivateFolders(std::string(schemesDir));
  const std::string schemeFile = SchemeFilePath(schemesDir, name);
  CBackupsFolderLock held;
  if (!held.Acquire(BackupsFolderFor(schemeFile))) return {};
  // remove_all removes a symbolic link as a link and never follows it.
  fs::remove_all(fs::path(BackupsFolderFor(schemeFile)), ec);
  return schemeFile;
}

size_t BackupsOfScheme(std::string_view schemesDir, std::string_view name) {
  return CBackupStore(SchemeFilePath(schemesDir, name)).List().size();
}

std::string NewSchemeDeletesBackupsQuestion(std::string_view name, size_t backups) {
  const std::string count = std::to_string(backups) + (backups == 1 ? " Backup" : " Backups");
  return "The Scheme \"" + std::string(name) + "\" has " + count + ". Overwriting it deletes " +
         (backups == 1 ? "it" : "all of them") +
         ", and you won't be able to undo this action.\nDo you want to overwrite it?";
}

bool IsUsableSchemesFolder(std::string_view folder) {
  if (folder.empty()) return false;
  struct stat st;
  return stat(std::string(folder).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace tessarook
