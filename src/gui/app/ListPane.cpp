// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ListPane.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/tokenzr.h>

#include <algorithm>

namespace tessarook {

namespace {

constexpr int kHintInset = 40;

// Breaks `text` into lines no wider than `width`: at its own line breaks,
// then between words; a word wider than the line stands alone.
wxArrayString WrapLines(wxDC& dc, const wxString& text, int width) {
  wxArrayString lines;
  wxStringTokenizer paragraphs(text, "\n", wxTOKEN_RET_EMPTY_ALL);
  while (paragraphs.HasMoreTokens()) {
    const wxString paragraph = paragraphs.GetNextToken();
    wxString line;
    wxStringTokenizer words(paragraph, " ");
    while (words.HasMoreTokens()) {
      const wxString word = words.GetNextToken();
      const wxString candidate = line.empty() ? word : line + " " + word;
      if (!line.empty() && dc.GetTextExtent(candidate).x > width) {
        lines.Add(line);
        line = word;
      } else {
        line = candidate;
      }
    }
    lines.Add(line);
  }
  return lines;
}

}  // namespace

CListPane::CListPane(wxWindow* parent, wxWindowID id, CTessarookDoc* doc,
                     const wxColour& background)
    : wxPanel(parent, id, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxTAB_TRAVERSAL),
      m_doc(doc) {
  m_list = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                          wxLC_REPORT | wxLC_SINGLE_SEL | wxBORDER_NONE);
  m_list->SetBackgroundColour(background);
  m_hintWindow = new wxWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
  m_hintWindow->SetBackgroundStyle(wxBG_STYLE_PAINT);
  m_hintWindow->SetBackgroundColour(background);
  m_hintWindow->Hide();
  m_hintWindow->Bind(wxEVT_PAINT, &CListPane::OnHintPaint, this);
  m_hintWindow->Bind(wxEVT_SIZE, [this](wxSizeEvent& e) {
    m_hintWindow->Refresh();
    e.Skip();
  });
  m_hintWindow->Bind(wxEVT_CONTEXT_MENU, &CListPane::OnHintContextMenu, this);
  SetBackgroundColour(background);
  Bind(wxEVT_SIZE, &CListPane::OnSize, this);
  // Counts the presses of the right button, wherever in the pane they land.
  auto countPress = [this](wxMouseEvent& e) {
    ++m_rightPresses;
    e.Skip();
  };
  for (wxWindow* window : {static_cast<wxWindow*>(m_list), m_hintWindow}) {
    window->Bind(wxEVT_RIGHT_DOWN, countPress);
    for (wxWindow* child : window->GetChildren()) child->Bind(wxEVT_RIGHT_DOWN, countPress);
  }
}

int CListPane::GetDisplayMode() const {
  const long style = m_list->GetWindowStyleFlag();
  if (style & wxLC_ICON) return 0;
  if (style & wxLC_SMALL_ICON) return 2;
  if (style & wxLC_LIST) return 3;
  return 1;
}

namespace {

// Room a list column needs around its text (cell padding, header sort mark).
int ColumnPadding(const wxWindow* window) { return window->FromDIP(24); }

}  // namespace

void CListPane::AddColumn(const wxString& title, int width) {
  width = std::max(width, m_list->GetTextExtent(title).x + ColumnPadding(m_list));
  m_columns.push_back({title, width});
  if (IsTableMode())
    m_list->InsertColumn(m_list->GetColumnCount(), title, wxLIST_FORMAT_LEFT, width);
}

void CListPane::FitColumnToText(int column, const wxString& text, int maxWidth) {
  if (column < 0 || size_t(column) >= m_columns.size()) return;
  int need = m_list->GetTextExtent(text).x + ColumnPadding(m_list);
  if (maxWidth > 0) need = std::min(need, maxWidth);
  if (need <= m_columns[size_t(column)].width) return;
  m_columns[size_t(column)].width = need;
  if (IsTableMode() && column < m_list->GetColumnCount()) m_list->SetColumnWidth(column, need);
}

int CListPane::GetColumnWidth(int column) const {
  if (IsTableMode() && column >= 0 && column < m_list->GetColumnCount())
    return m_list->GetColumnWidth(column);
  return column >= 0 && size_t(column) < m_columns.size() ? m_columns[size_t(column)].width : 0;
}

