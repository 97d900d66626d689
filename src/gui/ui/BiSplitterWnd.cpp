// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/BiSplitterWnd.h"

#include <wx/control.h>
#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/image.h>
#include <wx/settings.h>

#include <algorithm>

namespace tessarook {

wxDEFINE_EVENT(EVT_SPLITTER_PANE_ACTIVATED, wxCommandEvent);

namespace {

enum { kStateNormal = 0, kStateHot = 1, kStatePressed = 2 };

wxRect ToWx(const SRect& r) { return wxRect(r.x, r.y, r.w, r.h); }

wxColour Blend(const wxColour& a, const wxColour& b, double t) {
  auto mix = [t](unsigned char x, unsigned char y) {
    return static_cast<unsigned char>(x + (y - x) * t + 0.5);
  };
  return wxColour(mix(a.Red(), b.Red()), mix(a.Green(), b.Green()), mix(a.Blue(), b.Blue()));
}

}  // namespace

CBiSplitterWnd::CBiSplitterWnd() = default;

CBiSplitterWnd::~CBiSplitterWnd() {
  if (HasCapture()) ReleaseMouse();
}

bool CBiSplitterWnd::Create(wxWindow* parent, unsigned flags, wxWindowID id) {
  // Created hidden: the first SetPane of a visible pane shows it.
  Hide();
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  // Window ids above the toolkit's range (such as a frame's first pane id, 0xE900) would trip
  // its id check; such a splitter gets a fresh id instead and is reached by pointer.
  if (id >= 32767) id = wxID_ANY;
  if (!wxWindow::Create(parent, id, wxDefaultPosition, wxDefaultSize,
                        wxBORDER_NONE | wxCLIP_CHILDREN | wxFULL_REPAINT_ON_RESIZE))
    return false;
  m_layout.SetFlags(flags);
  LoadResources();
  Bind(wxEVT_PAINT, &CBiSplitterWnd::OnPaint, this);
  Bind(wxEVT_SIZE, &CBiSplitterWnd::OnSize, this);
  Bind(wxEVT_LEFT_DOWN, &CBiSplitterWnd::OnLeftDown, this);
  Bind(wxEVT_LEFT_DCLICK, &CBiSplitterWnd::OnLeftDown, this);
  Bind(wxEVT_LEFT_UP, &CBiSplitterWnd::OnLeftUp, this);
  Bind(wxEVT_MOTION, &CBiSplitterWnd::OnMotion, this);
  Bind(wxEVT_LEAVE_WINDOW, &CBiSplitterWnd::OnLeave, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &CBiSplitterWnd::OnCaptureLost, this);
  Bind(wxEVT_SYS_COLOUR_CHANGED, &CBiSplitterWnd::OnSysColourChanged, this);
  Bind(wxEVT_DPI_CHANGED, &CBiSplitterWnd::OnDpiChanged, this);
  return true;
}

void CBiSplitterWnd::LoadResources() {
  m_face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
  m_shadow = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW);
  m_highlight = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNHIGHLIGHT);
  m_darkShadow = wxSystemSettings::GetColour(wxSYS_COLOUR_3DDKSHADOW);
  m_text = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT);
  // Hot flat buttons take the theme's selection colour: a frame in it, filled with a pale tint.
  m_hotFrame = wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT);
  m_hotFill = Blend(m_hotFrame, m_face, 0.7);

  const wxFont base = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  m_captionFontSmall = base;
  m_captionFontNormal = base.Scaled(1.15f);
  int w = 0, hSmall = 0, hNormal = 0;
  GetTextExtent("Ag", &w, &hSmall, nullptr, nullptr, &m_captionFontSmall);
  GetTextExtent("Ag", &w, &hNormal, nullptr, nullptr, &m_captionFontNormal);
  // Caption strips leave a little air around the text; buttons fit inside them.
  m_metrics.smallCaptionHeight = hSmall + FromDIP(8);
  m_metrics.captionHeight = hNormal + FromDIP(10);
  m_metrics.smallButtonHeight = m_metrics.smallCaptionHeight - FromDIP(4);
  m_metrics.smallButtonWidth = m_metrics.smallButtonHeight;
  m_metrics.buttonHeight = m_metrics.captionHeight - FromDIP(4);
  m_metrics.buttonWidth = m_metrics.buttonHeight;
  m_minWindowExtent = FromDIP(48);
}

