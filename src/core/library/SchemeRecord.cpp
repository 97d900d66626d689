// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/SchemeRecord.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "backup/Prune.h"
#include "settings/UserPlaces.h"
#include "shell/StatusTexts.h"
#include "util/AtomicFile.h"
#include "util/OpenBeneath.h"
#include "util/PrivateFiles.h"

namespace tessarook {

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
constexpr unsigned kMaxKeep = 1000000;

struct KeepKey {
  const char* key;
  unsigned KeepPolicy::*field;
};
const KeepKey kKeepKeys[] = {{"keep-last", &KeepPolicy::last},
                             {"keep-hourly", &KeepPolicy::hourly},
                             {"keep-daily", &KeepPolicy::daily},
                             {"keep-weekly", &KeepPolicy::weekly},
                             {"keep-monthly", &KeepPolicy::monthly}};

const char* const kEndNames[] = {"", "ok", "skipped", "failed", "interrupted"};
const char* const kPushEndNames[] = {"", "ok", "incomplete", "failed", "interrupted"};

// A reason as the record keeps it: its first line, of a length a list can show.
std::string OneLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (line.size() > 500) line.resize(500);
  return line;
}

// "%", CR and LF would break the line structure: they are written as %25, %0D, %0A.
std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '%')
      out += "%25";
    else if (c == '\n')
      out += "%0A";
    else if (c == '\r')
      out += "%0D";
    else
      out += c;
  }
  return out;
}

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const std::string_view code = text.substr(i + 1, 2);
      if (code == "25" || code == "0A" || code == "0D") {
        out += code == "25" ? '%' : code == "0A" ? '\n' : '\r';
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// A whole number of at most 19 digits; false for anything else.
bool ParseNumber(std::string_view text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + uint64_t(c - '0');
  }
  return true;
}

bool ParseSigned(std::string_view text, int64_t& value) {
  const bool negative = !text.empty() && text[0] == '-';
  uint64_t magnitude = 0;
  if (!ParseNumber(negative ? text.substr(1) : text, magnitude)) return false;
  if (magnitude > uint64_t(INT64_MAX)) return false;
  value = negative ? -int64_t(magnitude) : int64_t(magnitude);
  return true;
}

// An end named in the file: `names` holds the names of 1, 2, ... (0 has none).
// An unknown name leaves `end` as it is.
template <typename End, size_t N>
void ParseName(const std::string& value, const char* const (&names)[N], End& end) {
  for (size_t i = 1; i < N; ++i)
    if (value == names[i]) end = End(i);
}

void SetValue(SchemeRecord& record, const std::string& key, const std::string& value) {
  uint64_t number = 0;
  int64_t moment = 0;
  for (const KeepKey& k : kKeepKeys) {
    if (key != k.key) continue;
    if (ParseNumber(value, number) && number <= kMaxKeep) record.keep.*k.field = unsigned(number);
    return;
  }
  if (key == "schedule") {
    ParseSchedule(value, record.schedule);
  } else if (key == "scheduled-since") {
    if (ParseSigned(value, moment)) record.scheduledSince = moment;
  } else if (key == "level") {
    if (ParseNumber(value, number) && number <= 9) record.level = int(number);
  } else if (key == "last-name") {
    record.lastName = value;
  } else if (key == "last-taken") {
    if (ParseSigned(value, moment)) record.lastTaken = moment;
  } else if (key == "last-end") {
    ParseName(value, kEndNames, record.lastEnd);
  } else if (key == "last-files") {
    if (ParseNumber(value, number)) record.lastFiles = number;
  } else if (key == "last-skipped") {
    if (ParseNumber(value, number)) record.lastSkipped = number;
  } else if (key == "last-error") {
    record.lastError = value;
  } else if (key == "remote") {
    record.remote = value;
  } else if (key == "push-started") {
    if (ParseSigned(value, moment)) record.pushStarted = moment;
  } else if (key == "push-end") {
    ParseName(value, kPushEndNames, record.pushEnd);
  } else if (key == "push-error") {
    record.pushError = value;
  } else if (!key.empty() && record.other.size() < 64) {
    record.other[key] = value;
  }
}

struct tm LocalTm(int64_t ns) {
  const time_t seconds = time_t(ns / kNsPerSecond);
  struct tm tm {};
  localtime_r(&seconds, &tm);
  return tm;
}

int64_t FromLocalTm(struct tm tm) {
  tm.tm_isdst = -1;
  return int64_t(mktime(&tm)) * kNsPerSecond;
}

