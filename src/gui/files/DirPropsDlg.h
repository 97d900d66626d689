// SPDX-License-Identifier: GPL-3.0-or-later
// "Properties: NAME": the extensions a folder entry's Backups leave out.
#ifndef TESSAROOK_GUI_FILES_DIRPROPSDLG_H
#define TESSAROOK_GUI_FILES_DIRPROPSDLG_H

#include <wx/dialog.h>

#include "scheme/SchemeFolder.h"

class wxEditableListBox;

namespace tessarook {

// Edits the folder entry's excluded-extension list in place, and only on OK:
// until then the entry is untouched, so Cancel needs no undo.
class CDirPropsDlg : public wxDialog {
 public:
  enum { ID_LIST_EDIT = 1011 };

  // Shows the entry's stored extensions, in their order, as the list's items.
  CDirPropsDlg(wxWindow* parent, const wxString& title, CSchemeFolder& folder);

  wxEditableListBox* GetListEdit() const { return m_listEdit; }

  // The OK step: the entry's list becomes the items as the shared rules
  // normalise them (one leading "." dropped; items with a forbidden character,
  // blank items and repeats ignoring case left out).
  bool TransferDataFromWindow() override;

 private:
  CSchemeFolder& m_folder;
  wxEditableListBox* m_listEdit = nullptr;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_FILES_DIRPROPSDLG_H
