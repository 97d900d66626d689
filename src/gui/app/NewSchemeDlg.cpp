// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/NewSchemeDlg.h"

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statline.h>

#include "app/TessarookApp.h"
#include "scheme/TessarookDoc.h"
#include "shell/Messages.h"

namespace tessarook {

namespace {

wxString Text(std::string_view text) { return wxString::FromUTF8(text.data(), text.size()); }

}  // namespace

CNewSchemeDlg::CNewSchemeDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, wxString()) {
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  m_label = new wxStaticText(this, 1012, "Scheme name:");
  m_edit = new wxTextCtrl(this, 1007, wxString(), wxDefaultPosition, wxSize(FromDIP(220), -1));
  row->Add(m_label, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, FromDIP(8));
  row->Add(m_edit, 1, wxALIGN_CENTER_VERTICAL);
  top->Add(row, 0, wxEXPAND | wxALL, FromDIP(12));
  // A new Backup copies what did not change from the one before; this reads
  // every file instead.
  m_reread = new wxCheckBox(this, 1013, "Read every file again");
  top->Add(m_reread, 0, wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(12));
  top->Add(new wxStaticLine(this), 0, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(12));
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* ok = new wxButton(this, wxID_OK, "OK");
  auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel");
  buttons->AddStretchSpacer();
  buttons->Add(ok, 0, wxRIGHT, FromDIP(6));
  buttons->Add(cancel, 0);
  top->Add(buttons, 0, wxEXPAND | wxALL, FromDIP(12));
  ok->SetDefault();
  SetSizerAndFit(top);
  Bind(wxEVT_BUTTON, &CNewSchemeDlg::OnOK, this, wxID_OK);
}

int CNewSchemeDlg::ShowModal() {
  SetTitle(m_strCaption);
  m_label->SetLabel(m_strLabel);
  m_edit->ChangeValue(m_strName);
  m_reread->Show(m_bOfferReread);
  m_reread->SetValue(m_bReread);
  m_strOriginalName = m_strName;
  Layout();
  GetSizer()->Fit(this);
  CentreOnParent();
  m_edit->SetFocus();
  m_edit->SelectAll();
  return wxDialog::ShowModal();
}

bool CNewSchemeDlg::TryAccept() {
  m_strName = m_edit->GetValue();
  m_bReread = m_bOfferReread && m_reread->GetValue();
  NameCheckContext context;
  context.mode = m_nMode;
  context.originalName = m_strOriginalName.utf8_string();
  CTessarookApp& app = TheApp();
  context.schemesDir = app.GetSettings().dir_schemes;
  if (app.GetDocument()) context.openSchemePath = app.GetDocument()->GetPathName();

  switch (CheckName(m_strName.utf8_string(), context)) {
    case NameVerdict::kAccept:
      return true;
    case NameVerdict::kEmpty:
      return false;
    case NameVerdict::kForbiddenChars:
      wxMessageBox(Text(InvalidNameText(m_strName.utf8_string())), Text(msg::kInvalidNameCaption),
                   wxOK | wxICON_INFORMATION, this);
      return false;
    case NameVerdict::kAskOverwrite: {
      const bool scheme = m_nMode == NAME_SCHEME;
      const int answer =
          wxMessageBox(Text(scheme ? msg::kSchemeExists : msg::kBackupExists),
                       Text(scheme ? msg::kSchemeExistsCaption : msg::kBackupExistsCaption),
                       wxYES_NO | wxNO_DEFAULT | wxICON_INFORMATION, this);
      return answer == wxYES;
    }
  }
  return false;
}

void CNewSchemeDlg::OnOK(wxCommandEvent&) {
  if (TryAccept()) EndModal(wxID_OK);
}

}  // namespace tessarook
