// SPDX-License-Identifier: GPL-3.0-or-later
// "Add &File...": the open-file dialog in which several files may be chosen.
#ifndef TESSAROOK_GUI_FILES_ADDFILESDLG_H
#define TESSAROOK_GUI_FILES_ADDFILESDLG_H

#include <wx/filedlg.h>

namespace tessarook {

class CAddFilesDlg : public wxFileDialog {
 public:
  explicit CAddFilesDlg(wxWindow* owner);

  // The chosen files' full paths, in the order the dialog gives them.
  wxArrayString ChosenPaths() const;
  // Chooses files without showing the dialog (GTK's chooser takes no
  // selection before it is shown); ChosenPaths then returns these.
  void SetChosenPaths(const wxArrayString& paths) { m_chosen = paths; }

 private:
  wxArrayString m_chosen;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_FILES_ADDFILESDLG_H
