// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "backup/ProgressSink.h"

namespace tessarook {

// Counts the bytes of file data an operation moves and passes the running
// total to a sink's OnBytes: at most once per kStep bytes while data moves,
// and whenever Flush is called (after each file). Cheap enough to be fed every
// block. Used on the operation's own thread.
class CByteMeter {
 public:
  static constexpr uint64_t kStep = uint64_t{1} << 20;

  explicit CByteMeter(IProgressSink* sink, uint64_t total = 0) : m_sink(sink), m_total(total) {}

  // The total the counts are measured against; reports 0 of it.
  void Start(uint64_t total) {
    m_total = total;
    m_done = m_sent = 0;
    if (m_sink) m_sink->OnBytes(0, m_total);
  }
  void Add(uint64_t bytes) {
    m_done += bytes;
    if (m_done - m_sent >= kStep) Send();
  }
  void Flush() {
    if (m_done != m_sent) Send();
  }
  uint64_t Done() const { return m_done; }

 private:
  void Send() {
    m_sent = m_done;
    if (m_sink) m_sink->OnBytes(m_done, m_total);
  }

  IProgressSink* m_sink;
  uint64_t m_total;
  uint64_t m_done = 0;
  uint64_t m_sent = 0;
};

}  // namespace tessarook
