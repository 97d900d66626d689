// SPDX-License-Identifier: GPL-3.0-or-later
// Carries the progress of a Compressed Scheme export or import, reported on
// the worker's thread, to the status bar's progress display.
#ifndef TESSAROOK_GUI_LIBRARY_EXCHANGEPROGRESSBRIDGE_H
#define TESSAROOK_GUI_LIBRARY_EXCHANGEPROGRESSBRIDGE_H

#include <atomic>
#include <cstdint>
#include <memory>

#include "backup/ProgressSink.h"
#include "exchange/ExchangeProgress.h"

namespace tessarook {

class CExchangeProgressBridge : public CExchangeProgress {
 public:
  // Window thread, before the worker starts: the sink the numbers go to (the
  // display's throttled sink); null drops them.
  void Reset(std::unique_ptr<IProgressSink> sink);

  // Worker thread. Showing and hiding the display is the window thread's
  // business (before the start and after the end), so Show and Hide only
  // report the current position.
  void Show() override;
  void Hide() override;
  void SetRange(uint32_t upper) override;
  void SetPos(uint32_t pos) override;
  void Step() override;
  void SetBytes(uint64_t done, uint64_t total) override;
  uint64_t BytesDone() const { return m_bytesDone.load(); }

  uint32_t Upper() const { return m_upper.load(); }
  uint32_t Pos() const { return m_pos.load(); }

 private:
  void Post();

  std::unique_ptr<IProgressSink> m_sink;
  std::atomic<uint32_t> m_upper{0};
  std::atomic<uint32_t> m_pos{0};
  std::atomic<uint64_t> m_bytesDone{0};
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_LIBRARY_EXCHANGEPROGRESSBRIDGE_H
