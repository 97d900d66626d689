// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace tessarook {

// A broken-down local time.
struct SysTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;      // 1 to 12
  std::uint16_t dayOfWeek = 0;  // 0 to 6, 0 = Sunday
  std::uint16_t day = 0;        // 1 to 31
  std::uint16_t hour = 0;       // 0 to 23
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;

  bool operator==(const SysTime&) const = default;
};

// Formats `time` under the program's own pattern language:
//   %Y year  %M month name  %D day (2 digits)  %W weekday name
//   %h hour (2 digits)  %m minute (2 digits)  %s second (2 digits)
//   %l milliseconds  %a "DD.MM.YYYY"  %% "%"
// Any other character after "%" vanishes together with the "%"; a lone "%" at
// the end vanishes. Names are English whatever the system language; a month or
// weekday out of range gives no name.
std::string FormatTime(std::string_view pattern, const SysTime& time);

// Writes the formatted text into `out` (replacing its content). With no time
// given, formats the current local time. Returns the time that was formatted.
SysTime FormatTime(std::string& out, std::string_view pattern, const SysTime* time = nullptr);

// Local broken-down time of a moment.
SysTime ToSysTime(const std::timespec& moment);
SysTime ToSysTime(std::time_t seconds);

// The current local time, milliseconds included.
SysTime CurrentLocalTime();

}  // namespace tessarook
