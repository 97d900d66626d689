// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SettingsDlg.h"

#include <wx/button.h>
#include <wx/dirdlg.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/stattext.h>

#include "settings/UserPlaces.h"
#include "shell/Messages.h"
#include "shell/NewSchemeFile.h"

namespace tessarook {

namespace {

wxString Text(std::string_view text) { return wxString::FromUTF8(text.data(), text.size()); }

}  // namespace

CSettingsDlg::CSettingsDlg(wxWindow* parent, CSettings& settings)
    : wxDialog(parent, wxID_ANY, "Settings"),
      m_settings(settings),
      m_defaultFolder(CSettings::DefaultSchemesDir()) {
  const int gap = FromDIP(6);
  const int margin = FromDIP(12);
  auto* top = new wxBoxSizer(wxVERTICAL);

  // Each setting: its heading, and below it, indented, its control.
  auto group = [&](const char* heading, wxWindow* control, wxSizer* controls) {
    auto* box = new wxBoxSizer(wxVERTICAL);
    box->Add(new wxStaticText(this, wxID_ANY, heading));
    box->AddSpacer(gap / 2);
    if (control) box->Add(control, 0, wxEXPAND | wxLEFT, margin);
    if (controls) box->Add(controls, 0, wxEXPAND | wxLEFT, margin);
    top->Add(box, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);
  };

  auto* folderRow = new wxBoxSizer(wxHORIZONTAL);
  m_folderEdit =
      new wxTextCtrl(this, 1008, wxString(), wxDefaultPosition, wxSize(FromDIP(340), -1));
  auto* browse = new wxButton(this, 1009, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  folderRow->Add(m_folderEdit, 1, wxALIGN_CENTER_VERTICAL);
  folderRow->Add(browse, 0, wxLEFT | wxALIGN_CENTER_VERTICAL, gap / 2);
  // Where Schemes go unless the user picks another folder.
  auto* folderBox = new wxBoxSizer(wxVERTICAL);
  folderBox->Add(folderRow, 0, wxEXPAND);
  auto* standard =
      new wxStaticText(this, wxID_ANY, "Default: " + wxString::FromUTF8(m_defaultFolder.c_str()),
                       wxDefaultPosition, wxDefaultSize, wxST_ELLIPSIZE_MIDDLE, "defaultFolder");
  standard->SetForegroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT));
  standard->SetToolTip(wxString::FromUTF8(m_defaultFolder.c_str()));
  folderBox->Add(standard, 0, wxEXPAND | wxTOP, gap / 2);
  group("My Schemes folder:", nullptr, folderBox);

  m_refreshCheck = new wxCheckBox(this, 1021, "Refresh file list automatically when files change");
  group("Automatic refresh:", m_refreshCheck, nullptr);

  m_trayCheck =
      new wxCheckBox(this, 1022, "Minimize Tessarook window to System Tray, not Task Bar");
  group("Minimize to System Tray:", m_trayCheck, nullptr);

  auto* radios = new wxBoxSizer(wxHORIZONTAL);
  m_relativeRadio = new wxRadioButton(this, 1023, "relative file paths", wxDefaultPosition,
                                      wxDefaultSize, wxRB_GROUP);
  m_absoluteRadio = new wxRadioButton(this, 1040, "absolute file paths");
  radios->Add(m_relativeRadio, 0, wxRIGHT, margin * 2);
  radios->Add(m_absoluteRadio, 0);
  group("Export Backups to ZIP archives using:", nullptr, radios);

  auto* levels = new wxBoxSizer(wxHORIZONTAL);
  m_fasterRadio =
      new wxRadioButton(this, 1041, "faster", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
  m_normalRadio = new wxRadioButton(this, 1042, "normal");
  m_smallerRadio = new wxRadioButton(this, 1043, "smaller");
  for (wxRadioButton* radio : {m_fasterRadio, m_normalRadio, m_smallerRadio})
    levels->Add(radio, 0, wxRIGHT, margin * 2);
  group("Compress new Backups:", nullptr, levels);

  top->Add(new wxStaticLine(this), 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* ok = new wxButton(this, wxID_OK, "OK");
  buttons->AddStretchSpacer();
  buttons->Add(ok, 0, wxRIGHT, gap);
  buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"), 0);
  top->Add(buttons, 0, wxEXPAND | wxALL, margin);
  ok->SetDefault();

  SetSizerAndFit(top);
  CentreOnParent();

  m_folderEdit->ChangeValue(wxString::FromUTF8(m_settings.dir_schemes.c_str()));
  m_refreshCheck->SetValue(m_settings.autorefresh);
  m_trayCheck->SetValue(m_settings.minimize_to_tray);
  (m_settings.zip_absolute ? m_absoluteRadio : m_relativeRadio)->SetValue(true);
  // A level set elsewhere (by hand, say) shows as the nearest choice.
  const int shown = CSettings::CompressionChoice(m_settings.compression_level);
  (shown == CSettings::kFasterCompression    ? m_fasterRadio
   : shown == CSettings::kSmallerCompression ? m_smallerRadio
                                             : m_normalRadio)
      ->SetValue(true);

  Bind(wxEVT_BUTTON, &CSettingsDlg::OnOK, this, wxID_OK);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { BrowseForFolder(); }, 1009);
}

bool CSettingsDlg::TryAccept() {
  const wxString folder = m_folderEdit->GetValue();
  // The default folder is made when first needed, so it may not be there yet.
  if (folder.utf8_string() == m_defaultFolder) PrepareSchemesFolder(m_defaultFolder, nullptr);
  if (!IsUsableSchemesFolder(folder.utf8_string())) {
    wxMessageBox(Text(msg::kInvalidFolder), Text(msg::kInvalidFolderCaption),
                 wxOK | wxICON_INFORMATION, this);
    return false;
  }
  // The folder is kept as typed, not made absolute.
  m_settings.dir_schemes = folder.utf8_string();
  m_settings.autorefresh = m_refreshCheck->GetValue();
  m_settings.minimize_to_tray = m_trayCheck->GetValue();
  m_settings.zip_absolute = m_absoluteRadio->GetValue();
  // A level set elsewhere stays unless another choice was made.
  const int level = m_fasterRadio->GetValue()    ? CSettings::kFasterCompression
                    : m_smallerRadio->GetValue() ? CSettings::kSmallerCompression
                                                 : CSettings::kNormalCompression;
  if (level != CSettings::CompressionChoice(m_settings.compression_level))
    m_settings.compression_level = level;
  return true;
}

void CSettingsDlg::BrowseForFolder() {
  wxDirDialog dialog(this, "Select My Schemes folder", m_folderEdit->GetValue(),
                     wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return;
  const wxString path = dialog.GetPath();
  // Only the folder changes: check box and radio choices made meanwhile stay.
  if (!path.empty()) m_folderEdit->ChangeValue(path);
}

void CSettingsDlg::OnOK(wxCommandEvent&) {
  if (TryAccept()) EndModal(wxID_OK);
}

}  // namespace tessarook
