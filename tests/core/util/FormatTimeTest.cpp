// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>

#include "util/FormatTime.h"

namespace tessarook {
namespace {

// Monday 7 December 2026, 05:50:13.250
const SysTime kSample{2026, 12, 1, 7, 5, 50, 13, 250};

TEST(FormatTimeTest, DirectivesAndPlainText) {
  EXPECT_EQ(FormatTime("%Y|%M|%D|%W|%h|%m|%s|%l|%a|%%", kSample),
            "2026|December|07|Monday|05|50|13|250|07.12.2026|%");
  EXPECT_EQ(FormatTime("%a, %h:%m", kSample), "07.12.2026, 05:50");
  EXPECT_EQ(FormatTime("", kSample), "");
  EXPECT_EQ(FormatTime("100%%", kSample), "100%");
  EXPECT_EQ(FormatTime("[%x%H%d%y%S]%5d", kSample), "[]d");
  EXPECT_EQ(FormatTime("end%", kSample), "end");
}

TEST(FormatTimeTest, PaddingAndOutOfRangeNames) {
  SysTime t{987, 1, 0, 31, 23, 0, 9, 7};
  EXPECT_EQ(FormatTime("%Y %l %a %h:%m:%s %M %W", t), "987 7 31.01.987 23:00:09 January Sunday");
  t.month = 13;
  t.dayOfWeek = 7;
  EXPECT_EQ(FormatTime("[%M][%W]", t), "[][]");
  t.month = 0;
  EXPECT_EQ(FormatTime("[%M]", t), "[]");
}

TEST(FormatTimeTest, LocalTimeConversionAndNow) {
  setenv("TZ", "UTC0", 1);
  tzset();
  EXPECT_EQ(ToSysTime(std::timespec{1796622613, 250999999}), kSample);

  std::string out = "previous content";
  const std::time_t before = std::time(nullptr);
  const SysTime used = FormatTime(out, "%Y-%a %h:%m:%s.%l", nullptr);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(out, FormatTime("%Y-%a %h:%m:%s.%l", used));
  const SysTime lo = ToSysTime(before);
  const SysTime hi = ToSysTime(after);
  auto key = [](const SysTime& t) {
    return std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second);
  };
  EXPECT_LE(key(lo), key(used));
  EXPECT_LE(key(used), key(hi));
  EXPECT_EQ(FormatTime(out, "%W", &kSample), kSample);
  EXPECT_EQ(out, "Monday");
}

}  // namespace
}  // namespace tessarook
