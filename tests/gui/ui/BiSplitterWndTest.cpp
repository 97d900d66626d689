// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/panel.h>

#include <utility>
#include <vector>

#include "ui/BiSplitterWnd.h"

namespace tessarook {
namespace {

void Flush() {
  for (int i = 0; i < 3; ++i) wxYield();
}

// A frame with a plain panel holding the splitter, so the test decides the splitter's size.
class BiSplitterWndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_frame = new wxFrame(nullptr, wxID_ANY, "Splitter test", wxPoint(0, 0), wxSize(1000, 700));
    m_host = new wxPanel(m_frame);
    m_frame->Show();
    Flush();
  }
  void TearDown() override {
    m_frame->Destroy();
    Flush();
  }

  // An outer side-by-side splitter and an inner stacked one, put together as the main window
  // does, at a fixed size.
  void BuildNested(unsigned outerMode = kSplitKeepPane0) {
    m_outer = new CBiSplitterWnd;
    ASSERT_TRUE(m_outer->Create(m_host, kSplitSideBySide | kSplit3D | outerMode, 100));
    EXPECT_FALSE(m_outer->IsShown());
    m_left = m_outer->CreateView<wxPanel>(2);
    m_outer->SetPane(0, 0x515, "My Schemes", m_left);
    m_inner = m_outer->CreateNestedSplitter(1, kSplitStacked | kSplit3D | kSplitKeepPane0);
    ASSERT_NE(m_inner, nullptr);
    m_outer->SetPane(1, 0x100, wxEmptyString, m_inner);
    m_top = m_inner->CreateView<wxPanel>(21);
    m_inner->SetPane(0, 0x115, "Files and Folders to Backup", m_top);
    m_bottom = m_inner->CreateView<wxPanel>(22);
    m_inner->SetPane(1, 0x115, "Available Backups", m_bottom);
    m_outer->SetSize(0, 0, 800, 600);
    m_outer->SetSplitPos(200);
    m_outer->SetBarWidth(6);
    m_inner->SetSplitPos(250);
    m_inner->SetBarWidth(2);
    Flush();
  }

  // Sends a mouse event in the splitter's client coordinates.
  static void Mouse(CBiSplitterWnd* wnd, wxEventType type, int x, int y, bool leftDown) {
    wxMouseEvent event(type);
    event.SetEventObject(wnd);
    event.SetPosition(wxPoint(x, y));
    event.SetLeftDown(leftDown);
    wnd->ProcessWindowEvent(event);
  }
  static void Click(CBiSplitterWnd* wnd, const SRect& r) {
    Mouse(wnd, wxEVT_LEFT_DOWN, r.x + r.w / 2, r.y + r.h / 2, true);
    Mouse(wnd, wxEVT_LEFT_UP, r.x + r.w / 2, r.y + r.h / 2, false);
  }

  wxFrame* m_frame = nullptr;
  wxPanel* m_host = nullptr;
  CBiSplitterWnd* m_outer = nullptr;
  CBiSplitterWnd* m_inner = nullptr;
  wxWindow* m_left = nullptr;
  wxWindow* m_top = nullptr;
  wxWindow* m_bottom = nullptr;
};

TEST_F(BiSplitterWndTest, PanesAreCreatedAndPlaced) {
  BuildNested();
  EXPECT_TRUE(m_outer->IsSplitterVisible());
  EXPECT_TRUE(m_inner->IsSplitterVisible());
  EXPECT_EQ(m_outer->GetPane(0), m_left);
  EXPECT_EQ(m_outer->GetPane(1), m_inner);
  EXPECT_EQ(m_outer->GetDlgItem(1), m_inner);
  EXPECT_EQ(m_inner->GetDlgItem(22), m_bottom);
  EXPECT_EQ(m_inner->FindPane(m_top), 0);
  EXPECT_EQ(m_outer->GetPaneTitle(0), "My Schemes");

  // Each window fills its pane's client rectangle; the inner splitter fills pane 1.
  const SPaneLayout& left = m_outer->GetLayout().Pane(0);
  EXPECT_EQ(m_left->GetRect(), wxRect(left.client.x, left.client.y, left.client.w, left.client.h));
  EXPECT_EQ(m_left->GetPosition().x, 1);
  EXPECT_GT(m_left->GetPosition().y, 1);  // below the caption
  EXPECT_EQ(m_inner->GetRect(), wxRect(206, 0, 594, 600));
  EXPECT_EQ(m_top->GetSize().y, 250 - 2 - m_inner->GetLayout().Pane(0).caption.h);
  EXPECT_EQ(m_bottom->GetPosition().y, 252 + 1 + m_inner->GetLayout().Pane(1).caption.h);
}

