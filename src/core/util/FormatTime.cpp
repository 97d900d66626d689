// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/FormatTime.h"

#include <time.h>

namespace tessarook {

namespace {

constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
constexpr const char* kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

// At least two digits: 0 to 9 get one leading zero.
void AppendTwoDigits(std::string& out, unsigned value) {
  if (value < 10) out += '0';
  out += std::to_string(value);
}

}  // namespace

std::string FormatTime(std::string_view pattern, const SysTime& t) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i >= pattern.size()) break;  // a lone "%" at the end vanishes
    switch (pattern[i]) {
      case 'Y':
        out += std::to_string(t.year);
        break;
      case 'M':
        if (t.month >= 1 && t.month <= 12) out += kMonths[t.month - 1];
        break;
      case 'D':
        AppendTwoDigits(out, t.day);
        break;
      case 'W':
        if (t.dayOfWeek <= 6) out += kWeekdays[t.dayOfWeek];
        break;
      case 'h':
        AppendTwoDigits(out, t.hour);
        break;
      case 'm':
        AppendTwoDigits(out, t.minute);
        break;
      case 's':
        AppendTwoDigits(out, t.second);
        break;
      case 'l':
        out += std::to_string(t.milliseconds);
        break;
      case 'a':
        AppendTwoDigits(out, t.day);
        out += '.';
        AppendTwoDigits(out, t.month);
        out += '.';
        out += std::to_string(t.year);
        break;
      case '%':
        out += '%';
        break;
      default:
        break;  // not a directive: both characters vanish
    }
  }
  return out;
}

SysTime FormatTime(std::string& out, std::string_view pattern, const SysTime* time) {
  const SysTime used = time != nullptr ? *time : CurrentLocalTime();
  out = FormatTime(pattern, used);
  return used;
}

SysTime ToSysTime(const std::timespec& moment) {
  SysTime result;
  std::tm tm{};
  if (::localtime_r(&moment.tv_sec, &tm) == nullptr) return result;
  result.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
  result.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
  result.dayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
  result.day = static_cast<std::uint16_t>(tm.tm_mday);
  result.hour = static_cast<std::uint16_t>(tm.tm_hour);
  result.minute = static_cast<std::uint16_t>(tm.tm_min);
  result.second = static_cast<std::uint16_t>(tm.tm_sec);
  long ms = moment.tv_nsec / 1000000;
  if (ms < 0 || ms > 999) ms = 0;
  result.milliseconds = static_cast<std::uint16_t>(ms);
  return result;
}

SysTime ToSysTime(std::time_t seconds) {
  std::timespec moment{};
  moment.tv_sec = seconds;
  return ToSysTime(moment);
}

SysTime CurrentLocalTime() {
  std::timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return ToSysTime(now);
}

}  // namespace tessarook
