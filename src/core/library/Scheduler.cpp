// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/Scheduler.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "library/UnitTemplates.h"
#include "settings/UserPlaces.h"
#include "util/AtomicFile.h"
#include "util/OpenBeneath.h"
#include "util/RunProgram.h"

namespace tessarook {

namespace {

namespace fs = std::filesystem;

constexpr int64_t kNsPerSecond = 1000000000;
const char kTemplateTimer[] = "tessarook-backup@.timer";
const char kTemplateService[] = "tessarook-backup@.service";
const char kDropInName[] = "schedule.conf";
const char kCronMark[] = "# tessarook-backup:";

ProgramRun Systemctl(std::vector<std::string> args) {
  args.insert(args.begin(), {"systemctl", "--user"});
  return RunProgram(args);
}

std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string Failure(const std::string& what, const ProgramRun& run) {
  if (!run.started) return what + ": the program could not be started";
  const std::string reason = FirstLine(run.err.empty() ? run.out : run.err);
  return what + (reason.empty() ? " failed" : ": " + reason);
}

// A word for sh, in single quotes; cron takes "%" for a line break unless escaped.
std::string ShellWord(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else if (c == '%')
      out += "\\%";
    else
      out += c;
  }
  return out + "'";
}

// The period as systemd's calendar and the delay it may add, so that machines
// started at one moment do not all read their disks at once.
const char* Calendar(Schedule schedule) { return ScheduleName(schedule); }
const char* Delay(Schedule schedule) { return schedule == Schedule::kHourly ? "5min" : "1h"; }

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

}  // namespace

std::string SystemdExecWord(const std::string& path) {
  const bool plain = !path.empty() && path.find_first_not_of(
                                          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                          "0123456789/._+-") == std::string::npos;
  if (plain) return path;
  // systemd reads C escapes in quotes, "%" as a specifier and "$" as a variable.
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\')
      out += std::string("\\") + c;
    else if (c == '%' || c == '$')
      out += std::string(2, c);
    else
      out += c;
  }
  return out + "\"";
}

