// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/FilesView.h"

#include <wx/artprov.h>
#include <wx/dcmemory.h>
#include <wx/dirdlg.h>
#include <wx/dnd.h>
#include <wx/menu.h>
#include <wx/mimetype.h>
#include <wx/utils.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/MainFrame.h"
#include "app/TessarookApp.h"
#include "files/AddFilesDlg.h"
#include "files/DirPropsDlg.h"
#include "files/FilesCommandIds.h"
#include "scheme/TessarookDoc.h"
#include "shell/StatusTexts.h"

namespace tessarook {

namespace {

constexpr int kLargeIcon = 32;
constexpr int kSmallIcon = 16;

wxString FromUtf8(const std::string& text) { return wxString::FromUTF8(text.data(), text.size()); }

// A picture of exactly `size` pixels from the art provider (theme icon names
// included), or an invalid bitmap when it has none.
wxBitmap ArtBitmap(const wxString& id, int size) {
  wxBitmap bitmap = wxArtProvider::GetBitmap(id, wxART_OTHER, wxSize(size, size));
  if (bitmap.IsOk() && (bitmap.GetWidth() != size || bitmap.GetHeight() != size))
    bitmap = wxBitmap(bitmap.ConvertToImage().Scale(size, size, wxIMAGE_QUALITY_HIGH));
  return bitmap;
}

// `base` with a red cross over its lower right quarter: the entry is missing.
wxBitmap CrossedOut(const wxBitmap& base, int size) {
  wxImage image = base.IsOk() ? base.ConvertToImage() : wxImage(size, size);
  if (!image.HasAlpha()) image.InitAlpha();
  const int from = size / 2 - 1;
  const int width = std::max(2, size / 8);
  for (int i = from; i < size; ++i)
    for (int w = 0; w < width; ++w) {
      const int a = std::min(size - 1, i + w - width / 2);
      if (a < from) continue;
      image.SetRGB(i, a, 200, 0, 0);
      image.SetAlpha(i, a, 255);
      image.SetRGB(i, size - 1 - a + from, 200, 0, 0);
      image.SetAlpha(i, size - 1 - a + from, 255);
    }
  return wxBitmap(image);
}

// The desktop's icon for files with the key (an extension): the icon theme's
// picture for the key's MIME type, else its type's generic picture, else a
// plain document. Program files show the executable picture.
wxBitmap FileIcon(const std::string& key, int size) {
  wxArrayString ids;
  if (key == "exe") {
    ids.Add(wxART_EXECUTABLE_FILE);
  } else if (!key.empty() && wxTheMimeTypesManager) {
    wxFileType* type = wxTheMimeTypesManager->GetFileTypeFromExtension(FromUtf8(key));
    wxString mime;
    if (type && type->GetMimeType(&mime) && !mime.empty()) {
      wxString name = mime;
      name.Replace("/", "-");
      ids.Add(name);
      ids.Add(mime.BeforeFirst('/') + "-x-generic");
    }
    delete type;
  }
  ids.Add(wxART_NORMAL_FILE);
  for (const wxString& id : ids) {
    const wxBitmap bitmap = ArtBitmap(id, size);
    if (bitmap.IsOk()) return bitmap;
  }
  return wxBitmap(size, size);
}

// `base` with the desktop's warning sign over its lower right quarter: the
// entry is there, but a Backup cannot read it.
wxBitmap MarkedUnreadable(const wxBitmap& base, int size) {
  wxImage image = base.IsOk() ? base.ConvertToImage() : wxImage(size, size);
  if (!image.HasAlpha()) image.InitAlpha();
  const int mark = size / 2 + size / 8;
  wxBitmap warning = wxArtProvider::GetBitmap(wxART_WARNING, wxART_OTHER, wxSize(mark, mark));
  if (!warning.IsOk()) return CrossedOut(base, size);
  wxImage sign = warning.ConvertToImage().Scale(mark, mark, wxIMAGE_QUALITY_HIGH);
  if (!sign.HasAlpha()) sign.InitAlpha();
  for (int x = 0; x < mark; ++x)
    for (int y = 0; y < mark; ++y) {
      const int alpha = sign.GetAlpha(x, y);
      if (alpha == 0) continue;
      const int tx = size - mark + x, ty = size - mark + y;
      const int keep = 255 - alpha;
      image.SetRGB(tx, ty, (image.GetRed(tx, ty) * keep + sign.GetRed(x, y) * alpha) / 255,
                   (image.GetGreen(tx, ty) * keep + sign.GetGreen(x, y) * alpha) / 255,
                   (image.GetBlue(tx, ty) * keep + sign.GetBlue(x, y) * alpha) / 255);
      image.SetAlpha(tx, ty, std::max<int>(image.GetAlpha(tx, ty), alpha));
    }
  return wxBitmap(image);
}

// A symbolic link stands for the path it points to; anything else, or a link
// that cannot be read, stands for itself.
std::string ResolveLink(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_symlink(path, ec)) return path;
  fs::path target = fs::read_symlink(path, ec);
  if (ec || target.empty()) return path;
  if (target.is_relative()) target = fs::path(path).parent_path() / target;
  return target.lexically_normal().string();
}

// Files and folders dropped from the desktop onto the pane.
class CFilesDropTarget : public wxFileDropTarget {
 public:
  explicit CFilesDropTarget(CFilesView* view) : m_view(view) {}

