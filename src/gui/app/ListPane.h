// SPDX-License-Identifier: GPL-3.0-or-later
// Common frame of the three list panes: a list control that gives way to a
// word-wrapped hint text while it has nothing to show.
#ifndef TESSAROOK_GUI_APP_LISTPANE_H
#define TESSAROOK_GUI_APP_LISTPANE_H

#include <wx/listctrl.h>
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

  // Adds a column shown in the table mode (kept across mode changes).
  void AddColumn(const wxString& title, int width);
  bool IsTableMode() const { return GetDisplayMode() == 1; }

  // Rebuilds after the document changed (open, new, close, edits).
  virtual void OnDocumentUpdate() = 0;

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