std::string SystemdEscape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == ':' || c == '_' || (c == '.' && i > 0);
    if (c == '/') {
      out += '-';
    } else if (plain) {
      out += char(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

std::string TimerUnitName(const std::string& instance) {
  return "tessarook-backup@" + SystemdEscape(instance) + ".timer";
}

std::string CronLine(const std::string& cliPath, const std::string& settingsFile,
                     const std::string& instance, Schedule schedule) {
  if (schedule == Schedule::kOff) return std::string();
  for (const std::string* text : {&cliPath, &settingsFile, &instance})
    if (text->find_first_of("\r\n") != std::string::npos) return std::string();
  std::string line =
      std::string("@") + ScheduleName(schedule) + " " + ShellWord(cliPath) + " --quiet";
  if (!settingsFile.empty()) line += " --settings " + ShellWord(settingsFile);
  line += " backup --notify -- " + ShellWord(instance) + " " + kCronMark + SystemdEscape(instance);
  return line;
}

std::string ReplaceCronLine(const std::string& crontab, const std::string& instance,
                            const std::string& line) {
  const std::string mark = kCronMark + SystemdEscape(instance);
  std::string out;
  size_t pos = 0;
  while (pos < crontab.size()) {
    size_t end = crontab.find('\n', pos);
    if (end == std::string::npos) end = crontab.size();
    const std::string current = crontab.substr(pos, end - pos);
    pos = end + 1;
    // The mark ends the line: another instance's mark may begin with this one's.
    const bool ours = current.size() >= mark.size() &&
                      current.compare(current.size() - mark.size(), mark.size(), mark) == 0;
    if (!ours) out += current + "\n";
  }
  if (!line.empty()) out += line + "\n";
  return out;
}

CScheduler::CScheduler(std::string cliPath, std::string configHome, std::string settingsFile)
    : m_cliPath(std::move(cliPath)),
      m_configHome(std::move(configHome)),
      m_settingsFile(std::move(settingsFile)) {}

std::string CScheduler::UnitFolder() const { return JoinPath(m_configHome, "systemd/user"); }

TimerKind CScheduler::Kind() const {
  const ProgramRun run = Systemctl({"show", "--property=Version"});
  if (run.started && run.status == 0) return TimerKind::kSystemd;
  const ProgramRun cron = RunProgram({"sh", "-c", "command -v crontab"});
  if (cron.started && cron.status == 0) return TimerKind::kCron;
  return TimerKind::kNone;
}

bool CScheduler::Apply(const std::string& instance, Schedule schedule, std::string* error) const {
  switch (Kind()) {
    case TimerKind::kSystemd:
      return ApplySystemd(instance, schedule, error);
    case TimerKind::kCron:
      return ApplyCron(instance, schedule, error);
    case TimerKind::kNone:
      break;
  }
  if (schedule == Schedule::kOff) return true;  // nothing can be running
  if (error)
    *error =
        "no systemd user manager is running and there is no crontab program (Debian package "
        "\"cron\"): nothing can start Backups by themselves";
  return false;
}

bool CScheduler::EnsureUnits(std::string* error) const {
  // The installed units are used as they are; where the program was not
  // installed (run from where it was built, say) the user gets its own copy.
  const ProgramRun found = Systemctl({"cat", kTemplateTimer});
  if (found.started && found.status == 0) return true;
  std::string why;
  if (!CreateFolderPath(UnitFolder(), 0755, &why)) {
    if (error) *error = why;
    return false;
  }
  // The units as installed, with this program's path.
  const std::string service =
      ReplaceAll(kServiceUnitTemplate, "@TESSAROOK_CLI_PATH@", SystemdExecWord(m_cliPath));
  const std::string timer = kTimerUnitTemplate;
  if (!WriteFileAtomic(JoinPath(UnitFolder(), kTemplateService), service) ||
      !WriteFileAtomic(JoinPath(UnitFolder(), kTemplateTimer), timer)) {
    if (error) *error = "cannot write the timer's units into " + UnitFolder();
    return false;
  }
  return true;
}

bool CScheduler::ApplySystemd(const std::string& instance, Schedule schedule,
                              std::string* error) const {
  const std::string unit = TimerUnitName(instance);
  const std::string dropInFolder = JoinPath(UnitFolder(), unit + ".d");
  const std::string dropIn = JoinPath(dropInFolder, kDropInName);
  // A line of the crontab from a time without systemd would run it twice.
  if (RunProgram({"sh", "-c", "command -v crontab"}).status == 0)
    ApplyCron(instance, Schedule::kOff, nullptr);
  if (schedule == Schedule::kOff) {
    const ProgramRun run = Systemctl({"disable", "--now", unit});
    std::error_code ec;
    fs::remove(dropIn, ec);
    fs::remove(dropInFolder, ec);  // only when empty: the user's own drop-ins stay
    Systemctl({"daemon-reload"});
    // A unit that is not there (no template) has nothing to disable.
    if (run.started && run.status != 0 && Systemctl({"cat", kTemplateTimer}).status == 0) {
      if (error) *error = Failure("systemctl --user disable " + unit, run);
      return false;
    }
    return true;
  }
  if (!EnsureUnits(error)) return false;
  std::string why;
  if (!CreateFolderPath(dropInFolder, 0755, &why)) {
    if (error) *error = why;
    return false;
  }
  const std::string text = std::string(
                               "# Written by Tessarook: how often the Scheme is backed up.\n"
                               "[Timer]\nOnCalendar=\nOnCalendar=") +
                           Calendar(schedule) + "\nRandomizedDelaySec=" + Delay(schedule) + "\n";
  if (!WriteFileAtomic(dropIn, text)) {
    if (error) *error = "cannot write " + dropIn + ": " + ErrnoText(errno);
    return false;
  }
  ProgramRun run = Systemctl({"daemon-reload"});
  if (run.status != 0) {
    if (error) *error = Failure("systemctl --user daemon-reload", run);
    return false;
  }
  run = Systemctl({"enable", unit});
  if (run.status != 0) {
    if (error) *error = Failure("systemctl --user enable " + unit, run);
    return false;
  }
  // Started anew, so that the new period counts from now.
  run = Systemctl({"restart", unit});
  if (run.status != 0) {
    if (error) *error = Failure("systemctl --user restart " + unit, run);
    return false;
  }
  return true;
}

bool CScheduler::ApplyCron(const std::string& instance, Schedule schedule,
                           std::string* error) const {
  const std::string line = CronLine(m_cliPath, m_settingsFile, instance, schedule);
  if (schedule != Schedule::kOff && line.empty()) {
    if (error) *error = "a crontab line cannot hold a name or path with a line break";
    return false;
  }
  const ProgramRun list = RunProgram({"crontab", "-l"});
  if (!list.started) {
    if (error) *error = "the crontab program could not be started";
    return false;
  }
  // "no crontab for USER" is an empty crontab; any other complaint stops here,
  // or the user's own lines could be lost.
  if (list.status != 0 && list.err.find("no crontab") == std::string::npos) {
    if (error) *error = Failure("crontab -l", list);
    return false;
  }
  const std::string current = list.status == 0 ? list.out : std::string();
  const std::string changed = ReplaceCronLine(current, instance, line);
  if (changed == current) return true;
  const ProgramRun write = RunProgram({"crontab", "-"}, changed);
  if (write.status != 0) {
    if (error) *error = Failure("crontab", write);
    return false;
  }
  return true;
}

TimerState CScheduler::Query(const std::string& instance, Schedule schedule) const {
  TimerState state;
  state.kind = Kind();
  const int64_t now = int64_t(time(nullptr)) * kNsPerSecond;
  if (state.kind == TimerKind::kSystemd) {
    state.what = TimerUnitName(instance);
    const ProgramRun enabled = Systemctl({"is-enabled", state.what});
    state.enabled = enabled.status == 0 && FirstLine(enabled.out) == "enabled";
    if (!state.enabled) return state;
    // The JSON listing gives the moment as a number (µs since 1970).
    const ProgramRun next = Systemctl({"list-timers", "--all", "--output=json", state.what});
    const size_t at = next.out.find("\"next\":");
    if (next.status == 0 && at != std::string::npos) {
      const long long usec = std::strtoll(next.out.c_str() + at + 7, nullptr, 10);
      if (usec > 0) state.nextRun = int64_t(usec) * 1000;
    }
    if (state.nextRun == 0) state.nextRun = NextScheduledRun(schedule, now);
    return state;
  }
  if (state.kind == TimerKind::kCron) {
    state.what = "crontab";
    const ProgramRun list = RunProgram({"crontab", "-l"});
    const std::string mark = kCronMark + SystemdEscape(instance);
    state.enabled = list.status == 0 && list.out.find(mark + "\n") != std::string::npos;
    if (state.enabled) state.nextRun = NextScheduledRun(schedule, now, true);
  }
  return state;
}

std::string UserConfigHome() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return config;
  const char* home = std::getenv("HOME");
  return JoinPath(home && home[0] == '/' ? home : "/", ".config");
}

std::string FindCliProgram(const std::string& programDir) {
  for (const char* relative : {"tessarook-cli", "../cli/tessarook-cli"}) {
    const std::string candidate = fs::path(JoinPath(programDir, relative)).lexically_normal();
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  const ProgramRun found = RunProgram({"sh", "-c", "command -v tessarook-cli"});
  const std::string path = FirstLine(found.out);
  return found.status == 0 && !path.empty() && path[0] == '/' ? path : std::string();
}

std::string ScheduleInstance(const std::string& schemesDir, const std::string& schemeFile) {
  const std::string folder = FolderOf(schemeFile);
  std::error_code ec;
  const bool inLibrary = !schemesDir.empty() && fs::equivalent(folder, schemesDir, ec);
  const std::string name = schemeFile.substr(folder.size() + (folder == "/" ? 0 : 1));
  const std::string ending = ".tsbak";
  if (inLibrary && name.size() > ending.size() &&
      name.compare(name.size() - ending.size(), ending.size(), ending) == 0 &&
      name.find('/') == std::string::npos)
    return name.substr(0, name.size() - ending.size());
  return schemeFile;
}

std::string CarrySchedule(CSchemeRecords& records, const CScheduler& scheduler,
                          const std::string& fromFile, const std::string& fromInstance,
                          const std::string& toFile, const std::string& toInstance, bool keepOld) {
  std::string error;
  const Schedule oldTarget = records.Get(toFile).schedule;
  const SchemeRecord record = records.Get(fromFile);
  const bool carried =
      keepOld ? records.Copy(fromFile, toFile, &error) : records.Move(fromFile, toFile, &error);
  if (!carried) return error;
  // The replaced Scheme's timer goes; the carried one follows its record.
  if (oldTarget != Schedule::kOff && record.schedule == Schedule::kOff &&
      !scheduler.Apply(toInstance, Schedule::kOff, &error))
    return error;
  if (record.schedule == Schedule::kOff) return std::string();
  if (!keepOld && !scheduler.Apply(fromInstance, Schedule::kOff, &error)) return error;
  if (!scheduler.Apply(toInstance, record.schedule, &error)) return error;
  return std::string();
}

std::string DropSchedule(CSchemeRecords& records, const CScheduler& scheduler,
                         const std::string& schemeFile, const std::string& instance) {
  std::string error;
  const Schedule schedule = records.Get(schemeFile).schedule;
  if (!records.Remove(schemeFile, &error)) return error;
  if (schedule != Schedule::kOff && !scheduler.Apply(instance, Schedule::kOff, &error))
    return error;
  return std::string();
}

SchemeFollower ScheduleFollower(std::string recordsFile, CScheduler scheduler,
                                std::string schemesDir) {
  return [recordsFile = std::move(recordsFile), scheduler = std::move(scheduler),
          dir = std::move(schemesDir)](const std::string& fromFile, const std::string& toFile,
                                       bool copy) {
    CSchemeRecords records(recordsFile);
    const std::string fromInstance = ScheduleInstance(dir, fromFile);
    return toFile.empty() ? DropSchedule(records, scheduler, fromFile, fromInstance)
                          : CarrySchedule(records, scheduler, fromFile, fromInstance, toFile,
                                          ScheduleInstance(dir, toFile), copy);
  };
}

}  // namespace tessarook
