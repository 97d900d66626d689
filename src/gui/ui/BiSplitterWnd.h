// SPDX-License-Identifier: GPL-3.0-or-later
// A child window holding exactly two panes, side by side or one above the other, separated by
// a bar the user drags. Each pane may have a border and a caption strip with a title; a pane can
// be folded into the bar with a small arrow button on the bar and unfolded again, or hidden
// altogether. A pane may hold any child window, including another CBiSplitterWnd.
//
// Typical use (the main frame's client area):
//
//   auto* outer = new tessarook::CBiSplitterWnd;
//   outer->Create(frame, 0x25, wxID_ANY);
//   auto* schemes = outer->CreateView<CSchemesView>(2, ...ctor args after (parent, id)...);
//   outer->SetPane(0, 0x515, "My Schemes", schemes);
//   auto* inner = outer->CreateNestedSplitter(1, 0x26);
//   outer->SetPane(1, 0x100, wxEmptyString, inner);
//   inner->SetPane(0, 0x115, "Files and Folders to Backup", filesView);   // filesView: child of
//   inner inner->SetPane(1, 0x115, "Available Backups", backupsView); outer->SetSplitPos(200);
//   outer->SetBarWidth(6); inner->SetSplitPos(250); inner->SetBarWidth(2);
//
// The pane windows must be children of the splitter that shows them. The splitter owns them
// (wxWidgets destroys children with their parent). All operations run on the window thread.
#ifndef TESSAROOK_GUI_UI_BISPLITTERWND_H
#define TESSAROOK_GUI_UI_BISPLITTERWND_H

#include <wx/bitmap.h>
#include <wx/colour.h>
#include <wx/event.h>
#include <wx/font.h>
#include <wx/string.h>
#include <wx/window.h>

#include <utility>

#include "ui/SplitterLayout.h"

namespace tessarook {

// Sent (and propagated up to the frame) whenever a splitter makes one of its panes active:
// GetEventObject() is the splitter, GetInt() the pane index; the pane's window is
// splitter->GetPane(index). A frame with document views activates the matching view on it.
wxDECLARE_EVENT(EVT_SPLITTER_PANE_ACTIVATED, wxCommandEvent);

class CBiSplitterWnd : public wxWindow {
 public:
  // Splitter flags (see SplitterLayout.h for the constants):
  //   0x1 side by side, 0x2 stacked; 0x1c resize mode (0x4 keep pane 0, 0x8 keep pane 1,
  //   0x10 keep the proportion); 0x20 3-D look.
  // Pane flags:
  //   0x3 border 0/1/2 px; 0xc caption style (4 one edge, 8 two edges); 0x30 caption
  //   (0x10 small, 0x20 normal); 0x1c0 button look (0x40 raised, 0x80 double raised,
  //   0x100 flat); 0x200 close button; 0xc00 fold button on the bar (0x400 normal, 0x800 small).

  CBiSplitterWnd();
  ~CBiSplitterWnd() override;

  // Creates the splitter as a hidden child of `parent`. SetPane of a visible pane shows it.
  // An id of 32767 or more (outside the toolkit's range) is replaced by a generated one.
  virtual bool Create(wxWindow* parent, unsigned flags, wxWindowID id = wxID_ANY);

  // Sets pane `index` (0 or 1): its flags and title; when `window` is given (it must be a child
  // of this splitter) it becomes the pane's window and is placed in the pane's client area.
  // Shows the splitter if the pane is visible, and makes the pane active. False for a bad index
  // or when `window` is the splitter itself.
  virtual bool SetPane(int index, unsigned paneFlags, const wxString& title,
                       wxWindow* window = nullptr);

  // Creates a window of class T as a visible child of the splitter: new T(this, id, args...).
  template <class T, class... Args>
  T* CreateView(wxWindowID id, Args&&... args) {
    T* view = new T(this, id, std::forward<Args>(args)...);
    view->Show();
    return view;
  }

  // Creates a splitter (of class T, a CBiSplitterWnd) as a child of this one. Like every child
  // window it is destroyed together with this splitter.
  template <class T = CBiSplitterWnd>
  T* CreateNestedSplitter(wxWindowID id, unsigned flags) {
    T* nested = new T;
    if (!nested->Create(this, flags, id)) {
      delete nested;
      return nullptr;
    }
    return nested;
  }

  virtual unsigned GetFlags() const;
  virtual void ModifyFlags(unsigned remove, unsigned add);
  virtual unsigned GetPaneFlags(int index) const;  // 0 for a bad index
  virtual void ModifyPaneFlags(int index, unsigned remove, unsigned add);

