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
  const PruneOutcome outcome = PruneBackups(CBackupStore(schemeFile), policy, {}, dryRun);
  if (args.Has("--json")) {
    CJsonWriter json;
    json.BeginObject().Bytes("scheme", schemeFile).Key("dry_run").Bool(dryRun);
    json.Key("deleted").BeginArray();
    for (const BackupInfo& b : outcome.deleted) WriteBackupJson(json, b);
    json.EndArray().Key("failed").BeginArray();
    for (const std::string& f : outcome.failed) json.BeginObject().Bytes("name", f).EndObject();
    json.EndArray().Key("kept").BeginArray();
    for (const KeptBackup& k : outcome.kept) WriteBackupJson(json, k.backup, &k.reasons);
    json.EndArray().EndObject();
    std::cout << json.Text();
  } else {
    for (const BackupInfo& b : outcome.deleted) std::cout << b.name << "\n";
  }
  return outcome.failed.empty() ? kExitOk : kExitFailure;
}

}  // namespace

std::vector<OptionSpec> KeepOptions() {
  std::vector<OptionSpec> out;
  for (const KeepOption& o : kKeepOptions) out.push_back({o.name, true});
  return out;
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

PruneOutcome PruneBackups(const CBackupStore& store, const KeepPolicy& policy,
                          const std::vector<std::string>& protect, bool dryRun) {
  RetentionPlan plan = PlanRetention(store.List(), policy, protect);
  // Oldest first, as "backups" lists them; so the oldest also go first.
  std::reverse(plan.keep.begin(), plan.keep.end());
  std::reverse(plan.remove.begin(), plan.remove.end());
  PruneOutcome outcome;
  outcome.kept = std::move(plan.keep);
  for (BackupInfo& b : plan.remove) {
    std::string error;
    if (dryRun || store.Delete(b.name, &error)) {
      outcome.deleted.push_back(std::move(b));
    } else {
      Error("could not delete the Backup " + b.name + ": " + error);
      outcome.failed.push_back(b.name);
    }
  }
  return outcome;
}

void WriteBackupJson(CJsonWriter& json, const BackupInfo& backup,
                     const std::vector<std::string>* reasons) {
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
  json.EndObject();
}

namespace {

std::vector<OptionSpec> PruneOptions() {
  std::vector<OptionSpec> options = KeepOptions();
  options.push_back({"--dry-run"});
  options.push_back({"--json"});
  return options;
}

const CommandRegistrar kPrune(
    {"prune",
     "prune SCHEME [--keep-last|-hourly|-daily|-weekly|-monthly N]... [--dry-run] [--json]",
     "deletes the Backups that no --keep rule keeps",
     "A Backup stays when any rule keeps it. --keep-last N keeps the N newest Backups;\n"
     "--keep-hourly/-daily/-weekly/-monthly N keep the newest Backup of each of the N most\n"
     "recent hours, days, weeks (Monday to Sunday) or months, in local time, that have\n"
     "Backups. The time is each Backup's creation time, as \"backups\" lists it.\n"
     "At least one rule is needed. Prints the name of each deleted Backup; with --dry-run\n"
     "prints the names that would go and deletes nothing. --json prints one JSON document\n"
     "with the deleted and the kept Backups.",
     PruneOptions(), 1, 1, RunPrune});

}  // namespace

}  // namespace tessarook::cli
