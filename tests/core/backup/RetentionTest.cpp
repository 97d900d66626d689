// SPDX-License-Identifier: GPL-3.0-or-later
// Which Backups a keep policy keeps, on fixed creation times in a pinned time zone.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "../util/TempFolder.h"
#include "backup/Retention.h"

namespace tessarook {
namespace {

// Central European time with its summer time: clocks go back from 03:00 CEST
// to 02:00 CET on the last Sunday of October (2026-10-25, at 01:00 UTC).
class RetentionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    m_hadTz = tz != nullptr;
    if (tz) m_oldTz = tz;
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
  }
  void TearDown() override {
    if (m_hadTz)
      setenv("TZ", m_oldTz.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

  // A Backup named `name` created at the given UTC time.
  static BackupInfo AtUtc(const std::string& name, int y, int mo, int d, int h, int mi, int s = 0) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    BackupInfo b;
    b.name = name;
    b.creationTime = static_cast<int64_t>(timegm(&tm)) * 1000000000LL;
    return b;
  }

  static std::vector<std::string> Names(const RetentionPlan& plan, bool kept) {
    std::vector<std::string> out;
    if (kept)
      for (const KeptBackup& k : plan.keep) out.push_back(k.backup.name);
    else
      for (const BackupInfo& b : plan.remove) out.push_back(b.name);
    return out;
  }

  using V = std::vector<std::string>;

 private:
  bool m_hadTz = false;
  std::string m_oldTz;
};

TEST_F(RetentionTest, KeepLastKeepsTheNewestAndNoRuleKeepsEverything) {
  // Given in no particular order; equal times order by name (the greater is newer).
  const std::vector<BackupInfo> list = {
      AtUtc("b", 2026, 3, 1, 10, 0), AtUtc("d", 2026, 3, 3, 10, 0), AtUtc("a", 2026, 3, 1, 10, 0),
      AtUtc("c", 2026, 3, 2, 10, 0)};
  KeepPolicy last2;
  last2.last = 2;
  RetentionPlan plan = PlanRetention(list, last2);
  EXPECT_EQ(Names(plan, true), (V{"d", "c"}));
  EXPECT_EQ(Names(plan, false), (V{"b", "a"}));

  last2.last = 3;
  EXPECT_EQ(Names(PlanRetention(list, last2), false), (V{"a"}));
  last2.last = 10;
  EXPECT_TRUE(PlanRetention(list, last2).remove.empty());

  const KeepPolicy none;
  EXPECT_FALSE(none.Any());
  plan = PlanRetention(list, none);
  EXPECT_TRUE(plan.remove.empty());
  EXPECT_EQ(plan.keep.size(), 4u);
  EXPECT_TRUE(PlanRetention({}, last2).keep.empty());
}

TEST_F(RetentionTest, DailyKeepsEachLocalDaysNewestAcrossMidnight) {
  // 22:59:59 UTC is 23:59:59 CET on the 10th; 23:00:00 UTC is already the 11th locally.
  const std::vector<BackupInfo> list = {
      AtUtc("10-noon", 2026, 1, 10, 11, 0), AtUtc("10-last", 2026, 1, 10, 22, 59, 59),
      AtUtc("11-first", 2026, 1, 10, 23, 0, 0), AtUtc("11-morning", 2026, 1, 11, 7, 0),
      AtUtc("09", 2026, 1, 9, 12, 0)};
  KeepPolicy daily;
  daily.daily = 2;
  const RetentionPlan plan = PlanRetention(list, daily);
  EXPECT_EQ(Names(plan, true), (V{"11-morning", "10-last"}));
  EXPECT_EQ(Names(plan, false), (V{"11-first", "10-noon", "09"}));
  ASSERT_EQ(plan.keep[0].reasons, V{"daily"});
}

TEST_F(RetentionTest, PeriodsCountOnlyPeriodsThatHoldBackups) {
  // Days 1, 5 and 9 of a month: "2 days" are the two newest days with Backups,
  // not the last two calendar days.
  const std::vector<BackupInfo> list = {
      AtUtc("d1", 2026, 5, 1, 9, 0), AtUtc("d5", 2026, 5, 5, 9, 0), AtUtc("d9", 2026, 5, 9, 9, 0)};
  KeepPolicy daily;
  daily.daily = 2;
  EXPECT_EQ(Names(PlanRetention(list, daily), true), (V{"d9", "d5"}));
}

TEST_F(RetentionTest, WeeklyUsesIsoWeeksAndMonthlyCalendarMonths) {
  // 2026-01-11 is a Sunday, the 12th a Monday (local times below); 31 January
  // (a Saturday) and 1 February share a week.
  // 2026-12-31 (Thursday) and 2027-01-01 (Friday) are both in ISO week 2026-W53,
  // but in different months.
  const std::vector<BackupInfo> list = {
      AtUtc("sat-10", 2026, 1, 10, 11, 0),   // week 2
      AtUtc("sun-11", 2026, 1, 11, 22, 30),  // 23:30 local, still week 2
      AtUtc("mon-12", 2026, 1, 11, 23, 0),   // 00:00 local on Monday: week 3
      AtUtc("jan-31", 2026, 1, 31, 22, 59),  // 23:59 local, the last minute of January
      AtUtc("feb-01", 2026, 1, 31, 23, 0),   // 00:00 local on 1 February
      AtUtc("feb-28", 2026, 2, 28, 12, 0),  AtUtc("dec-31", 2026, 12, 31, 12, 0),
      AtUtc("jan-01", 2027, 1, 1, 12, 0)};

  KeepPolicy weekly;
  weekly.weekly = 100;
  EXPECT_EQ(Names(PlanRetention(list, weekly), false), (V{"dec-31", "jan-31", "sat-10"}));

  KeepPolicy monthly;
  monthly.monthly = 100;
  EXPECT_EQ(Names(PlanRetention(list, monthly), true), (V{"jan-01", "dec-31", "feb-28", "jan-31"}));
  monthly.monthly = 2;
  EXPECT_EQ(Names(PlanRetention(list, monthly), true), (V{"jan-01", "dec-31"}));
}

TEST_F(RetentionTest, HourlyCountsTheRepeatedHourTwiceWhenClocksGoBack) {
  // 00:30 UTC = 02:30 CEST, 01:30 UTC = 02:30 CET: the same wall-clock hour,
  // two different hours of real time. 00:10 UTC = 02:10 CEST shares the first.
  const std::vector<BackupInfo> list = {
      AtUtc("cest-0210", 2026, 10, 25, 0, 10), AtUtc("cest-0230", 2026, 10, 25, 0, 30),
      AtUtc("cet-0230", 2026, 10, 25, 1, 30), AtUtc("cet-0300", 2026, 10, 25, 2, 0)};
  KeepPolicy hourly;
  hourly.hourly = 10;
  EXPECT_EQ(Names(PlanRetention(list, hourly), true), (V{"cet-0300", "cet-0230", "cest-0230"}));
  // The day has all four.
  KeepPolicy daily;
  daily.daily = 1;
  EXPECT_EQ(Names(PlanRetention(list, daily), true), (V{"cet-0300"}));
}

TEST_F(RetentionTest, RulesAddUpAndProtectedBackupsStay) {
  const std::vector<BackupInfo> list = {
      AtUtc("mar-1", 2026, 3, 1, 9, 0), AtUtc("mar-2", 2026, 3, 2, 9, 0),
      AtUtc("apr-1", 2026, 4, 1, 9, 0), AtUtc("apr-2a", 2026, 4, 2, 9, 0),
      AtUtc("apr-2b", 2026, 4, 2, 10, 0)};
  KeepPolicy policy;
  policy.last = 1;
  policy.daily = 2;
  policy.monthly = 2;
  const RetentionPlan plan = PlanRetention(list, policy, {"mar-1"});
  ASSERT_EQ(Names(plan, true), (V{"apr-2b", "apr-1", "mar-2", "mar-1"}));
  EXPECT_EQ(plan.keep[0].reasons, (V{"last", "daily", "monthly"}));
  EXPECT_EQ(plan.keep[1].reasons, (V{"daily"}));
  EXPECT_EQ(plan.keep[2].reasons, (V{"monthly"}));
  EXPECT_EQ(plan.keep[3].reasons, (V{"protected"}));
  EXPECT_EQ(Names(plan, false), (V{"apr-2a"}));
}

TEST(ResolveBackupNameTest, LatestIsTheNewestUnlessABackupIsNamedSo) {
  EXPECT_EQ(NewestBackup({}), nullptr);
  std::vector<BackupInfo> list(3);
  list[0].name = "old";
  list[0].creationTime = 100;
  list[1].name = "b-new";
  list[1].creationTime = 300;
  list[2].name = "a-new";
  list[2].creationTime = 300;
  ASSERT_NE(NewestBackup(list), nullptr);
  EXPECT_EQ(NewestBackup(list)->name, "b-new");

  test::TempFolder dir;
  const std::string scheme = dir.Path("S.tsbak");
  const CBackupStore store(scheme);
  EXPECT_EQ(ResolveBackupName(store, "latest"), "");  // no Backups at all
  EXPECT_EQ(ResolveBackupName(store, "x"), "x");      // other names pass unchanged
  std::filesystem::create_directories(store.BackupsFolder());
  test::WriteText(store.GetBackupPath("2026-01-01 00.00.00"), "zip");
  EXPECT_EQ(ResolveBackupName(store, "latest"), "2026-01-01 00.00.00");
  test::WriteText(store.GetBackupPath("latest"), "zip");
  EXPECT_EQ(ResolveBackupName(store, "latest"), "latest");
}

}  // namespace
}  // namespace tessarook
