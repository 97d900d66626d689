// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ThrottledProgress.h"

namespace tessarook {

void CThrottledProgress::OnProgress(uint64_t done, uint64_t total) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_counts.files = done;
  m_counts.filesTotal = total;
  Pass(m_filesFirst || done == 0 || done >= total);
  m_filesFirst = false;
}

void CThrottledProgress::OnBytes(uint64_t done, uint64_t total) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const bool edge = !m_counts.haveBytes || done >= total;
  m_counts.bytes = done;
  m_counts.bytesTotal = total;
  m_counts.haveBytes = true;
  Pass(edge);
}

uint64_t CThrottledProgress::Bytes() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_counts.bytes;
}

void CThrottledProgress::Pass(bool edge) {
  const auto now = std::chrono::steady_clock::now();
  if (!edge && now - m_last < m_interval) return;
  m_last = now;
  Deliver(m_counts);
}

}  // namespace tessarook
