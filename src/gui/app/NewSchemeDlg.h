// SPDX-License-Identifier: GPL-3.0-or-later
// The small dialog that asks for the name of a Scheme or a Backup.
#ifndef TESSAROOK_GUI_APP_NEWSCHEMEDLG_H
#define TESSAROOK_GUI_APP_NEWSCHEMEDLG_H

#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "shell/NameCheck.h"

namespace tessarook {

// Use: construct, set m_strCaption, m_strLabel, m_nMode and (rename,
// duplicate) m_strName; ShowModal; on wxID_OK read m_strName. The dialog
// checks the name but creates, renames or deletes nothing itself. For a new
// Backup, m_bOfferReread shows the check box "Read every file again", whose
// state is in m_bReread after OK.
class CNewSchemeDlg : public wxDialog {
 public:
  explicit CNewSchemeDlg(wxWindow* parent);

  // Shows the caption, the label and the preset name, then runs modally.
  int ShowModal() override;

  // The OK step: takes the typed name and checks it, asking or explaining as
  // needed. True when the dialog may close with OK (m_strName holds the name).
  bool TryAccept();

  wxTextCtrl* GetNameEdit() const { return m_edit; }
  wxStaticText* GetLabelControl() const { return m_label; }
  wxCheckBox* GetRereadCheck() const { return m_reread; }

  wxString m_strCaption;
  wxString m_strName;
  wxString m_strLabel;
  int m_nMode = NAME_SCHEME;
  bool m_bOfferReread = false;
  bool m_bReread = false;

 private:
  void OnOK(wxCommandEvent& event);

  wxStaticText* m_label;
  wxTextCtrl* m_edit;
  wxCheckBox* m_reread;
  wxString m_strOriginalName;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_APP_NEWSCHEMEDLG_H