  wxDragResult OnDragOver(wxCoord, wxCoord, wxDragResult def) override {
    return Accepts() ? def : wxDragNone;
  }
  bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& names) override {
    if (!Accepts()) return false;
    std::vector<std::string> paths;
    for (const wxString& name : names) paths.push_back(name.utf8_string());
    m_view->AddDroppedPaths(paths);
    return true;
  }

 private:
  // Drops are taken only while a Scheme is open.
  bool Accepts() const { return m_view->GetDocument() && m_view->GetDocument()->HasScheme(); }

  CFilesView* m_view;
};

}  // namespace

CFilesView::CFilesView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc)
    : CListPane(parent, id, doc, wxColour(242, 243, 244)),
      m_largeImages(kLargeIcon, kLargeIcon, true),
      m_smallImages(kSmallIcon, kSmallIcon, true),
      m_launch([](const std::string& path) { return wxLaunchDefaultApplication(FromUtf8(path)); }) {
  AddColumn("Name", 200);
  AddColumn("Location", 220);
  AddColumn("Size", 100);
  FitColumnToText(2, "999.9 MB");
  InitImages();
  BindEvents();
  SetDropTarget(new CFilesDropTarget(this));
  for (wxWindow* child : GetChildren()) child->SetDropTarget(new CFilesDropTarget(this));
  const CSettings& settings = TheApp().GetSettings();
  m_arrangement = settings.files_sorting;
  SetDisplayMode(settings.files_view);
  UpdateHint();
}

CFilesView::~CFilesView() { StopMonitors(); }

void CFilesView::InitImages() {
  const wxBitmap folder[2] = {ArtBitmap(wxART_FOLDER, kLargeIcon),
                              ArtBitmap(wxART_FOLDER, kSmallIcon)};
  const wxBitmap file[2] = {ArtBitmap(wxART_NORMAL_FILE, kLargeIcon),
                            ArtBitmap(wxART_NORMAL_FILE, kSmallIcon)};
  m_largeImages.Add(folder[0]);
  m_smallImages.Add(folder[1]);
  m_largeImages.Add(CrossedOut(folder[0], kLargeIcon));
  m_smallImages.Add(CrossedOut(folder[1], kSmallIcon));
  m_largeImages.Add(CrossedOut(file[0], kLargeIcon));
  m_smallImages.Add(CrossedOut(file[1], kSmallIcon));
  m_largeImages.Add(MarkedUnreadable(file[0], kLargeIcon));
  m_smallImages.Add(MarkedUnreadable(file[1], kSmallIcon));
  GetList()->SetImageList(&m_largeImages, wxIMAGE_LIST_NORMAL);
  GetList()->SetImageList(&m_smallImages, wxIMAGE_LIST_SMALL);
}