TEST_F(BiSplitterWndTest, FramePaneIdOutsideTheToolkitRangeIsAccepted) {
  static int asserts = 0;
  asserts = 0;
  wxAssertHandler_t previous = wxSetAssertHandler(
      [](const wxString&, int, const wxString&, const wxString&, const wxString&) { ++asserts; });
  auto* splitter = new CBiSplitterWnd;
  const bool created = splitter->Create(m_host, 0x25, 0xE900);
  wxSetAssertHandler(previous);
  EXPECT_TRUE(created);
  EXPECT_EQ(asserts, 0);
  EXPECT_FALSE(splitter->IsSplitterVisible());
  EXPECT_EQ(splitter->GetFlags(), 0x25u);
}

TEST_F(BiSplitterWndTest, PaneActivationReachesTheFrame) {
  std::vector<std::pair<wxObject*, int>> seen;
  m_frame->Bind(EVT_SPLITTER_PANE_ACTIVATED,
                [&seen](wxCommandEvent& e) { seen.emplace_back(e.GetEventObject(), e.GetInt()); });
  BuildNested();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), std::make_pair(static_cast<wxObject*>(m_inner), 1));

  // Activating the outer pane that holds the inner splitter passes on to the inner's active pane.
  seen.clear();
  m_outer->SetActivePane(1);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(static_cast<wxObject*>(m_outer), 1));
  EXPECT_EQ(seen[1], std::make_pair(static_cast<wxObject*>(m_inner), 1));

  // Releasing the mouse after a drag gives the active pane back its activation.
  seen.clear();
  m_outer->SetActivePane(0);
  Mouse(m_outer, wxEVT_LEFT_DOWN, 202, 20, true);
  Mouse(m_outer, wxEVT_LEFT_UP, 222, 20, false);
  EXPECT_EQ(m_outer->GetActivePane(), 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], std::make_pair(static_cast<wxObject*>(m_outer), 0));
  EXPECT_FALSE(m_outer->SetPane(0, 0x515, "x", m_outer));
}

TEST_F(BiSplitterWndTest, FoldButtonFoldsAndRestoresThePosition) {
  BuildNested();
  m_outer->SetSplitPos(237);
  const SRect button = m_outer->GetLayout().FoldButton(0);
  ASSERT_FALSE(button.IsEmpty());
  Click(m_outer, button);
  EXPECT_TRUE(m_outer->IsPaneFolded(0));
  EXPECT_FALSE(m_left->IsShown());
  EXPECT_EQ(m_inner->GetRect(), wxRect(6, 0, 794, 600));
  EXPECT_EQ(m_outer->GetTrackingState(), 0);

  Click(m_outer, m_outer->GetLayout().FoldButton(0));
  EXPECT_FALSE(m_outer->IsPaneFolded(0));
  EXPECT_TRUE(m_left->IsShown());
  EXPECT_EQ(m_outer->GetSplitPos(), 237);
  EXPECT_EQ(m_inner->GetPosition().x, 243);

  // A press on the button released elsewhere does nothing.
  const SRect b = m_outer->GetLayout().FoldButton(0);
  Mouse(m_outer, wxEVT_LEFT_DOWN, b.x + 1, b.y + 1, true);
  Mouse(m_outer, wxEVT_LEFT_UP, 500, 10, false);
  EXPECT_FALSE(m_outer->IsPaneFolded(0));
}

TEST_F(BiSplitterWndTest, ResizeModesOnParentResize) {
  struct Case {
    unsigned mode;
    int expected;  // split position after 400 -> 800 with 100 set at 400
  };
  for (const Case& c :
       {Case{kSplitKeepPane0, 100}, Case{kSplitKeepPane1, 500}, Case{kSplitProportional, 200}}) {
    auto* splitter = new CBiSplitterWnd;
    ASSERT_TRUE(splitter->Create(m_host, kSplitSideBySide | c.mode));
    auto* a = splitter->CreateView<wxPanel>(wxID_ANY);
    auto* b = splitter->CreateView<wxPanel>(wxID_ANY);
    splitter->SetPane(0, 0x1, "", a);
    splitter->SetPane(1, 0x1, "", b);
    splitter->SetSize(0, 0, 400, 300);
    splitter->SetBarWidth(4);
    splitter->SetSplitPos(100);
    const int pane1Width = b->GetSize().x;
    splitter->SetSize(0, 0, 800, 300);
    Flush();
    EXPECT_EQ(splitter->GetSplitPos(), c.expected) << "mode " << c.mode;
    EXPECT_EQ(b->GetPosition().x, c.expected + 4 + 1) << "mode " << c.mode;
    if (c.mode == kSplitKeepPane1) {
      EXPECT_EQ(b->GetSize().x, pane1Width);
    }
    splitter->Destroy();
  }
}

