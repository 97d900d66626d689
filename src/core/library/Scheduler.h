// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Starts a Scheme's Backups by themselves: through the user's systemd timer
// "tessarook-backup@INSTANCE.timer" (its period set by a drop-in file) where a
// systemd user manager runs, otherwise through a line in the user's crontab.
// INSTANCE is what "tessarook-cli backup" is given: the Scheme's name for a
// Scheme in the My Schemes folder, else its scheme file's path.

#include <cstdint>
#include <string>
#include <string_view>

#include "library/SchemeLibrary.h"
#include "library/SchemeRecord.h"

namespace tessarook {

enum class TimerKind { kNone, kSystemd, kCron };

struct TimerState {
  TimerKind kind = TimerKind::kNone;
  std::string what;      // "tessarook-backup@Home.timer", "crontab", or ""
  bool enabled = false;  // the timer or the crontab line is there
  int64_t nextRun = 0;   // ns since 1970, 0 when none is due
};

// systemd's escaping of an instance name (as "systemd-escape" does).
std::string SystemdEscape(std::string_view text);
// A program path as the first word of a unit's ExecStart= line: as it is
// when plain, else quoted with its specifiers and variables kept literal.
std::string SystemdExecWord(const std::string& path);
// "tessarook-backup@<escaped instance>.timer"
std::string TimerUnitName(const std::string& instance);
// The crontab line that backs up `instance` (without the line break); ""
// for kOff, and for an instance or path that a crontab line cannot hold.
std::string CronLine(const std::string& cliPath, const std::string& settingsFile,
                     const std::string& instance, Schedule schedule);
// The crontab text with the program's line for `instance` replaced by `line`
// (removed when it is empty); other lines stay as they are.
std::string ReplaceCronLine(const std::string& crontab, const std::string& instance,
                            const std::string& line);

class CScheduler {
 public:
  // `cliPath`: the absolute path of tessarook-cli, which the timer runs.
  // `configHome`: the user's configuration folder ($XDG_CONFIG_HOME), where
  // the drop-in files go (and the units, when systemd cannot find them
  // installed). `settingsFile`: passed to the program from a crontab line
  // when not empty.
  CScheduler(std::string cliPath, std::string configHome, std::string settingsFile = {});

  // Which mechanism is used here: systemd when its user manager answers,
  // else cron when there is a crontab program.
  TimerKind Kind() const;

  // Makes the timer of `instance` run at `schedule` (kOff removes it). False
  // with the reason when that could not be done.
  bool Apply(const std::string& instance, Schedule schedule, std::string* error) const;

  // What is set up for `instance` now; `schedule` is the recorded one, used
  // where the mechanism cannot tell the next run itself.
  TimerState Query(const std::string& instance, Schedule schedule) const;

  // The folder of the user's own systemd units ($XDG_CONFIG_HOME/systemd/user).
  std::string UnitFolder() const;

 private:
  bool ApplySystemd(const std::string& instance, Schedule schedule, std::string* error) const;
  bool ApplyCron(const std::string& instance, Schedule schedule, std::string* error) const;
  bool EnsureUnits(std::string* error) const;

  std::string m_cliPath;
  std::string m_configHome;
  std::string m_settingsFile;
};

// Carries a Scheme's record and timer along when the Scheme is renamed or
// duplicated, or removes them when it is deleted. Instances as above. A
// failure is returned as text ("" when all went well); the Scheme operation
// itself has been done by then.
std::string CarrySchedule(CSchemeRecords& records, const CScheduler& scheduler,
                          const std::string& fromFile, const std::string& fromInstance,
                          const std::string& toFile, const std::string& toInstance, bool keepOld);
std::string DropSchedule(CSchemeRecords& records, const CScheduler& scheduler,
                         const std::string& schemeFile, const std::string& instance);
// The follower (see SchemeFollower) that carries or drops the record and timer
// of the Schemes of the My Schemes folder `schemesDir`.
SchemeFollower ScheduleFollower(std::string recordsFile, CScheduler scheduler,
                                std::string schemesDir);

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute
// path, else ~/.config.
std::string UserConfigHome();
// tessarook-cli as the timer should run it: beside the program in
// `programDir`, or where a build keeps it (../cli), else the one PATH finds
// (its absolute path). "" when there is none.
std::string FindCliProgram(const std::string& programDir);

// The instance name of a scheme file: its Scheme name when it lies directly
// in the My Schemes folder `schemesDir`, else its path.
std::string ScheduleInstance(const std::string& schemesDir, const std::string& schemeFile);

}  // namespace tessarook