bool CBiSplitterWnd::SetPane(int index, unsigned paneFlags, const wxString& title,
                             wxWindow* window) {
  if ((index != 0 && index != 1) || window == this) return false;
  m_layout.SetPaneFlags(index, paneFlags);
  m_titles[index] = title;
  if (window != nullptr) {
    if (window->GetParent() != this) window->Reparent(this);
    if (m_windows[index] != nullptr && m_windows[index] != window) m_windows[index]->Hide();
    if (m_windows[index ^ 1] == window) m_windows[index ^ 1] = nullptr;
    m_windows[index] = window;
  }
  RecalcLayout();
  // A splitter nested in a pane its parent splitter hides or folds stays hidden: showing it
  // there would lay it over the parent's other pane.
  bool mayShow = true;
  if (CBiSplitterWnd* parent = ParentSplitter()) {
    const int holder = parent->FindPane(this);
    mayShow = holder < 0 || (parent->m_layout.IsVisible(holder) && !parent->IsPaneFolded(holder));
  }
  if (m_layout.IsVisible(index) && !IsShown() && mayShow) Show();
  SetActivePane(index);
  return true;
}

unsigned CBiSplitterWnd::GetFlags() const { return m_layout.GetFlags(); }

void CBiSplitterWnd::ModifyFlags(unsigned remove, unsigned add) {
  m_layout.SetFlags((m_layout.GetFlags() & ~remove) | add);
  RecalcLayout();
}

unsigned CBiSplitterWnd::GetPaneFlags(int index) const {
  return (index == 0 || index == 1) ? m_layout.GetPaneFlags(index) : 0;
}

void CBiSplitterWnd::ModifyPaneFlags(int index, unsigned remove, unsigned add) {
  if (index != 0 && index != 1) return;
  m_layout.SetPaneFlags(index, (m_layout.GetPaneFlags(index) & ~remove) | add);
  RecalcLayout();
}

bool CBiSplitterWnd::SetPaneFromDlgItem(wxWindowID id, int index) {
  if (index != 0 && index != 1) return false;
  wxWindow* child = GetDlgItem(id);
  if (child == nullptr || child == m_tracker) return false;
  if (m_windows[index] != nullptr && m_windows[index] != child) m_windows[index]->Hide();
  if (m_windows[index ^ 1] == child) m_windows[index ^ 1] = nullptr;
  m_windows[index] = child;
  RecalcLayout();
  return true;
}

void CBiSplitterWnd::RecalcLayout() {
  const wxSize size = GetClientSize();
  const bool horizontal = !m_layout.IsStacked();
  for (int i = 0; i < 2; ++i) m_layout.SetPaneMinimum(i, PaneContentMinimum(i, horizontal));
  m_layout.Layout(size.x, size.y, m_metrics);
  PlaceWindows();
  Refresh();
}

int CBiSplitterWnd::PaneContentMinimum(int index, bool horizontal) const {
  const unsigned flags = m_layout.GetPaneFlags(index);
  int need = 0;
  if (!horizontal && (flags & kPaneCaptionMask) != 0)
    need += (flags & kPaneCaptionMask) == kPaneCaptionSmall ? m_metrics.smallCaptionHeight
                                                            : m_metrics.captionHeight;
  if (const auto* nested = dynamic_cast<const CBiSplitterWnd*>(m_windows[index]))
    need += nested->MinimumExtent(horizontal);
  else if (m_windows[index] != nullptr)
    need += m_minWindowExtent;
  return need;
}