void CFilesView::BindEvents() {
  wxListCtrl* list = GetList();
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { OnAddFiles(); }, ID_FILES_ADD_FILE);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { OnAddFolder(); }, ID_FILES_ADD_FOLDER);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { OnRemove(); }, ID_FILES_REMOVE);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { OnOpen(); }, ID_FILES_OPEN);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { OnProperties(); }, ID_FILES_PROPERTIES);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { OnDocumentUpdate(); }, ID_FILES_REFRESH);
  Bind(
      wxEVT_UPDATE_UI,
      [this](wxUpdateUIEvent& e) {
        const long row = GetSelectedRow();
        e.Enable(row >= 0 && m_rows[size_t(row)].m_folder);
      },
      ID_FILES_PROPERTIES);

  static const std::pair<int, int> kModes[] = {{ID_FILES_LARGE_ICONS, 0},
                                               {ID_FILES_TABLE, 1},
                                               {ID_FILES_SMALL_ICONS, 2},
                                               {ID_FILES_LIST, 3}};
  for (const auto& [command, mode] : kModes) {
    Bind(
        wxEVT_MENU, [this, mode = mode](wxCommandEvent&) { SetDisplayMode(mode); }, command);
    Bind(
        wxEVT_UPDATE_UI,
        [this, mode = mode](wxUpdateUIEvent& e) { e.Check(GetDisplayMode() == mode); }, command);
  }
  static const std::pair<int, int> kArrangements[] = {{ID_FILES_BY_NAME, 1},
                                                      {ID_FILES_BY_LOCATION, 2}};
  for (const auto& [command, arrangement] : kArrangements) {
    Bind(
        wxEVT_MENU,
        [this, arrangement = arrangement](wxCommandEvent&) {
          m_arrangement = arrangement;
          OnDocumentUpdate();
        },
        command);
    Bind(
        wxEVT_UPDATE_UI,
        [this, arrangement = arrangement](wxUpdateUIEvent& e) {
          e.Check(m_arrangement == arrangement);
        },
        command);
  }

  list->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OnOpen(); });
  list->Bind(wxEVT_LIST_KEY_DOWN, [this](wxListEvent& e) {
    if (e.GetKeyCode() == WXK_DELETE || e.GetKeyCode() == WXK_NUMPAD_DELETE)
      OnRemove();
    else
      e.Skip();
  });
  list->Bind(wxEVT_CONTEXT_MENU, &CFilesView::OnContextMenu, this);
  // The exact size of a selected file, and a word on one a Backup cannot read.
  list->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& e) {
    e.Skip();
    const long row = e.GetIndex();
    CMainFrame* frame = TheApp().GetMainFrame();
    if (!frame || row < 0 || size_t(row) >= m_rows.size()) return;
    const CEntryRow& entry = m_rows[size_t(row)];
    std::string text = entry.FullPath();
    if (!entry.m_exists)
      text += ": missing";
    else if (!entry.m_readable)
      text += ": cannot be read, Backups leave it out";
    else if (!entry.m_folder)
      text += ": " + FormatExactBytes(entry.m_size);
    frame->SetStatusText(FromUtf8(text));
  });
  // Double-clicks arrive at the list's inner windows.
  for (wxWindow* child : list->GetChildren())
    child->Bind(wxEVT_LEFT_DCLICK, &CFilesView::OnMouseDoubleClick, this);
}

wxString CFilesView::HintText() const {
  if (GetDocument() && GetDocument()->HasScheme())
    return "There are no files attached to the Scheme.\n"
           "Right-click here and select Attach File to attach files to the Scheme.\n"
           "You can also drop files here.";
  return "Please create a new Scheme (Ctrl + N) or open an existing Scheme (Ctrl + O).\n"
         "Alternatively, you can manipulate Schemes by right-clicking in \"My Schemes\" window "
         "to your left.";
}

int CFilesView::ImageFor(const std::string& path, const CEntryRow& row) {
  if (row.m_folder) return row.m_exists ? kImageFolder : kImageMissingFolder;
  if (!row.m_exists) return kImageMissingFile;
  if (!row.m_readable) return kImageUnreadableFile;
  std::string key = IconKeyFor(path);
  const int found = m_iconKeys.Find(key);
  if (found >= 0) return found;
  m_largeImages.Add(FileIcon(key, kLargeIcon));
  m_smallImages.Add(FileIcon(key, kSmallIcon));
  return m_iconKeys.Append(std::move(key));
}

void CFilesView::AddEntryRow(const std::string& path, bool folder) {
  CEntryRow row = CEntryRow::Make(path, folder);
  if (TheApp().GetSettings().autorefresh) {
    m_monitors.Watch(row.m_location, [this] { QueueRefresh(); });
  }
  m_rows.push_back(std::move(row));
}

