// SPDX-License-Identifier: GPL-3.0-or-later
// The status bar's progress display: what a worker's sink delivers to the
// window thread, and the label, bar and button it shows.
#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/statusbr.h>

#include <thread>

#include "../GuiTestSupport.h"
#include "app/CommandIds.h"
#include "app/ProgressDisplay.h"

using namespace tessarook;

TEST_F(ShellTest, ProgressDisplayShowsLabelBarAndCancelAndHidesThem) {
  CProgressDisplay* display = Frame()->GetProgressDisplay();
  wxStatusBar* bar = Frame()->GetStatusBar();
  display->ShowProgress();
  EXPECT_TRUE(display->GetGauge()->IsShown());
  EXPECT_TRUE(display->GetCancelButton()->IsShown());
  EXPECT_EQ(display->GetCancelButton()->GetLabel(), "Cancel");
  EXPECT_EQ(display->GetCancelButton()->GetId(), ID_CANCEL_OPERATION);
  EXPECT_EQ(bar->GetStatusText(STATUS_FIELD_PROGRESS_LABEL), "Progress:");
  // The bar lies over its own field.
  wxRect field;
  ASSERT_TRUE(bar->GetFieldRect(STATUS_FIELD_PROGRESS_BAR, field));
  EXPECT_EQ(display->GetGauge()->GetRect(), field);
  display->SetProgress(3, 4);
  EXPECT_EQ(display->GetGauge()->GetValue(), display->GetGauge()->GetRange() * 3 / 4);
  display->HideProgress();
  EXPECT_FALSE(display->GetGauge()->IsShown());
  EXPECT_FALSE(display->GetCancelButton()->IsShown());
  EXPECT_EQ(bar->GetStatusText(STATUS_FIELD_PROGRESS_LABEL), wxString(' ', 16));
}

namespace {

// Counts the calls queued for the window thread as they are handled.
class CCountCalls : public wxEventFilter {
 public:
  CCountCalls() { wxEvtHandler::AddFilter(this); }
  ~CCountCalls() override { wxEvtHandler::RemoveFilter(this); }
  int FilterEvent(wxEvent& event) override {
    if (event.GetEventType() == wxEVT_ASYNC_METHOD_CALL) ++count;
    return Event_Skip;
  }
  int count = 0;
};

}  // namespace

TEST_F(ShellTest, ProgressSinkThrottlesAWorkersUpdatesButDeliversTheLast) {
  CProgressDisplay* display = Frame()->GetProgressDisplay();
  display->ShowProgress();
  Flush();
  std::unique_ptr<IProgressSink> sink = display->MakeSink();
  const uint64_t total = 100000;
  CCountCalls calls;
  std::thread worker([&] {
    for (uint64_t done = 0; done <= total; ++done) sink->OnProgress(done, total);
  });
  worker.join();
  Flush();
  // 100,001 calls on the worker became a few updates of the window.
  EXPECT_GE(calls.count, 2);
  EXPECT_LT(calls.count, 200);
  EXPECT_EQ(display->GetDone(), total);
  EXPECT_EQ(display->GetTotal(), total);
  display->HideProgress();
}

TEST_F(ShellTest, ProgressFollowsBytesAndSaysHowMuchHowFastAndHowLong) {
  CProgressDisplay* display = Frame()->GetProgressDisplay();
  wxStatusBar* bar = Frame()->GetStatusBar();
  display->ShowProgress();
  // Files only so far: the bar and the text count files.
  display->SetProgress(1, 4);
  EXPECT_EQ(display->GetGauge()->GetValue(), display->GetGauge()->GetRange() / 4);
  EXPECT_EQ(bar->GetStatusText(0), "1 of 4 files");
  // A large file: 19 of 20 files stand for only a small part of the bytes.
  display->SetProgress(19, 20);
  display->SetBytes(246000000, 1800000000, 1000);
  EXPECT_EQ(display->GetGauge()->GetValue(),
            int(double(246000000) * display->GetGauge()->GetRange() / 1800000000));
  EXPECT_EQ(bar->GetStatusText(0), "246.0 MB of 1.8 GB");
  display->SetBytes(346000000, 1800000000, 2000);  // 100 MB in a second
  EXPECT_EQ(bar->GetStatusText(0), "346.0 MB of 1.8 GB, 100.0 MB/s, 0:15 left");
  // Shown again for the next operation: nothing of the last one is left.
  display->ShowProgress();
  EXPECT_EQ(display->GetBytesTotal(), 0u);
  EXPECT_EQ(display->GetGauge()->GetValue(), 0);
  display->HideProgress();
  EXPECT_EQ(bar->GetStatusText(0), "Ready");
}

