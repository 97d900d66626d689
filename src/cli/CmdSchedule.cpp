// SPDX-License-Identifier: GPL-3.0-or-later
// schedule: a Scheme's Backups by themselves (systemd timer or crontab) and
// its keep rules, kept in the per-user records file; the helpers that carry a
// record along when a Scheme is renamed, duplicated or deleted.

#include <unistd.h>

#include <climits>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "Cli.h"
#include "library/Scheduler.h"
#include "library/SchemeRecord.h"
#include "offsite/Offsite.h"
#include "settings/UserPlaces.h"
#include "util/IsoTime.h"

namespace tessarook::cli {

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

std::string OwnPath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, size_t(n)) : std::string("tessarook-cli");
}

CScheduler MakeScheduler(const Context& ctx) {
  return CScheduler(OwnPath(), UserConfigHome(),
                    ctx.settingsFile.empty() ? "" : AbsolutePath(ctx.settingsFile));
}

std::string KeepText(const KeepPolicy& keep) {
  std::string out;
  auto add = [&out](const char* name, unsigned n) {
    if (n) out += (out.empty() ? "" : " ") + std::string(name) + "=" + std::to_string(n);
  };
  add("last", keep.last);
  add("hourly", keep.hourly);
  add("daily", keep.daily);
  add("weekly", keep.weekly);
  add("monthly", keep.monthly);
  return out.empty() ? "-" : out;
}

}  // namespace

int RunSchedule(const Context& ctx, const Args& args) {
  const std::string schemeFile = ctx.SchemeFile(args.positional[0]);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(schemeFile, ec)) {
    Error("no such Scheme: " + schemeFile);
    return kExitFailure;
  }
  KeepPolicy keep;
  if (const int status = ParseKeepPolicy(args, keep); status != kExitOk) return status;
  if (args.Has("--no-keep") && keep.Any()) {
    Error("--no-keep and --keep-... rules exclude each other");
    return kExitUsage;
  }
  const bool setRemote = args.Has("--remote") || args.Has("--no-remote");
  if (args.Has("--remote") && args.Has("--no-remote")) {
    Error("--remote and --no-remote exclude each other");
    return kExitUsage;
  }
  const std::string remote = args.Get("--remote");
  if (args.Has("--remote") && !CheckRemote(remote)) return kExitUsage;
  Schedule schedule = Schedule::kOff;
  const bool setSchedule = args.positional.size() > 1;
  if (setSchedule && !ParseSchedule(args.positional[1], schedule)) {
    Error("the schedule is off, hourly, daily or weekly, not '" + args.positional[1] + "'");
    return kExitUsage;
  }
  CSchemeRecords records(ctx.RecordsFile());
  const CScheduler scheduler = MakeScheduler(ctx);
  const std::string instance = ScheduleInstance(ctx.SchemesDir(), schemeFile);
  const int64_t now = int64_t(time(nullptr)) * kNsPerSecond;
  int status = kExitOk;
  if (setSchedule || keep.Any() || args.Has("--no-keep") || setRemote) {
    std::string error;
    const Schedule before = records.Get(schemeFile).schedule;
    const bool stored = records.Update(
        schemeFile,
        [&](SchemeRecord& r) {
          if (setSchedule) {
            if (schedule != Schedule::kOff && r.schedule != schedule) r.scheduledSince = now;
            r.schedule = schedule;
          }
          if (keep.Any() || args.Has("--no-keep")) r.keep = keep;
          if (setRemote) r.SetRemote(remote);
        },
        &error);
    if (!stored) {
      Error("the schedule could not be stored: " + error);
      return kExitFailure;
    }
    if (!remote.empty()) {
      // Said once, here, where the remote is chosen; the Backups' pushes do not repeat it.
      const std::string rclone = FindRclone();
      if (rclone.empty())
        Error(std::string("note: ") + kRcloneMissingText);
      else
        SayIfUnencrypted(remote, IsEncryptedRemote(rclone, remote));
    }
    if (setSchedule && !scheduler.Apply(instance, schedule, &error)) {
      Error("the timer could not be set up: " + error);
      // The record says what is really set up.
      records.Update(schemeFile, [&](SchemeRecord& r) { r.schedule = before; });
      return kExitFailure;
    }
  }
  const SchemeRecord r = records.Get(schemeFile);
  const TimerState timer = scheduler.Query(instance, r.schedule);
  std::cout << "scheme\t" << schemeFile << "\n";
  std::cout << "schedule\t" << ScheduleName(r.schedule) << "\n";
  const char* kind = timer.kind == TimerKind::kSystemd ? "systemd"
                     : timer.kind == TimerKind::kCron  ? "cron"
                                                       : "none";
  std::cout << "timer\t" << kind << "\t" << (timer.what.empty() ? "-" : timer.what) << "\t"
            << (timer.enabled ? "enabled" : "disabled") << "\n";
  std::cout << "next\t" << (timer.nextRun ? IsoLocalTime(timer.nextRun) : "-") << "\n";
  std::cout << "keep\t" << KeepText(r.keep) << "\n";
  if (r.lastEnd == BackupEnd::kNone)
    std::cout << "last\t-\n";
  else
    std::cout << "last\t" << r.lastName << "\t" << IsoLocalTime(r.lastTaken) << "\t"
              << BackupEndText(r.lastEnd) << "\t" << r.lastFiles << "\t" << r.lastSkipped
              << (r.lastError.empty() ? "" : "\t" + r.lastError) << "\n";
  std::cout << "remote\t" << (r.remote.empty() ? "-" : r.remote) << "\n";
  if (!r.remote.empty()) {
    const std::vector<BackupInfo> backups = CBackupStore(schemeFile).List();
    const BackupInfo* newest = NewestBackup(backups);
    const bool behind = IsRemoteBehind(r, newest ? newest->creationTime : 0);
    std::cout << "push\t" << (r.pushEnd == PushEnd::kNone ? "-" : IsoLocalTime(r.pushStarted))
              << "\t" << (r.pushEnd == PushEnd::kNone ? "none" : PushEndText(r.pushEnd)) << "\t"
              << (behind ? "behind" : "current") << (r.pushError.empty() ? "" : "\t" + r.pushError)
              << "\n";
  }
  // A record that says "on" over a timer that is not there is worth a word.
  if (r.schedule != Schedule::kOff && !timer.enabled) {
    Error("the Scheme's schedule is " + std::string(ScheduleName(r.schedule)) +
          ", but no timer is set up for it; run \"schedule " + args.positional[0] + " " +
          ScheduleName(r.schedule) + "\" again");
    status = kExitSkipped;
  }
  return status;
}

std::string Context::SettingsFileInUse() const {
  return settingsFile.empty() ? FindUserPlaces().settingsFile : AbsolutePath(settingsFile);
}

std::string Context::RecordsFile() const { return CSchemeRecords::FileBeside(SettingsFileInUse()); }

CSchemeLibrary FollowingLibrary(const Context& ctx) {
  CSchemeLibrary lib(ctx.SchemesDir());
  lib.SetFollower(ScheduleFollower(ctx.RecordsFile(), MakeScheduler(ctx), ctx.SchemesDir()));
  return lib;
}

bool ScheduleFollowed(const CSchemeLibrary& lib) {
  if (lib.FollowError().empty()) return true;
  Error("the Scheme's schedule did not follow it: " + lib.FollowError());
  return false;
}

}  // namespace tessarook::cli
