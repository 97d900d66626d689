#include "backup/BackupsView.h"

#include "app/TessarookApp.h"
#include "scheme/TessarookDoc.h"

namespace tessarook {

CBackupsView::CBackupsView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc,
                           std::function<int()> filesInScheme)
    : CListPane(parent, id, doc, wxColour(242, 243, 244)),
      m_filesInScheme(std::move(filesInScheme)) {
  wxListCtrl* list = GetList();
  list->InsertColumn(0, "Name", wxLIST_FORMAT_LEFT, 200);
  list->InsertColumn(1, "Time", wxLIST_FORMAT_LEFT, 140);
  list->InsertColumn(2, "Size (bytes)", wxLIST_FORMAT_LEFT, 180);
  const CSettings& settings = TheApp().GetSettings();
  SetDisplayMode(settings.backups_view);
  m_arrangement = settings.backups_sorting;
  UpdateHint();
}

void CBackupsView::OnDocumentUpdate() {
  GetList()->DeleteAllItems();
  UpdateHint();
}

wxString CBackupsView::HintText() const {
  // Only a Scheme with files to back up invites its first Backup.
  if (!GetDocument() || !GetDocument()->HasScheme() || !m_filesInScheme || m_filesInScheme() == 0)
    return wxString();
  return "Currently, there are no backups of files attached to the Scheme.\n"
         "Right-click here and select \"New Backup...\" to create a new backup.";
}

}  // namespace tessarook
