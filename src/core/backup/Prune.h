// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pruning: deleting the Backups of a Scheme that no keep rule keeps.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "backup/BackupStore.h"
#include "backup/Retention.h"

namespace tessarook {

// A Backup pruning passed over, and why.
struct PassedBackup {
  BackupInfo backup;
  std::string reason;
};

// What pruning did (or, in a dry run, would do). Each list oldest first.
struct PruneOutcome {
  std::vector<KeptBackup> kept;
  std::vector<BackupInfo> deleted;  // in a dry run: those that would be deleted
  // Gone before pruning came to them (another prune, a user): not a failure.
  std::vector<BackupInfo> gone;
  // Files named *.zip that do not open as a Backup (not a ZIP, no list of
  // files): never deleted, never counted by a rule.
  std::vector<PassedBackup> notBackups;
  // Backups dated later than now (a wrong clock, a copy from elsewhere):
  // kept, and not counted by the rules, so that they never push a present
  // Backup out. Also listed in `kept`, with the reason "future".
  std::vector<BackupInfo> future;
  // Planned for deletion but left alone: a Backup of the name is being
  // written, or another file has taken the name since it was listed.
  std::vector<PassedBackup> passed;
  std::vector<PassedBackup> failed;  // could not be deleted; the reason says why
};

struct PruneOptions {
  bool dryRun = false;
  // Names that are always kept (reason "protected"), e.g. the Backup just taken.
  std::vector<std::string> protect;
  // The present, ns since 1970; 0 for the clock's time now.
  int64_t now = 0;
  // Called just before each deletion, on the calling thread, with the Backup
  // about to be deleted: lets a test put something in its way.
  std::function<void(const BackupInfo&)> beforeDelete;
};

// Lists the Backups, leaves out what is not a Backup and what is dated in the
// future, plans with PlanRetention and deletes what the plan does not keep,
// each under its name's lock and only when the file at the name is still the
// one that was judged (CBackupStore::DeleteListed). A policy without any rule
// deletes nothing.
PruneOutcome PruneBackups(const CBackupStore& store, const KeepPolicy& policy,
                          const PruneOptions& options = {});

// True when the file opens as a Backup: a ZIP archive holding a list of files.
// Otherwise `reason` says what it is.
bool OpensAsBackup(const std::string& path, std::string& reason);

}  // namespace tessarook