  // Hides the pane's previous window and takes the child with that id as the pane's window.
  virtual bool SetPaneFromDlgItem(wxWindowID id, int index);

  virtual void RecalcLayout();

  virtual void HidePaneOf(wxWindow* window);
  virtual void HidePane(int index);
  virtual void ShowPane(int index);
  virtual void ShowPaneOf(wxWindow* window);
  // Folds the pane into the bar, or unfolds it and restores the earlier split position.
  virtual void TogglePane(int index);

  virtual void SetActivePane(int index);
  virtual int GetActivePane() const;            // -1: none
  virtual bool IsPaneVisible(int index) const;  // pane visible and splitter window shown
  virtual bool IsSplitterVisible() const;
  virtual wxWindow* GetDlgItem(wxWindowID id) const;

  wxWindow* GetPane(int index) const;          // nullptr for a bad index or an empty pane
  int FindPane(const wxWindow* window) const;  // -1 when no pane holds it
  bool IsPaneFolded(int index) const;

  // The pane whose window holds the keyboard focus: its caption is drawn in
  // the selection colours, so the user sees where the keys go. -1: none.
  void SetFocusedPane(int index);
  bool IsPaneFocused(int index) const { return index >= 0 && index == m_focusedPane; }
  const wxString& GetPaneTitle(int index) const;

  // Sets the split position (pane 0's width when side by side, its height when stacked) and
  // records it with the current size as the base of the proportional and keep-pane-1 modes.
  void SetSplitPos(int pos);
  // The split position in use on screen (after the resize mode and the limits).
  int GetSplitPos() const;
  void SetBarWidth(int pixels);
  int GetBarWidth() const;

  // The least width (horizontal) or height the splitter needs to show its visible panes: their
  // borders, captions and a strip of each pane's window (a nested splitter's own minimum). The
  // bar is never dragged so far that a pane gets less.
  int MinimumExtent(bool horizontal) const;

  // Layout results in client coordinates, for the program's own checks and tests.
  const CSplitterLayout& GetLayout() const { return m_layout; }
  // 0 none, 1 dragging the bar, 2..5 a button held down (the hit codes of CSplitterLayout).
  int GetTrackingState() const { return m_tracking; }

 protected:
  // Rebuilds fonts, colours and metrics (creation, theme or display change).
  virtual void LoadResources();

 private:
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnLeftUp(wxMouseEvent& event);
  void OnMotion(wxMouseEvent& event);
  void OnLeave(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);
  void OnSysColourChanged(wxSysColourChangedEvent& event);
  void OnDpiChanged(wxDPIChangedEvent& event);
  // Forgets a pane window that is destroyed or moved elsewhere.
  void RemoveChild(wxWindowBase* child) override;

  void PlaceWindows();
  void EndTracking();
  void MoveTracker(int pointer);
  void SetButtonState(int hit, int state);
  void DrawPane(wxDC& dc, int index);
  void DrawButton(wxDC& dc, const SRect& rect, unsigned paneFlags, int state, int glyph,
                  bool smallGlyph);
  void DrawGlyph(wxDC& dc, const SRect& rect, int glyph, int glyphSize);
  void DrawEdge(wxDC& dc, const SRect& rect, bool raised, int depth);
  CBiSplitterWnd* ParentSplitter() const;
  // What pane `index` needs across `horizontal` besides its border.
  int PaneContentMinimum(int index, bool horizontal) const;
  wxWindow* m_windows[2] = {nullptr, nullptr};
  wxString m_titles[2];
  int m_activePane = -1;
  int m_focusedPane = -1;
  int m_tracking = 0;
  int m_dragOffset = 0;  // pointer position minus the tracker's near edge
  int m_trackerPos = 0;
  int m_buttonStates[4] = {0, 0, 0, 0};  // hits 2..5: 0 normal, 1 hot, 2 pressed
  int m_cursorHit = -1;                  // the hit code the cursor was last chosen for
  wxWindow* m_tracker = nullptr;
  CSplitterLayout m_layout;
  SSplitterMetrics m_metrics;
  int m_minWindowExtent = 48;  // the least strip of a pane's window: its scroll bars still fit
  wxFont m_captionFontSmall;
  wxFont m_captionFontNormal;
  wxColour m_face, m_shadow, m_highlight, m_darkShadow, m_text, m_hotFrame, m_hotFill;
  wxBitmap m_halftone;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_UI_BISPLITTERWND_H