int CBiSplitterWnd::MinimumExtent(bool horizontal) const {
  const bool alongSplit = horizontal == !m_layout.IsStacked();
  int total = 0;
  int shown = 0;
  for (int i = 0; i < 2; ++i) {
    if (!m_layout.IsVisible(i)) continue;
    ++shown;
    if (alongSplit && m_layout.IsFolded(i)) continue;  // folded into the bar
    const int need = 2 * CSplitterLayout::BorderWidth(m_layout.GetPaneFlags(i)) +
                     PaneContentMinimum(i, horizontal);
    total = alongSplit ? total + need : std::max(total, need);
  }
  if (alongSplit && shown == 2) total += m_layout.GetBarWidth();
  return total;
}

void CBiSplitterWnd::PlaceWindows() {
  for (int i = 0; i < 2; ++i) {
    wxWindow* window = m_windows[i];
    if (window == nullptr) continue;
    const SPaneLayout& pane = m_layout.Pane(i);
    // A window is never given no size at all (the toolkit would keep drawing it where it was):
    // with no room left it is hidden until there is some.
    if (pane.visible && !pane.folded && pane.laidOut && !pane.client.IsEmpty()) {
      window->SetSize(ToWx(pane.client));
      if (!window->IsShown()) window->Show();
    } else if (window->IsShown()) {
      window->Hide();
    }
  }
}

CBiSplitterWnd* CBiSplitterWnd::ParentSplitter() const {
  return dynamic_cast<CBiSplitterWnd*>(GetParent());
}

void CBiSplitterWnd::HidePaneOf(wxWindow* window) {
  const int index = FindPane(window);
  if (index >= 0) HidePane(index);
}

void CBiSplitterWnd::HidePane(int index) {
  if (index != 0 && index != 1) return;
  if (m_layout.IsVisible(index ^ 1)) {
    if (m_windows[index] != nullptr) m_windows[index]->Hide();
    m_layout.SetVisible(index, false);
    RecalcLayout();
    return;
  }
  // Both panes would be hidden: the splitter itself goes away.
  if (CBiSplitterWnd* parent = ParentSplitter()) {
    parent->HidePaneOf(this);
    return;
  }
  if (m_windows[index] != nullptr) m_windows[index]->Hide();
  m_layout.SetVisible(index, false);
  Hide();
  if (GetParent() != nullptr) GetParent()->Refresh();
}

void CBiSplitterWnd::ShowPane(int index) {
  if (index != 0 && index != 1) return;
  m_layout.SetVisible(index, true);
  if (!IsShown()) {
    if (CBiSplitterWnd* parent = ParentSplitter())
      parent->ShowPaneOf(this);
    else
      Show();
  }
  RecalcLayout();
}

void CBiSplitterWnd::ShowPaneOf(wxWindow* window) {
  const int index = FindPane(window);
  if (index >= 0) ShowPane(index);
}

void CBiSplitterWnd::TogglePane(int index) {
  if (index != 0 && index != 1) return;
  const bool changed = m_layout.IsFolded(index) ? m_layout.Unfold(index) : m_layout.Fold(index);
  if (changed) RecalcLayout();
}

void CBiSplitterWnd::SetActivePane(int index) {
  if (index != 0 && index != 1) return;
  m_activePane = index;
  wxCommandEvent activated(EVT_SPLITTER_PANE_ACTIVATED, GetId());
  activated.SetEventObject(this);
  activated.SetInt(index);
  ProcessWindowEvent(activated);
  wxWindow* window = m_windows[index];
  if (window == nullptr || !window->IsShown()) return;
  if (auto* nested = dynamic_cast<CBiSplitterWnd*>(window)) {
    if (nested->GetActivePane() >= 0) nested->SetActivePane(nested->GetActivePane());
  } else if (window->AcceptsFocus()) {
    window->SetFocus();
  }
}

int CBiSplitterWnd::GetActivePane() const { return m_activePane; }

void CBiSplitterWnd::SetFocusedPane(int index) {
  if (index == m_focusedPane) return;
  m_focusedPane = index;
  Refresh();
}

bool CBiSplitterWnd::IsPaneVisible(int index) const {
  return (index == 0 || index == 1) && m_layout.IsVisible(index) && IsShown();
}

bool CBiSplitterWnd::IsSplitterVisible() const { return IsShown(); }

