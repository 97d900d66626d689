// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LinkLabel.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>
#include <wx/utils.h>

namespace tessarook {

namespace {

CLinkLabel::Opener& CurrentOpener() {
  static CLinkLabel::Opener opener = [](const wxString& url) {
    return wxLaunchDefaultBrowser(url);
  };
  return opener;
}

}  // namespace

CLinkLabel::CLinkLabel(wxWindow* parent, wxWindowID id, const wxString& text, const wxPoint& pos,
                       const wxSize& size, long style)
    : wxControl(parent, id, pos, size, style | wxBORDER_NONE),
      m_textColour(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT)),
      m_3dColour(*wxWHITE),
      m_background(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)),
      m_font(parent->GetFont().IsOk() ? parent->GetFont()
                                      : wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT)) {
  SetLabel(text);
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetFont(m_font);
  Bind(wxEVT_PAINT, &CLinkLabel::OnPaint, this);
  Bind(wxEVT_LEFT_DOWN, &CLinkLabel::OnLeftDown, this);
  Bind(wxEVT_SYS_COLOUR_CHANGED, &CLinkLabel::OnSysColourChanged, this);
  Bind(wxEVT_SET_CURSOR, &CLinkLabel::OnSetCursor, this);
  if (size == wxDefaultSize) SetInitialSize(size);
}

CLinkLabel::Opener CLinkLabel::SetOpener(Opener opener) {
  Opener previous = CurrentOpener();
  CurrentOpener() = std::move(opener);
  return previous;
}

void CLinkLabel::Changed(bool fontChanged) {
  if (fontChanged) {
    SetFont(m_font);
    if (!HasFlag(wxST_NO_AUTORESIZE)) SetInitialSize(wxDefaultSize);
  }
  Refresh();
}

CLinkLabel& CLinkLabel::SetFontName(const wxString& face) {
  // A face the system lacks keeps the current one.
  wxFont candidate = m_font;
  if (candidate.SetFaceName(face) && candidate.IsOk()) m_font = candidate;
  Changed(true);
  return *this;
}

CLinkLabel& CLinkLabel::SetFontBold(bool bold) {
  m_font.SetWeight(bold ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL);
  Changed(true);
  return *this;
}

CLinkLabel& CLinkLabel::SetFontSize(int points) {
  m_font.SetPointSize(points);
  Changed(true);
  return *this;
}

CLinkLabel& CLinkLabel::SetFontUnderline(bool underline) {
  m_font.SetUnderlined(underline);
  Changed(true);
  return *this;
}

CLinkLabel& CLinkLabel::SetTextColor(const wxColour& colour) {
  m_textColour = colour;
  Changed(false);
  return *this;
}

CLinkLabel& CLinkLabel::SetText3D(bool on, int direction) {
  m_text3D = on;
  m_3dDirection = direction;
  Changed(true);
  return *this;
}

CLinkLabel& CLinkLabel::SetLink(bool on) {
  m_linkMode = on ? kLink : kNoLink;
  Changed(false);
  return *this;
}

CLinkLabel& CLinkLabel::SetMailLink(bool on) {
  m_linkMode = on ? kMailLink : kNoLink;
  Changed(false);
  return *this;
}

CLinkLabel& CLinkLabel::SetLinkCursor(const wxCursor& cursor) {
  m_linkCursor = cursor;
  return *this;
}

CLinkLabel& CLinkLabel::SetBackgroundFill(const wxColour& colour) {
  m_background = colour;
  Changed(false);
  return *this;
}

wxString CLinkLabel::GetTargetUrl() const {
  switch (m_linkMode) {
    case kLink:
      return GetLabel();
    case kMailLink:
      return "mailto:" + GetLabel();
    case kNoLink:
      break;
  }
  return wxString();
}

wxSize CLinkLabel::DoGetBestClientSize() const {
  wxClientDC dc(const_cast<CLinkLabel*>(this));
  dc.SetFont(m_font);
  wxSize size = dc.GetMultiLineTextExtent(GetLabel());
  if (m_text3D) size += wxSize(1, 1);
  return size;
}

void CLinkLabel::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const wxRect rect(GetClientSize());
  dc.SetBackground(wxBrush(m_background));
  dc.Clear();
  dc.SetFont(m_font);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);

  int alignment = wxALIGN_LEFT | wxALIGN_TOP;
  if (HasFlag(wxALIGN_CENTRE_HORIZONTAL))
    alignment = wxALIGN_CENTRE_HORIZONTAL | wxALIGN_TOP;
  else if (HasFlag(wxALIGN_RIGHT))
    alignment = wxALIGN_RIGHT | wxALIGN_TOP;

  // The raised copy sits one pixel away from the text; leave room for it.
  wxRect textRect = rect;
  wxRect copyRect = rect;
  if (m_text3D) {
    const int away = m_3dDirection == 0 ? -1 : 1;
    if (away < 0) textRect.Offset(1, 1);
    copyRect = textRect;
    copyRect.Offset(away, away);
  }
  dc.SetTextForeground(m_textColour);
  dc.DrawLabel(GetLabel(), textRect, alignment);
  if (m_text3D) {
    dc.SetTextForeground(m_3dColour);
    dc.DrawLabel(GetLabel(), copyRect, alignment);
  }
}

void CLinkLabel::OnLeftDown(wxMouseEvent& event) {
  const wxString url = GetTargetUrl();
  if (!url.empty() && CurrentOpener()) CurrentOpener()(url);
  event.Skip();
}

void CLinkLabel::OnSysColourChanged(wxSysColourChangedEvent& event) {
  m_background = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
  Refresh();
  event.Skip();
}

void CLinkLabel::OnSetCursor(wxSetCursorEvent& event) {
  if (m_linkCursor.IsOk()) {
    event.SetCursor(m_linkCursor);
    return;
  }
  event.Skip();
}

}  // namespace tessarook
