// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Choosing Backups by their creation time: the newest one, and the ones a keep
// policy keeps when old Backups are pruned.

#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupStore.h"

namespace tessarook {

// How many Backups each rule keeps; 0 = the rule is not used. A Backup is kept
// when any rule keeps it. A period rule keeps the newest Backup of each of the
// N most recent periods (local time) that hold Backups; `last` keeps the N
// newest Backups.
struct KeepPolicy {
  unsigned last = 0;
  unsigned hourly = 0;
  unsigned daily = 0;
  unsigned weekly = 0;  // ISO weeks: Monday to Sunday
  unsigned monthly = 0;

  // False when no rule is used: such a policy keeps nothing and must not be applied.
  bool Any() const { return last || hourly || daily || weekly || monthly; }
};

struct KeptBackup {
  BackupInfo backup;
  std::vector<std::string> reasons;  // the rules that keep it: "last", "hourly", ...
};

struct RetentionPlan {
  std::vector<KeptBackup> keep;    // newest first
  std::vector<BackupInfo> remove;  // newest first
};

// Sorts the Backups newest first (equal times: the greater name first) and
// decides which the policy keeps. Backups named in `protect` are always kept
// (reason "protected"), whatever their time says. A policy without any rule
// keeps everything: it never means "delete all".
RetentionPlan PlanRetention(std::vector<BackupInfo> backups, const KeepPolicy& policy,
                            const std::vector<std::string>& protect = {});

// The newest Backup by creation time (equal times: the greater name); null
// for an empty list.
const BackupInfo* NewestBackup(const std::vector<BackupInfo>& list);

// The Backup a BACKUP argument names: the argument itself, except that
// "latest" means the newest Backup by creation time unless a Backup is named
// "latest". Empty when "latest" is asked for and there is no Backup.
std::string ResolveBackupName(const CBackupStore& store, std::string_view arg);

}  // namespace tessarook
