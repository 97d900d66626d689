// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the program keeps per Scheme besides the scheme file itself: when it
// is backed up by itself, which old Backups are kept, and how the last Backup
// ended. One file per user ("schemes.records", beside settings.xml) holds the
// records of all Schemes, keyed by the scheme file's absolute path, so both
// programs and the timer's Backups read and write the same record.
//
// The file is text, one "key=value" per line under a "[scheme file path]"
// head. Keys this version does not know are kept as they are when the record
// is written again, so a later version's additions (an off-site copy's
// remote, say) survive an older program. Every update is made under a lock
// and written atomically.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupJob.h"
#include "backup/Retention.h"

namespace tessarook {

// How often a Scheme is backed up by itself.
enum class Schedule { kOff, kHourly, kDaily, kWeekly };

// How the last Backup of a Scheme ended.
enum class BackupEnd {
  kNone,         // no Backup recorded yet
  kOk,           // written with every file
  kSkipped,      // written, but some files could not be read
  kFailed,       // not written
  kInterrupted,  // cancelled or stopped before it was complete
};

// "off", "hourly", "daily", "weekly"; ParseSchedule is false for other texts.
const char* ScheduleName(Schedule schedule);
bool ParseSchedule(std::string_view text, Schedule& schedule);
// "ok", "skipped files", "failed", "interrupted" ("" for kNone).
const char* BackupEndText(BackupEnd end);

// How the last copy of a Scheme's Backups to its remote (a push) ended.
enum class PushEnd {
  kNone,         // no push recorded (since the remote was chosen)
  kOk,           // every finished Backup is on the remote
  kIncomplete,   // done, but some Backups were left out (one being written, say)
  kFailed,       // the remote could not be reached or refused, or rclone is missing
  kInterrupted,  // cancelled or stopped before it was complete
};
// "ok", "incomplete", "failed", "interrupted" ("" for kNone).
const char* PushEndText(PushEnd end);

struct SchemeRecord {
  Schedule schedule = Schedule::kOff;
  int64_t scheduledSince = 0;  // ns since 1970: when the schedule was last switched on
  KeepPolicy keep;             // applied after every Backup; no rule = keep all
  int level = 0;               // compression level 1-9; 0 = the program's default

  // The last Backup taken (by the window, the command line or the timer).
  std::string lastName;
  int64_t lastTaken = 0;  // ns since 1970: when it was started
  BackupEnd lastEnd = BackupEnd::kNone;
  uint64_t lastFiles = 0;    // files stored
  uint64_t lastSkipped = 0;  // files that could not be read
  std::string lastError;     // why it failed (one line)

  // The off-site copy: where every Backup is pushed afterwards ("REMOTE:PATH"
  // as rclone takes it; empty for none), and how the last push there ended.
  std::string remote;
  int64_t pushStarted = 0;  // ns since 1970: when the last push started
  PushEnd pushEnd = PushEnd::kNone;
  std::string pushError;  // why it failed or was incomplete (one line)

  // Chooses the remote (empty: none). A different remote has had no push yet.
  void SetRemote(const std::string& newRemote);
  // Forgets the last push: the copy of a Scheme under another name or path
  // has not been pushed, whatever the original's record says.
  void ForgetPush();

  // Keys this version does not know, kept as read.
  std::map<std::string, std::string> other;

