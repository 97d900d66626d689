// SPDX-License-Identifier: GPL-3.0-or-later
// prune: deletes the Backups that no keep rule keeps. Its rules also serve
// "backup ... --keep-...", which prunes right after a Backup was taken.

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "util/IsoTime.h"

namespace tessarook::cli {

namespace {

struct KeepOption {
  const char* name;
  unsigned KeepPolicy::*field;
};

const KeepOption kKeepOptions[] = {{"--keep-last", &KeepPolicy::last},
                                   {"--keep-hourly", &KeepPolicy::hourly},
                                   {"--keep-daily", &KeepPolicy::daily},
                                   {"--keep-weekly", &KeepPolicy::weekly},
                                   {"--keep-monthly", &KeepPolicy::monthly}};

// A positive whole number of at most 1,000,000 (digits only); 0 when the text is not one.
unsigned PositiveCount(const std::string& text) {
  if (text.empty() || text.size() > 7) return 0;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value <= 1000000 ? value : 0;
}

}  // namespace

int RunPrune(const Context& ctx, const Args& args) {
  KeepPolicy policy;
  if (const int status = ParseKeepPolicy(args, policy); status != kExitOk) return status;
  if (!policy.Any()) {
    Error("prune needs at least one --keep-... rule (it never deletes every Backup)");
    return kExitUsage;
  }
  const std::string schemeFile = ctx.SchemeFile(args.positional[0]);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(schemeFile, ec)) {
    Error("no such Scheme: " + schemeFile);
    return kExitFailure;
  }
  const bool dryRun = args.Has("--dry-run");
  PruneOptions options;
  options.dryRun = dryRun;
  PruneOutcome outcome;
  const int status = PruneAndReport(CBackupStore(schemeFile), policy, options, outcome);
  if (args.Has("--json")) {
    auto passedList = [](CJsonWriter& json, const char* key, const std::vector<PassedBackup>& l) {
      json.Key(key).BeginArray();
      for (const PassedBackup& p : l) WriteBackupJson(json, p.backup, nullptr, &p.reason);
      json.EndArray();
    };
    CJsonWriter json;
    json.BeginObject().Bytes("scheme", schemeFile).Key("dry_run").Bool(dryRun);
    json.Key("deleted").BeginArray();
    for (const BackupInfo& b : outcome.deleted) WriteBackupJson(json, b);
    json.EndArray();
    passedList(json, "failed", outcome.failed);
    passedList(json, "passed", outcome.passed);
    passedList(json, "not_backups", outcome.notBackups);
    json.Key("kept").BeginArray();
    for (const KeptBackup& k : outcome.kept) WriteBackupJson(json, k.backup, &k.reasons);
    json.EndArray().EndObject();
    std::cout << json.Text();
  } else {
    for (const BackupInfo& b : outcome.deleted) std::cout << b.name << "\n";
  }
  return status;
}

int ParseKeepPolicy(const Args& args, KeepPolicy& policy) {
  for (const KeepOption& o : kKeepOptions) {
    if (!args.Has(o.name)) continue;
    const unsigned count = PositiveCount(args.Get(o.name));
    if (count == 0) {
      Error(std::string(o.name) + " takes a whole number from 1 to 1000000, not '" +
            args.Get(o.name) + "'");
      return kExitUsage;
    }
    policy.*o.field = count;
  }
  return kExitOk;
}

int PruneAndReport(const CBackupStore& store, const KeepPolicy& policy, const PruneOptions& options,
                   PruneOutcome& outcome) {
  outcome = PruneBackups(store, policy, options);
  for (const PassedBackup& p : outcome.notBackups)
    Error("left alone " + p.backup.name + ".zip, which is not a Backup: " + p.reason);
  for (const BackupInfo& b : outcome.future)
    Error("warning: the Backup " + b.name + " is dated in the future (" +
          IsoLocalTime(b.creationTime) + "); it is kept and no keep rule counts it");
  for (const PassedBackup& p : outcome.passed)
    Error("left the Backup " + p.backup.name + " alone: " + p.reason);
  for (const PassedBackup& p : outcome.failed)
    Error("could not delete the Backup " + p.backup.name + ": " + p.reason);
  if (!outcome.failed.empty()) return kExitFailure;
  return outcome.passed.empty() ? kExitOk : kExitSkipped;
}

void WriteBackupJson(CJsonWriter& json, const BackupInfo& backup,
                     const std::vector<std::string>* reasons, const std::string* reason) {
  json.BeginObject()
      .Bytes("name", backup.name)
      .Key("time")
      .String(IsoLocalTime(backup.creationTime))
      .Key("size")
      .Number(backup.size);
  if (reasons) {
    json.Key("kept_by").BeginArray();
    for (const std::string& r : *reasons) json.String(r);
    json.EndArray();
  }
  if (reason) json.Key("reason").String(*reason);
  json.EndObject();
}

}  // namespace tessarook::cli
