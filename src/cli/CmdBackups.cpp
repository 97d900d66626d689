// SPDX-License-Identifier: GPL-3.0-or-later
// The Backups commands: backup, backups, contents, restore, extract, verify,
// delete-backup, rename-backup, duplicate-backup.

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "backup/BackupArchive.h"
#include "backup/BackupJob.h"
#include "backup/BackupStore.h"
#include "backup/BackupVerifier.h"
#include "backup/RestoreJob.h"
#include "library/SchemePaths.h"
#include "library/SchemeRecord.h"
#include "scheme/Scheme.h"
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

// The Backup named by "SCHEME BACKUP ..." opened with its manifest read; an exit
// status other than kExitOk when that cannot be done (the reason is on stderr).
// `damaged` as for OpenBackup; `name` receives the Backup's name ("latest"
// resolved).
int OpenSchemeBackup(const Context& ctx, const Args& args, CBackupArchive& archive,
                     bool* damaged = nullptr, std::string* name = nullptr) {
  std::string schemeFile;
  if (!OpenStore(ctx, args.positional[0], schemeFile)) return kExitFailure;
  if (!CheckName(args.positional[1])) return kExitUsage;
  const CBackupStore store(schemeFile);
  const std::string backup = BackupName(store, args.positional[1]);
  if (backup.empty()) return kExitFailure;
  if (name) *name = backup;
  return OpenBackup(store, backup, archive, damaged) ? kExitOk : kExitFailure;
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
};

