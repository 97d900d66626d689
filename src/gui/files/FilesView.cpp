#include "files/FilesView.h"

#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "app/TessarookApp.h"
#include "scheme/TessarookDoc.h"

namespace tessarook {

CFilesView::CFilesView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc)
    : CListPane(parent, id, doc, wxColour(242, 243, 244)) {
  wxListCtrl* list = GetList();
  list->InsertColumn(0, "Name", wxLIST_FORMAT_LEFT, 200);
  list->InsertColumn(1, "Location", wxLIST_FORMAT_LEFT, 220);
  list->InsertColumn(2, "Size (bytes)", wxLIST_FORMAT_LEFT, 100);
  const CSettings& settings = TheApp().GetSettings();
  SetDisplayMode(settings.files_view);
  m_arrangement = settings.files_sorting;
  UpdateHint();
}

void CFilesView::OnDocumentUpdate() {
  wxListCtrl* list = GetList();
  list->DeleteAllItems();
  CTessarookDoc* doc = GetDocument();
  if (doc && doc->HasScheme()) {
    // Single files first, then folders, each in the Scheme's order.
    std::vector<std::pair<std::string, bool>> entries;
    for (const CSchemeFile& file : doc->GetScheme().m_files)
      entries.emplace_back(file.m_path, false);
    for (const CSchemeFolder& folder : doc->GetScheme().m_folders)
      entries.emplace_back(folder.m_path, true);
    for (const auto& [path, isFolder] : entries) {
      const size_t slash = path.find_last_of('/');
      const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
      const std::string location =
          slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
      struct stat st;
      std::string size;
      if (!isFolder && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        size = std::to_string(static_cast<unsigned long long>(st.st_size));
      const long row = list->InsertItem(list->GetItemCount(), wxString::FromUTF8(name.c_str()));
      list->SetItem(row, 1, wxString::FromUTF8(location.c_str()));
      list->SetItem(row, 2, size);
    }
  }
  UpdateHint();
}

void CFilesView::StopMonitors() {}

wxString CFilesView::HintText() const {
  if (GetDocument() && GetDocument()->HasScheme())
    return "There are no files attached to the Scheme.\n"
           "Right-click here and select Attach File to attach files to the Scheme.\n"
           "You can also drop files here.";
  return "Please create a new Scheme (Ctrl + N) or open an existing Scheme (Ctrl + O).\n"
         "Alternatively, you can manipulate Schemes by right-clicking in \"My Schemes\" window "
         "to your left.";
}

}  // namespace tessarook
