#include <gtest/gtest.h>

#include <cstdlib>

#include "util/FormatTime.h"

namespace tessarook {
namespace {

// Monday 7 December 2026, 05:50:13.250
SysTime Sample() {
  SysTime t;
  t.year = 2026;
  t.month = 12;
  t.dayOfWeek = 1;
  t.day = 7;
  t.hour = 5;
  t.minute = 50;
  t.second = 13;
  t.milliseconds = 250;
  return t;
}

TEST(FormatTimeTest, EveryDirective) {
  const SysTime t = Sample();
  EXPECT_EQ(FormatTime("%Y|%M|%D|%W|%h|%m|%s|%l|%a|%%", t),
            "2026|December|07|Monday|05|50|13|250|07.12.2026|%");
  EXPECT_EQ(FormatTime("%a, %h:%m", t), "07.12.2026, 05:50");
}

TEST(FormatTimeTest, PlainTextAndUnknownDirectives) {
  const SysTime t = Sample();
  EXPECT_EQ(FormatTime("", t), "");
  EXPECT_EQ(FormatTime("no directives", t), "no directives");
  EXPECT_EQ(FormatTime("100%%", t), "100%");
  EXPECT_EQ(FormatTime("[%x%H%d%y%S]", t), "[]");
  EXPECT_EQ(FormatTime("%5d", t), "d");
  EXPECT_EQ(FormatTime("end%", t), "end");
}

TEST(FormatTimeTest, PaddingAndRanges) {
  SysTime t = Sample();
  t.year = 987;
  t.milliseconds = 7;
  t.day = 31;
  t.month = 1;
  t.hour = 23;
  t.minute = 0;
  t.second = 9;
  EXPECT_EQ(FormatTime("%Y %l %a %h:%m:%s", t), "987 7 31.01.987 23:00:09");
  t.month = 0;
  t.dayOfWeek = 7;
  EXPECT_EQ(FormatTime("[%M][%W]", t), "[][]");
  t.month = 13;
  EXPECT_EQ(FormatTime("[%M]", t), "[]");
  t.month = 1;
  t.dayOfWeek = 0;
  EXPECT_EQ(FormatTime("%M %W", t), "January Sunday");
}

TEST(FormatTimeTest, ConvertsLocalTime) {
  setenv("TZ", "UTC0", 1);
  tzset();
  std::timespec moment{};
  moment.tv_sec = 1796622613;  // 2026-12-07 05:50:13 UTC
  moment.tv_nsec = 250999999;
  EXPECT_EQ(ToSysTime(moment), Sample());
  EXPECT_EQ(ToSysTime(std::time_t{0}).year, 1970);
}

TEST(FormatTimeTest, WithoutATimeFormatsAndReturnsNow) {
  std::string out = "previous content";
  const std::time_t before = std::time(nullptr);
  const SysTime used = FormatTime(out, "%Y-%a %h:%m:%s.%l", nullptr);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(out, FormatTime("%Y-%a %h:%m:%s.%l", used));
  const SysTime lo = ToSysTime(before);
  const SysTime hi = ToSysTime(after);
  auto key = [](const SysTime& t) {
    return ((((std::int64_t{t.year} * 13 + t.month) * 32 + t.day) * 24 + t.hour) * 60 + t.minute) *
               61 +
           t.second;
  };
  EXPECT_LE(key(lo), key(used));
  EXPECT_LE(key(used), key(hi));

  const SysTime given = Sample();
  EXPECT_EQ(FormatTime(out, "%W", &given), given);
  EXPECT_EQ(out, "Monday");
}

}  // namespace
}  // namespace tessarook
