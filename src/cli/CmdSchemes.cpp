// SPDX-License-Identifier: GPL-3.0-or-later
// The Schemes commands: new, show, add, add-file, add-folder, remove, exclude.

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "Cli.h"
#include "backup/BackupStore.h"
#include "scheme/Exclusions.h"
#include "scheme/Scheme.h"
#include "scheme/SchemePaths.h"
#include "settings/UserPlaces.h"
#include "shell/NameCheck.h"
#include "util/PathUtil.h"

namespace tessarook::cli {

namespace {

namespace fs = std::filesystem;

bool LoadScheme(const std::string& file, CScheme& scheme) {
  const SchemeError err = scheme.Load(file);
  if (err == SchemeError::kOk) return true;
  Error(SchemeErrorText(err, file));
  return false;
}

bool SaveScheme(const std::string& file, const CScheme& scheme) {
  const SchemeError err = scheme.Save(file);
  if (err == SchemeError::kOk) return true;
  Error(SchemeErrorText(err, file));
  return false;
}

// As a dropped item: a symbolic link stands for its target.
std::string ResolveLink(const std::string& path) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
  const fs::path target = fs::canonical(path, ec);
  return ec ? path : target.string();
}

enum class AddKind { kByType, kFile, kFolder };

int AddEntries(const Context& ctx, const Args& args, AddKind kind) {
  const std::string file = ctx.SchemeFile(args.positional[0]);
  CScheme scheme;
  if (!LoadScheme(file, scheme)) return kExitFailure;
  bool changed = false;
  for (size_t i = 1; i < args.positional.size(); ++i) {
    const std::string path = ResolveLink(AbsolutePath(args.positional[i]));
    const bool folder =
        kind == AddKind::kFolder || (kind == AddKind::kByType && FolderExists(path));
    // An entry already listed is left as it is.
    if (folder ? scheme.AddFolderEntry(path) : scheme.AddFileEntry(path)) changed = true;
  }
  if (changed && !SaveScheme(file, scheme)) return kExitFailure;
  return kExitOk;
}

}  // namespace

int RunNew(const Context& ctx, const Args& args) {
  const std::string& name = args.positional[0];
  if (name.empty()) {
    Error("the Scheme name is empty");
    return kExitUsage;
  }
  if (HasForbiddenNameChar(name)) {
    Error(std::string(InvalidNameReason(name)));
    return kExitUsage;
  }
  const std::string dir = ctx.SchemesDir();
  std::string why;
  if (!PrepareSchemesFolder(dir, &why)) {
    Error(why);
    return kExitFailure;
  }
  std::error_code ec;
  const std::string file = SchemeFilePath(dir, name);
  const bool exists = fs::exists(fs::symlink_status(file, ec));
  if (!args.Has("--force") && exists) {
    Error("A Scheme with such name already exists in My Schemes folder: " + name +
          " (use --force to overwrite it)");
    return kExitFailure;
  }
  if (exists &&
      !Confirm(args, "replace the Scheme \"" + name + "\" with an empty one and delete its " +
                         BackupCountText(file) + "? This cannot be undone.")) {
    Error("nothing was changed");
    return kExitFailure;
  }
  const std::string backups = BackupsFolderFor(file);
  CBackupsFolderLock held;
  if (!held.Acquire(backups)) {
    Error(std::string(kSchemeBackupBeingWrittenText) + " Nothing was changed: " + name);
    return kExitFailure;
  }
  if (!SaveScheme(file, CScheme())) return kExitFailure;
  // Only once the empty Scheme is in place: a failed save keeps the old Backups.
  if (fs::exists(fs::symlink_status(backups, ec)) && !DeleteFolderTree(backups)) {
    Error("could not delete all of " + backups);
    return kExitFailure;
  }
  return kExitOk;
}

int RunShow(const Context& ctx, const Args& args) {
  CScheme scheme;
  if (!LoadScheme(ctx.SchemeFile(args.positional[0]), scheme)) return kExitFailure;
  for (const CSchemeFile& f : scheme.m_files) std::cout << "file\t" << f.m_path << "\n";
  for (const CSchemeFolder& f : scheme.m_folders) {
    std::cout << "folder\t" << f.m_path << "\t";
    for (size_t i = 0; i < f.m_excludedExtensions.size(); ++i)
      std::cout << (i ? "," : "") << f.m_excludedExtensions[i];
    std::cout << "\n";
  }
  return kExitOk;
}

int RunAdd(const Context& ctx, const Args& args) { return AddEntries(ctx, args, AddKind::kByType); }

int RunAddFile(const Context& ctx, const Args& args) {
  return AddEntries(ctx, args, AddKind::kFile);
}

int RunAddFolder(const Context& ctx, const Args& args) {
  return AddEntries(ctx, args, AddKind::kFolder);
}

int RunRemove(const Context& ctx, const Args& args) {
  const std::string file = ctx.SchemeFile(args.positional[0]);
  CScheme scheme;
  if (!LoadScheme(file, scheme)) return kExitFailure;
  bool changed = false;
  bool skipped = false;
  for (size_t i = 1; i < args.positional.size(); ++i) {
    const std::string& given = args.positional[i];
    const std::string path = AbsolutePath(given);
    bool found = false;
    // The text as given first (entries need not be absolute), then as an absolute path.
    for (const std::string& candidate : {given, path}) {
      if (scheme.RemoveFileEntry(candidate)) found = true;
      if (scheme.RemoveFolderEntry(candidate)) found = true;
    }
    if (found) {
      changed = true;
    } else {
      Error("not in the Scheme: " + given);
      skipped = true;
    }
  }
  if (changed && !SaveScheme(file, scheme)) return kExitFailure;
  return skipped ? kExitSkipped : kExitOk;
}

int RunExclude(const Context& ctx, const Args& args) {
  const std::string file = ctx.SchemeFile(args.positional[0]);
  CScheme scheme;
  if (!LoadScheme(file, scheme)) return kExitFailure;
  const std::string& given = args.positional[1];
  int index = scheme.FindFolderEntry(given);
  if (index < 0) index = scheme.FindFolderEntry(AbsolutePath(given));
  if (index < 0) {
    Error("not a folder of the Scheme: " + given);
    return kExitFailure;
  }
  const std::vector<std::string> items(args.positional.begin() + 2, args.positional.end());
  scheme.m_folders[index].m_excludedExtensions = NormalizeExcludedExtensions(items);
  return SaveScheme(file, scheme) ? kExitOk : kExitFailure;
}

}  // namespace tessarook::cli