  // True when nothing differs from a new record: such a record is not stored.
  bool IsEmpty() const;
};

using SchemeRecordMap = std::map<std::string, SchemeRecord>;  // scheme file path -> record

// Reads the text of a records file. Damaged or unknown lines are passed over;
// at most kMaxRecords records are read.
SchemeRecordMap ParseSchemeRecords(std::string_view text);
std::string FormatSchemeRecords(const SchemeRecordMap& records);
inline constexpr size_t kMaxRecords = 100000;
inline constexpr size_t kMaxRecordsFileBytes = 16 * 1024 * 1024;

// The period a schedule runs at, in seconds (0 for kOff).
int64_t SchedulePeriodSeconds(Schedule schedule);

// When a timer of that schedule runs next after `nowNs` (local time): hourly
// at the next full hour, daily at the next midnight, weekly at the next
// midnight from Sunday to Monday (`cronWeek`: from Saturday to Sunday, as cron's
// @weekly). 0 for kOff.
int64_t NextScheduledRun(Schedule schedule, int64_t nowNs, bool cronWeek = false);

// True when a scheduled Scheme's Backups are behind: its newest Backup (or,
// without any, the moment the schedule was switched on) is older than the
// period allows, with some slack for a timer's delay. `newestTaken` is 0 when
// the Scheme has no Backup.
bool IsBackupOverdue(const SchemeRecord& record, int64_t newestTaken, int64_t nowNs);

// Whether a Scheme wants the user's attention in My Schemes: its last Backup
// failed, or its scheduled Backups are overdue.
bool NeedsAttention(const SchemeRecord& record, int64_t newestTaken, int64_t nowNs);

// Whether the off-site copy of a Scheme is behind its Backups: the Scheme has
// a remote and a Backup (`newestTaken` or the recorded last one), and no push
// was recorded since, or the last push did not end ok, or it started before
// that Backup was taken.
bool IsRemoteBehind(const SchemeRecord& record, int64_t newestTaken);

// What My Schemes shows beside a Scheme's name.
struct SchemeStatus {
  std::string last;  // "10.12.2026, 00:08, ok": the last Backup's time and how it ended
  std::string next;  // "11.12.2026, 00:00": when the next is due; "" without a schedule
  // The off-site copy: "" without a remote; "10.12.2026, 00:09, ok" for the
  // last push; "behind: ..." when IsRemoteBehind.
  std::string offsite;
  bool remoteBehind = false;  // IsRemoteBehind
  bool attention = false;     // NeedsAttention, or the off-site copy is behind
};
// `newestTaken`: the newest listed Backup's time (0 for none). The last
// Backup is the recorded one; without a record, the newest listed one.
// `cronWeek` as for NextScheduledRun.
SchemeStatus DescribeScheme(const SchemeRecord& record, int64_t newestTaken, int64_t nowNs,
                            bool cronWeek);

// The records file of one user.
class CSchemeRecords {
 public:
  explicit CSchemeRecords(std::string file) : m_file(std::move(file)) {}
  // The records file that belongs with a settings file: beside it.
  static std::string FileBeside(const std::string& settingsFile);

  const std::string& File() const { return m_file; }

  // All records. A missing file gives none; so does an unreadable one, with
  // the reason in `error` when given.
  SchemeRecordMap ReadAll(std::string* error = nullptr) const;
  // The record of one scheme file (a new record when there is none).
  SchemeRecord Get(const std::string& schemeFile) const;

  // Changes one record under the file's lock and writes the file anew. False
  // (with the reason) when the file could not be written; nothing changed then.
  bool Update(const std::string& schemeFile, const std::function<void(SchemeRecord&)>& change,
              std::string* error = nullptr);
  // Moves or copies a record to another scheme file path (replacing its
  // record), or removes it. Nothing to move is no failure.
  bool Move(const std::string& from, const std::string& to, std::string* error = nullptr);
  bool Copy(const std::string& from, const std::string& to, std::string* error = nullptr);
  bool Remove(const std::string& schemeFile, std::string* error = nullptr);

 private:
  bool Change(const std::function<void(SchemeRecordMap&)>& change, std::string* error);
  std::string m_file;
};

// The end of a Backup as the record keeps it.
struct BackupEndNote {
  std::string name;
  int64_t started = 0;  // ns since 1970
  BackupEnd end = BackupEnd::kNone;
  uint64_t files = 0;
  uint64_t skipped = 0;
  std::string error;
};
// The note for a Backup job's result: a written Backup is ok, or "skipped
// files" when files could not be read; a cancelled one is interrupted.
BackupEndNote EndNoteOf(const std::string& name, int64_t started, const BackupJobResult& result);

// What a Scheme's keep rules would delete from its Backups now, as pruning
// judges them (files that are no Backup and Backups dated in the future
// stay), newest first. `judged`, when given, receives how many Backups the
// rules were applied to (files that are no Backup are not counted).
std::vector<BackupInfo> BackupsToPrune(const std::string& schemeFile, const KeepPolicy& keep,
                                       size_t* judged = nullptr);

// Notes how a Backup of `schemeFile` ended in its record.
bool NoteBackupEnd(CSchemeRecords& records, const std::string& schemeFile,
                   const BackupEndNote& note, std::string* error = nullptr);

// Notes how a push of `schemeFile` to `remote` ended. A push to a remote the
// record no longer names (it was changed meanwhile) is not noted.
bool NotePushEnd(CSchemeRecords& records, const std::string& schemeFile, const std::string& remote,
                 int64_t started, PushEnd end, const std::string& error,
                 std::string* recordError = nullptr);

}  // namespace tessarook
