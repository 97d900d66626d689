// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/Retention.h"

#include <algorithm>
#include <ctime>

namespace tessarook {

namespace {

std::time_t Seconds(int64_t ns) {
  int64_t s = ns / 1000000000LL;
  if (ns % 1000000000LL < 0) --s;  // round towards the past
  return static_cast<std::time_t>(s);
}

// The period a moment falls in, as a text that differs between periods.
enum class Period { kHour, kDay, kWeek, kMonth };

std::string PeriodKey(int64_t ns, Period period) {
  const std::time_t t = Seconds(ns);
  struct tm tm {};
  if (!localtime_r(&t, &tm)) return std::to_string(t);
  static const char* const kPatterns[] = {"%Y-%m-%d %H", "%Y-%m-%d", "%G-W%V", "%Y-%m"};
  char text[64];
  const size_t n = std::strftime(text, sizeof text, kPatterns[static_cast<int>(period)], &tm);
  std::string key(text, n);
  // When clocks go back, an hour of local time happens twice; the offset
  // tells the two apart.
  if (period == Period::kHour) key += " " + std::to_string(tm.tm_gmtoff);
  return key;
}

}  // namespace

RetentionPlan PlanRetention(std::vector<BackupInfo> backups, const KeepPolicy& policy,
                            const std::vector<std::string>& protect) {
  std::stable_sort(backups.begin(), backups.end(), [](const BackupInfo& a, const BackupInfo& b) {
    if (a.creationTime != b.creationTime) return a.creationTime > b.creationTime;
    return a.name > b.name;
  });
  std::vector<std::vector<std::string>> reasons(backups.size());
  if (!policy.Any()) {
    for (auto& r : reasons) r.push_back("no rule");
  }

  if (policy.last) {
    for (size_t i = 0; i < backups.size() && i < policy.last; ++i) reasons[i].push_back("last");
  }
  struct Rule {
    unsigned count;
    Period period;
    const char* name;
  };
  const Rule rules[] = {{policy.hourly, Period::kHour, "hourly"},
                        {policy.daily, Period::kDay, "daily"},
                        {policy.weekly, Period::kWeek, "weekly"},
                        {policy.monthly, Period::kMonth, "monthly"}};
  for (const Rule& rule : rules) {
    if (!rule.count) continue;
    unsigned periods = 0;
    std::string previous;
    for (size_t i = 0; i < backups.size() && periods < rule.count; ++i) {
      std::string key = PeriodKey(backups[i].creationTime, rule.period);
      // Newest first: the first Backup met in a period is that period's newest.
      if (i > 0 && key == previous) continue;
      previous = std::move(key);
      reasons[i].push_back(rule.name);
      ++periods;
    }
  }
  for (size_t i = 0; i < backups.size(); ++i) {
    if (std::find(protect.begin(), protect.end(), backups[i].name) != protect.end())
      reasons[i].push_back("protected");
  }

  RetentionPlan plan;
  for (size_t i = 0; i < backups.size(); ++i) {
    if (reasons[i].empty())
      plan.remove.push_back(std::move(backups[i]));
    else
      plan.keep.push_back({std::move(backups[i]), std::move(reasons[i])});
  }
  return plan;
}

const BackupInfo* NewestBackup(const std::vector<BackupInfo>& list) {
  const BackupInfo* newest = nullptr;
  for (const BackupInfo& b : list) {
    if (!newest || b.creationTime > newest->creationTime ||
        (b.creationTime == newest->creationTime && b.name > newest->name))
      newest = &b;
  }
  return newest;
}

std::string ResolveBackupName(const CBackupStore& store, std::string_view arg) {
  static constexpr std::string_view kLatest = "latest";
  if (arg != kLatest || store.Exists(arg)) return std::string(arg);
  const std::vector<BackupInfo> list = store.List();
  const BackupInfo* newest = NewestBackup(list);
  return newest ? newest->name : std::string();
}

}  // namespace tessarook
