// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/ExchangeProgressBridge.h"

namespace tessarook {

void CExchangeProgressBridge::Reset(std::unique_ptr<IProgressSink> sink) {
  m_sink = std::move(sink);
  m_upper = 0;
  m_pos = 0;
  m_bytesDone = 0;
}

void CExchangeProgressBridge::SetBytes(uint64_t done, uint64_t total) {
  m_bytesDone = done;
  if (m_sink) m_sink->OnBytes(done, total);
}

void CExchangeProgressBridge::Show() { Post(); }

void CExchangeProgressBridge::Hide() { Post(); }

void CExchangeProgressBridge::SetRange(uint32_t upper) {
  m_upper = upper;
  m_pos = 0;
  Post();
}

void CExchangeProgressBridge::SetPos(uint32_t pos) {
  m_pos = pos;
  Post();
}

void CExchangeProgressBridge::Step() {
  ++m_pos;
  Post();
}

void CExchangeProgressBridge::Post() {
  if (m_sink) m_sink->OnProgress(m_pos.load(), m_upper.load());
}

}  // namespace tessarook
