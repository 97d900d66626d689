// SPDX-License-Identifier: GPL-3.0-or-later
// The status bar's progress display: what a worker's sink delivers to the
// window thread, and the label, bar and button it shows.
#include <wx/button.h>
#include <wx/gauge.h>
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