TEST_F(BiSplitterWndTest, DraggingTheBarMovesItWithinTheLimits) {
  BuildNested();
  // Grab the bar 2 pixels from its left edge and drag to x = 452: the bar's edge lands at 450.
  Mouse(m_outer, wxEVT_LEFT_DOWN, 202, 20, true);
  EXPECT_EQ(m_outer->GetTrackingState(), 1);
  Mouse(m_outer, wxEVT_MOTION, 452, 25, true);
  EXPECT_EQ(m_outer->GetSplitPos(), 200);  // nothing moves before the release
  Mouse(m_outer, wxEVT_LEFT_UP, 452, 25, false);
  EXPECT_EQ(m_outer->GetTrackingState(), 0);
  EXPECT_EQ(m_outer->GetSplitPos(), 450);
  EXPECT_EQ(m_inner->GetPosition().x, 456);

  // The stacked bar follows the vertical axis; pane 0 keeps its border, its caption and a
  // strip of its window.
  Mouse(m_inner, wxEVT_LEFT_DOWN, 50, 251, true);
  Mouse(m_inner, wxEVT_MOTION, 50, -300, true);
  Mouse(m_inner, wxEVT_LEFT_UP, 50, -300, false);
  const int upper = m_inner->GetLayout().PaneMinExtent(0);
  EXPECT_GT(upper, 2 + m_inner->GetLayout().Pane(0).caption.h);
  EXPECT_EQ(m_inner->GetSplitPos(), upper);

  // Dragging far beyond pane 1's edge stops at the limit: the inner splitter's own minimum.
  Mouse(m_outer, wxEVT_LEFT_DOWN, 451, 20, true);
  Mouse(m_outer, wxEVT_MOTION, 5000, 20, true);
  Mouse(m_outer, wxEVT_LEFT_UP, 5000, 20, false);
  EXPECT_EQ(m_outer->GetLayout().PaneMinExtent(1), m_inner->MinimumExtent(true));
  EXPECT_EQ(m_outer->GetSplitPos(), 800 - (m_inner->MinimumExtent(true) + 6));
}

TEST_F(BiSplitterWndTest, DraggingToTheFarEdgeKeepsEveryPaneAtItsMinimum) {
  BuildNested();
  auto check = [this](const char* when) {
    // The bar lies beside the inner splitter, which keeps room for its panes' borders and a
    // strip of their windows; no window is left with no size at all.
    const SRect bar = m_outer->GetLayout().Bar();
    EXPECT_EQ(m_inner->GetRect().x, bar.Right()) << when;
    EXPECT_EQ(m_inner->GetRect().GetRight() + 1, m_outer->GetClientSize().x) << when;
    EXPECT_GE(m_inner->GetSize().x, 2 + 16) << when;
    for (wxWindow* pane : {m_top, m_bottom}) {
      EXPECT_TRUE(pane->IsShown()) << when;
      EXPECT_EQ(pane->GetSize().x, m_inner->GetSize().x - 2) << when;
      EXPECT_GE(pane->GetSize().x, 16) << when;
    }
  };
  Mouse(m_outer, wxEVT_LEFT_DOWN, 202, 20, true);
  Mouse(m_outer, wxEVT_MOTION, 5000, 20, true);
  Mouse(m_outer, wxEVT_LEFT_UP, 5000, 20, false);
  check("after the drag");
  EXPECT_LT(m_outer->GetSplitPos(), 800 - 6 - 16);
  // A larger window keeps pane 0's width; a smaller one still leaves the minimum.
  m_outer->SetSize(0, 0, 850, 600);
  check("wider");
  m_outer->SetSize(0, 0, 820, 600);
  check("narrower");

  // Stacked: the lower pane keeps its caption and a strip below it.
  Mouse(m_inner, wxEVT_LEFT_DOWN, 5, 251, true);
  Mouse(m_inner, wxEVT_MOTION, 5, 5000, true);
  Mouse(m_inner, wxEVT_LEFT_UP, 5, 5000, false);
  const SPaneLayout& lower = m_inner->GetLayout().Pane(1);
  EXPECT_GE(m_bottom->GetSize().y, 16);
  EXPECT_EQ(m_bottom->GetPosition().y, lower.caption.Bottom());
  EXPECT_EQ(lower.rect.Bottom(), 600);
}

