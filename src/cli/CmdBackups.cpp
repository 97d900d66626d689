// SPDX-License-Identifier: GPL-3.0-or-later
// The Backups commands: backup, backups, contents, restore, extract, verify,
// delete-backup, rename-backup, duplicate-backup.

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Cli.h"
#include "backup/BackupArchive.h"
#include "backup/BackupJob.h"
#include "backup/BackupStore.h"
#include "backup/BackupVerifier.h"
#include "backup/RestoreJob.h"
#include "library/SchemePush.h"
#include "library/SchemeRecord.h"
#include "scheme/Scheme.h"
#include "scheme/SchemePaths.h"
#include "shell/NameCheck.h"
#include "util/IsoTime.h"
#include "util/SamePath.h"

namespace tessarook::cli {

namespace {

namespace fs = std::filesystem;

const char* const kExistsText = "A Backup with such name already exists in this Scheme: ";

class BarSink : public IProgressSink {
 public:
  BarSink(const Context& ctx, std::string label) : m_bar(ctx, std::move(label)) {}
  // Called on the command's own thread.
  void OnProgress(uint64_t done, uint64_t total) override { m_bar.Update(done, total); }
  void OnBytes(uint64_t done, uint64_t total) override { m_bar.UpdateBytes(done, total); }
  void Finish() { m_bar.Finish(); }

