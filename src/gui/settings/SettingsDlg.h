// SPDX-License-Identifier: GPL-3.0-or-later
// "Settings": the My Schemes folder, automatic refresh, minimising to the
// tray, the path style of ZIP export and how hard new Backups compress.
#ifndef TESSAROOK_GUI_SETTINGS_SETTINGSDLG_H
#define TESSAROOK_GUI_SETTINGS_SETTINGSDLG_H

#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

#include <string>

#include "settings/Settings.h"

namespace tessarook {

// Edits five fields of `settings` in memory; they reach settings.xml at exit.
class CSettingsDlg : public wxDialog {
 public:
  CSettingsDlg(wxWindow* parent, CSettings& settings);

  // The OK step: copies the controls, and applies them when the folder exists
  // (true); otherwise explains "Invalid Folder" and stays open (false). The
  // default folder is made first when it is missing.
  bool TryAccept();

  // "...": lets the user pick the folder; only the folder field changes.
  void BrowseForFolder();

  wxTextCtrl* GetFolderEdit() const { return m_folderEdit; }
  wxCheckBox* GetRefreshCheck() const { return m_refreshCheck; }
  wxCheckBox* GetTrayCheck() const { return m_trayCheck; }
  wxRadioButton* GetRelativeRadio() const { return m_relativeRadio; }
  wxRadioButton* GetAbsoluteRadio() const { return m_absoluteRadio; }
  wxRadioButton* GetFasterRadio() const { return m_fasterRadio; }
  wxRadioButton* GetNormalRadio() const { return m_normalRadio; }
  wxRadioButton* GetSmallerRadio() const { return m_smallerRadio; }

 private:
  void OnOK(wxCommandEvent& event);

  CSettings& m_settings;
  std::string m_defaultFolder;  // the My Schemes folder when none is chosen
  wxTextCtrl* m_folderEdit;
  wxCheckBox* m_refreshCheck;
  wxCheckBox* m_trayCheck;
  wxRadioButton* m_relativeRadio;
  wxRadioButton* m_absoluteRadio;
  wxRadioButton* m_fasterRadio;
  wxRadioButton* m_normalRadio;
  wxRadioButton* m_smallerRadio;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_SETTINGS_SETTINGSDLG_H
