// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/AddFilesDlg.h"

namespace tessarook {

CAddFilesDlg::CAddFilesDlg(wxWindow* owner)
    : wxFileDialog(owner, wxFileSelectorPromptStr, wxString(), wxString(), "All Files (*.*)|*",
                   wxFD_OPEN | wxFD_MULTIPLE | wxFD_FILE_MUST_EXIST) {}

wxArrayString CAddFilesDlg::ChosenPaths() const {
  if (!m_chosen.empty()) return m_chosen;
  wxArrayString paths;
  GetPaths(paths);
  return paths;
}

}  // namespace tessarook
