// SPDX-License-Identifier: GPL-3.0-or-later
// The Schemes commands: new, show, add, add-file, add-folder, remove, exclude.

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "Cli.h"
#include "backup/BackupStore.h"
#include "library/SchemePaths.h"
#include "scheme/Exclusions.h"
#include "scheme/Scheme.h"
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

const char kSchemeArgHelp[] =
    "SCHEME is a Scheme name in the My Schemes folder, or the path of a scheme file\n"
    "when it holds a \"/\" or ends in \".tsbak\".";

const CommandRegistrar kNew({
    "new",
    "new NAME [--force [--yes]]",
    "create an empty Scheme in the My Schemes folder",
    "Writes the empty Scheme NAME.tsbak, creating the My Schemes folder when it is\n"
    "missing. An existing Scheme of that name is refused unless --force is given;\n"
    "--force replaces it and deletes its Backups folder. On a terminal it asks first,\n"
    "naming how many Backups go; --yes answers for you. Without a terminal it does not\n"
    "ask. Nothing is changed while a Backup of the Scheme is being written.\n"
    "NAME may not contain any of \\ / : * ? \" < > |",
    {{"--force", false}, {"--yes", false}},
    1,
    1,
    RunNew,
});

const CommandRegistrar kShow({
    "show",
    "show SCHEME",
    "list a Scheme's files and folders",
    std::string(kSchemeArgHelp) +
        "\nPrints one line per entry, fields separated by a TAB: \"file\" and the path for\n"
        "each file entry, then \"folder\", the path and the excluded extensions separated\n"
        "by commas for each folder entry.",
    {},
    1,
    1,
    RunShow,
});

const CommandRegistrar kAdd({
    "add",
    "add SCHEME PATH...",
    "add files and folders to a Scheme",
    std::string(kSchemeArgHelp) +
        "\nEach PATH is made absolute; a symbolic link stands for its target. An existing\n"
        "folder becomes a folder entry, anything else a file entry. Paths the Scheme\n"
        "already lists are left as they are.",
    {},
    2,
    SIZE_MAX,
    RunAdd,
});

const CommandRegistrar kAddFile({
    "add-file",
    "add-file SCHEME PATH...",
    "add file entries to a Scheme",
    std::string(kSchemeArgHelp) +
        "\nAs add, but every PATH becomes a file entry, whatever it names.",
    {},
    2,
    SIZE_MAX,
    RunAddFile,
});

const CommandRegistrar kAddFolder({
    "add-folder",
    "add-folder SCHEME PATH...",
    "add folder entries to a Scheme",
    std::string(kSchemeArgHelp) +
        "\nAs add, but every PATH becomes a folder entry, whatever it names.",
    {},
    2,
    SIZE_MAX,
    RunAddFolder,
});

const CommandRegistrar kRemove({
    "remove",
    "remove SCHEME PATH...",
    "remove files and folders from a Scheme",
    std::string(kSchemeArgHelp) +
        "\nRemoves the file entry and the folder entry of each PATH (as given, or made\n"
        "absolute). A PATH the Scheme does not list is named on stderr and the exit\n"
        "status is 1.",
    {},
    2,
    SIZE_MAX,
    RunRemove,
});

const CommandRegistrar kExclude({
    "exclude",
    "exclude SCHEME FOLDER [EXT...]",
    "set the extensions a folder's Backups leave out",
    std::string(kSchemeArgHelp) +
        "\nReplaces the excluded extensions of the folder entry FOLDER with EXT...\n"
        "(none: exclude nothing). As in the folder properties dialog: one leading \".\"\n"
        "is dropped, extensions holding \\ / : * ? \" < > | or only blanks are dropped,\n"
        "and of extensions equal but for letter case the first is kept.\n"
        "Example: tessarook-cli exclude Work ~/src tmp .o",
    {},
    2,
    SIZE_MAX,
    RunExclude,
});

}  // namespace

}  // namespace tessarook::cli
