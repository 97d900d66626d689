// SPDX-License-Identifier: GPL-3.0-or-later
// Common frame of the three list panes: a list control that gives way to a
// word-wrapped hint text while it has nothing to show.
#ifndef TESSAROOK_GUI_APP_LISTPANE_H
#define TESSAROOK_GUI_APP_LISTPANE_H

#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/panel.h>

#include <vector>

namespace tessarook {

class CTessarookDoc;

class CListPane : public wxPanel {
 public:
  CListPane(wxWindow* parent, wxWindowID id, CTessarookDoc* doc, const wxColour& background);

  wxListCtrl* GetList() const { return m_list; }
  CTessarookDoc* GetDocument() const { return m_doc; }
  int GetItemCount() const { return m_list->GetItemCount(); }

  // The hint shown instead of the empty list; empty: the list shows itself.
  const wxString& GetHint() const { return m_hint; }
  bool IsHintShown() const { return m_hintWindow->IsShown(); }

  // The list control's display mode in the program's codes: 0 large icons,
  // 1 table, 2 small icons, 3 list. Other codes leave the mode unchanged.
  int GetDisplayMode() const;
  void SetDisplayMode(int mode);

  // Adds a column shown in the table mode (kept across mode changes), at
  // least `width` pixels and never narrower than its title.
  void AddColumn(const wxString& title, int width);
  // Widens a column (table mode) so that `text` fits in it whole; the width
  // is kept for the column from then on. Fonts grow with the desktop's text
  // scale, so widths come from the texts, not from fixed numbers.
  // `maxWidth` (> 0) caps the width for texts that may be very long (paths).
  void FitColumnToText(int column, const wxString& text, int maxWidth = 0);
  int GetColumnWidth(int column) const;
  bool IsTableMode() const { return GetDisplayMode() == 1; }

  // Gives the pane the keyboard focus: its list, or the hint in its place.
  void FocusPane();

  // Rebuilds after the document changed (open, new, close, edits).
  virtual void OnDocumentUpdate() = 0;

  // Shows a pop-up menu at `at` (this pane's coordinates) and carries out the
  // chosen command once the menu has gone and the click that opened it has
  // been handled: a dialog the command opens then never runs inside the
  // menu's tracking, which made the menu come back after the dialog closed.
  // The command goes to this pane first and on through its parents.
  void PopupAndDispatch(wxMenu& menu, const wxPoint& at);
  // Whether a context-menu request is to be served: one menu per press of the
  // right button. The toolkit may ask again for the same press once the first
  // menu has closed (the press goes on to the list's parent window); that
  // request is refused. Requests from the keyboard are always served.
  bool TakeContextMenuRequest(const wxContextMenuEvent& event);
  // How many menus PopupAndDispatch has shown, and where the last one went.
  int GetPopupCount() const { return m_popups; }
  const wxPoint& GetLastPopupPoint() const { return m_lastPopup; }

  // For a context menu asked for from the keyboard (Shift+F10, the Menu key:
  // no position): the selected row, with `at` set to a point at that row in
  // this pane's coordinates. -1 (and `at` at the list's top left) without a
  // selection.
  long KeyboardMenuRow(wxPoint& at) const;

 protected:
  // Decides the hint for the current state; called after every rebuild.
  virtual wxString HintText() const = 0;
  // Shows the hint or the list, whichever the state asks for.
  void UpdateHint();

 private:
  void OnSize(wxSizeEvent& event);
  void OnHintPaint(wxPaintEvent& event);
  void OnHintContextMenu(wxContextMenuEvent& event);

  CTessarookDoc* m_doc;
  int m_popups = 0;
  unsigned m_rightPresses = 0;  // right-button presses seen in the pane
  unsigned m_servedPress = 0;   // the press whose menu was shown last
  wxPoint m_lastPopup;
  wxListCtrl* m_list;
  wxWindow* m_hintWindow;
  wxString m_hint;
  struct Column {
    wxString title;
    int width;
  };
  std::vector<Column> m_columns;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_APP_LISTPANE_H
