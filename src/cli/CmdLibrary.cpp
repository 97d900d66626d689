// SPDX-License-Identifier: GPL-3.0-or-later
// The library and exchange commands: schemes, delete, rename, duplicate, export,
// import, watch.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "Cli.h"
#include "backup/BackupStore.h"
#include "exchange/CsmReader.h"
#include "exchange/CsmWriter.h"
#include "library/SchemeLibrary.h"
#include "monitor/FolderWatcher.h"
#include "scheme/SchemePaths.h"
#include "settings/UserPlaces.h"
#include "shell/NameCheck.h"
#include "util/PathUtil.h"
#include "util/SamePath.h"

namespace tessarook::cli {

namespace {

namespace fs = std::filesystem;

// The exchange jobs' progress on the terminal bar.
class BarProgress : public CExchangeProgress {
 public:
  BarProgress(const Context& ctx, std::string label) : m_bar(ctx, std::move(label)) {}
  void Hide() override { m_bar.Finish(); }
  void SetRange(uint32_t upper) override {
    m_upper = upper;
    m_bar.Update(m_pos, m_upper);
  }
  void SetPos(uint32_t pos) override { m_pos = pos; }
  void Step() override { m_bar.Update(++m_pos, m_upper); }

 private:
  ProgressBar m_bar;
  uint32_t m_upper = 0;
  uint32_t m_pos = 0;
};

bool ExistsAnything(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

int Missing(const CSchemeLibrary& lib, const std::string& name) {
  Error("no Scheme named " + name + " in " + lib.Dir());
  return kExitFailure;
}

int ExistsAlready(const std::string& name) {
  Error("A Scheme with such name already exists in My Schemes folder: " + name +
        " (use --force to overwrite it)");
  return kExitFailure;
}

void NameSkipped(const std::vector<std::string>& skipped, const std::string& what) {
  for (const std::string& s : skipped) Error(what + ": " + s);
}

// "skipped": the files an export (by path) or import (by name in the Backups
// folder) left out, as {`key`} objects.
void WriteSkipped(CJsonWriter& json, const char* key, const std::vector<std::string>& skipped) {
  json.Key("skipped").BeginArray();
  for (const std::string& s : skipped) json.BeginObject().Bytes(key, s).EndObject();
  json.EndArray();
}

// After a change of the My Schemes folder failed: the cause, when it is a
// folder the user may not write to.
void NameFolderProblem(const CSchemeLibrary& lib) {
  std::string why;
  if (!PrepareSchemesFolder(lib.Dir(), &why)) Error(why);
}

}  // namespace

int RunSchemes(const Context& ctx, const Args& args) {
  const CSchemeLibrary lib(ctx.SchemesDir());
  if (args.Has("--json")) {
    CJsonWriter json;
    json.BeginObject().Bytes("schemes_dir", lib.Dir()).Key("schemes").BeginArray();
    for (const std::string& name : lib.List())
      json.BeginObject().Bytes("name", name).Bytes("scheme", lib.SchemeFile(name)).EndObject();
    std::cout << json.EndArray().EndObject().Text();
    return kExitOk;
  }
  for (const std::string& name : lib.List()) std::cout << name << "\n";
  return kExitOk;
}

int RunDelete(const Context& ctx, const Args& args) {
  CSchemeLibrary lib = FollowingLibrary(ctx);
  const std::string& name = args.positional[0];
  if (lib.Exists(name) &&
      !Confirm(args, "delete the Scheme \"" + name + "\" and its " +
                         BackupCountText(lib.SchemeFile(name)) + "? This cannot be undone.")) {
    Error("nothing was deleted");
    return kExitFailure;
  }
  switch (lib.Delete(name)) {
    case LibraryResult::kDone:
      return ScheduleFollowed(lib) ? kExitOk : kExitSkipped;
    case LibraryResult::kUnchanged:
      return kExitOk;
    case LibraryResult::kBadName:
      Error("not a Scheme name: " + name);
      return kExitUsage;
    case LibraryResult::kMissing:
      return Missing(lib, name);
    case LibraryResult::kBusy:
      Error(std::string(kSchemeBackupBeingWrittenText) + " Nothing was deleted: " + name);
      return kExitFailure;
    case LibraryResult::kFailed:
    case LibraryResult::kCancelled:  // nothing here cancels
      break;
  }
  NameFolderProblem(lib);
  Error("could not delete all of the Scheme " + name);
  return kExitFailure;
}

namespace {

// rename and duplicate: the same checks, then the library operation.
int MoveOrCopy(const Context& ctx, const Args& args, bool copy) {
  CSchemeLibrary lib = FollowingLibrary(ctx);
  const std::string& oldName = args.positional[0];
  const std::string& newName = args.positional[1];
  if (!CSchemeLibrary::IsValidNewName(newName)) {
    Error(newName.empty() || newName == "." || newName == ".."
              ? "not a Scheme name: " + newName
              : std::string(InvalidNameReason(newName)));
    return kExitUsage;
  }
  if (!lib.Exists(oldName)) return Missing(lib, oldName);
  const bool same = SamePath(lib.SchemeFile(oldName), lib.SchemeFile(newName));
  if (!same && lib.Exists(newName) && !args.Has("--force")) return ExistsAlready(newName);
  const LibraryResult result =
      copy ? lib.Duplicate(oldName, newName) : lib.Rename(oldName, newName);
  switch (result) {
    case LibraryResult::kDone:
      return ScheduleFollowed(lib) ? kExitOk : kExitSkipped;
    case LibraryResult::kUnchanged:
      return kExitOk;
    case LibraryResult::kBadName:
      Error("not a Scheme name: " + oldName);
      return kExitUsage;
    case LibraryResult::kMissing:
      return Missing(lib, oldName);
    case LibraryResult::kBusy:
      Error(std::string(kSchemeBackupBeingWrittenText) + " Nothing was changed.");
      return kExitFailure;
    case LibraryResult::kFailed:
    case LibraryResult::kCancelled:  // nothing here cancels
      break;
  }
  NameFolderProblem(lib);
  Error(std::string("could not ") + (copy ? "duplicate" : "rename") + " all of the Scheme " +
        oldName);
  return kExitFailure;
}

}  // namespace

int RunRename(const Context& ctx, const Args& args) { return MoveOrCopy(ctx, args, false); }

int RunDuplicate(const Context& ctx, const Args& args) { return MoveOrCopy(ctx, args, true); }

int RunExport(const Context& ctx, const Args& args) {
  CSchemeLibrary lib(ctx.SchemesDir());
  const std::string& name = args.positional[0];
  const std::string& file = args.positional[1];
  if (!lib.Exists(name)) return Missing(lib, name);
  if (ExistsAnything(file) && !args.Has("--force")) {
    Error(file + " exists already (use --force to replace it)");
    return kExitFailure;
  }
  BarProgress progress(ctx, "Export");
  CCsmWriter writer(lib.Dir());
  writer.SetProgress(&progress);
  writer.SetStopFlag(&InterruptFlag());
  const ExportResult result = writer.Run(name, file);
  if (result == ExportResult::kStopped) return kExitInterrupted;
  if (result != ExportResult::kDone) {
    Error(std::string(ExportMessage(result)) + ": " + file);
    return kExitFailure;
  }
  if (ctx.json) {
    CJsonWriter json;
    json.BeginObject().Bytes("scheme", lib.SchemeFile(name)).Bytes("name", name);
    json.Bytes("file", AbsolutePath(file)).Key("records").Number(writer.Records());
    json.Key("size").Number(writer.Bytes());
    WriteSkipped(json, "path", writer.Skipped());
    std::cout << json.EndObject().Text();
  } else {
    std::cout << file << "\t" << writer.Records() << "\t" << writer.Bytes() << "\n";
  }
  NameSkipped(writer.Skipped(), "left out (cannot be read or carried)");
  return writer.Skipped().empty() ? kExitOk : kExitSkipped;
}

int RunImport(const Context& ctx, const Args& args) {
  CSchemeLibrary lib(ctx.SchemesDir());
  const std::string& file = args.positional[0];
  CsmSummary summary;
  const ImportResult checked = CCsmReader::Inspect(file, summary);
  if (checked != ImportResult::kDone) {
    Error(std::string(ImportMessage(checked)) + ": " + file);
    return kExitFailure;
  }
  if (lib.Exists(summary.name) && !args.Has("--force")) return ExistsAlready(summary.name);
  std::string why;
  if (!PrepareSchemesFolder(lib.Dir(), &why)) {
    Error(why);
    return kExitFailure;
  }
  BarProgress progress(ctx, "Import");
  CCsmReader reader(lib.Dir());
  reader.SetProgress(&progress);
  reader.SetStopFlag(&InterruptFlag());
  const ImportResult result = reader.Run(file);
  if (result == ImportResult::kStopped) return kExitInterrupted;
  if (result != ImportResult::kDone) {
    Error(std::string(ImportMessage(result)) + ": " + file);
    return kExitFailure;
  }
  if (ctx.json) {
    CJsonWriter json;
    json.BeginObject().Bytes("scheme", lib.SchemeFile(reader.Name())).Bytes("name", reader.Name());
    json.Bytes("file", AbsolutePath(file));
    WriteSkipped(json, "name", reader.Skipped());
    std::cout << json.EndObject().Text();
  } else {
    std::cout << reader.Name() << "\n";
  }
  NameSkipped(reader.Skipped(), "not placed in the Backups folder");
  return reader.Skipped().empty() ? kExitOk : kExitSkipped;
}

namespace {

// Prints each reported change at once; runs on the watcher's thread.
class PrintingWatcher : public CFolderWatcher {
 public:
  ~PrintingWatcher() override { Stop(); }

 protected:
  int OnChange(const CFileSnapshotItem& item, ChangeKind kind) override {
    const char* word = kind == ChangeKind::kCreated   ? "created"
                       : kind == ChangeKind::kDeleted ? "deleted"
                       : kind == ChangeKind::kChanged ? "changed"
                                                      : nullptr;
    if (!word) return 0;
    const std::string line = std::string(word) + "\t" + item.FullPath() + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return 0;
  }
};

}  // namespace

int RunWatch(const Context&, const Args& args) {
  std::string dir = args.positional[0];
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (!FolderExists(dir)) {
    Error("not a folder: " + dir);
    return kExitFailure;
  }
  PrintingWatcher watcher;
  watcher.SetPath(dir);
  if (!watcher.Start()) {
    Error("cannot watch " + dir);
    return kExitFailure;
  }
  while (!InterruptFlag().load()) {
    if (watcher.HasEnded()) {
      watcher.Stop();
      Error("stopped watching " + dir + ": the folder is gone or cannot be watched");
      return kExitFailure;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  watcher.Stop();
  return kExitInterrupted;
}

}  // namespace tessarook::cli