int TakeBackup(const Context& ctx, const Args& args, BackupRun& run) {
  KeepPolicy policy;
  if (const int status = ParseKeepPolicy(args, policy); status != kExitOk) return status;
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
  const SchemeError err = scheme.Load(schemeFile);
  if (err != SchemeError::kOk) {
    Error(SchemeErrorText(err, schemeFile));
    return kExitFailure;
  }
  if (scheme.m_files.empty() && scheme.m_folders.empty()) {
    Error("the Scheme lists no files or folders: " + schemeFile);
    return kExitFailure;
  }
  const CBackupStore store(schemeFile);
  const std::string path = store.GetBackupPath(name);
  // The name's lock is held from the check for an existing Backup on, so that
  // two Backups of one name never both succeed. --force waits for a Backup of
  // the name being written elsewhere, then replaces it.
  CBackupNameLock lock;
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
  CBackupJob job(scheme.m_files, scheme.m_folders);
  job.SetJobs(ctx.jobs);
  job.SetReread(args.Has("--reread"));
  BarSink bar(ctx, "Backup");
  const BackupJobResult result = job.Run(path, InterruptFlag(), &bar, &lock);
  bar.Finish();
  run.note.files = result.filesStored;
  run.note.skipped = result.skipped.size();
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
  int status = result.skipped.empty() && result.changed.empty() ? kExitOk : kExitSkipped;

  // Old Backups go only once this one is written: skipped files do not stop
  // that (the Backup holds everything that could be read), a failure does.
  // The new Backup itself stays whatever the clock says about its time.
  PruneOutcome pruned;
  if (policy.Any()) {
    PruneOptions options;
    options.protect = {name};
    if (PruneAndReport(store, policy, options, pruned) != kExitOk) status = kExitSkipped;
    if (!ctx.quiet)
      for (const BackupInfo& b : pruned.deleted) Error("deleted the old Backup " + b.name);
  }

  if (args.Has("--json")) {
    BackupInfo info;
    const bool listed = store.GetInfo(name, info);
    CJsonWriter json;
    json.BeginObject().Bytes("scheme", schemeFile).Bytes("name", name).Key("time");
    if (listed)
      json.String(IsoLocalTime(info.creationTime));
    else
      json.Null();  // gone already (removed by another program)
    json.Key("files").Number(result.filesStored).Key("bytes").Number(result.archiveSize);
    // The earlier Backup unchanged files were copied from, and how many.
    if (result.parent.empty())
      json.Key("parent").Null();
    else
      json.Bytes("parent", fs::path(result.parent).stem().string());
    json.Key("reused").Number(result.filesReused);
    json.Key("skipped").BeginArray();
    for (const SkippedFile& s : result.skipped)
      json.BeginObject().Bytes("path", s.path).Key("reason").String(s.reason).EndObject();
    json.EndArray().Key("changed").BeginArray();
    for (const std::string& changed : result.changed)
      json.BeginObject().Bytes("path", changed).EndObject();
    json.EndArray().Key("pruned").BeginArray();
    for (const BackupInfo& b : pruned.deleted) WriteBackupJson(json, b);
    json.EndArray().EndObject();
    std::cout << json.Text();
  } else {
    std::cout << name << "\t" << result.filesStored << "\t" << result.archiveSize << "\n";
  }
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

int RunBackup(const Context& ctx, const Args& args) {
  // What went wrong goes to the Scheme's record, and with --notify to the desktop.
  const MessageCapture messages;
  BackupRun run;
  const int status = TakeBackup(ctx, args, run);
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
  if (const int status = OpenSchemeBackup(ctx, args, archive, &damaged, &name); status != kExitOk)
    return status;
  if (args.Has("--json")) {
    CJsonWriter json;
    json.BeginObject().Bytes("backup", name).Key("files").BeginArray();
    for (size_t i = 0; i < archive.paths.size(); ++i)
      json.BeginObject().Key("index").Number(i).Bytes("path", archive.paths[i]).EndObject();
    std::cout << json.EndArray().Key("damaged").Bool(damaged).EndObject().Text();
    return damaged ? kExitFailure : kExitOk;
  }
  for (size_t i = 0; i < archive.paths.size(); ++i)
    std::cout << i << "\t" << archive.paths[i] << "\n";
  return damaged ? kExitFailure : kExitOk;
}

int ForeseeRestore(CBackupArchive& archive, const std::vector<RestoreItem>& items,
                   const std::vector<RestoreFailure>& refused, bool failing);

int RunRestore(const Context& ctx, const Args& args) {
  CBackupArchive archive;
  // A damaged list restores the files it names, and the command fails in the end.
  bool damaged = false;
  if (const int status = OpenSchemeBackup(ctx, args, archive, &damaged); status != kExitOk)
    return status;

  bool missing = false;
  std::vector<size_t> positions;
  if (args.positional.size() <= 2) {
    for (size_t i = 0; i < archive.paths.size(); ++i) positions.push_back(i);
  } else {
    for (size_t a = 2; a < args.positional.size(); ++a) {
      const std::vector<size_t> found = PositionsOf(archive, args.positional[a]);
      if (found.empty()) {
        Error("not in the Backup: " + args.positional[a]);
        missing = true;
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
  if (args.Has("--dry-run")) return ForeseeRestore(archive, items, failed, damaged || missing);
  BarSink bar(ctx, "Restore");
  RestoreResult result = CRestoreJob::Run(archive, items, &InterruptFlag(), &bar, ctx.jobs);
  bar.Finish();
  for (size_t position : result.restored) std::cout << archive.paths[position] << "\n";
  failed.insert(failed.end(), result.failed.begin(), result.failed.end());
  bool onlySkipped = !missing;
  bool needsFolder = false;
  bool damagedEntry = false;
  for (const RestoreFailure& f : failed) {
    // A reason that starts by naming the file again says it once.
    const std::string named = f.path + ": ";
    const bool repeats = !f.path.empty() && f.reason.compare(0, named.size(), named) == 0;
    Error("not restored " + (f.path.empty() ? "#" + std::to_string(f.position) : f.path) + ": " +
          (repeats ? f.reason.substr(named.size()) : f.reason));
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
  if (!ctx.quiet) Error("restored: " + RestoreSummaryText(result));
  // Damage met in the Backup is a failure of the Backup, never a skip.
  if (damaged || damagedEntry) {
    if (damagedEntry)
      Error("The Backup appears to be damaged: files named above hold damaged data");
    return kExitFailure;
  }
  if (failed.empty() && !missing) return kExitOk;
  // Files left alone because they may not be replaced are skipped, as
  // unreadable files are by a backup; anything else is a failure unless
  // something was restored.
  if (onlySkipped) return kExitSkipped;
  return result.restored.empty() ? kExitFailure : kExitSkipped;
}

// restore --dry-run: one line per file, "create", "replace" with the reason or
// "same"; files that would not be restored are named on stderr.
int ForeseeRestore(CBackupArchive& archive, const std::vector<RestoreItem>& items,
                   const std::vector<RestoreFailure>& refused, bool failing) {
  using Action = CZipFile::Foresight::Action;
  bool skipped = !refused.empty();
  for (const RestoreFailure& f : refused)
    Error("would not restore " + (f.path.empty() ? "#" + std::to_string(f.position) : f.path) +
          ": " + f.reason);
  for (const RestorePreview& p : CRestoreJob::Foresee(archive, items, &InterruptFlag())) {
    const std::string& path = p.destination;
    switch (p.foresight.action) {
      case Action::kCreate:
        std::cout << "create\t" << path << "\n";
        break;
      case Action::kReplace:
        std::cout << "replace\t" << path << "\t" << p.foresight.reason << "\n";
        break;
      case Action::kSame:
        std::cout << "same\t" << path << "\n";
        break;
      case Action::kRefuse:
        Error("would not restore " + path + ": " + p.foresight.reason);
        skipped = true;
        break;
    }
  }
  if (InterruptFlag().load()) return kExitInterrupted;
  if (failing) return kExitFailure;
  return skipped ? kExitSkipped : kExitOk;
}

int RunExtract(const Context& ctx, const Args& args) {
  CBackupArchive archive;
  if (const int status = OpenSchemeBackup(ctx, args, archive); status != kExitOk) return status;
  const std::vector<size_t> found = PositionsOf(archive, args.positional[2]);
  if (found.empty()) {
    Error("not in the Backup: " + args.positional[2]);
    return kExitFailure;
  }
  archive.SetCancelFlag(&InterruptFlag());
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
  std::string schemeFile;
  if (!OpenStore(ctx, args.positional[0], schemeFile)) return kExitFailure;
  if (!CheckName(args.positional[1])) return kExitUsage;
  const CBackupStore store(schemeFile);
  const std::string name = BackupName(store, args.positional[1]);
  if (name.empty() || !RequireBackup(store, name)) return kExitFailure;
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
    json.BeginObject()
        .Bytes("backup", name)
        .Key("ok")
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

int RunDeleteBackup(const Context& ctx, const Args& args) {
  std::string schemeFile;
  if (!OpenStore(ctx, args.positional[0], schemeFile)) return kExitFailure;
  if (!CheckName(args.positional[1])) return kExitUsage;
  const CBackupStore store(schemeFile);
  const std::string name = BackupName(store, args.positional[1]);
  if (name.empty() || !RequireBackup(store, name)) return kExitFailure;
  std::string error;
  return ReportStore(store.Delete(name, &error), "delete", name, error);
}

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

int RunRenameBackup(const Context& ctx, const Args& args) { return MoveOrCopy(ctx, args, false); }
int RunDuplicateBackup(const Context& ctx, const Args& args) { return MoveOrCopy(ctx, args, true); }

std::vector<OptionSpec> BackupOptions() {
  std::vector<OptionSpec> options = {{"--force"}, {"--json"}, {"--notify"}, {"--reread"}};
  for (const OptionSpec& o : KeepOptions()) options.push_back(o);
  return options;
}

const CommandRegistrar kBackup(
    {"backup", "backup SCHEME [BACKUP] [--force] [--reread] [--keep-... N] [--notify] [--json]",
     "takes a Backup of the Scheme's files and folders",
     "Prints BACKUP<TAB>FILES<TAB>BYTES. The default name is the local time as\n"
     "YYYY-MM-DD hh.mm.ss. A file unchanged since the newest Backup of the Scheme\n"
     "(same device, inode, size, last-write and status-change time) is copied from\n"
     "it without being read; --reread reads every file. Files that cannot be read\n"
     "are skipped, and files that changed while they were read are stored as read;\n"
     "each is named on stderr (exit status 1). --force replaces a Backup of that name, waiting "
     "first for\n"
     "one being written at the moment.\n"
     "With --keep-last/-hourly/-daily/-weekly/-monthly N, old Backups are pruned as\n"
     "\"prune\" does once the Backup has been written (also when files were skipped;\n"
     "never after a failure or an interruption); the new Backup is always kept.\n"
     "Without them, the keep rules stored by \"schedule\" apply. How the Backup ended\n"
     "is noted in the Scheme's record (\"schedule SCHEME\" shows it).\n"
     "--notify: when the Backup fails, is interrupted or skips files, a desktop\n"
     "notification says so (through notify-send, when there is one).\n"
     "--json prints one JSON document instead: scheme, name, time, files, bytes, the\n"
     "Backup unchanged files were copied from (parent) and how many (reused), skipped\n"
     "files, files changed while read and pruned Backups.",
     BackupOptions(), 1, 2, RunBackup});
const CommandRegistrar kBackups(
    {"backups",
     "backups SCHEME [--sort name|time|size] [--json]",
     "lists the Scheme's Backups: NAME<TAB>TIME<TAB>SIZE",
     "Sorted by time unless --sort says otherwise. The time is when the Backup was\n"
     "taken, which it records inside; one that does not counts as taken when its file\n"
     "was created. --json prints one JSON document with each Backup's name, time (ISO\n"
     "8601 with seconds and offset) and size.",
     {{"--sort", true}, {"--json"}},
     1,
     1,
     RunBackups});
const CommandRegistrar kContents({"contents",
                                  "contents SCHEME BACKUP [--json]",
                                  "lists a Backup's files: INDEX<TAB>PATH",
                                  "BACKUP \"latest\" is the newest Backup (unless one is named "
                                  "so), here and in every\ncommand that reads a Backup. --json "
                                  "prints one JSON document with index and path.\nA damaged list "
                                  "prints the files it could name, says what is wrong on stderr\n"
                                  "and exits with status 3.",
                                  {{"--json"}},
                                  2,
                                  2,
                                  RunContents});
const CommandRegistrar kRestore(
    {"restore",
     "restore SCHEME BACKUP [PATH...] [--to DIR] [--dry-run]",
     "restores all files, or the given ones, to their source paths",
     "With --to DIR each file goes to DIR followed by its source path; nothing is written\n"
     "outside DIR (symbolic links inside it are not followed). Paths of a Backup made on\n"
     "Windows need --to: C:\\a\\x goes to DIR/C/a/x, \\\\server\\share\\x to "
     "DIR/UNC/server/share/x.\n"
     "A file that already holds the Backup's data is left untouched. An existing file\n"
     "keeps its owner, group and mode; it is replaced through a temporary file beside\n"
     "it, or rewritten in place where its identity matters (hard links, a symbolic\n"
     "link's target, a file of another user). One that is read-only or not writable\n"
     "is skipped (exit status 1).\n"
     "Prints each restored file's source path, then on stderr how many files were\n"
     "created, replaced, already identical and not restored; files that could not be\n"
     "restored are named on stderr. Damaged data in the Backup, and a damaged list\n"
     "(the files it could name are restored), end with exit status 3.\n"
     "--dry-run changes nothing and prints what would happen, one line per file:\n"
     "create<TAB>PATH, replace<TAB>PATH<TAB>REASON (size: the sizes differ; time: same\n"
     "size, another last-write time; content: same size and time, other bytes) or\n"
     "same<TAB>PATH.",
     {{"--to", true}, {"--dry-run"}},
     2,
     SIZE_MAX,
     RunRestore});
const CommandRegistrar kExtract({"extract",
                                 "extract SCHEME BACKUP PATH DEST",
                                 "restores one file of a Backup to DEST (replaced if present)",
                                 "",
                                 {},
                                 4,
                                 4,
                                 RunExtract});
const CommandRegistrar kVerify({"verify",
                                "verify SCHEME BACKUP [--json]",
                                "checks every file of a Backup and its list",
                                "Prints ok<TAB>FILES, or bad<TAB>INDEX<TAB>PATH<TAB>REASON per "
                                "fault (exit status 3): damaged data or list, missing or stray "
                                "entries, paths no restore takes, entries sharing data.\n--json "
                                "prints one JSON document: backup, ok, files and the faults.",
                                {{"--json"}},
                                2,
                                2,
                                RunVerify});
const CommandRegistrar kDeleteBackup({"delete-backup",
                                      "delete-backup SCHEME BACKUP",
                                      "deletes a Backup",
                                      "A Backup being written under the name at the moment is "
                                      "not deleted (exit status 3).",
                                      {},
                                      2,
                                      2,
                                      RunDeleteBackup});
const CommandRegistrar kRenameBackup({"rename-backup",
                                      "rename-backup SCHEME OLD NEW [--force]",
                                      "renames a Backup",
                                      "Refuses an existing NEW, and a name a Backup is being "
                                      "written under at the moment;\n--force replaces NEW, "
                                      "waiting first for a Backup being written under it.",
                                      {{"--force"}},
                                      3,
                                      3,
                                      RunRenameBackup});
const CommandRegistrar kDuplicateBackup({"duplicate-backup",
                                         "duplicate-backup SCHEME OLD NEW [--force]",
                                         "copies a Backup under a new name",
                                         "Refuses an existing NEW, and a name a Backup is being "
                                         "written under at the moment;\n--force replaces NEW, "
                                         "waiting first for a Backup being written under it.",
                                         {{"--force"}},
                                         3,
                                         3,
                                         RunDuplicateBackup});

}  // namespace

}  // namespace tessarook::cli