// Writes an error text: the file and the system's reason.
void SetError(std::string* error, const std::string& what, int err) {
  if (error) *error = what + ": " + ErrnoText(err);
}

}  // namespace

const char* ScheduleName(Schedule schedule) {
  switch (schedule) {
    case Schedule::kHourly:
      return "hourly";
    case Schedule::kDaily:
      return "daily";
    case Schedule::kWeekly:
      return "weekly";
    case Schedule::kOff:
      break;
  }
  return "off";
}

bool ParseSchedule(std::string_view text, Schedule& schedule) {
  for (Schedule s : {Schedule::kOff, Schedule::kHourly, Schedule::kDaily, Schedule::kWeekly}) {
    if (text == ScheduleName(s)) {
      schedule = s;
      return true;
    }
  }
  return false;
}

const char* BackupEndText(BackupEnd end) {
  switch (end) {
    case BackupEnd::kOk:
      return "ok";
    case BackupEnd::kSkipped:
      return "skipped files";
    case BackupEnd::kFailed:
      return "failed";
    case BackupEnd::kInterrupted:
      return "interrupted";
    case BackupEnd::kNone:
      break;
  }
  return "";
}

const char* PushEndText(PushEnd end) { return kPushEndNames[int(end)]; }

bool SchemeRecord::IsEmpty() const {
  return schedule == Schedule::kOff && !keep.Any() && level == 0 && lastName.empty() &&
         lastEnd == BackupEnd::kNone && remote.empty() && pushEnd == PushEnd::kNone &&
         other.empty();
}

void SchemeRecord::SetRemote(const std::string& newRemote) {
  if (newRemote != remote) ForgetPush();
  remote = newRemote;
}

void SchemeRecord::ForgetPush() {
  pushStarted = 0;
  pushEnd = PushEnd::kNone;
  pushError.clear();
}

SchemeRecordMap ParseSchemeRecords(std::string_view text) {
  SchemeRecordMap records;
  SchemeRecord* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() > 2) {
      const std::string path = Unescape(line.substr(1, line.size() - 2));
      if (path.empty() || path[0] != '/') {
        current = nullptr;  // only absolute paths name a Scheme
      } else if (records.count(path) || records.size() < kMaxRecords) {
        current = &records[path];
      } else {
        break;
      }
      continue;
    }
    const size_t eq = line.find('=');
    if (!current || eq == std::string_view::npos) continue;
    SetValue(*current, std::string(line.substr(0, eq)), Unescape(line.substr(eq + 1)));
  }
  return records;
}

std::string FormatSchemeRecords(const SchemeRecordMap& records) {
  std::string out =
      "# Tessarook: each Scheme's schedule, keep rules and last Backup. Written by the program.\n";
  auto put = [&out](const char* key, const std::string& value) {
    out += key;
    out += '=';
    out += Escape(value);
    out += '\n';
  };
  for (const auto& [path, r] : records) {
    if (r.IsEmpty()) continue;
    out += "\n[" + Escape(path) + "]\n";
    if (r.schedule != Schedule::kOff) {
      put("schedule", ScheduleName(r.schedule));
      put("scheduled-since", std::to_string(r.scheduledSince));
    }
    for (const KeepKey& k : kKeepKeys)
      if (r.keep.*k.field) put(k.key, std::to_string(r.keep.*k.field));
    if (r.level) put("level", std::to_string(r.level));
    if (r.lastEnd != BackupEnd::kNone) {
      put("last-name", r.lastName);
      put("last-taken", std::to_string(r.lastTaken));
      put("last-end", kEndNames[int(r.lastEnd)]);
      put("last-files", std::to_string(r.lastFiles));
      put("last-skipped", std::to_string(r.lastSkipped));
      if (!r.lastError.empty()) put("last-error", r.lastError);
    }
    if (!r.remote.empty()) put("remote", r.remote);
    if (r.pushEnd != PushEnd::kNone) {
      put("push-started", std::to_string(r.pushStarted));
      put("push-end", kPushEndNames[int(r.pushEnd)]);
      if (!r.pushError.empty()) put("push-error", r.pushError);
    }
    for (const auto& [key, value] : r.other) put(key.c_str(), value);
  }
  return out;
}

int64_t SchedulePeriodSeconds(Schedule schedule) {
  switch (schedule) {
    case Schedule::kHourly:
      return 3600;
    case Schedule::kDaily:
      return 24 * 3600;
    case Schedule::kWeekly:
      return 7 * 24 * 3600;
    case Schedule::kOff:
      break;
  }
  return 0;
}

