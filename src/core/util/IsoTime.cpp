// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/IsoTime.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tessarook {

std::string IsoLocalTime(int64_t ns) {
  int64_t seconds = ns / 1000000000LL;
  if (ns % 1000000000LL < 0) --seconds;
  const std::time_t t = static_cast<std::time_t>(seconds);
  struct tm tm {};
  if (!localtime_r(&t, &tm)) return {};
  const long offset = tm.tm_gmtoff;
  const long minutes = std::labs(offset) / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+',
                minutes / 60, minutes % 60);
  return text;
}

}  // namespace tessarook
