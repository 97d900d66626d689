// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AboutDlg.h"

#include <wx/button.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/LinkLabel.h"
#include "app/ProgramArt.h"

namespace tessarook {

const char* CAboutDlg::WebAddress() { return "https://www.tessarook.org/"; }
const char* CAboutDlg::MailAddress() { return "support@tessarook.org"; }

CAboutDlg::CAboutDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, "About Tessarook") {
  SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
  const int margin = FromDIP(14);
  const int gap = FromDIP(4);
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* body = new wxBoxSizer(wxHORIZONTAL);
  body->Add(new wxStaticBitmap(this, wxID_ANY, ProgramIconArt(48)), 0, wxRIGHT | wxALIGN_TOP,
            margin);

  auto* text = new wxBoxSizer(wxVERTICAL);
  m_version = new CLinkLabel(this, 1004, "Tessarook " TESSAROOK_VERSION);
  m_version->SetFontName("Times New Roman").SetFontBold(true).SetText3D(true, 0).SetFontSize(14);
  text->Add(m_version, 0, wxBOTTOM, margin);

  auto* origin = new wxBoxSizer(wxHORIZONTAL);
  origin->Add(new wxStaticText(this, wxID_ANY, "Written by "), 0, wxALIGN_CENTER_VERTICAL);
  m_origin = new CLinkLabel(this, 1023, "the Tessarook team");
  m_origin->SetFontBold(true);
  origin->Add(m_origin, 0, wxALIGN_CENTER_VERTICAL);
  origin->Add(new wxStaticText(this, wxID_ANY, " for everyone."), 0, wxALIGN_CENTER_VERTICAL);
  text->Add(origin, 0, wxBOTTOM, margin);

  auto* links = new wxFlexGridSizer(2, gap, gap);
  links->Add(new wxStaticText(this, wxID_ANY, "Website: "), 0, wxALIGN_CENTER_VERTICAL);
  m_web = new CLinkLabel(this, 1001, WebAddress());
  m_web->SetLink(true)
      .SetTextColor(wxColour(0, 0, 255))
      .SetLinkCursor(wxCursor(wxCURSOR_HAND))
      .SetFontUnderline(true);
  links->Add(m_web, 0, wxALIGN_CENTER_VERTICAL);
  links->Add(new wxStaticText(this, wxID_ANY, "E-mail: "), 0, wxALIGN_CENTER_VERTICAL);
  m_mail = new CLinkLabel(this, 1002, MailAddress());
  m_mail->SetMailLink(true)
      .SetTextColor(wxColour(0, 0, 255))
      .SetLinkCursor(wxCursor(wxCURSOR_HAND))
      .SetFontUnderline(true);
  links->Add(m_mail, 0, wxALIGN_CENTER_VERTICAL);
  text->Add(links, 0);

  body->Add(text, 1, wxEXPAND);
  top->Add(body, 1, wxEXPAND | wxALL, margin);
  auto* close = new wxButton(this, wxID_OK, "Close");
  top->Add(close, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, margin);
  top->GetItem(close)->SetBorder(margin);
  close->SetDefault();
  SetEscapeId(wxID_OK);
  SetSizerAndFit(top);
  CentreOnParent();
}

}  // namespace tessarook
