// "Available Backups": the open Scheme's Backups.
#ifndef TESSAROOK_GUI_BACKUP_BACKUPSVIEW_H
#define TESSAROOK_GUI_BACKUP_BACKUPSVIEW_H

#include <functional>

#include "app/ListPane.h"

namespace tessarook {

class CBackupsView : public CListPane {
 public:
  // filesInScheme tells how many rows the files view lists; the hint needs it.
  CBackupsView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc,
               std::function<int()> filesInScheme);

  void OnDocumentUpdate() override;

  // 0 none, 1 by name, 2 by time, 3 by size (the setting's codes).
  int GetArrangement() const { return m_arrangement; }

 protected:
  wxString HintText() const override;

 private:
  std::function<int()> m_filesInScheme;
  int m_arrangement = 2;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_BACKUP_BACKUPSVIEW_H