TEST_F(ShellTest, ProgressSinkPassesBytesOnAndTheLastAlwaysArrives) {
  CProgressDisplay* display = Frame()->GetProgressDisplay();
  display->ShowProgress();
  std::unique_ptr<IProgressSink> sink = display->MakeSink();
  const uint64_t total = uint64_t(1) << 30;
  std::thread worker([&] {
    sink->OnProgress(0, 3);
    for (uint64_t done = 0; done <= total; done += uint64_t(1) << 16) sink->OnBytes(done, total);
    sink->OnProgress(3, 3);
  });
  worker.join();
  Flush();
  EXPECT_EQ(display->GetBytesDone(), total);
  EXPECT_EQ(display->GetBytesTotal(), total);
  EXPECT_EQ(display->GetDone(), 3u);
  EXPECT_EQ(display->GetGauge()->GetValue(), display->GetGauge()->GetRange());
  display->HideProgress();
}

namespace {

// The details dialog: what it lists.
class CExpectDetails : public wxExpectModalBase<wxDialog, CExpectDetails> {
 public:
  explicit CExpectDetails(std::vector<std::string>* lines) : m_lines(lines) {}

 protected:
  int OnInvoked(wxDialog* dialog) const override {
    EXPECT_EQ(dialog->GetTitle(), "Details");
    wxWindowList children = dialog->GetChildren();
    for (wxWindow* child : children)
      if (auto* list = dynamic_cast<wxListBox*>(child))
        for (unsigned i = 0; i < list->GetCount(); ++i)
          m_lines->push_back(list->GetString(i).utf8_string());
    return wxID_OK;
  }

 private:
  std::vector<std::string>* m_lines;
};

}  // namespace

TEST_F(ShellTest, ASummaryStaysInTheStatusBarAndItsDetailsNameTheFiles) {
  CProgressDisplay* display = Frame()->GetProgressDisplay();
  wxStatusBar* bar = Frame()->GetStatusBar();
  OperationSummary summary;
  summary.what = "Backup \"Daily\"";
  summary.files = 2;
  summary.bytes = 1500;
  summary.seconds = 3;
  display->ShowSummary(summary);
  EXPECT_EQ(bar->GetStatusText(0), "Backup \"Daily\" finished: 2 files, 1.5 kB in 0:03.");
  EXPECT_FALSE(display->GetDetailsButton()->IsShown());  // nothing to name

  summary.skipped = {{"/home/u/locked.db", "Permission denied"}};
  summary.changed = {"/home/u/log.txt"};
  display->ShowSummary(summary);
  EXPECT_TRUE(display->GetDetailsButton()->IsShown());
  wxRect field;
  ASSERT_TRUE(bar->GetFieldRect(STATUS_FIELD_CANCEL, field));
  EXPECT_EQ(display->GetDetailsButton()->GetRect(), field);
  std::vector<std::string> lines;
  wxCommandEvent click(wxEVT_BUTTON, display->GetDetailsButton()->GetId());
  click.SetEventObject(display->GetDetailsButton());
  wxTEST_DIALOG(display->GetDetailsButton()->ProcessWindowEvent(click), CExpectDetails(&lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"Skipped: /home/u/locked.db (Permission denied)",
                                             "Changed while read: /home/u/log.txt"}));
  // The next operation takes the button's place.
  display->ShowProgress();
  EXPECT_FALSE(display->GetDetailsButton()->IsShown());
  display->HideProgress();
}