 private:
  ProgressBar m_bar;
};

// A BACKUP argument must be a plain name: it must not address a file outside
// the Backups folder.
bool CheckName(const std::string& name) {
  if (name.empty()) {
    Error("the Backup name is empty");
    return false;
  }
  if (HasForbiddenNameChar(name)) {
    Error(std::string(InvalidNameReason(name)));
    return false;
  }
  return true;
}

// The store of a SCHEME argument whose scheme file exists.
bool OpenStore(const Context& ctx, const std::string& arg, std::string& schemeFile) {
  schemeFile = ctx.SchemeFile(arg);
  std::error_code ec;
  if (!fs::is_regular_file(schemeFile, ec)) {
    Error("no such Scheme: " + schemeFile);
    return false;
  }
  return true;
}

// The Backup a BACKUP argument names: "latest" is the newest one unless a
// Backup has that name. Empty (the reason on stderr) when there is none.
std::string BackupName(const CBackupStore& store, const std::string& arg) {
  std::string name = ResolveBackupName(store, arg);
  if (name.empty()) Error("the Scheme has no Backups, so there is no latest one");
  return name;
}

bool RequireBackup(const CBackupStore& store, const std::string& name) {
  if (store.Exists(name)) return true;
  Error("no such Backup: " + name);
  return false;
}

// Opens a Backup for reading with its manifest, reporting as the Backup
// contents window does. A Backup whose list of files is damaged is reported
// on stderr; with `damaged` given the caller goes on with the files that
// could be listed (and fails in the end), otherwise it counts as a failure.
bool OpenBackup(const CBackupStore& store, const std::string& name, CBackupArchive& archive,
                bool* damaged) {
  if (!archive.Open(store.GetBackupPath(name))) {
    // The desktop program says "doesn't exist" for both; here the real reason.
    struct stat st {};
    if (::stat(store.GetBackupPath(name).c_str(), &st) == 0)
      Error("not a readable Backup: " + store.GetBackupPath(name) + ": " + archive.LastError());
    else
      Error("The Backup file doesn't exist: " + store.GetBackupPath(name));
    return false;
  }
  if (!archive.ReadManifest()) {
    Error("The Backup appears to be damaged or incomplete: " + store.GetBackupPath(name));
    return false;
  }
  const std::string damage = archive.Damage();
  if (!damage.empty()) {
    Error("The Backup appears to be damaged or incomplete: " + store.GetBackupPath(name) + ": " +
          damage + (damaged ? "; going on with the files it lists" : ""));
    if (!damaged) return false;
    *damaged = true;
  }
  return true;
}

// The Backup named by "SCHEME BACKUP ...": the scheme file and the Backup's
// name ("latest" resolved), and with `mustExist` the Backup file is there; an
// exit status other than kExitOk when not (the reason is on stderr).
int NameSchemeBackup(const Context& ctx, const Args& args, std::string& schemeFile,
                     std::string& name, bool mustExist) {
  if (!OpenStore(ctx, args.positional[0], schemeFile)) return kExitFailure;
  if (!CheckName(args.positional[1])) return kExitUsage;
  const CBackupStore store(schemeFile);
  name = BackupName(store, args.positional[1]);
  if (name.empty() || (mustExist && !RequireBackup(store, name))) return kExitFailure;
  return kExitOk;
}

// The Backup named by "SCHEME BACKUP ..." opened with its manifest read; an exit
// status other than kExitOk when that cannot be done (the reason is on stderr).
// `damaged` as for OpenBackup; `name` receives the Backup's name ("latest"
// resolved).
int OpenSchemeBackup(const Context& ctx, const Args& args, CBackupArchive& archive,
                     bool* damaged = nullptr, std::string* name = nullptr,
                     std::string* scheme = nullptr) {
  std::string schemeFile, backup;
  if (const int status = NameSchemeBackup(ctx, args, schemeFile, backup, false); status != kExitOk)
    return status;
  if (scheme) *scheme = schemeFile;
  if (name) *name = backup;
  return OpenBackup(CBackupStore(schemeFile), backup, archive, damaged) ? kExitOk : kExitFailure;
}

// The Backup object of the Backup `name` (after a Key); its time and size
// null when the file is gone.
void WriteBackupRef(CJsonWriter& json, const CBackupStore& store, const std::string& name) {
  BackupInfo info;
  if (store.GetInfo(name, info))
    WriteBackupJson(json, info);
  else
    json.BeginObject().Bytes("name", name).Key("time").Null().Key("size").Null().EndObject();
}

// The members every document about one Backup starts with: "scheme" (the
// scheme file) and "backup" (the Backup object; its time and size null when
// the file is gone).
void WriteSchemeAndBackup(CJsonWriter& json, const std::string& schemeFile,
                          const std::string& name) {
  json.Bytes("scheme", schemeFile).Key("backup");
  WriteBackupRef(json, CBackupStore(schemeFile), name);
}

std::string DefaultBackupName() { return BackupNameForTime(time(nullptr)); }

// Manifest positions whose path is `given` (as typed, or made absolute).
std::vector<size_t> PositionsOf(const CBackupArchive& archive, const std::string& given) {
  std::vector<size_t> out;
  const std::string absolute = AbsolutePath(given);
  for (size_t i = 0; i < archive.paths.size(); ++i)
    if (SamePath(archive.paths[i], given) || SamePath(archive.paths[i], absolute)) out.push_back(i);
  return out;
}

// What a Backup's end leaves in the Scheme's record; `schemeFile` stays empty
// when there is no Scheme to keep a record for.
struct BackupRun {
  std::string schemeFile;
  BackupEndNote note;
  // With --json: the document, still open for the push's member.
  std::optional<CJsonWriter> json;
};

// The compression level --level asks for, 0 without it; kExitUsage (the
// reason on stderr) when it is no level.
int ParseLevel(const Args& args, int& level) {
  level = 0;
  if (!args.Has("--level")) return kExitOk;
  const std::string value = args.Get("--level");
  if (value.size() != 1 || value[0] < '1' || value[0] > '9') {
    Error("--level needs a compression level from 1 (fastest) to 9 (smallest), not '" + value +
          "'");
    return kExitUsage;
  }
  level = value[0] - '0';
  return kExitOk;
}

// Reads the Scheme a Backup is taken of; false (the reason on stderr) when
// it cannot be read or lists nothing to back up.
bool LoadSchemeToBack(const std::string& schemeFile, CScheme& scheme) {
  const SchemeError err = scheme.Load(schemeFile);
  if (err != SchemeError::kOk) {
    Error(SchemeErrorText(err, schemeFile));
    return false;
  }
  if (scheme.m_files.empty() && scheme.m_folders.empty()) {
    Error("the Scheme lists no files or folders: " + schemeFile);
    return false;
  }
  return true;
}

// The name's lock is held from the check for an existing Backup on, so that
// two Backups of one name never both succeed. --force waits for a Backup of
// the name being written elsewhere, then replaces it. kExitOk with the lock
// held, else the exit status (the reason on stderr).
int LockNewBackup(const Args& args, const CBackupStore& store, const std::string& name,
                  CBackupNameLock& lock) {
  const std::string path = store.GetBackupPath(name);
  std::string lockError;
  CBackupNameLock::Outcome locked = lock.Acquire(path, false, &InterruptFlag(), &lockError);
  if (locked == CBackupNameLock::Outcome::kBusy) {
    if (!args.Has("--force")) {
      Error("another Backup of this name is being written: " + name +
            " (use --force to wait for it and replace it)");
      return kExitFailure;
    }
    Error("waiting for the other Backup of this name to finish: " + name);
    locked = lock.Acquire(path, true, &InterruptFlag(), &lockError);
  }
  if (locked == CBackupNameLock::Outcome::kCancelled) {
    Error("interrupted; no Backup was written");
    return kExitInterrupted;
  }
  if (locked == CBackupNameLock::Outcome::kFailed) {
    Error("the Backup could not be written: " + lockError);
    return kExitFailure;
  }
  if (store.Exists(name) && !args.Has("--force")) {
    Error(kExistsText + name + " (use --force to replace it)");
    return kExitFailure;
  }
  return kExitOk;
}

// Writes the Backup with a progress bar; its result, whose files go to the
// Scheme's record.
BackupJobResult WriteBackup(const Context& ctx, const Args& args, const CScheme& scheme,
                            const std::string& path, int level, CBackupNameLock& lock,
                            BackupRun& run) {
  CBackupJob job(scheme.m_files, scheme.m_folders);
  job.SetJobs(ctx.jobs);
  job.SetReread(args.Has("--reread"));
  job.SetLevel(level != 0 ? level : ctx.CompressionLevel());
  BarSink bar(ctx, "Backup");
  BackupJobResult result = job.Run(path, InterruptFlag(), &bar, &lock);
  bar.Finish();
  run.note.files = result.filesStored;
  run.note.skipped = result.skipped.size();
  return result;
}

// The exit status a written Backup ends with; what was skipped or changed
// while read is said on stderr.
int StatusOfWritten(const BackupJobResult& result) {
  switch (result.status) {
    case BackupJobResult::Status::kCancelled:
      Error("interrupted; the unfinished Backup was removed");
      return kExitInterrupted;
    case BackupJobResult::Status::kFailed:
      Error("the Backup could not be written: " + result.error);
      return kExitFailure;
    case BackupJobResult::Status::kDone:
      break;
  }
  for (const SkippedFile& s : result.skipped) Error("skipped " + s.path + ": " + s.reason);
  for (const std::string& changed : result.changed)
    Error("changed while read: " + changed + " (stored as it was read)");
  return result.skipped.empty() && result.changed.empty() ? kExitOk : kExitSkipped;
}

// The Backup files were copied from, as it was before pruning may take it.
BackupInfo ParentOf(const CBackupStore& store, const BackupJobResult& result) {
  BackupInfo parent;
  if (!result.parent.empty() && !store.GetInfo(fs::path(result.parent).stem().string(), parent))
    parent.name = fs::path(result.parent).stem().string();
  return parent;
}

// Old Backups go only once this one is written: skipped files do not stop
// that (the Backup holds everything that could be read), a failure does.
// The new Backup itself stays whatever the clock says about its time.
void PruneAfterBackup(const Context& ctx, const CBackupStore& store, const KeepPolicy& policy,
                      const std::string& name, PruneOutcome& pruned, int& status) {
  if (!policy.Any()) return;
  PruneOptions options;
  options.protect = {name};
  if (PruneAndReport(store, policy, options, pruned) != kExitOk) status = kExitSkipped;
  if (!ctx.quiet && !ctx.json)  // the JSON document lists them
    for (const BackupInfo& b : pruned.deleted) Error("deleted the old Backup " + b.name);
}

// Says what the Backup holds: a line on stdout, or with --json the document
// (left open for the push's member).
void ReportBackup(const Args& args, const std::string& name, const BackupJobResult& result,
                  const BackupInfo& parent, const PruneOutcome& pruned, BackupRun& run) {
  if (!args.Has("--json")) {
    std::cout << name << "\t" << result.filesStored << "\t" << result.archiveSize << "\n";
    return;
  }
  CJsonWriter& json = run.json.emplace();
  json.BeginObject();
  WriteSchemeAndBackup(json, run.schemeFile, name);
  json.Key("files").Number(result.filesStored);
  // The earlier Backup unchanged files were copied from, and how many.
  json.Key("parent");
  if (parent.name.empty())
    json.Null();
  else
    WriteBackupJson(json, parent);
  json.Key("reused").Number(result.filesReused);
  json.Key("skipped").BeginArray();
  for (const SkippedFile& s : result.skipped)
    json.BeginObject().Bytes("path", s.path).Key("reason").String(s.reason).EndObject();
  json.EndArray().Key("changed").BeginArray();
  for (const std::string& changed : result.changed)
    json.BeginObject().Bytes("path", changed).EndObject();
  json.EndArray().Key("pruned").BeginArray();
  for (const BackupInfo& b : pruned.deleted) WriteBackupJson(json, b);
  json.EndArray();
}

int TakeBackup(const Context& ctx, const Args& args, BackupRun& run) {
  KeepPolicy policy;
  if (const int status = ParseKeepPolicy(args, policy); status != kExitOk) return status;
  int level = 0;
  if (const int status = ParseLevel(args, level); status != kExitOk) return status;
  std::string schemeFile;
  if (!OpenStore(ctx, args.positional[0], schemeFile)) return kExitFailure;
  const std::string name = args.positional.size() > 1 ? args.positional[1] : DefaultBackupName();
  if (!CheckName(name)) return kExitUsage;
  run.schemeFile = schemeFile;
  run.note.name = name;
  run.note.started = int64_t(time(nullptr)) * 1000000000;
  // Without rules of its own, a Backup keeps what the Scheme's record says.
  if (!policy.Any()) policy = CSchemeRecords(ctx.RecordsFile()).Get(schemeFile).keep;
  CScheme scheme;
  if (!LoadSchemeToBack(schemeFile, scheme)) return kExitFailure;
  const CBackupStore store(schemeFile);
  CBackupNameLock lock;
  if (const int status = LockNewBackup(args, store, name, lock); status != kExitOk) return status;
  const BackupJobResult result =
      WriteBackup(ctx, args, scheme, store.GetBackupPath(name), level, lock, run);
  int status = StatusOfWritten(result);
  if (result.status != BackupJobResult::Status::kDone) return status;
  const BackupInfo parent = ParentOf(store, result);
  PruneOutcome pruned;
  PruneAfterBackup(ctx, store, policy, name, pruned, status);
  ReportBackup(args, name, result, parent, pruned, run);
  return status;
}

BackupEnd EndOf(int status) {
  switch (status) {
    case kExitOk:
      return BackupEnd::kOk;
    case kExitSkipped:
      return BackupEnd::kSkipped;
    case kExitFailure:
      return BackupEnd::kFailed;
    default:
      return status >= 128 ? BackupEnd::kInterrupted : BackupEnd::kNone;
  }
}

}  // namespace

namespace {

// After a Backup was written: the push to the Scheme's remote, when its
// record names one. A failed push leaves the Backup's exit status as it is
// (the Backup is there and good); it is said on stderr, noted in the record
// and, with --notify, sent as a notification. An interrupted one ends the
// program as any interruption does.
int PushAfterBackup(const Context& ctx, const Args& args, BackupRun& run, int status) {
  CSchemeRecords records(ctx.RecordsFile());
  PushOptions options;
  options.cancel = &InterruptFlag();
  ProgressBar bar(ctx, "Push");
  options.progress = [&bar](uint64_t done, uint64_t total) { bar.UpdateBytes(done, total); };
  const std::optional<SchemePush> push = PushToSchemeRemote(records, run.schemeFile, options);
  bar.Finish();
  if (run.json) {
    run.json->Key("push");
    if (push)
      WritePushJson(*run.json, run.schemeFile, push->remote, push->result);
    else
      run.json->Null();
    std::cout << run.json->EndObject().Text();
  }
  if (!push) return status;
  if (!push->recordError.empty())
    Error("how the push ended could not be recorded: " + push->recordError);
  const std::string& scheme = args.positional[0];
  switch (push->end) {
    case PushEnd::kOk:
      if (!ctx.quiet && !ctx.json)
        Error("copied to " + push->remote + ": " + std::to_string(push->result.sent.size()) +
              " Backup(s) sent");
      return status;
    case PushEnd::kInterrupted:
      Error("the Backup was taken; its copy to " + push->remote +
            " was interrupted (the remote lists nothing half-sent)");
      return kExitInterrupted;
    default:
      break;
  }
  Error("the Backup was taken, but its copy to " + push->remote +
        (push->end == PushEnd::kIncomplete ? " is incomplete: " : " failed: ") + push->reason);
  if (args.Has("--notify"))
    NotifyDesktop("Tessarook: the off-site copy of " + scheme + " failed",
                  push->remote + ": " + push->reason, true);
  return status;
}

}  // namespace

int RunBackup(const Context& ctx, const Args& args) {
  // What went wrong goes to the Scheme's record, and with --notify to the desktop.
  const MessageCapture messages;
  BackupRun run;
  int status = TakeBackup(ctx, args, run);
  run.note.end = EndOf(status);
  // Files changed while read, or an old Backup that could not be pruned, still
  // make a complete Backup.
  if (run.note.end == BackupEnd::kSkipped && run.note.skipped == 0) run.note.end = BackupEnd::kOk;
  if (!run.schemeFile.empty() && run.note.end != BackupEnd::kNone) {
    if (run.note.end == BackupEnd::kFailed || run.note.end == BackupEnd::kInterrupted) {
      const std::vector<std::string> last = messages.Lines(1);
      if (!last.empty()) run.note.error = last.back();
    }
    CSchemeRecords records(ctx.RecordsFile());
    std::string error;
    if (!NoteBackupEnd(records, run.schemeFile, run.note, &error))
      Error("how the Backup ended could not be recorded: " + error);
  }
  // A Backup written (also with files skipped) goes to the Scheme's remote.
  if (run.note.end == BackupEnd::kOk || run.note.end == BackupEnd::kSkipped)
    status = PushAfterBackup(ctx, args, run, status);
  if (status == kExitOk || !args.Has("--notify")) return status;
  const std::string& scheme = args.positional[0];
  std::string summary = "Tessarook: the Backup of " + scheme + " failed";
  if (status == kExitSkipped)
    summary = "Tessarook: the Backup of " + scheme + " was taken, but not completely";
  else if (status == kExitInterrupted)
    summary = "Tessarook: the Backup of " + scheme + " was interrupted";
  std::string body;
  for (const std::string& line : messages.Lines(5)) body += (body.empty() ? "" : "\n") + line;
  NotifyDesktop(summary, body, status != kExitSkipped);
  return status;
}

int RunBackups(const Context& ctx, const Args& args) {
  std::string schemeFile;
  if (!OpenStore(ctx, args.positional[0], schemeFile)) return kExitFailure;
  const std::string sort = args.Get("--sort", "time");
  BackupSort order;
  if (sort == "name")
    order = BackupSort::kName;
  else if (sort == "time")
    order = BackupSort::kTime;
  else if (sort == "size")
    order = BackupSort::kSize;
  else {
    Error("--sort takes name, time or size");
    return kExitUsage;
  }
  std::vector<BackupInfo> list = CBackupStore(schemeFile).List();
  SortBackups(list, order);
  if (args.Has("--json")) {
    CJsonWriter json;
    json.BeginObject().Bytes("scheme", schemeFile).Key("backups").BeginArray();
    for (const BackupInfo& b : list) WriteBackupJson(json, b);
    std::cout << json.EndArray().EndObject().Text();
    return kExitOk;
  }
  for (const BackupInfo& b : list)
    std::cout << b.name << "\t" << BackupTimeText(b) << "\t" << b.size << "\n";
  return kExitOk;
}

int RunContents(const Context& ctx, const Args& args) {
  CBackupArchive archive;
  std::string name;
  bool damaged = false;
  std::string schemeFile;
  if (const int status = OpenSchemeBackup(ctx, args, archive, &damaged, &name, &schemeFile);
      status != kExitOk)
    return status;
  if (args.Has("--json")) {
    CJsonWriter json;
    json.BeginObject();
    WriteSchemeAndBackup(json, schemeFile, name);
    json.Key("files").Number(archive.paths.size()).Key("entries").BeginArray();
    for (size_t i = 0; i < archive.paths.size(); ++i)
      json.BeginObject().Key("index").Number(i).Bytes("path", archive.paths[i]).EndObject();
    std::cout << json.EndArray().Key("damaged").Bool(damaged).EndObject().Text();
    return damaged ? kExitFailure : kExitOk;
  }
  for (size_t i = 0; i < archive.paths.size(); ++i)
    std::cout << i << "\t" << archive.paths[i] << "\n";
  return damaged ? kExitFailure : kExitOk;
}

namespace {

// A restore's failure as text: the reason, without the path when it starts
// by naming it again.
std::string FailureReason(const RestoreFailure& f) {
  const std::string named = f.path + ": ";
  const bool repeats = !f.path.empty() && f.reason.compare(0, named.size(), named) == 0;
  return repeats ? f.reason.substr(named.size()) : f.reason;
}

std::string FailureName(const RestoreFailure& f) {
  return f.path.empty() ? "#" + std::to_string(f.position) : f.path;
}

// The JSON document of a restore: what restore and restore --dry-run share,
// then the caller's members, then the end.
class RestoreJson {
 public:
  RestoreJson(const std::string& schemeFile, const std::string& name, const std::string& to,
              bool dryRun) {
    json_.BeginObject();
    WriteSchemeAndBackup(json_, schemeFile, name);
    if (to.empty())
      json_.Key("to").Null();
    else
      json_.Bytes("to", to);
    json_.Key("dry_run").Bool(dryRun);
  }
  CJsonWriter& json() { return json_; }
  // One file: "index", "path", "destination".
  CJsonWriter& BeginFile(const CBackupArchive& archive, size_t position,
                         const std::string& destination) {
    return json_.BeginObject()
        .Key("index")
        .Number(position)
        .Bytes("path", archive.paths[position])
        .Bytes("destination", destination);
  }
  // "failed" (files not restored: "index", "path", "reason") and "missing"
  // (paths asked for that the Backup does not hold), then the end.
  std::string Finish(const std::vector<RestoreFailure>& failed,
                     const std::vector<std::string>& missing) {
    json_.Key("failed").BeginArray();
    for (const RestoreFailure& f : failed)
      json_.BeginObject()
          .Key("index")
          .Number(f.position)
          .Bytes("path", f.path)
          .Key("reason")
          .String(FailureReason(f))
          .EndObject();
    json_.EndArray().Key("missing").BeginArray();
    for (const std::string& m : missing) json_.String(m);
    return json_.EndArray().EndObject().Text();
  }