int64_t NextScheduledRun(Schedule schedule, int64_t nowNs, bool cronWeek) {
  if (schedule == Schedule::kOff) return 0;
  struct tm tm = LocalTm(nowNs);
  tm.tm_sec = 0;
  tm.tm_min = 0;
  if (schedule == Schedule::kHourly) {
    tm.tm_hour += 1;
    return FromLocalTm(tm);
  }
  tm.tm_hour = 0;
  if (schedule == Schedule::kDaily) {
    tm.tm_mday += 1;
    return FromLocalTm(tm);
  }
  // Weekly: the next start of Monday (systemd's weeks) or Sunday (cron's).
  const int startDay = cronWeek ? 0 : 1;
  int days = (startDay - tm.tm_wday + 7) % 7;
  if (days == 0) days = 7;
  tm.tm_mday += days;
  return FromLocalTm(tm);
}

bool IsBackupOverdue(const SchemeRecord& record, int64_t newestTaken, int64_t nowNs) {
  const int64_t period = SchedulePeriodSeconds(record.schedule);
  if (period == 0) return false;
  // A timer may start up to an hour late (its randomised delay), and a Backup
  // takes a while: an hourly schedule allows half an hour more, the others two.
  const int64_t slack = record.schedule == Schedule::kHourly ? 1800 : 7200;
  const int64_t since = newestTaken > 0 ? newestTaken : record.scheduledSince;
  if (since <= 0) return false;
  return nowNs - since > (period + slack) * kNsPerSecond;
}

bool NeedsAttention(const SchemeRecord& record, int64_t newestTaken, int64_t nowNs) {
  return record.lastEnd == BackupEnd::kFailed || IsBackupOverdue(record, newestTaken, nowNs);
}

bool IsRemoteBehind(const SchemeRecord& record, int64_t newestTaken) {
  if (record.remote.empty()) return false;
  int64_t newest = newestTaken;
  if (record.lastEnd == BackupEnd::kOk || record.lastEnd == BackupEnd::kSkipped)
    newest = std::max(newest, record.lastTaken);
  if (newest <= 0) return false;  // nothing to copy yet
  return record.pushEnd != PushEnd::kOk || record.pushStarted < newest;
}

SchemeStatus DescribeScheme(const SchemeRecord& record, int64_t newestTaken, int64_t nowNs,
                            bool cronWeek) {
  SchemeStatus status;
  if (record.lastEnd != BackupEnd::kNone)
    status.last = MomentText(record.lastTaken) + ", " + BackupEndText(record.lastEnd);
  else if (newestTaken > 0)
    status.last = MomentText(newestTaken);
  if (record.schedule != Schedule::kOff)
    status.next = MomentText(NextScheduledRun(record.schedule, nowNs, cronWeek));
  if (!record.remote.empty()) {
    status.remoteBehind = IsRemoteBehind(record, newestTaken);
    const std::string pushed =
        record.pushEnd == PushEnd::kNone
            ? std::string("not copied yet")
            : MomentText(record.pushStarted) + ", " + PushEndText(record.pushEnd);
    status.offsite = status.remoteBehind ? "behind: " + pushed : pushed;
  }
  status.attention = NeedsAttention(record, newestTaken, nowNs) || status.remoteBehind;
  return status;
}

std::string CSchemeRecords::FileBeside(const std::string& settingsFile) {
  return JoinPath(FolderOf(settingsFile), "schemes.records");
}

SchemeRecordMap CSchemeRecords::ReadAll(std::string* error) const {
  const int fd = open(m_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) SetError(error, "cannot read " + m_file, errno);
    return {};
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetError(error, "cannot read " + m_file, errno);
      close(fd);
      return {};
    }
    if (n == 0) break;
    // A file grown past any sensible size is read only as far as the bound.
    text.append(buffer, size_t(n));
    if (text.size() >= kMaxRecordsFileBytes) {
      text.resize(kMaxRecordsFileBytes);
      break;
    }
  }
  close(fd);
  return ParseSchemeRecords(text);
}

SchemeRecord CSchemeRecords::Get(const std::string& schemeFile) const {
  const SchemeRecordMap all = ReadAll();
  const auto it = all.find(schemeFile);
  return it == all.end() ? SchemeRecord() : it->second;
}