wxWindow* CBiSplitterWnd::GetDlgItem(wxWindowID id) const {
  for (wxWindow* child : GetChildren())
    if (child->GetId() == id) return child;
  return nullptr;
}

wxWindow* CBiSplitterWnd::GetPane(int index) const {
  return (index == 0 || index == 1) ? m_windows[index] : nullptr;
}

int CBiSplitterWnd::FindPane(const wxWindow* window) const {
  if (window == nullptr) return -1;
  for (int i = 0; i < 2; ++i)
    if (m_windows[i] == window) return i;
  return -1;
}

bool CBiSplitterWnd::IsPaneFolded(int index) const {
  return (index == 0 || index == 1) && m_layout.IsFolded(index);
}

const wxString& CBiSplitterWnd::GetPaneTitle(int index) const { return m_titles[index & 1]; }

void CBiSplitterWnd::SetSplitPos(int pos) {
  const wxSize size = GetClientSize();
  m_layout.SetSplitPos(pos, m_layout.IsStacked() ? size.y : size.x);
  RecalcLayout();
}

int CBiSplitterWnd::GetSplitPos() const { return m_layout.GetSplitPos(); }

void CBiSplitterWnd::SetBarWidth(int pixels) {
  m_layout.SetBarWidth(pixels);
  RecalcLayout();
}

int CBiSplitterWnd::GetBarWidth() const { return m_layout.GetBarWidth(); }

void CBiSplitterWnd::RemoveChild(wxWindowBase* child) {
  for (wxWindow*& window : m_windows)
    if (window == child) window = nullptr;
  if (child == m_tracker) m_tracker = nullptr;
  wxWindow::RemoveChild(child);
}

// ---- events ----

void CBiSplitterWnd::OnSize(wxSizeEvent& event) {
  const wxSize size = GetClientSize();
  if (size.x > 0 && size.y > 0) RecalcLayout();
  event.Skip();
}

void CBiSplitterWnd::OnSysColourChanged(wxSysColourChangedEvent& event) {
  LoadResources();
  RecalcLayout();
  event.Skip();
}

void CBiSplitterWnd::OnDpiChanged(wxDPIChangedEvent& event) {
  LoadResources();
  RecalcLayout();
  event.Skip();
}

void CBiSplitterWnd::OnLeftDown(wxMouseEvent& event) {
  // Taking the focus ends any in-place editing in the panes; the active pane gets it back on
  // release.
  SetFocus();
  if (m_tracking != 0) return;
  const wxPoint pt = event.GetPosition();
  const int hit = m_layout.HitTest(pt.x, pt.y);
  if (hit == kHitBar) {
    CaptureMouse();
    for (wxWindow* child : GetChildren()) child->Update();
    m_tracking = kHitBar;
    m_trackerPos = m_layout.GetSplitPos();
    m_dragOffset = (m_layout.IsStacked() ? pt.y : pt.x) - m_trackerPos;
    const SRect& bar = m_layout.Bar();
    const wxSize barSize(std::max(1, bar.w), std::max(1, bar.h));
    // Half-tone pattern of the tracker: every other pixel dark.
    wxImage image(barSize);
    for (int y = 0; y < barSize.y; ++y)
      for (int x = 0; x < barSize.x; ++x) {
        const wxColour& c = ((x + y) & 1) ? m_face : m_text;
        image.SetRGB(x, y, c.Red(), c.Green(), c.Blue());
      }
    m_halftone = wxBitmap(image);
    if (m_tracker == nullptr) {
      m_tracker = new wxWindow;
      m_tracker->SetBackgroundStyle(wxBG_STYLE_PAINT);
      m_tracker->Hide();
      m_tracker->Create(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
      m_tracker->Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
        wxPaintDC dc(m_tracker);
        if (m_halftone.IsOk()) dc.DrawBitmap(m_halftone, 0, 0);
      });
    }
    m_tracker->SetSize(ToWx(bar));
    m_tracker->Show();
    m_tracker->Raise();
    m_tracker->Refresh();
  } else if (hit >= kHitClose0 && hit <= kHitFold1) {
    CaptureMouse();
    m_tracking = hit;
    SetButtonState(hit, kStatePressed);
  }
}

