// "Files and Folders to Backup": the open Scheme's files and folders.
#ifndef TESSAROOK_GUI_FILES_FILESVIEW_H
#define TESSAROOK_GUI_FILES_FILESVIEW_H

#include "app/ListPane.h"

namespace tessarook {

class CFilesView : public CListPane {
 public:
  CFilesView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc);

  void OnDocumentUpdate() override;
  // Stops the change monitors of the Scheme's folders.
  void StopMonitors();

  // 1 by name, 2 by location (the setting's codes).
  int GetArrangement() const { return m_arrangement; }

 protected:
  wxString HintText() const override;

 private:
  int m_arrangement = 1;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_FILES_FILESVIEW_H