 private:
  CJsonWriter json_;
};

int ForeseeRestore(CBackupArchive& archive, const std::vector<RestoreItem>& items,
                   std::vector<RestoreFailure>& refused, bool failing, RestoreJson* json);

}  // namespace

int RunRestore(const Context& ctx, const Args& args) {
  CBackupArchive archive;
  // A damaged list restores the files it names, and the command fails in the end.
  bool damaged = false;
  std::string name, schemeFile;
  if (const int status = OpenSchemeBackup(ctx, args, archive, &damaged, &name, &schemeFile);
      status != kExitOk)
    return status;

  std::vector<std::string> missing;
  std::vector<size_t> positions;
  if (args.positional.size() <= 2) {
    for (size_t i = 0; i < archive.paths.size(); ++i) positions.push_back(i);
  } else {
    for (size_t a = 2; a < args.positional.size(); ++a) {
      const std::vector<size_t> found = PositionsOf(archive, args.positional[a]);
      if (found.empty()) {
        Error("not in the Backup: " + args.positional[a]);
        missing.push_back(args.positional[a]);
      }
      positions.insert(positions.end(), found.begin(), found.end());
    }
  }
  std::string to;
  if (args.Has("--to")) {
    if (args.Get("--to").empty()) {
      Error("--to needs a folder");
      return kExitUsage;
    }
    to = AbsolutePath(args.Get("--to"));
  }
  std::vector<RestoreFailure> failed;
  const std::vector<RestoreItem> items = CRestoreJob::Plan(archive, positions, to, failed);
  std::optional<RestoreJson> json;
  if (ctx.json) json.emplace(schemeFile, name, to, args.Has("--dry-run"));
  if (args.Has("--dry-run")) {
    const int status = ForeseeRestore(archive, items, failed, damaged || !missing.empty(),
                                      json ? &*json : nullptr);
    if (json) std::cout << json->Finish(failed, missing);
    return status;
  }
  BarSink bar(ctx, "Restore");
  RestoreResult result = CRestoreJob::Run(archive, items, &InterruptFlag(), &bar, ctx.jobs);
  bar.Finish();
  if (json) {
    json->json().Key("files").Number(result.restored.size());
    json->json().Key("created").Number(result.created).Key("replaced").Number(result.replaced);
    json->json().Key("same").Number(result.same).Key("restored").BeginArray();
    for (size_t position : result.restored) {
      std::string destination;
      for (const RestoreItem& item : items)
        if (item.position == position) destination = item.destination;
      json->BeginFile(archive, position, destination).EndObject();
    }
    json->json().EndArray();
  } else {
    for (size_t position : result.restored) std::cout << archive.paths[position] << "\n";
  }
  failed.insert(failed.end(), result.failed.begin(), result.failed.end());
  if (json) std::cout << json->Finish(failed, missing);
  bool onlySkipped = missing.empty();
  bool needsFolder = false;
  bool damagedEntry = false;
  for (const RestoreFailure& f : failed) {
    Error("not restored " + FailureName(f) + ": " + FailureReason(f));
    onlySkipped = onlySkipped && f.skipped;
    needsFolder = needsFolder || f.needsFolder;
    damagedEntry = damagedEntry || f.damaged;
  }
  if (needsFolder) Error("files of a Backup made on Windows can be restored only with --to DIR");
  if (result.cancelled) {
    Error("interrupted; the file being restored was left as it was");
    return kExitInterrupted;
  }
  result.failed = failed;
  // The summary is in the JSON document's counts.
  if (!ctx.quiet && !json) Error("restored: " + RestoreSummaryText(result));
  // Damage met in the Backup is a failure of the Backup, never a skip.
  if (damaged || damagedEntry) {
    if (damagedEntry)
      Error("The Backup appears to be damaged: files named above hold damaged data");
    return kExitFailure;
  }
  if (failed.empty() && missing.empty()) return kExitOk;
  // Files left alone because they may not be replaced are skipped, as
  // unreadable files are by a backup; anything else is a failure unless
  // something was restored.
  if (onlySkipped) return kExitSkipped;
  return result.restored.empty() ? kExitFailure : kExitSkipped;
}

namespace {

// restore --dry-run: one line per file, "create", "replace" with the reason or
// "same" (or with `json`, its "plan" member); files that would not be
// restored are named on stderr and join `refused`.
int ForeseeRestore(CBackupArchive& archive, const std::vector<RestoreItem>& items,
                   std::vector<RestoreFailure>& refused, bool failing, RestoreJson* json) {
  using Action = CZipExtractor::Foresight::Action;
  bool skipped = !refused.empty();
  for (const RestoreFailure& f : refused)
    Error("would not restore " + FailureName(f) + ": " + f.reason);
  if (json) json->json().Key("plan").BeginArray();
  for (const RestorePreview& p : CRestoreJob::Foresee(archive, items, &InterruptFlag())) {
    const std::string& path = p.destination;
    const char* action = p.foresight.action == Action::kCreate    ? "create"
                         : p.foresight.action == Action::kReplace ? "replace"
                         : p.foresight.action == Action::kSame    ? "same"
                                                                  : nullptr;
    if (!action) {
      Error("would not restore " + path + ": " + p.foresight.reason);
      RestoreFailure f;
      f.position = p.position;
      f.path = archive.paths[p.position];
      f.reason = p.foresight.reason;
      refused.push_back(f);
      skipped = true;
    } else if (json) {
      json->BeginFile(archive, p.position, path).Key("action").String(action);
      if (p.foresight.action == Action::kReplace)
        json->json().Key("reason").String(p.foresight.reason);
      json->json().EndObject();
    } else {
      std::cout << action << "\t" << path
                << (p.foresight.action == Action::kReplace ? "\t" + p.foresight.reason : "")
                << "\n";
    }
  }
  if (json) json->json().EndArray();
  if (InterruptFlag().load()) return kExitInterrupted;
  if (failing) return kExitFailure;
  return skipped ? kExitSkipped : kExitOk;
}

// extract ... -: the file's bytes on stdout as they are read; damage found
// at the end (a CRC that does not match) still fails the command.
int ExtractToStdout(CBackupArchive& archive, size_t position, const std::string& shown) {
  const int64_t index = archive.EntryIndexFor(position);
  if (index < 0) {
    Error("could not extract " + shown + ": the Backup holds no entry for it");
    return kExitFailure;
  }
  std::cout.flush();
  bool writeFailed = false;
  const bool read = archive.ReadData(index, [&](const char* data, size_t n) {
    writeFailed = std::fwrite(data, 1, n, stdout) != n;
    return !writeFailed && !InterruptFlag().load();
  });
  if (InterruptFlag().load()) return kExitInterrupted;
  if (writeFailed) return kExitFailure;  // named as output that could not be written
  if (!read) {
    Error("could not extract " + shown + ": " + archive.LastError());
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

int RunExtract(const Context& ctx, const Args& args) {
  CBackupArchive archive;
  if (const int status = OpenSchemeBackup(ctx, args, archive); status != kExitOk) return status;
  const std::vector<size_t> found = PositionsOf(archive, args.positional[2]);
  if (found.empty()) {
    Error("not in the Backup: " + args.positional[2]);
    return kExitFailure;
  }
  archive.SetCancelFlag(&InterruptFlag());
  if (args.positional[3] == "-") return ExtractToStdout(archive, found.front(), args.positional[2]);
  std::string error;
  if (!CRestoreJob::ExtractPosition(archive, found.front(), AbsolutePath(args.positional[3]),
                                    error)) {
    if (InterruptFlag().load()) return kExitInterrupted;
    Error("could not extract " + args.positional[2] + ": " + error);
    return kExitFailure;
  }
  return kExitOk;
}

int RunVerify(const Context& ctx, const Args& args) {
  std::string schemeFile, name;
  if (const int status = NameSchemeBackup(ctx, args, schemeFile, name, true); status != kExitOk)
    return status;
  const CBackupStore store(schemeFile);
  BarSink bar(ctx, "Verify");
  const VerifyResult result =
      VerifyBackup(store.GetBackupPath(name), &InterruptFlag(), &bar, ctx.jobs);
  bar.Finish();
  switch (result.status) {
    case VerifyResult::Status::kNotAZip:
      Error("not a readable Backup: " + result.error);
      return kExitFailure;
    case VerifyResult::Status::kNoManifest:
      Error("The Backup appears to be damaged or incomplete: no list.txt");
      return kExitFailure;
    case VerifyResult::Status::kCancelled:
      Error("interrupted");
      return kExitInterrupted;
    case VerifyResult::Status::kChecked:
      break;
  }
  if (args.Has("--json")) {
    CJsonWriter json;
    json.BeginObject();
    WriteSchemeAndBackup(json, schemeFile, name);
    json.Key("ok")
        .Bool(result.faults.empty())
        .Key("files")
        .Number(result.files)
        .Key("faults")
        .BeginArray();
    for (const VerifyFault& f : result.faults) {
      json.BeginObject().Key("index");
      if (f.index < 0)
        json.Null();
      else
        json.Number(f.index);
      json.Bytes("path", f.path).Key("reason").String(f.reason).EndObject();
    }
    std::cout << json.EndArray().EndObject().Text();
    return result.faults.empty() ? kExitOk : kExitFailure;
  }
  if (result.faults.empty()) {
    std::cout << "ok\t" << result.files << "\n";
    return kExitOk;
  }
  for (const VerifyFault& f : result.faults)
    std::cout << "bad\t" << (f.index < 0 ? std::string("-") : std::to_string(f.index)) << "\t"
              << f.path << "\t" << f.reason << "\n";
  return kExitFailure;
}

namespace {

// Runs a store operation on Backup names: refused when another writer holds
// a name, or, with `wait`, after waiting for it (saying so first).
template <class Op>
StoreResult UnderNameLocks(bool wait, const std::string& busyName, Op op) {
  LockWait lock;
  lock.replace = wait;
  StoreResult result = op(lock);
  if (result == StoreResult::kBusy && wait) {
    Error("waiting for the Backup being written under the name " + busyName + " to finish");
    lock.wait = true;
    lock.cancel = &InterruptFlag();
    result = op(lock);
  }
  return result;
}

// The exit status for a store operation's result, its failure said on stderr.
int ReportStore(StoreResult result, const std::string& what, const std::string& name,
                const std::string& error) {
  switch (result) {
    case StoreResult::kDone:
      return kExitOk;
    case StoreResult::kBusy:
      Error("a Backup is being written under the name " + name +
            (what == "delete" ? "" : " (use --force to wait for it)"));
      return kExitFailure;
    case StoreResult::kCancelled:
      Error("interrupted; nothing was changed");
      return kExitInterrupted;
    case StoreResult::kExists:
      Error(kExistsText + name + " (use --force to replace it)");
      return kExitFailure;
    case StoreResult::kFailed:
      break;
  }
  Error("could not " + what + " the Backup: " + error);
  return kExitFailure;
}

}  // namespace

int RunDeleteBackup(const Context& ctx, const Args& args) {
  std::string schemeFile, name;
  if (const int status = NameSchemeBackup(ctx, args, schemeFile, name, true); status != kExitOk)
    return status;
  const CBackupStore store(schemeFile);
  std::string error;
  return ReportStore(store.Delete(name, &error), "delete", name, error);
}

namespace {

// rename-backup and duplicate-backup.
int MoveOrCopy(const Context& ctx, const Args& args, bool copy) {
  std::string schemeFile;
  if (!OpenStore(ctx, args.positional[0], schemeFile)) return kExitFailure;
  if (!CheckName(args.positional[1]) || !CheckName(args.positional[2])) return kExitUsage;
  const CBackupStore store(schemeFile);
  // OLD may be "latest"; NEW is always the name given.
  const std::string from = BackupName(store, args.positional[1]);
  const std::string& to = args.positional[2];
  if (from.empty() || !RequireBackup(store, from)) return kExitFailure;
  if (SamePath(store.GetBackupPath(from), store.GetBackupPath(to))) return kExitOk;
  // Whether NEW exists is looked at under its lock: a Backup landing there
  // meanwhile is never replaced without --force.
  std::string error;
  const StoreResult result = UnderNameLocks(args.Has("--force"), to, [&](const LockWait& lock) {
    return copy ? store.Duplicate(from, to, &error, lock) : store.Rename(from, to, &error, lock);
  });
  return ReportStore(result, copy ? "duplicate" : "rename", to, error);
}

}  // namespace

int RunRenameBackup(const Context& ctx, const Args& args) { return MoveOrCopy(ctx, args, false); }

int RunDuplicateBackup(const Context& ctx, const Args& args) { return MoveOrCopy(ctx, args, true); }

}  // namespace tessarook::cli