void CBiSplitterWnd::MoveTracker(int pointer) {
  m_trackerPos = m_layout.ClampPos(pointer - m_dragOffset);
  if (m_tracker == nullptr) return;
  SRect r = m_layout.Bar();
  if (m_layout.IsStacked())
    r.y = m_trackerPos;
  else
    r.x = m_trackerPos;
  m_tracker->Move(r.x, r.y);
}

void CBiSplitterWnd::OnMotion(wxMouseEvent& event) {
  const wxPoint pt = event.GetPosition();
  const int hit = m_layout.HitTest(pt.x, pt.y);
  const int cursorHit = m_tracking == kHitBar ? kHitBar : hit;
  if (cursorHit != m_cursorHit) {
    m_cursorHit = cursorHit;
    if (cursorHit == kHitBar)
      SetCursor(wxCursor(m_layout.IsStacked() ? wxCURSOR_SIZENS : wxCURSOR_SIZEWE));
    else
      SetCursor(wxNullCursor);  // the default arrow; pane windows do not inherit a sizing cursor
  }
  if (m_tracking == kHitBar) {
    MoveTracker(m_layout.IsStacked() ? pt.y : pt.x);
  } else if (m_tracking != 0) {
    // A held button looks pressed only while the pointer is over it.
    SetButtonState(m_tracking, hit == m_tracking ? kStatePressed : kStateNormal);
  } else {
    for (int code = kHitClose0; code <= kHitFold1; ++code)
      SetButtonState(code, code == hit ? kStateHot : kStateNormal);
  }
  event.Skip();
}

void CBiSplitterWnd::OnLeave(wxMouseEvent& event) {
  if (m_tracking == 0)
    for (int code = kHitClose0; code <= kHitFold1; ++code) SetButtonState(code, kStateNormal);
  if (m_tracking != kHitBar) {
    m_cursorHit = -1;
    SetCursor(wxNullCursor);
  }
  event.Skip();
}

void CBiSplitterWnd::OnLeftUp(wxMouseEvent& event) {
  const int tracking = m_tracking;
  if (tracking == 0) return;
  const wxPoint pt = event.GetPosition();
  const int hit = m_layout.HitTest(pt.x, pt.y);
  const int pos = m_trackerPos;
  EndTracking();
  if (tracking == kHitBar) {
    SetSplitPos(pos);
    Update();  // the bar, its buttons and the panes at once, not at the next resize
  } else if (hit == tracking) {
    switch (tracking) {
      case kHitClose0:
        HidePane(0);
        break;
      case kHitClose1:
        HidePane(1);
        break;
      case kHitFold0:
        TogglePane(0);
        break;
      case kHitFold1:
        TogglePane(1);
        break;
      default:
        break;
    }
  }
  if (m_activePane >= 0) SetActivePane(m_activePane);
}

void CBiSplitterWnd::OnCaptureLost(wxMouseCaptureLostEvent&) { EndTracking(); }

void CBiSplitterWnd::EndTracking() {
  const int tracking = m_tracking;
  m_tracking = 0;
  if (HasCapture()) ReleaseMouse();
  if (tracking == kHitBar && m_tracker != nullptr) m_tracker->Hide();
  if (tracking >= kHitClose0 && tracking <= kHitFold1) SetButtonState(tracking, kStateNormal);
}

void CBiSplitterWnd::SetButtonState(int hit, int state) {
  if (hit < kHitClose0 || hit > kHitFold1) return;
  int& current = m_buttonStates[hit - kHitClose0];
  if (current == state) return;
  current = state;
  const SRect& r = hit <= kHitClose1 ? m_layout.Pane(hit - kHitClose0).close
                                     : m_layout.FoldButton(hit - kHitFold0);
  if (!r.IsEmpty()) RefreshRect(ToWx(r), false);
}

// ---- drawing ----

