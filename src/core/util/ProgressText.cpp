// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/ProgressText.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace tessarook {

namespace {

constexpr int64_t kRateWindowMs = 5000;  // the rate follows the last few seconds
constexpr int64_t kSampleEveryMs = 200;  // so the window holds at most ~25 samples
constexpr int64_t kMinRateSpanMs = 500;  // less than this says nothing yet
constexpr size_t kBarWidth = 20;
constexpr size_t kMinBarWidth = 5;

}  // namespace

std::string FormatSize(uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  size_t unit = 0;
  // Round first, so 1023.96 KiB shows as "1.0 MiB" rather than "1024 KiB".
  while (unit + 1 < std::size(kUnits) && std::round(value) >= 1024.0) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  if (std::round(value * 10.0) / 10.0 < 100.0)
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  else
    std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
  return text;
}

std::string FormatRate(double bytesPerSecond) {
  if (!(bytesPerSecond > 0)) return "0 B/s";
  if (bytesPerSecond > 1.8e19) bytesPerSecond = 1.8e19;
  return FormatSize(static_cast<uint64_t>(bytesPerSecond)) + "/s";
}

std::string FormatDuration(double seconds) {
  if (!(seconds > 0)) seconds = 0;
  if (seconds > 359999999.0) seconds = 359999999.0;  // 99999 hours is "a long time" enough
  const auto total = static_cast<uint64_t>(std::ceil(seconds));
  const uint64_t h = total / 3600, m = total / 60 % 60, s = total % 60;
  char text[48];
  if (h)
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(h),
                  static_cast<unsigned long long>(m), static_cast<unsigned long long>(s));
  else
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(m),
                  static_cast<unsigned long long>(s));
  return text;
}

void CProgressLine::SetFiles(uint64_t done, uint64_t total) {
  m_filesDone = done;
  m_filesTotal = total;
}

void CRateMeter::Add(uint64_t done, int64_t nowMs) {
  if (!m_samples.empty() && (done < m_done || nowMs < m_samples.back().first))
    m_samples.clear();  // started over, or a clock that went back: measure anew
  m_done = done;
  if (m_samples.empty() || nowMs - m_samples.back().first >= kSampleEveryMs)
    m_samples.emplace_back(nowMs, done);
  // Keep the newest sample that is at least a window old as the base, drop older ones.
  while (m_samples.size() > 1 && nowMs - m_samples[1].first >= kRateWindowMs) m_samples.pop_front();
  m_nowMs = nowMs;
}

double CRateMeter::Rate() const {
  if (m_samples.empty()) return -1;
  const int64_t span = m_nowMs - m_samples.front().first;
  if (span < kMinRateSpanMs) return -1;
  return static_cast<double>(m_done - m_samples.front().second) * 1000.0 /
         static_cast<double>(span);
}

void CProgressLine::SetBytes(uint64_t done, uint64_t total, int64_t nowMs) {
  m_haveBytes = true;
  m_bytesDone = done;
  m_bytesTotal = total;
  m_rate.Add(done, nowMs);
}

double CProgressLine::Rate() const { return m_rate.Rate(); }

bool CProgressLine::RedrawDue(int64_t nowMs) {
  if (m_drawn && nowMs >= m_lastDrawMs && nowMs - m_lastDrawMs < kMinRedrawMs) return false;
  m_drawn = true;
  m_lastDrawMs = nowMs;
  return true;
}

std::string CProgressLine::Text(size_t width) const {
  // The bar follows the bytes once they are known, the files before.
  double fraction = 1.0;
  if (m_haveBytes && m_bytesTotal)
    fraction = static_cast<double>(m_bytesDone) / static_cast<double>(m_bytesTotal);
  else if (m_filesTotal)
    fraction = static_cast<double>(m_filesDone) / static_cast<double>(m_filesTotal);
  if (fraction > 1.0) fraction = 1.0;
  if (fraction < 0.0) fraction = 0.0;

  std::vector<std::string> parts;
  parts.push_back(std::to_string(m_filesDone) + "/" + std::to_string(m_filesTotal) +
                  (m_haveBytes ? " files" : ""));
  if (m_haveBytes) {
    parts.push_back(FormatSize(m_bytesDone) + "/" + FormatSize(m_bytesTotal));
    const double rate = Rate();
    if (rate >= 0) {
      parts.push_back(FormatRate(rate));
      if (rate > 0) {
        const uint64_t left = m_bytesDone < m_bytesTotal ? m_bytesTotal - m_bytesDone : 0;
        parts.push_back(FormatDuration(static_cast<double>(left) / rate) + " left");
      }
    }
  }

  for (;;) {
    std::string tail;
    for (size_t i = 0; i < parts.size(); ++i) tail += (i ? ", " : "") + parts[i];
    const size_t fixed = m_label.size() + 1 + tail.size();
    if (fixed <= width || parts.size() == 1) {
      // "label [bar] tail", the bar as wide as there is room for.
      size_t bar = fixed + 3 < width ? width - fixed - 3 : 0;
      if (bar > kBarWidth) bar = kBarWidth;
      std::string line = m_label;
      if (bar >= kMinBarWidth) {
        const auto filled = static_cast<size_t>(fraction * static_cast<double>(bar));
        line += " [" + std::string(filled, '#') + std::string(bar - filled, '.') + "]";
      }
      line += " " + tail;
      if (line.size() > width) line.resize(width);
      return line;
    }
    parts.pop_back();  // the least needed part goes first
  }
}

}  // namespace tessarook