bool CSchemeRecords::Change(const std::function<void(SchemeRecordMap&)>& change,
                            std::string* error) {
  // The record tells which Schemes exist and when they run: the user's alone.
  if (!MakePrivateFolders(FolderOf(m_file))) {
    SetError(error, "cannot make the folder " + FolderOf(m_file), errno);
    return false;
  }
  // One writer at a time: the window, a command line and a timer's Backup
  // may all end at once, and each must see the others' changes.
  const std::string lockPath = m_file + ".lock";
  const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) {
    SetError(error, "cannot write " + m_file, errno);
    return false;
  }
  while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::string readError;
  SchemeRecordMap records = ReadAll(&readError);
  bool ok = readError.empty();
  if (!ok) {
    if (error) *error = readError;
  } else {
    change(records);
    ok = WriteFileAtomic(m_file, FormatSchemeRecords(records), kPrivateFileMode);
    if (!ok) SetError(error, "cannot write " + m_file, errno);
  }
  close(lock);
  return ok;
}

bool CSchemeRecords::Update(const std::string& schemeFile,
                            const std::function<void(SchemeRecord&)>& change, std::string* error) {
  return Change([&](SchemeRecordMap& records) { change(records[schemeFile]); }, error);
}

bool CSchemeRecords::Move(const std::string& from, const std::string& to, std::string* error) {
  if (from == to) return true;
  return Change(
      [&](SchemeRecordMap& records) {
        const auto it = records.find(from);
        if (it == records.end()) {
          records.erase(to);  // the replaced Scheme's record goes with it
          return;
        }
        records[to] = it->second;
        records[to].ForgetPush();  // the remote holds the Scheme under its old name
        records.erase(from);
      },
      error);
}

bool CSchemeRecords::Copy(const std::string& from, const std::string& to, std::string* error) {
  if (from == to) return true;
  return Change(
      [&](SchemeRecordMap& records) {
        const auto it = records.find(from);
        if (it == records.end()) {
          records.erase(to);
        } else {
          records[to] = it->second;
          records[to].ForgetPush();  // the copy has not been pushed
        }
      },
      error);
}

bool CSchemeRecords::Remove(const std::string& schemeFile, std::string* error) {
  return Change([&](SchemeRecordMap& records) { records.erase(schemeFile); }, error);
}

BackupEndNote EndNoteOf(const std::string& name, int64_t started, const BackupJobResult& result) {
  BackupEndNote note;
  note.name = name;
  note.started = started;
  note.files = result.filesStored;
  note.skipped = result.skipped.size();
  switch (result.status) {
    case BackupJobResult::Status::kDone:
      note.end = result.skipped.empty() ? BackupEnd::kOk : BackupEnd::kSkipped;
      break;
    case BackupJobResult::Status::kCancelled:
      note.end = BackupEnd::kInterrupted;
      break;
    case BackupJobResult::Status::kFailed:
      note.end = BackupEnd::kFailed;
      note.error = result.error;
      break;
  }
  return note;
}

std::vector<BackupInfo> BackupsToPrune(const std::string& schemeFile, const KeepPolicy& keep,
                                       size_t* judged) {
  if (judged != nullptr) *judged = 0;
  if (!keep.Any()) return {};
  PruneOptions options;
  options.dryRun = true;
  PruneOutcome outcome = PruneBackups(CBackupStore(schemeFile), keep, options);
  if (judged != nullptr) *judged = outcome.kept.size() + outcome.deleted.size();
  std::vector<BackupInfo> gone = std::move(outcome.deleted);
  std::reverse(gone.begin(), gone.end());
  return gone;
}

bool NoteBackupEnd(CSchemeRecords& records, const std::string& schemeFile,
                   const BackupEndNote& note, std::string* error) {
  return records.Update(
      schemeFile,
      [&](SchemeRecord& r) {
        r.lastName = note.name;
        r.lastTaken = note.started;
        r.lastEnd = note.end;
        r.lastFiles = note.files;
        r.lastSkipped = note.skipped;
        r.lastError = OneLine(note.error);
      },
      error);
}

bool NotePushEnd(CSchemeRecords& records, const std::string& schemeFile, const std::string& remote,
                 int64_t started, PushEnd end, const std::string& error, std::string* recordError) {
  return records.Update(
      schemeFile,
      [&](SchemeRecord& r) {
        if (r.remote != remote) return;
        r.pushStarted = started;
        r.pushEnd = end;
        r.pushError = OneLine(error);
      },
      recordError);
}

}  // namespace tessarook