void CBiSplitterWnd::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  dc.SetBackground(wxBrush(m_face));
  dc.Clear();
  if (m_layout.IsBarShown()) {
    for (int i = 0; i < 2; ++i) {
      const SRect& r = m_layout.FoldButton(i);
      if (r.IsEmpty()) continue;
      const unsigned flags = m_layout.GetPaneFlags(i);
      DrawButton(dc, r, flags, m_buttonStates[kHitFold0 - kHitClose0 + i], m_layout.FoldGlyph(i),
                 (flags & kPaneFoldMask) == kPaneFoldButtonSmall);
    }
  }
  for (int i = 0; i < 2; ++i) {
    const SPaneLayout& pane = m_layout.Pane(i);
    if (pane.visible && !pane.folded && pane.laidOut) DrawPane(dc, i);
  }
}

void CBiSplitterWnd::DrawEdge(wxDC& dc, const SRect& rect, bool raised, int depth) {
  const bool threeD = (m_layout.GetFlags() & kSplit3D) != 0;
  SRect r = rect;
  for (int level = 0; level < depth && !r.IsEmpty(); ++level) {
    wxColour topLeft, bottomRight;
    if (!threeD) {
      topLeft = bottomRight = *wxBLACK;
    } else if (raised) {
      topLeft = level == 0 ? m_highlight : Blend(m_highlight, m_face, 0.5);
      bottomRight = level == 0 ? m_darkShadow : m_shadow;
      if (depth == 1) bottomRight = m_shadow;
    } else if (depth == 1) {
      // A one-pixel sunken border: highlight on the lit side would vanish against a white
      // pane, so the whole frame is drawn in the shadow colour.
      topLeft = bottomRight = m_shadow;
    } else {
      topLeft = level == 0 ? m_shadow : m_darkShadow;
      bottomRight = level == 0 ? m_highlight : Blend(m_highlight, m_face, 0.5);
    }
    dc.SetPen(wxPen(topLeft));
    dc.DrawLine(r.x, r.Bottom() - 1, r.x, r.y);
    dc.DrawLine(r.x, r.y, r.Right(), r.y);
    dc.SetPen(wxPen(bottomRight));
    dc.DrawLine(r.x, r.Bottom() - 1, r.Right(), r.Bottom() - 1);
    dc.DrawLine(r.Right() - 1, r.y, r.Right() - 1, r.Bottom());
    r = SRect{r.x + 1, r.y + 1, r.w - 2, r.h - 2};
  }
}

void CBiSplitterWnd::DrawPane(wxDC& dc, int index) {
  const SPaneLayout& pane = m_layout.Pane(index);
  const bool threeD = (m_layout.GetFlags() & kSplit3D) != 0;
  const int border = CSplitterLayout::BorderWidth(pane.flags);
  if (border > 0) DrawEdge(dc, pane.rect, false, border);

  if (pane.caption.IsEmpty()) return;
  const SRect& cap = pane.caption;
  const bool focused = index == m_focusedPane;
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(focused ? wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT) : m_face));
  dc.DrawRectangle(ToWx(cap));
  const unsigned style = pane.flags & kPaneCaptionStyleMask;
  if (style == kPaneCaptionOneEdge) {
    if (threeD) {
      DrawEdge(dc, cap, true, 1);
    } else {
      dc.SetPen(*wxBLACK_PEN);
      dc.DrawLine(cap.x, cap.Bottom() - 1, cap.Right(), cap.Bottom() - 1);
    }
  } else if (style == kPaneCaptionTwoEdges) {
    DrawEdge(dc, cap, true, 2);
  }

  const bool small = (pane.flags & kPaneCaptionMask) == kPaneCaptionSmall;
  const int pad = FromDIP(5);
  const int right = pane.close.IsEmpty() ? cap.Right() - pad : pane.close.x - 2;
  const int room = right - (cap.x + pad);
  if (room > 0 && !m_titles[index].empty()) {
    dc.SetFont(small ? m_captionFontSmall : m_captionFontNormal);
    dc.SetTextForeground(focused ? wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHTTEXT)
                                 : m_text);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    const wxString text =
        wxControl::Ellipsize(m_titles[index], dc, wxELLIPSIZE_END, room, wxELLIPSIZE_FLAGS_NONE);
    const wxSize extent = dc.GetTextExtent(text);
    wxDCClipper clip(dc, wxRect(cap.x + pad, cap.y, room, cap.h));
    dc.DrawText(text, cap.x + pad, cap.y + (cap.h - extent.y) / 2);
  }
  if (!pane.close.IsEmpty())
    DrawButton(dc, pane.close, pane.flags, m_buttonStates[index], kGlyphClose, small);
}

