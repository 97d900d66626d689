// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/Prune.h"

#include <algorithm>
#include <chrono>

#include "backup/BackupArchive.h"

namespace tessarook {

bool OpensAsBackup(const std::string& path, std::string& reason) {
  CBackupArchive archive;
  if (!archive.Open(path)) {
    reason = "not a readable ZIP archive: " + archive.LastError();
    return false;
  }
  if (archive.FindEntry(kManifestName) < 0) {
    reason = std::string("a ZIP archive without the list of files (") + kManifestName + ")";
    return false;
  }
  return true;
}

PruneOutcome PruneBackups(const CBackupStore& store, const KeepPolicy& policy,
                          const PruneOptions& options) {
  PruneOutcome outcome;
  if (!policy.Any()) return outcome;
  const int64_t now = options.now ? options.now
                                  : std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count();
  std::vector<BackupInfo> judged;
  for (BackupInfo& b : store.List()) {
    std::string reason;
    if (!OpensAsBackup(b.path, reason))
      outcome.notBackups.push_back({std::move(b), std::move(reason)});
    else if (b.creationTime > now)
      outcome.future.push_back(std::move(b));
    else
      judged.push_back(std::move(b));
  }
  RetentionPlan plan = PlanRetention(std::move(judged), policy, options.protect);
  for (const BackupInfo& b : outcome.future) plan.keep.push_back({b, {"future"}});
  auto byTime = [](const BackupInfo& a, const BackupInfo& b) {
    return a.creationTime != b.creationTime ? a.creationTime < b.creationTime : a.name < b.name;
  };
  std::stable_sort(
      plan.keep.begin(), plan.keep.end(),
      [&](const KeptBackup& a, const KeptBackup& b) { return byTime(a.backup, b.backup); });
  std::sort(plan.remove.begin(), plan.remove.end(), byTime);
  std::sort(outcome.future.begin(), outcome.future.end(), byTime);
  outcome.kept = std::move(plan.keep);

  for (BackupInfo& b : plan.remove) {
    if (options.dryRun) {
      outcome.deleted.push_back(std::move(b));
      continue;
    }
    if (options.beforeDelete) options.beforeDelete(b);
    std::string error;
    switch (store.DeleteListed(b, &error)) {
      case CBackupStore::DeleteOutcome::kDeleted:
        outcome.deleted.push_back(std::move(b));
        break;
      case CBackupStore::DeleteOutcome::kGone:
        outcome.gone.push_back(std::move(b));
        break;
      case CBackupStore::DeleteOutcome::kReplaced:
        outcome.passed.push_back(
            {std::move(b), "another file has taken its name since it was listed"});
        break;
      case CBackupStore::DeleteOutcome::kBusy:
        outcome.passed.push_back({std::move(b), "a Backup of this name is being written"});
        break;
      case CBackupStore::DeleteOutcome::kFailed:
        outcome.failed.push_back({std::move(b), error});
        break;
    }
  }
  return outcome;
}

}  // namespace tessarook
