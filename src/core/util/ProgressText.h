// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The texts of a progress display that counts bytes: sizes, transfer rate,
// time left, and one throttled status line built from them.

#include <cstdint>
#include <deque>
#include <string>
#include <utility>

namespace tessarook {

// A size in binary units: "512 B", "1.5 KiB", "12.3 MiB", "312 MiB", "4.0 GiB".
// One decimal below 100 of a unit, none above; B, KiB, MiB, GiB, TiB, PiB, EiB.
std::string FormatSize(uint64_t bytes);

// A rate as a size per second, e.g. "85.3 MiB/s".
std::string FormatRate(double bytesPerSecond);

// Seconds as "m:ss" or "h:mm:ss" (rounded up, so the last second shows 0:01).
std::string FormatDuration(double seconds);

// The rate at which a running count of bytes grows, over the last few
// seconds. Times are milliseconds of any steady clock, given by the caller.
class CRateMeter {
 public:
  // The count at nowMs; a count that went back or a clock that did starts the
  // measurement anew.
  void Add(uint64_t done, int64_t nowMs);
  // Bytes per second over the last few seconds; < 0 when not yet known.
  double Rate() const;
  void Reset() { m_samples.clear(); }

 private:
  uint64_t m_done = 0;
  int64_t m_nowMs = 0;                                 // of the latest Add
  std::deque<std::pair<int64_t, uint64_t>> m_samples;  // (ms, bytes done), oldest first
};

// A one-line progress text for a terminal: the label, a bar, the files done,
// and, once bytes are reported, bytes done of total, the rate over the last
// few seconds and the time left. Times are milliseconds of any steady clock,
// given by the caller (so a test can drive it).
class CProgressLine {
 public:
  static constexpr int64_t kMinRedrawMs = 100;  // at most 10 redraws a second

  explicit CProgressLine(std::string label) : m_label(std::move(label)) {}

  void SetFiles(uint64_t done, uint64_t total);
  void SetBytes(uint64_t done, uint64_t total, int64_t nowMs);

  // True when the line should be drawn again at nowMs: the first time, then
  // once kMinRedrawMs have passed since the last draw it allowed.
  bool RedrawDue(int64_t nowMs);

  // Bytes per second over the last few seconds; < 0 when not yet known.
  double Rate() const;

  // The line, at most `width` columns (the bar shrinks, then drops out, then
  // the parts at the end go).
  std::string Text(size_t width) const;

 private:
  std::string m_label;
  uint64_t m_filesDone = 0;
  uint64_t m_filesTotal = 0;
  bool m_haveBytes = false;
  uint64_t m_bytesDone = 0;
  uint64_t m_bytesTotal = 0;
  int64_t m_lastDrawMs = 0;
  bool m_drawn = false;
  CRateMeter m_rate;
};

}  // namespace tessarook
