// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "../util/TempFolder.h"
#include "library/Scheduler.h"
#include "library/SchemeRecord.h"

namespace tessarook {
namespace {

using test::ReadText;
using test::TempFolder;
using test::WriteText;

constexpr int64_t kSecond = 1000000000;

SchemeRecord Full() {
  SchemeRecord r;
  r.schedule = Schedule::kWeekly;
  r.scheduledSince = 1700000000 * kSecond;
  r.keep.last = 3;
  r.keep.monthly = 12;
  r.level = 9;
  r.lastName = "2026-12-09 10.00.00";
  r.lastTaken = 1765270800 * kSecond;
  r.lastEnd = BackupEnd::kSkipped;
  r.lastFiles = 1200;
  r.lastSkipped = 2;
  r.lastError = "a 100% odd\nreason";
  r.remote = "nas:backups/a 100%";
  r.pushStarted = 1765270900 * kSecond;
  r.pushEnd = PushEnd::kIncomplete;
  r.pushError = "not sent: b: being written";
  r.other["a-later-key"] = "x";
  return r;
}

void ExpectSame(const SchemeRecord& a, const SchemeRecord& b) {
  EXPECT_EQ(a.schedule, b.schedule);
  EXPECT_EQ(a.scheduledSince, b.scheduledSince);
  EXPECT_EQ(a.keep.last, b.keep.last);
  EXPECT_EQ(a.keep.hourly, b.keep.hourly);
  EXPECT_EQ(a.keep.monthly, b.keep.monthly);
  EXPECT_EQ(a.level, b.level);
  EXPECT_EQ(a.lastName, b.lastName);
  EXPECT_EQ(a.lastTaken, b.lastTaken);
  EXPECT_EQ(a.lastEnd, b.lastEnd);
  EXPECT_EQ(a.lastFiles, b.lastFiles);
  EXPECT_EQ(a.lastSkipped, b.lastSkipped);
  EXPECT_EQ(a.lastError, b.lastError);
  EXPECT_EQ(a.remote, b.remote);
  EXPECT_EQ(a.pushStarted, b.pushStarted);
  EXPECT_EQ(a.pushEnd, b.pushEnd);
  EXPECT_EQ(a.pushError, b.pushError);
  EXPECT_EQ(a.other, b.other);
}

// Every field, unknown keys of a later version, and paths and texts holding
// the characters the file uses for its own structure come back as written.
TEST(SchemeRecordTest, RoundTripKeepsEveryFieldAndStrangeNames) {
  SchemeRecordMap records;
  records["/home/a/My Schemes/Home.tsbak"] = Full();
  records["/tmp/odd]\n[name%0A=x.tsbak"] = Full();
  records["/tmp/empty.tsbak"] = SchemeRecord();  // nothing to store: left out
  const SchemeRecordMap back = ParseSchemeRecords(FormatSchemeRecords(records));
  ASSERT_EQ(back.size(), 2u);
  for (const auto& [path, record] : back) {
    ASSERT_TRUE(records.count(path)) << path;
    ExpectSame(record, Full());
  }
}

// A damaged file gives what can be read, never more than the bounds allow.
TEST(SchemeRecordTest, DamagedTextIsReadAsFarAsItMakesSense) {
  const std::string text =
      "[/a.tsbak]\nschedule=fortnightly\nkeep-last=99999999999999999999\nkeep-daily=7\n"
      "level=12\nlast-end=exploded\nlast-taken=-5\nno equals sign\n=empty key\n"
      "[relative.tsbak]\nschedule=daily\n[]\n[/b.tsbak]\r\nschedule=hourly\r\n"
      "keep-weekly=-1\nlast-files=12x\n\0binary";
  const SchemeRecordMap records = ParseSchemeRecords(text);
  ASSERT_EQ(records.size(), 2u);
  const SchemeRecord& a = records.at("/a.tsbak");
  EXPECT_EQ(a.schedule, Schedule::kOff);
  EXPECT_EQ(a.keep.last, 0u);
  EXPECT_EQ(a.keep.daily, 7u);
  EXPECT_EQ(a.level, 0);
  EXPECT_EQ(a.lastEnd, BackupEnd::kNone);
  EXPECT_EQ(a.lastTaken, -5);
  const SchemeRecord& b = records.at("/b.tsbak");
  EXPECT_EQ(b.schedule, Schedule::kHourly);
  EXPECT_EQ(b.keep.weekly, 0u);
  EXPECT_EQ(b.lastFiles, 0u);

  std::string many;
  for (size_t i = 0; i < kMaxRecords + 10; ++i) many += "[/s" + std::to_string(i) + "]\nlevel=1\n";
  EXPECT_EQ(ParseSchemeRecords(many).size(), kMaxRecords);
}

// The file: updates under the lock from several threads all land; a Scheme
// renamed, duplicated or deleted carries or drops its record; an unreadable
// file is reported and not overwritten.
TEST(SchemeRecordTest, FileUpdatesMovesCopiesAndRemoves) {
  TempFolder dir;
  CSchemeRecords records(CSchemeRecords::FileBeside(dir.Path("config/settings.xml")));
  EXPECT_EQ(records.File(), dir.Path("config/schemes.records"));
  EXPECT_TRUE(records.ReadAll().empty());

  // Which Schemes exist and when they run is the user's alone, whatever the umask.
  const mode_t umaskBefore = umask(022);
  ASSERT_TRUE(records.Update("/s/private.tsbak", [](SchemeRecord& r) { r.keep.last = 1; }));
  umask(umaskBefore);
  struct stat st {};
  ASSERT_EQ(stat(records.File().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(stat(dir.Path("config").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_TRUE(records.Remove("/s/private.tsbak"));

  std::vector<std::thread> writers;
  for (int i = 0; i < 8; ++i)
    writers.emplace_back([&records, i] {
      for (int j = 0; j < 5; ++j)
        ASSERT_TRUE(records.Update("/s/" + std::to_string(i) + ".tsbak",
                                   [](SchemeRecord& r) { r.keep.last += 1; }));
    });
  for (std::thread& t : writers) t.join();
  const SchemeRecordMap all = records.ReadAll();
  ASSERT_EQ(all.size(), 8u);
  for (const auto& [path, r] : all) EXPECT_EQ(r.keep.last, 5u) << path;

  // A renamed or duplicated Scheme keeps its remote, but the remote holds it
  // under the old name only: it has not been pushed.
  SchemeRecord unpushed = Full();
  unpushed.ForgetPush();
  ASSERT_TRUE(records.Update("/s/a.tsbak", [](SchemeRecord& r) { r = Full(); }));
  ASSERT_TRUE(records.Move("/s/a.tsbak", "/s/b.tsbak"));
  EXPECT_TRUE(records.Get("/s/a.tsbak").IsEmpty());
  ExpectSame(records.Get("/s/b.tsbak"), unpushed);
  ASSERT_TRUE(records.Update("/s/b.tsbak", [](SchemeRecord& r) { r = Full(); }));
  ASSERT_TRUE(records.Copy("/s/b.tsbak", "/s/c.tsbak"));
  ExpectSame(records.Get("/s/b.tsbak"), Full());
  ExpectSame(records.Get("/s/c.tsbak"), unpushed);
  EXPECT_EQ(records.Get("/s/c.tsbak").remote, "nas:backups/a 100%");
  // Moving a Scheme without a record over one with a record: the old one goes.
  ASSERT_TRUE(records.Move("/s/none.tsbak", "/s/c.tsbak"));
  EXPECT_TRUE(records.Get("/s/c.tsbak").IsEmpty());
  ASSERT_TRUE(records.Remove("/s/b.tsbak"));
  EXPECT_TRUE(records.Get("/s/b.tsbak").IsEmpty());
  EXPECT_EQ(records.ReadAll().size(), 8u);

  BackupEndNote note;
  note.name = "n";
  note.started = 42;
  note.end = BackupEnd::kFailed;
  note.error = std::string(2000, 'x') + "\nsecond line";
  ASSERT_TRUE(NoteBackupEnd(records, "/s/0.tsbak", note));
  const SchemeRecord noted = records.Get("/s/0.tsbak");
  EXPECT_EQ(noted.lastEnd, BackupEnd::kFailed);
  EXPECT_EQ(noted.lastError, std::string(500, 'x'));
  EXPECT_EQ(noted.keep.last, 5u);  // the rest of the record stays

  // A push is noted only for the remote the record still names.
  ASSERT_TRUE(records.Update("/s/0.tsbak", [](SchemeRecord& r) { r.SetRemote("nas:x"); }));
  ASSERT_TRUE(NotePushEnd(records, "/s/0.tsbak", "old:x", 7, PushEnd::kOk, ""));
  EXPECT_EQ(records.Get("/s/0.tsbak").pushEnd, PushEnd::kNone);
  ASSERT_TRUE(NotePushEnd(records, "/s/0.tsbak", "nas:x", 7, PushEnd::kFailed, "down\nmore"));
  EXPECT_EQ(records.Get("/s/0.tsbak").pushEnd, PushEnd::kFailed);
  EXPECT_EQ(records.Get("/s/0.tsbak").pushError, "down");
  // Another remote starts without a push; the same one keeps it.
  SchemeRecord same = records.Get("/s/0.tsbak");
  same.SetRemote("nas:x");
  EXPECT_EQ(same.pushEnd, PushEnd::kFailed);
  same.SetRemote("nas:y");
  EXPECT_EQ(same.pushEnd, PushEnd::kNone);
  same.SetRemote("");
  same.lastEnd = BackupEnd::kNone;
  same.lastName.clear();
  same.keep = KeepPolicy();
  EXPECT_TRUE(same.IsEmpty());

  if (geteuid() != 0) {
    const std::string before = ReadText(records.File());
    chmod(records.File().c_str(), 0);
    std::string error;
    EXPECT_FALSE(records.Update(
        "/s/0.tsbak", [](SchemeRecord& r) { r.level = 1; }, &error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    chmod(records.File().c_str(), 0600);
    EXPECT_EQ(ReadText(records.File()), before);
  }
}

int64_t Local(int year, int month, int day, int hour, int minute) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_isdst = -1;
  return int64_t(mktime(&tm)) * kSecond;
}

// Next runs as the timers compute them, across a month's and a year's end,
// and which Schemes are marked: a failure, or Backups older than the period
// allows (counted from the schedule's start when there is none).
TEST(SchemeRecordTest, NextRunsAndOverdueSchemes) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  const int64_t wed = Local(2026, 12, 30, 23, 10);  // a Wednesday
  EXPECT_EQ(NextScheduledRun(Schedule::kOff, wed), 0);
  EXPECT_EQ(NextScheduledRun(Schedule::kHourly, wed),
            Local(2027, 1, 1, 0, 0) - 24 * 3600 * kSecond);
  EXPECT_EQ(NextScheduledRun(Schedule::kDaily, wed), Local(2026, 12, 31, 0, 0));
  EXPECT_EQ(NextScheduledRun(Schedule::kWeekly, wed), Local(2027, 1, 4, 0, 0));
  EXPECT_EQ(NextScheduledRun(Schedule::kWeekly, wed, true), Local(2027, 1, 3, 0, 0));
  // At a period's very start the next one is a whole period away.
  EXPECT_EQ(NextScheduledRun(Schedule::kWeekly, Local(2027, 1, 4, 0, 0)), Local(2027, 1, 11, 0, 0));
  // Over the change to summer time a day has 23 hours.
  EXPECT_EQ(NextScheduledRun(Schedule::kDaily, Local(2027, 3, 28, 12, 0)),
            Local(2027, 3, 29, 0, 0));

  SchemeRecord r;
  const int64_t now = Local(2026, 12, 10, 12, 0);
  EXPECT_FALSE(NeedsAttention(r, 0, now));
  r.schedule = Schedule::kDaily;
  EXPECT_FALSE(NeedsAttention(r, 0, now));  // switched on at no known time
  r.scheduledSince = now - 20 * 3600 * kSecond;
  EXPECT_FALSE(NeedsAttention(r, 0, now));
  r.scheduledSince = now - 27 * 3600 * kSecond;
  EXPECT_TRUE(NeedsAttention(r, 0, now));
  EXPECT_FALSE(NeedsAttention(r, now - 25 * 3600 * kSecond, now));
  EXPECT_TRUE(NeedsAttention(r, now - 27 * 3600 * kSecond, now));
  r.schedule = Schedule::kHourly;
  EXPECT_FALSE(NeedsAttention(r, now - 80 * 60 * kSecond, now));
  EXPECT_TRUE(NeedsAttention(r, now - 100 * 60 * kSecond, now));
  r.schedule = Schedule::kOff;
  EXPECT_FALSE(NeedsAttention(r, now - 1000 * 3600 * kSecond, now));
  r.lastEnd = BackupEnd::kFailed;
  EXPECT_TRUE(NeedsAttention(r, now, now));
  unsetenv("TZ");
  tzset();
}

// When My Schemes marks an off-site copy as behind: a Scheme with a remote
// and a Backup whose last push failed, was incomplete or interrupted, never
// happened, or started before the newest Backup was taken (listed or recorded).
TEST(SchemeRecordTest, OffsiteCopyBehindRule) {
  const int64_t t = 1765270800 * kSecond;
  SchemeRecord r;
  EXPECT_FALSE(IsRemoteBehind(r, t));  // no remote
  r.remote = "nas:b";
  EXPECT_FALSE(IsRemoteBehind(r, 0));  // nothing to copy yet
  EXPECT_TRUE(IsRemoteBehind(r, t));   // never pushed
  r.pushEnd = PushEnd::kOk;
  r.pushStarted = t + 1;
  EXPECT_FALSE(IsRemoteBehind(r, t));
  EXPECT_TRUE(IsRemoteBehind(r, t + 2));  // a Backup taken after the push began
  for (PushEnd end : {PushEnd::kFailed, PushEnd::kIncomplete, PushEnd::kInterrupted}) {
    r.pushEnd = end;
    EXPECT_TRUE(IsRemoteBehind(r, t)) << PushEndText(end);
  }
  // The recorded last Backup counts when it was written, not when it failed.
  r.pushEnd = PushEnd::kOk;
  r.lastTaken = t + 5;
  r.lastEnd = BackupEnd::kFailed;
  EXPECT_FALSE(IsRemoteBehind(r, t));
  EXPECT_FALSE(IsRemoteBehind(r, 0));
  r.lastEnd = BackupEnd::kSkipped;
  EXPECT_TRUE(IsRemoteBehind(r, t));
  EXPECT_TRUE(IsRemoteBehind(r, 0));

  // What My Schemes shows: nothing without a remote, the mark when behind.
  SchemeStatus status = DescribeScheme(SchemeRecord(), t, t, false);
  EXPECT_EQ(status.offsite, "");
  EXPECT_FALSE(status.attention);
  status = DescribeScheme(r, t, t, false);
  EXPECT_TRUE(status.remoteBehind);
  EXPECT_TRUE(status.attention);
  EXPECT_EQ(status.offsite.rfind("behind: ", 0), 0u) << status.offsite;
  EXPECT_NE(status.offsite.find(", ok"), std::string::npos) << status.offsite;
  r.pushStarted = t + 6;
  status = DescribeScheme(r, t, t, false);
  EXPECT_FALSE(status.attention);
  EXPECT_EQ(status.offsite.find("behind"), std::string::npos) << status.offsite;
  r.ForgetPush();
  EXPECT_EQ(DescribeScheme(r, t, t, false).offsite, "behind: not copied yet");
}

// Escaping as systemd-escape does it; crontab lines quoted for sh and cron
// and replaced without touching the user's own lines or another Scheme's.
TEST(SchemeRecordTest, TimerNamesAndCrontabLines) {
  EXPECT_EQ(SystemdEscape("Home"), "Home");
  EXPECT_EQ(TimerUnitName("My Home-2"), "tessarook-backup@My\\x20Home\\x2d2.timer");
  EXPECT_EQ(SystemdEscape("/srv/a.b/.x"), "-srv-a.b-.x");
  EXPECT_EQ(SystemdEscape(".hidden"), "\\x2ehidden");
  EXPECT_EQ(SystemdEscape("ü"), "\\xc3\\xbc");
  // The real tool agrees, where there is one.
  if (std::system("command -v systemd-escape >/dev/null 2>&1") == 0) {
    for (const char* name : {"My Home-2", "\xc3\xbc.x", ".a", "a\"c%d\\e", "/srv/x y", "a:b_c"}) {
      const std::string command = "systemd-escape -- '" + std::string(name) + "'";
      FILE* pipe = popen(command.c_str(), "r");
      ASSERT_NE(pipe, nullptr);
      char buffer[256] = {};
      const size_t n = fread(buffer, 1, sizeof buffer - 1, pipe);
      pclose(pipe);
      std::string expected(buffer, n);
      while (!expected.empty() && expected.back() == '\n') expected.pop_back();
      EXPECT_EQ(SystemdEscape(name), expected) << name;
    }
  }

  EXPECT_EQ(CronLine("/usr/bin/tessarook-cli", "", "Home", Schedule::kOff), "");
  EXPECT_EQ(CronLine("/usr/bin/tessarook-cli", "", "a\nb", Schedule::kDaily), "");
  const std::string line =
      CronLine("/opt/my tools/tessarook-cli", "/c/s.xml", "it's 100%", Schedule::kHourly);
  EXPECT_EQ(line,
            "@hourly '/opt/my tools/tessarook-cli' --quiet --settings '/c/s.xml' backup --notify "
            "-- 'it'\\''s 100\\%' # tessarook-backup:it\\x27s\\x20100\\x25");

  const std::string mine = "MAILTO=me\n0 3 * * * /usr/local/bin/mine\n";
  const std::string homeLine = CronLine("/bin/t", "", "Home", Schedule::kDaily);
  const std::string home2Line = CronLine("/bin/t", "", "Home2", Schedule::kWeekly);
  std::string tab = ReplaceCronLine(mine, "Home", homeLine);
  tab = ReplaceCronLine(tab, "Home2", home2Line);
  EXPECT_EQ(tab, mine + homeLine + "\n" + home2Line + "\n");
  tab = ReplaceCronLine(tab, "Home", CronLine("/bin/t", "", "Home", Schedule::kHourly));
  EXPECT_EQ(tab,
            mine + home2Line + "\n" + CronLine("/bin/t", "", "Home", Schedule::kHourly) + "\n");
  tab = ReplaceCronLine(tab, "Home", "");
  tab = ReplaceCronLine(tab, "Home2", "");
  EXPECT_EQ(tab, mine);
}

}  // namespace
}  // namespace tessarook