void CBiSplitterWnd::DrawButton(wxDC& dc, const SRect& rect, unsigned paneFlags, int state,
                                int glyph, bool smallGlyph) {
  const unsigned look = paneFlags & kPaneButtonMask;
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(m_face));
  dc.DrawRectangle(ToWx(rect));
  if (state == kStateHot) {
    if (look == kPaneButton3D) {
      DrawEdge(dc, rect, true, 1);
    } else if (look == kPaneButtonDouble3D) {
      DrawEdge(dc, rect, true, 2);
    } else if (look == kPaneButtonFlat) {
      dc.SetPen(wxPen(m_hotFrame));
      dc.SetBrush(wxBrush(m_hotFill));
      dc.DrawRectangle(ToWx(rect));
    }
  } else if (state == kStatePressed) {
    if (look == kPaneButton3D) {
      DrawEdge(dc, rect, false, 1);
    } else if (look == kPaneButtonDouble3D) {
      DrawEdge(dc, rect, false, 2);
    } else if (look == kPaneButtonFlat) {
      dc.SetPen(wxPen(m_text));
      dc.SetBrush(wxBrush(m_face));
      dc.DrawRectangle(ToWx(rect));
    }
  }
  const int glyphSize =
      (smallGlyph ? m_metrics.smallCaptionHeight : m_metrics.captionHeight) - FromDIP(4);
  DrawGlyph(dc, rect, glyph, glyphSize);
}

void CBiSplitterWnd::DrawGlyph(wxDC& dc, const SRect& rect, int glyph, int glyphSize) {
  const int cx = rect.x + rect.w / 2;
  const int cy = rect.y + rect.h / 2;
  dc.SetPen(wxPen(m_text));
  dc.SetBrush(wxBrush(m_text));
  if (glyph == kGlyphClose) {
    const int half = std::max(2, std::min({glyphSize, rect.w, rect.h}) / 4);
    dc.SetPen(wxPen(m_text, FromDIP(2)));
    dc.DrawLine(cx - half, cy - half, cx + half, cy + half);
    dc.DrawLine(cx - half, cy + half, cx + half, cy - half);
    return;
  }
  // A solid triangle: `depth` along the direction it points, twice that across.
  const bool horizontal = glyph == kGlyphLeft || glyph == kGlyphRight;
  const int along = horizontal ? rect.w : rect.h;
  const int across = horizontal ? rect.h : rect.w;
  int depth = std::max(2, glyphSize / 4);
  depth = std::max(1, std::min({depth, along - 2, across / 2 - 1}));
  wxPoint pts[3];
  switch (glyph) {
    case kGlyphLeft:
      pts[0] = {cx - depth / 2, cy};
      pts[1] = {cx - depth / 2 + depth, cy - depth};
      pts[2] = {cx - depth / 2 + depth, cy + depth};
      break;
    case kGlyphRight:
      pts[0] = {cx + depth / 2, cy};
      pts[1] = {cx + depth / 2 - depth, cy - depth};
      pts[2] = {cx + depth / 2 - depth, cy + depth};
      break;
    case kGlyphDown:
      pts[0] = {cx, cy + depth / 2};
      pts[1] = {cx - depth, cy + depth / 2 - depth};
      pts[2] = {cx + depth, cy + depth / 2 - depth};
      break;
    default:  // up
      pts[0] = {cx, cy - depth / 2};
      pts[1] = {cx - depth, cy - depth / 2 + depth};
      pts[2] = {cx + depth, cy - depth / 2 + depth};
      break;
  }
  dc.DrawPolygon(3, pts);
}

}  // namespace tessarook
