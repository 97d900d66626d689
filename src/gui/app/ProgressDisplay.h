// SPDX-License-Identifier: GPL-3.0-or-later
// The status bar's progress display for long file operations: the label
// "Progress:" in field 1, a progress bar over field 2 and a "Cancel" button
// (command 132, handled by the main frame) over field 3.
//
// The main frame owns one display (CMainFrame::GetProgressDisplay). A view that
// starts a worker shows it, hands the worker a sink from MakeSink, and hides it
// when the worker has ended. Use from the window thread only, except for the
// sinks, which are made for worker threads.
#ifndef TESSAROOK_GUI_APP_PROGRESSDISPLAY_H
#define TESSAROOK_GUI_APP_PROGRESSDISPLAY_H

#include <wx/event.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "backup/ProgressSink.h"
#include "shell/StatusTexts.h"
#include "util/ProgressText.h"

class wxStatusBar;
class wxGauge;
class wxButton;

namespace tessarook {

class CProgressDisplay : public wxEvtHandler {
 public:
  // Creates the bar and the button hidden, laid over fields 2 and 3.
  explicit CProgressDisplay(wxStatusBar* bar);
  ~CProgressDisplay() override;

  // Shows the bar at 0, the label "Progress:" and "Cancel".
  void ShowProgress();
  // Hides the bar and the button; the label becomes sixteen blanks.
  void HideProgress();
  bool IsProgressShown() const;

  // `done` of `total` files (window thread). A total of 0 shows an empty bar.
  // Until bytes are reported the bar follows the files.
  void SetProgress(uint64_t done, uint64_t total);
  uint64_t GetDone() const { return m_done; }
  uint64_t GetTotal() const { return m_total; }
  // `done` of `total` bytes (window thread): from then on the bar follows the
  // bytes, and the status bar says how many, how fast and how long still.
  // `nowMs` is a steady clock's time; by default the real one.
  void SetBytes(uint64_t done, uint64_t total, int64_t nowMs = -1);
  uint64_t GetBytesDone() const { return m_bytesDone; }
  uint64_t GetBytesTotal() const { return m_bytesTotal; }
  // The text the status bar shows while the operation runs.
  wxString GetProgressText() const;

  // After an operation: its summary in the status bar, and, when it has names
  // to show (skipped or changed files), a "Details..." button where "Cancel"
  // stood, which lists them (ShowDetails). Cleared by the next ShowProgress.
  void ShowSummary(const OperationSummary& summary);
  const OperationSummary* GetSummary() const { return m_summary ? &*m_summary : nullptr; }
  wxButton* GetDetailsButton() const { return m_details; }
  // The list of names behind the summary, in a modal dialog.
  void ShowDetails();

  // A progress sink for a worker thread. Its calls reach SetProgress on the
  // window thread, at most about 20 times a second (the first and the last
  // call always get through), so a Backup of 100,000 small files does not
  // flood the event queue. A sink may outlive the display: what it posts
  // after the display is gone is dropped.
  std::unique_ptr<IProgressSink> MakeSink();

  // Lays the bar and the button over their fields again (after a resize).
  void Reposition();

  wxGauge* GetGauge() const { return m_gauge; }
  wxButton* GetCancelButton() const { return m_cancel; }

  // The shared token by which posted updates find the display (or not).
  struct Token {
    CProgressDisplay* display = nullptr;  // read and cleared on the window thread
  };

 private:
  void SetLabel(const wxString& text);
  void OnBarSize(wxSizeEvent& event);

  void UpdateGauge();
  void UpdateText();

  wxStatusBar* m_bar;
  wxGauge* m_gauge = nullptr;
  wxButton* m_cancel = nullptr;
  wxButton* m_details = nullptr;
  uint64_t m_done = 0;
  uint64_t m_total = 0;
  bool m_haveBytes = false;
  uint64_t m_bytesDone = 0;
  uint64_t m_bytesTotal = 0;
  CRateMeter m_rate;
  std::optional<OperationSummary> m_summary;
  std::shared_ptr<Token> m_token;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_APP_PROGRESSDISPLAY_H