TEST_F(BiSplitterWndTest, LosingTheCaptureCancelsTheDrag) {
  BuildNested();
  Mouse(m_outer, wxEVT_LEFT_DOWN, 202, 20, true);
  Mouse(m_outer, wxEVT_MOTION, 400, 20, true);
  wxMouseCaptureLostEvent lost(m_outer->GetId());
  lost.SetEventObject(m_outer);
  m_outer->ProcessWindowEvent(lost);
  EXPECT_EQ(m_outer->GetTrackingState(), 0);
  Mouse(m_outer, wxEVT_LEFT_UP, 400, 20, false);
  EXPECT_EQ(m_outer->GetSplitPos(), 200);
}

TEST_F(BiSplitterWndTest, HidingBothInnerPanesHidesTheOuterPane) {
  BuildNested();
  m_inner->HidePane(1);
  EXPECT_FALSE(m_bottom->IsShown());
  EXPECT_EQ(m_top->GetSize().y, 600 - 2 - m_inner->GetLayout().Pane(0).caption.h);

  m_inner->HidePaneOf(m_top);
  EXPECT_FALSE(m_inner->IsShown());
  EXPECT_FALSE(m_outer->IsPaneVisible(1));
  EXPECT_FALSE(m_inner->IsPaneVisible(0));
  EXPECT_EQ(m_left->GetRect().GetRight(), 800 - 2);  // pane 0 fills the splitter
  EXPECT_FALSE(m_outer->GetLayout().IsBarShown());

  // Setting up an inner pane again does not lay the hidden inner splitter over pane 0.
  m_inner->SetPane(0, 0x115, "Files", m_top);
  EXPECT_FALSE(m_inner->IsShown());
  EXPECT_EQ(m_inner->GetPaneTitle(0), "Files");

  // Showing an inner pane brings the inner splitter back into the outer one.
  m_inner->ShowPane(1);
  EXPECT_TRUE(m_inner->IsShown());
  EXPECT_TRUE(m_outer->IsPaneVisible(1));
  EXPECT_TRUE(m_bottom->IsShown());
  EXPECT_EQ(m_outer->GetSplitPos(), 200);
  EXPECT_EQ(m_inner->GetRect(), wxRect(206, 0, 594, 600));
}

TEST_F(BiSplitterWndTest, HidingBothPanesOfATopSplitterHidesIt) {
  BuildNested();
  m_outer->ModifyPaneFlags(0, 0, kPaneCloseButton);
  const SRect close = m_outer->GetLayout().Pane(0).close;
  ASSERT_FALSE(close.IsEmpty());
  Click(m_outer, close);
  EXPECT_FALSE(m_outer->IsPaneVisible(0));
  EXPECT_FALSE(m_left->IsShown());
  EXPECT_EQ(m_inner->GetRect(), wxRect(0, 0, 800, 600));

  m_outer->HidePane(1);
  EXPECT_FALSE(m_outer->IsSplitterVisible());
  m_outer->ShowPane(0);
  EXPECT_TRUE(m_outer->IsSplitterVisible());
  EXPECT_TRUE(m_left->IsShown());
  EXPECT_EQ(m_left->GetRect().GetRight(), 800 - 2);
}

TEST_F(BiSplitterWndTest, PaneWindowsCanBeReplacedAndDestroyed) {
  BuildNested();
  auto* other = new wxPanel(m_inner, 77);
  ASSERT_TRUE(m_inner->SetPaneFromDlgItem(77, 1));
  EXPECT_FALSE(m_bottom->IsShown());
  EXPECT_TRUE(other->IsShown());
  EXPECT_EQ(m_inner->GetPane(1), other);
  EXPECT_FALSE(m_inner->SetPaneFromDlgItem(12345, 1));

  // A destroyed pane window is forgotten; later layouts do not touch it.
  delete other;
  EXPECT_EQ(m_inner->GetPane(1), nullptr);
  m_inner->TogglePane(0);
  m_inner->TogglePane(0);
  m_inner->RecalcLayout();
  EXPECT_TRUE(m_top->IsShown());

  EXPECT_FALSE(m_inner->SetPane(2, 0, "x", nullptr));
  EXPECT_EQ(m_inner->GetPaneFlags(-1), 0u);
}

}  // namespace
}  // namespace tessarook