void CFilesView::OnDocumentUpdate() {
  wxListCtrl* list = GetList();
  list->DeleteAllItems();
  m_rows.clear();
  m_rowImages.clear();
  CTessarookDoc* doc = GetDocument();
  if (doc && doc->HasScheme()) {
    for (const CSchemeFile& file : doc->GetScheme().m_files) AddEntryRow(file.m_path, false);
    for (const CSchemeFolder& folder : doc->GetScheme().m_folders) AddEntryRow(folder.m_path, true);
    ArrangeEntryRows(m_rows, m_arrangement);
    const bool table = IsTableMode();
    for (size_t i = 0; i < m_rows.size(); ++i) {
      const CEntryRow& row = m_rows[i];
      const int image = ImageFor(row.EntryPath(), row);
      m_rowImages.push_back(image);
      const long item = list->InsertItem(long(i), FromUtf8(row.m_name), image);
      list->SetItemData(item, long(i));
      if (table) {
        list->SetItem(item, 1, FromUtf8(row.m_location));
        const wxString size = !row.m_folder && row.m_exists && !row.m_readable
                                  ? wxString("cannot be read")
                                  : FromUtf8(row.SizeText());
        list->SetItem(item, 2, size);
        FitColumnToText(0, FromUtf8(row.m_name));
        FitColumnToText(1, FromUtf8(row.m_location), FromDIP(480));
        FitColumnToText(2, size);
      }
    }
  }
  UpdateHint();
}

void CFilesView::StopMonitors() { m_monitors.StopAll(); }

// Called on a watcher's thread: only queues one rebuild for the window thread.
void CFilesView::QueueRefresh() {
  if (m_refreshQueued.exchange(true)) return;
  CallAfter([this] {
    m_refreshQueued = false;
    OnDocumentUpdate();
  });
}

int CFilesView::GetRowImage(long row) const {
  return row >= 0 && size_t(row) < m_rowImages.size() ? m_rowImages[size_t(row)] : -1;
}

int CFilesView::GetImageCount() const { return m_largeImages.GetImageCount(); }

long CFilesView::GetSelectedRow() const {
  const long row = GetList()->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
  return row >= 0 && size_t(row) < m_rows.size() ? row : -1;
}

void CFilesView::SelectRow(long row) {
  GetList()->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                          wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
}

void CFilesView::SchemeEdited() {
  CTessarookDoc* doc = GetDocument();
  if (CMainFrame* frame = TheApp().GetMainFrame())
    frame->OnDocumentUpdated();
  else
    OnDocumentUpdate();
  doc->Modify(true);
}

void CFilesView::OnAddFiles() {
  CTessarookDoc* doc = GetDocument();
  if (!doc || !doc->HasScheme()) return;
  wxWindow* owner = TheApp().GetMainFrame() ? static_cast<wxWindow*>(TheApp().GetMainFrame())
                                            : static_cast<wxWindow*>(this);
  CAddFilesDlg dialog(owner);
  if (dialog.ShowModal() != wxID_OK) return;
  const wxArrayString paths = dialog.ChosenPaths();
  for (const wxString& path : paths) doc->GetScheme().AddFileEntry(path.utf8_string());
  SchemeEdited();
}