void CListPane::SetDisplayMode(int mode) {
  static const long kStyles[] = {wxLC_ICON, wxLC_REPORT, wxLC_SMALL_ICON, wxLC_LIST};
  if (mode < 0 || mode > 3 || mode == GetDisplayMode()) return;
  // Changing the mode empties the control, columns included: rebuild.
  m_list->SetSingleStyle(kStyles[mode]);
  if (mode == 1 && m_list->GetColumnCount() == 0)
    for (const Column& column : m_columns)
      m_list->InsertColumn(m_list->GetColumnCount(), column.title, wxLIST_FORMAT_LEFT,
                           column.width);
  OnDocumentUpdate();
}

void CListPane::UpdateHint() {
  m_hint = m_list->GetItemCount() == 0 ? HintText() : wxString();
  const bool showHint = !m_hint.empty();
  if (showHint != m_hintWindow->IsShown() || showHint) {
    m_list->Show(!showHint);
    m_hintWindow->Show(showHint);
    m_hintWindow->Refresh();
  }
}

void CListPane::OnSize(wxSizeEvent& event) {
  const wxSize size = GetClientSize();
  m_list->SetSize(size);
  m_hintWindow->SetSize(size);
  event.Skip();
}

void CListPane::OnHintPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(m_hintWindow);
  dc.SetBackground(wxBrush(m_hintWindow->GetBackgroundColour()));
  dc.Clear();
  wxFont font(wxFontInfo(wxSize(0, 16)).Family(wxFONTFAMILY_SWISS).FaceName("Arial"));
  dc.SetFont(font);
  dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT));
  const wxSize size = m_hintWindow->GetClientSize();
  const int width = size.x - 2 * kHintInset;
  if (width <= 0 || size.y <= 2 * kHintInset) return;
  const wxArrayString lines = WrapLines(dc, m_hint, width);
  const int lineHeight = dc.GetCharHeight();
  int y = kHintInset;
  for (const wxString& line : lines) {
    if (y + lineHeight > size.y - kHintInset) break;
    dc.DrawText(line, kHintInset, y);
    y += lineHeight;
  }
}

bool CListPane::TakeContextMenuRequest(const wxContextMenuEvent& event) {
  if (event.GetPosition() == wxDefaultPosition) return true;  // from the keyboard
  if (m_rightPresses != 0 && m_rightPresses == m_servedPress) return false;
  m_servedPress = m_rightPresses;
  return true;
}

void CListPane::PopupAndDispatch(wxMenu& menu, const wxPoint& at) {
  ++m_popups;
  m_lastPopup = at;
  const int id = GetPopupMenuSelectionFromUser(menu, at);
  if (id == wxID_NONE) return;
  CallAfter([this, id] {
    wxCommandEvent command(wxEVT_MENU, id);
    command.SetEventObject(this);
    ProcessWindowEvent(command);
  });
}

void CListPane::FocusPane() {
  if (m_list->IsShown())
    m_list->SetFocus();
  else
    m_hintWindow->SetFocus();
}

long CListPane::KeyboardMenuRow(wxPoint& at) const {
  const long row =
      m_list->IsShown() ? m_list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED) : -1;
  wxRect rect;
  if (row < 0 || !m_list->GetItemRect(row, rect, wxLIST_RECT_LABEL)) {
    at = ScreenToClient(m_list->ClientToScreen(wxPoint(0, 0)));
    return -1;
  }
  m_list->EnsureVisible(row);
  m_list->GetItemRect(row, rect, wxLIST_RECT_LABEL);
  // Just inside the row's label, so the menu opens over the row it acts on.
  at = ScreenToClient(
      m_list->ClientToScreen(rect.GetLeftTop() + wxSize(rect.height / 2, rect.height / 2)));
  return row;
}

void CListPane::OnHintContextMenu(wxContextMenuEvent& event) {
  // The pane's own context menu serves the hint as it serves the list.
  wxContextMenuEvent forwarded(wxEVT_CONTEXT_MENU, m_list->GetId(), event.GetPosition());
  forwarded.SetEventObject(m_list);
  m_list->GetEventHandler()->ProcessEvent(forwarded);
}

}  // namespace tessarook