void CFilesView::OnAddFolder() {
  CTessarookDoc* doc = GetDocument();
  if (!doc || !doc->HasScheme()) return;
  wxDirDialog dialog(this, "Select the folder to add to the Scheme", wxString(),
                     wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return;
  const std::string path = dialog.GetPath().utf8_string();
  if (path.empty()) return;
  doc->GetScheme().AddFolderEntry(path);
  SchemeEdited();
}

void CFilesView::AddDroppedPaths(const std::vector<std::string>& paths) {
  CTessarookDoc* doc = GetDocument();
  if (!doc || !doc->HasScheme()) return;
  for (const std::string& dropped : paths) {
    const std::string path = ResolveLink(dropped);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
      doc->GetScheme().AddFolderEntry(path);
    else
      doc->GetScheme().AddFileEntry(path);
    SchemeEdited();
  }
}

void CFilesView::OnRemove() {
  CTessarookDoc* doc = GetDocument();
  const long selected = GetSelectedRow();
  if (!doc || !doc->HasScheme() || selected < 0) return;
  const CEntryRow& row = m_rows[size_t(selected)];
  const std::string path = row.EntryPath();
  if (row.m_folder)
    doc->GetScheme().RemoveFolderEntry(path);
  else
    doc->GetScheme().RemoveFileEntry(path);
  SchemeEdited();
}

void CFilesView::OnOpen() {
  const long selected = GetSelectedRow();
  if (selected < 0) return;
  m_launch(m_rows[size_t(selected)].FullPath());  // a failure is not reported
}

bool CFilesView::OpenLocationAt(long row, long column) {
  if (row < 0 || size_t(row) >= m_rows.size() || (column != 1 && column != 2)) return false;
  const std::string& location = m_rows[size_t(row)].m_location;
  if (location.empty()) return false;
  m_launch(location);
  return true;
}

void CFilesView::OnMouseDoubleClick(wxMouseEvent& event) {
  wxListCtrl* list = GetList();
  const wxWindow* inner = static_cast<wxWindow*>(event.GetEventObject());
  if (!IsTableMode() || inner != RowArea()) {
    event.Skip();
    return;
  }
  int flags = 0;
  long column = -1;
  const wxPoint point = event.GetPosition();
  const long row = list->HitTest(point, flags, &column);
  if (row >= 0 && column < 0) {
    // Where the toolkit does not tell the column, the column widths do.
    int left = 0;
    for (int c = 0; c < list->GetColumnCount(); ++c) {
      const int right = left + list->GetColumnWidth(c);
      if (point.x >= left && point.x < right) column = c;
      left = right;
    }
  }
  // A double-click on Location or Size opens the location folder; one on the
  // name goes on to activate the row.
  if (!OpenLocationAt(row, column)) event.Skip();
}

wxWindow* CFilesView::RowArea() const {
  // The list's rows live in an inner window below its header, the tallest of
  // its children; hit tests take that window's coordinates.
  wxWindow* area = GetList();
  int height = -1;
  for (wxWindow* child : GetList()->GetChildren()) {
    if (!child->IsShown() || child->GetSize().y <= height) continue;
    height = child->GetSize().y;
    area = child;
  }
  return area;
}

void CFilesView::OnProperties() {
  CTessarookDoc* doc = GetDocument();
  const long selected = GetSelectedRow();
  if (!doc || !doc->HasScheme() || selected < 0) return;
  const CEntryRow& row = m_rows[size_t(selected)];
  if (!row.m_folder) return;
  const int index = doc->GetScheme().FindFolderEntry(row.EntryPath());
  if (index < 0) return;
  CDirPropsDlg dialog(this, "Properties: " + FromUtf8(row.m_name),
                      doc->GetScheme().m_folders[size_t(index)]);
  if (dialog.ShowModal() == wxID_OK) doc->Modify(true);
}

wxMenu* CFilesView::MakeContextMenu(bool onRow) const {
  auto* menu = new wxMenu;
  if (onRow) {
    menu->Append(ID_FILES_OPEN, "&Open");
    menu->Append(ID_FILES_PROPERTIES, "&Properties...");
    menu->Append(ID_FILES_REMOVE, "&Remove");
    menu->AppendSeparator();
  }
  menu->Append(ID_FILES_ADD_FILE, "Add &File...");
  menu->Append(ID_FILES_ADD_FOLDER, "Add Fol&der...");
  menu->AppendSeparator();
  menu->Append(ID_FILES_REFRESH, "Re&fresh");
  menu->AppendSeparator();
  auto* view = new wxMenu;
  view->AppendCheckItem(ID_FILES_LARGE_ICONS, "Large &Icons");
  view->AppendCheckItem(ID_FILES_SMALL_ICONS, "&Small Icons");
  view->AppendCheckItem(ID_FILES_LIST, "&List");
  view->AppendCheckItem(ID_FILES_TABLE, "&Table");
  menu->AppendSubMenu(view, "&View");
  auto* arrange = new wxMenu;
  arrange->AppendCheckItem(ID_FILES_BY_NAME, "by &name");
  arrange->AppendCheckItem(ID_FILES_BY_LOCATION, "&by location");
  menu->AppendSubMenu(arrange, "&Arrange");
  return menu;
}

void CFilesView::OnContextMenu(wxContextMenuEvent& event) {
  if (!TakeContextMenuRequest(event)) return;
  if (!GetDocument() || !GetDocument()->HasScheme()) return;
  wxListCtrl* list = GetList();
  long row = -1;
  wxPoint at;
  const wxPoint screen = event.GetPosition();
  if (screen != wxDefaultPosition) {
    at = ScreenToClient(screen);
    if (list->IsShown()) {
      int flags = 0;
      row = list->HitTest(RowArea()->ScreenToClient(screen), flags);
      if (row >= 0) SelectRow(row);
    }
  } else {
    // From the keyboard: the selected row, at that row.
    row = KeyboardMenuRow(at);
  }
  std::unique_ptr<wxMenu> menu(MakeContextMenu(row >= 0));
  PopupAndDispatch(*menu, at);
}

}  // namespace tessarook
