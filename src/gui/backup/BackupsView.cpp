// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/BackupsView.h"

#include <wx/artprov.h>
#include <wx/filedlg.h>
#include <wx/imaglist.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>

#include <atomic>
#include <chrono>
#include <ctime>

#include "app/MainFrame.h"
#include "app/NewSchemeDlg.h"
#include "app/ProgressDisplay.h"
#include "app/TessarookApp.h"
#include "backup/BackupCommandIds.h"
#include "backup/BackupPropsDlg.h"
#include "backup/Prune.h"
#include "files/FilesView.h"
#include "library/ScheduleDlg.h"
#include "library/SchemePush.h"
#include "library/SchemeRecord.h"
#include "library/SchemesView.h"
#include "scheme/SchemePaths.h"
#include "scheme/TessarookDoc.h"
#include "shell/Messages.h"
#include "shell/NameCheck.h"
#include "util/SamePath.h"

namespace tessarook {

namespace {

wxString Text(std::string_view text) { return wxString::FromUTF8(text.data(), text.size()); }
wxString Utf8(const std::string& text) { return wxString::FromUTF8(text.c_str()); }

const char kDeleteQuestion[] =
    "All contents of this Backup will be lost and you won't be able to undo this action.\n"
    "Are you sure you want to delete the Backup \"%s\"?";

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

OperationSummary::Outcome OutcomeOf(bool cancelled, bool failed) {
  return failed      ? OperationSummary::Outcome::kFailed
         : cancelled ? OperationSummary::Outcome::kCancelled
                     : OperationSummary::Outcome::kDone;
}

// Up to ten "path: reason" lines, then how many more there are.
wxString ListSkipped(const std::vector<SkippedFile>& skipped) {
  wxString text;
  size_t shown = 0;
  for (const SkippedFile& file : skipped) {
    if (shown == 10) {
      text += wxString::Format("... and %zu more\n", skipped.size() - shown);
      break;
    }
    text += Utf8(file.path) + ": " + Utf8(file.reason) + "\n";
    ++shown;
  }
  return text;
}

}  // namespace

// Passes a worker's progress on and turns the frame's "Cancel" (the thread's
// stop request) into the cancel flag the core job polls. Worker thread.
class CCancelAwareSink : public IProgressSink {
 public:
  CCancelAwareSink(CTaskWorker& worker, std::unique_ptr<IProgressSink> inner)
      : m_worker(worker), m_inner(std::move(inner)) {}
  void OnProgress(uint64_t done, uint64_t total) override {
    if (m_worker.IsStopRequested()) m_worker.CancelFlag().store(true);
    if (m_inner) m_inner->OnProgress(done, total);
  }
  void OnBytes(uint64_t done, uint64_t total) override {
    m_bytes.store(done);
    if (m_inner) m_inner->OnBytes(done, total);
  }
  // The bytes moved so far (any thread).
  uint64_t Bytes() const { return m_bytes.load(); }

 private:
  CTaskWorker& m_worker;
  std::unique_ptr<IProgressSink> m_inner;
  std::atomic<uint64_t> m_bytes{0};
};

CBackupsView::CBackupsView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc,
                           std::function<int()> filesInScheme)
    : CListPane(parent, id, doc, wxColour(242, 243, 244)),
      m_filesInScheme(std::move(filesInScheme)) {
  AddColumn("Name", 200);
  AddColumn("Time", 140);
  AddColumn("Size", 180);
  FitColumnToText(2, "999.9 MB");
  wxListCtrl* list = GetList();
  list->SetWindowStyleFlag(list->GetWindowStyleFlag() | wxLC_EDIT_LABELS);
  SetUpImages();
  const CSettings& settings = TheApp().GetSettings();
  SetDisplayMode(settings.backups_view);
  m_arrangement = settings.backups_sorting;
  // Window thread only after the watcher's poster has posted.
  m_watcher.SetPoster([this] { CallAfter([this] { RefreshList(); }); });
  BindCommands();
  UpdateHint();
}

CBackupsView::~CBackupsView() {
  m_watcher.Stop();
  m_worker.Cancel();
  m_worker.Wait();
  delete m_largeImages;
  delete m_smallImages;
}

void CBackupsView::SetUpImages() {
  m_largeImages = new wxImageList(32, 32, true, 1);
  m_smallImages = new wxImageList(16, 16, true, 1);
  m_largeImages->Add(wxArtProvider::GetBitmap(wxART_HARDDISK, wxART_OTHER, wxSize(32, 32)));
  m_smallImages->Add(wxArtProvider::GetBitmap(wxART_HARDDISK, wxART_OTHER, wxSize(16, 16)));
  GetList()->SetImageList(m_largeImages, wxIMAGE_LIST_NORMAL);
  GetList()->SetImageList(m_smallImages, wxIMAGE_LIST_SMALL);
}

CMainFrame* CBackupsView::Frame() const {
  return dynamic_cast<CMainFrame*>(wxGetTopLevelParent(const_cast<CBackupsView*>(this)));
}

bool CBackupsView::NoOperationRunning() const {
  const CMainFrame* frame = Frame();
  return frame ? !frame->IsFileOperationRunning() : !m_worker.IsRunning();
}

bool CBackupsView::HasFilesToBackUp() const {
  return GetDocument() && GetDocument()->HasScheme() && m_filesInScheme && m_filesInScheme() > 0;
}

std::string CBackupsView::GetBackupsFolder() const {
  if (!GetDocument() || !GetDocument()->HasScheme()) return std::string();
  const std::string scheme = GetDocument()->GetPathName();
  return scheme.empty() ? std::string() : BackupsFolderFor(scheme);
}

std::string CBackupsView::GetBackupPath(const std::string& name) const {
  const std::string folder = GetBackupsFolder();
  return folder.empty() ? std::string() : BackupFilePath(folder, name);
}

void CBackupsView::OnDocumentUpdate() {
  RestartWatcher();
  RefreshList();
}

void CBackupsView::RestartWatcher() {
  const std::string folder = TheApp().GetSettings().autorefresh ? GetBackupsFolder() : "";
  if (folder == m_watchedFolder && (folder.empty() || !m_watcher.HasEnded())) return;
  m_watcher.Stop();
  m_watchedFolder = folder;
  if (folder.empty()) return;
  m_watcher.SetPath(folder + "/");
  m_watcher.Start();  // a folder not made yet cannot be watched: no refresh by itself
}

void CBackupsView::RefreshList() {
  const std::string selected = GetSelectedName();
  wxListCtrl* list = GetList();
  list->DeleteAllItems();
  m_backups.clear();
  const std::string folder = GetBackupsFolder();
  if (!folder.empty()) {
    CBackupStore store(GetDocument()->GetPathName());
    m_backups = store.List();
    const int order = m_arrangement >= 0 && m_arrangement <= 3 ? m_arrangement : 0;
    SortBackups(m_backups, BackupSort(order));
  }
  const bool table = IsTableMode();
  for (size_t i = 0; i < m_backups.size(); ++i) {
    const BackupInfo& info = m_backups[i];
    const long row = list->InsertItem(long(i), Utf8(info.name), 0);
    if (table) {
      const wxString time = Utf8(BackupTimeText(info));
      const wxString size = Utf8(FormatFileSize(info.size));
      list->SetItem(row, 1, time);
      list->SetItem(row, 2, size);
      FitColumnToText(0, Utf8(info.name));
      FitColumnToText(1, time);
      FitColumnToText(2, size);
    }
    list->SetItemData(row, long(i));
  }
  if (!selected.empty()) {
    // Kept selected without a word in the status bar: that is the user's to
    // ask for, and may hold the summary of what just ended.
    m_quietSelection = true;
    SelectName(selected);
    m_quietSelection = false;
  }
  UpdateHint();
}

void CBackupsView::SetArrangement(int arrangement) {
  m_arrangement = arrangement;
  RefreshList();
}

std::vector<std::string> CBackupsView::GetListedNames() const {
  std::vector<std::string> names;
  for (long row = 0; row < GetList()->GetItemCount(); ++row)
    names.push_back(GetList()->GetItemText(row).utf8_string());
  return names;
}

std::string CBackupsView::GetSelectedName() const {
  const long row = GetList()->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
  return row < 0 ? std::string() : GetList()->GetItemText(row).utf8_string();
}

bool CBackupsView::SelectName(const std::string& name) {
  wxListCtrl* list = GetList();
  for (long row = 0; row < list->GetItemCount(); ++row) {
    if (list->GetItemText(row).utf8_string() != name) continue;
    list->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                       wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    return true;
  }
  return false;
}

wxString CBackupsView::HintText() const {
  // Only a Scheme with files to back up invites its first Backup.
  if (!HasFilesToBackUp()) return wxString();
  return "Currently, there are no backups of files attached to the Scheme.\n"
         "Right-click here and select \"New Backup...\" to create a new backup.";
}

// --- commands ---

void CBackupsView::BindCommands() {
  auto menu = [this](int id, std::function<void()> action) {
    Bind(
        wxEVT_MENU, [action](wxCommandEvent&) { action(); }, id);
  };
  auto whenIdle = [this](wxUpdateUIEvent& e) { e.Enable(NoOperationRunning()); };
  menu(ID_BACKUP_NEW, [this] {
    if (HasFilesToBackUp() && NoOperationRunning()) NewBackup();
  });
  Bind(
      wxEVT_UPDATE_UI,
      [this](wxUpdateUIEvent& e) { e.Enable(HasFilesToBackUp() && NoOperationRunning()); },
      ID_BACKUP_NEW);
  // The item commands wait while a file operation runs.
  const std::pair<int, std::function<void()>> itemCommands[] = {
      {ID_BACKUP_DELETE, [this] { DeleteSelected(); }},
      {ID_BACKUP_PROPERTIES, [this] { ShowProperties(false); }},
      {ID_BACKUP_RESTORE, [this] { ShowProperties(true); }},
      {ID_BACKUP_DUPLICATE, [this] { DuplicateSelected(); }},
      {ID_BACKUP_RENAME, [this] { RenameSelected(); }},
      {ID_BACKUP_EXPORT_ZIP, [this] { ExportSelectedToZip(); }},
  };
  for (const auto& [id, action] : itemCommands) {
    menu(id, [this, action = action] {
      if (NoOperationRunning()) action();
    });
    Bind(wxEVT_UPDATE_UI, whenIdle, id);
  }
  menu(ID_BACKUP_REFRESH, [this] { RefreshList(); });
  const std::pair<int, int> arrangements[] = {
      {ID_BACKUP_BY_NAME, 1}, {ID_BACKUP_BY_TIME, 2}, {ID_BACKUP_BY_SIZE, 3}};
  for (const auto& [id, code] : arrangements) {
    menu(id, [this, code = code] { SetArrangement(code); });
    Bind(
        wxEVT_UPDATE_UI,
        [this, code = code](wxUpdateUIEvent& e) { e.Check(m_arrangement == code); }, id);
  }
  const std::pair<int, int> modes[] = {{ID_BACKUP_LARGE_ICONS, 0},
                                       {ID_BACKUP_TABLE, 1},
                                       {ID_BACKUP_SMALL_ICONS, 2},
                                       {ID_BACKUP_LIST, 3}};
  for (const auto& [id, code] : modes) {
    menu(id, [this, code = code] { SetDisplayMode(code); });
    Bind(
        wxEVT_UPDATE_UI,
        [this, code = code](wxUpdateUIEvent& e) { e.Check(GetDisplayMode() == code); }, id);
  }

  wxListCtrl* list = GetList();
  list->Bind(wxEVT_CONTEXT_MENU, &CBackupsView::OnContextMenu, this);
  list->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) {
    if (NoOperationRunning()) CallAfter([this] { ShowProperties(false); });
  });
  list->Bind(wxEVT_LIST_KEY_DOWN, [this](wxListEvent& e) {
    if (e.GetKeyCode() == WXK_DELETE && NoOperationRunning())
      DeleteSelected();
    else
      e.Skip();
  });
  list->Bind(wxEVT_LIST_BEGIN_LABEL_EDIT, [this](wxListEvent& e) {
    if (!NoOperationRunning()) e.Veto();
  });
  list->Bind(wxEVT_LIST_END_LABEL_EDIT, &CBackupsView::OnEndLabelEdit, this);
  // The pane shows sizes as people read them; the exact size of the selected
  // Backup goes to the status bar.
  list->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& e) {
    e.Skip();
    const long row = e.GetIndex();
    if (m_quietSelection || row < 0 || size_t(row) >= m_backups.size()) return;
    if (CMainFrame* frame = Frame())
      frame->SetStatusText(
          Utf8(m_backups[size_t(row)].name + ": " + FormatExactBytes(m_backups[size_t(row)].size)));
  });
}

wxMenu* CBackupsView::BuildPopupMenu(bool onItem) const {
  auto* menu = new wxMenu;
  if (onItem) {
    menu->Append(ID_BACKUP_RESTORE, "&Restore Backup...");
    menu->Append(ID_BACKUP_PROPERTIES, "&Properties...");
    menu->Append(ID_BACKUP_RENAME, "Rena&me Backup...");
    menu->Append(ID_BACKUP_DUPLICATE, "Dup&licate Backup...");
    menu->Append(ID_BACKUP_EXPORT_ZIP, "Export to &ZIP...");
    menu->Append(ID_BACKUP_DELETE, "&Delete Backup");
    menu->AppendSeparator();
  }
  menu->Append(ID_BACKUP_NEW, "&New Backup...");
  menu->AppendSeparator();
  menu->Append(ID_BACKUP_REFRESH, "Re&fresh");
  menu->AppendSeparator();
  auto* view = new wxMenu;
  view->AppendCheckItem(ID_BACKUP_LARGE_ICONS, "Large &Icons");
  view->AppendCheckItem(ID_BACKUP_SMALL_ICONS, "&Small Icons");
  view->AppendCheckItem(ID_BACKUP_LIST, "&List");
  view->AppendCheckItem(ID_BACKUP_TABLE, "&Table");
  menu->AppendSubMenu(view, "&View");
  auto* arrange = new wxMenu;
  arrange->AppendCheckItem(ID_BACKUP_BY_NAME, "by &name");
  arrange->AppendCheckItem(ID_BACKUP_BY_TIME, "by &time");
  arrange->AppendCheckItem(ID_BACKUP_BY_SIZE, "by &size");
  menu->AppendSubMenu(arrange, "&Arrange");
  return menu;
}

void CBackupsView::OnContextMenu(wxContextMenuEvent& event) {
  if (!TakeContextMenuRequest(event)) return;
  if (!GetDocument() || !GetDocument()->HasScheme()) return;
  wxListCtrl* list = GetList();
  wxPoint at;
  long row = wxNOT_FOUND;
  if (event.GetPosition() == wxDefaultPosition) {
    // From the keyboard: the selected Backup, at its row.
    row = KeyboardMenuRow(at);
  } else {
    at = ScreenToClient(event.GetPosition());
    const wxPoint point = list->ScreenToClient(event.GetPosition());
    // The row under the mouse, by the rows' rectangles in the list's own
    // coordinates (its hit test counts from below the table header).
    if (list->IsShown()) {
      for (long i = 0; i < list->GetItemCount() && row == wxNOT_FOUND; ++i) {
        wxRect rect;
        if (list->GetItemRect(i, rect) && rect.Contains(point)) row = i;
      }
    }
  }
  if (row != wxNOT_FOUND)
    list->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                       wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  std::unique_ptr<wxMenu> menu(BuildPopupMenu(row != wxNOT_FOUND));
  PopupAndDispatch(*menu, at);
}

void CBackupsView::OnEndLabelEdit(wxListEvent& event) {
  // The list never keeps the edited text: the refresh shows what is on disk.
  event.Veto();
  if (event.IsEditCancelled()) return;
  const std::string newName = event.GetLabel().utf8_string();
  const std::string oldName = GetList()->GetItemText(event.GetIndex()).utf8_string();
  if (newName.empty() || newName == oldName) return;
  SelectName(oldName);
  // The edit control is still on its way out: rename once it has gone.
  CallAfter([this, oldName, newName] {
    if (SelectName(oldName)) RenameBackup(newName);
  });
}

void CBackupsView::NewBackup(bool forScheme) {
  if (!GetDocument() || !GetDocument()->HasScheme()) return;
  CNewSchemeDlg dialog(Frame());
  dialog.m_strCaption = "New Backup";
  if (forScheme) dialog.m_strCaption += " - " + GetDocument()->GetTitle();
  dialog.m_strLabel = "Backup name:";
  dialog.m_nMode = NAME_BACKUP;
  dialog.m_bOfferReread = true;
  if (dialog.ShowModal() != wxID_OK) return;
  StartBackup(dialog.m_strName.utf8_string(), dialog.m_bReread);
}

void CBackupsView::BackUpNow() {
  if (!GetDocument() || !GetDocument()->HasScheme()) return;
  CNewSchemeDlg dialog(Frame());
  dialog.m_strCaption = "Back Up Now";
  dialog.m_strLabel = "Backup name:";
  dialog.m_nMode = NAME_BACKUP;
  const std::string suggested = BackupNameForTime(time(nullptr));
  dialog.m_strName = Utf8(suggested);
  if (dialog.ShowModal() != wxID_OK) return;
  const std::string name = dialog.m_strName.utf8_string();
  // The dialog accepts the name it opened with unasked; a Backup of that very
  // second may exist.
  if (name == suggested && CBackupStore(GetDocument()->GetPathName()).Exists(name)) {
    const int answer = wxMessageBox(Text(msg::kBackupExists), Text(msg::kBackupExistsCaption),
                                    wxYES_NO | wxICON_INFORMATION, Frame());
    if (answer != wxYES) return;
  }
  StartBackup(name);
}

void CBackupsView::VerifySelected() {
  const std::string name = GetSelectedName();
  if (!name.empty()) StartVerify(name);
}

void CBackupsView::DeleteSelected() {
  const std::string name = GetSelectedName();
  if (name.empty()) return;
  const int answer = wxMessageBox(wxString::Format(kDeleteQuestion, Utf8(name)), "Delete Backup?",
                                  wxYES_NO | wxNO_DEFAULT | wxICON_WARNING, Frame());
  if (answer == wxYES) SayIfBusy(CBackupStore(GetDocument()->GetPathName()).Delete(name));
  RefreshList();
}

void CBackupsView::RenameSelected() {
  const std::string name = GetSelectedName();
  if (name.empty()) return;
  CNewSchemeDlg dialog(Frame());
  dialog.m_strCaption = "Rename Backup";
  dialog.m_strLabel = "Backup name:";
  dialog.m_nMode = NAME_BACKUP;
  dialog.m_strName = Utf8(name);
  if (dialog.ShowModal() != wxID_OK) return;
  // The dialog has checked the name and asked about replacing a Backup.
  SayIfBusy(
      CBackupStore(GetDocument()->GetPathName()).Rename(name, dialog.m_strName.utf8_string()));
  RefreshList();
}

void CBackupsView::RenameBackup(const std::string& newName) {
  const std::string oldName = GetSelectedName();
  if (oldName.empty() || newName.empty()) return;
  // A name typed in place goes through the same character rule as the
  // dialog's: a "/" would move the Backup out of its folder.
  if (HasForbiddenNameChar(newName)) {
    wxMessageBox(Text(InvalidNameText(newName)), Text(msg::kInvalidNameCaption),
                 wxOK | wxICON_INFORMATION, Frame());
    return;
  }
  CBackupStore store(GetDocument()->GetPathName());
  if (SamePath(store.GetBackupPath(oldName), store.GetBackupPath(newName))) return;
  if (store.Exists(newName)) {
    const int answer = wxMessageBox(Text(msg::kBackupExists), Text(msg::kBackupExistsCaption),
                                    wxYES_NO | wxNO_DEFAULT | wxICON_INFORMATION, Frame());
    if (answer != wxYES) return;
  }
  SayIfBusy(store.Rename(oldName, newName));
  RefreshList();
}

void CBackupsView::DuplicateSelected() {
  const std::string name = GetSelectedName();
  if (name.empty()) return;
  CNewSchemeDlg dialog(Frame());
  dialog.m_strCaption = "Duplicate Backup";
  dialog.m_strLabel = "Backup name:";
  dialog.m_nMode = NAME_BACKUP;
  dialog.m_strName = Utf8(name);
  if (dialog.ShowModal() != wxID_OK) return;
  SayIfBusy(
      CBackupStore(GetDocument()->GetPathName()).Duplicate(name, dialog.m_strName.utf8_string()));
  RefreshList();
}

void CBackupsView::SayIfBusy(StoreResult result) {
  // Other failures show in the refreshed list; a name being written by
  // another program (a scheduled Backup) would leave the user guessing.
  if (result == StoreResult::kBusy)
    wxMessageBox(Text(kBackupBeingWrittenText), "Error", wxOK | wxICON_ERROR, Frame());
}

void CBackupsView::ShowProperties(bool restoreMode) {
  const std::string name = GetSelectedName();
  if (name.empty() || m_dialog) return;
  CMainFrame* frame = Frame();
  {
    CBackupPropsDlg dialog(frame);
    dialog.m_strName = Utf8(name);
    dialog.m_backupPath = GetBackupPath(name);
    dialog.m_bRestoreMode = restoreMode;
    m_dialog = &dialog;
    if (frame) frame->SetPropertiesDialog(&dialog);
    dialog.ShowModal();
    if (frame) frame->SetPropertiesDialog(nullptr);
    m_dialog = nullptr;
    if (dialog.GetFinishedRestores() > 0) ShowSummary(dialog.GetRestoreSummary());
  }
  // Files may have been restored: the files view shows what is there now.
  if (frame && frame->GetFilesView()) frame->GetFilesView()->OnDocumentUpdate();
}

void CBackupsView::ExportSelectedToZip() {
  const std::string name = GetSelectedName();
  if (name.empty()) return;
  wxFileDialog dialog(Frame(), "Export to ZIP", wxString(), Utf8(name) + ".zip",
                      "ZIP archives (*.zip)|*.zip|All Files (*.*)|*",
                      wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() != wxID_OK) return;
  StartExport(name, ChosenPath(dialog));
}

// --- the worker ---

void CBackupsView::ShowProgress() {
  CMainFrame* frame = Frame();
  if (!frame) return;
  if (!m_workerRegistered) {
    frame->AddFileOperation(&m_worker, [this] { m_worker.Cancel(); });
    m_workerRegistered = true;
  }
  frame->GetProgressDisplay()->ShowProgress();
}

std::shared_ptr<CCancelAwareSink> CBackupsView::MakeSink() {
  CMainFrame* frame = Frame();
  return std::make_shared<CCancelAwareSink>(
      m_worker, frame ? frame->GetProgressDisplay()->MakeSink() : nullptr);
}

void CBackupsView::ShowSummary(const OperationSummary& summary) {
  if (CMainFrame* frame = Frame()) frame->GetProgressDisplay()->ShowSummary(summary);
}

bool CBackupsView::StartBackup(const std::string& name, bool reread) {
  const std::string path = GetBackupPath(name);
  if (path.empty() || m_worker.IsRunning()) return false;
  // The job keeps its own copy of the lists: the Scheme may change meanwhile.
  const CScheme& scheme = GetDocument()->GetScheme();
  auto job = std::make_shared<CBackupJob>(scheme.m_files, scheme.m_folders);
  job->SetReread(reread);
  job->SetLevel(TheApp().GetSettings().compression_level);
  std::shared_ptr<CCancelAwareSink> sink = MakeSink();
  ShowProgress();
  const auto start = std::chrono::steady_clock::now();
  const std::string schemeFile = GetDocument()->GetPathName();
  const std::string recordsFile = AppRecordsFile();
  return m_worker.StartTask([this, job, sink, path, name, start, schemeFile, recordsFile] {
    // Worker thread.
    const int64_t started = int64_t(time(nullptr)) * 1000000000;
    auto result =
        std::make_shared<BackupJobResult>(job->Run(path, m_worker.CancelFlag(), sink.get()));
    auto pruned = std::make_shared<std::vector<std::string>>();
    auto recordError = std::make_shared<std::string>();
    CSchemeRecords records(recordsFile);
    if (result->status == BackupJobResult::Status::kDone) {
      // The Scheme's keep rules, once the new Backup is safely written.
      const KeepPolicy keep = records.Get(schemeFile).keep;
      if (keep.Any()) {
        PruneOptions options;
        options.protect = {name};
        for (const BackupInfo& old : PruneBackups(CBackupStore(schemeFile), keep, options).deleted)
          pruned->push_back(old.name);
      }
    }
    NoteBackupEnd(records, schemeFile, EndNoteOf(name, started, *result), recordError.get());
    // A Backup written goes on to the Scheme's remote, when it has one. Its
    // bytes are counted before the push reports its own.
    const uint64_t backupBytes = sink->Bytes();
    auto push = std::make_shared<std::optional<SchemePush>>();
    if (result->status == BackupJobResult::Status::kDone && !m_worker.CancelFlag().load()) {
      PushOptions options;
      options.cancel = &m_worker.CancelFlag();
      options.progress = [sink](uint64_t done, uint64_t total) { sink->OnBytes(done, total); };
      *push = PushToSchemeRemote(records, schemeFile, options);
    }
    CallAfter([this, result, name, start, backupBytes, pruned, recordError, push] {
      // Window thread.
      m_lastBackup = *result;
      OnWorkerDone();
      OperationSummary summary;
      summary.what = "Backup \"" + name + "\"";
      summary.outcome = OutcomeOf(result->status == BackupJobResult::Status::kCancelled,
                                  result->status == BackupJobResult::Status::kFailed);
      summary.error = result->error;
      summary.files = result->filesStored;
      summary.bytes = backupBytes;
      summary.seconds = SecondsSince(start);
      for (const SkippedFile& file : result->skipped)
        summary.skipped.emplace_back(file.path, file.reason);
      summary.changed = result->changed;
      if (!pruned->empty())
        summary.breakdown = FormatCount(pruned->size()) +
                            (pruned->size() == 1 ? " old Backup" : " old Backups") +
                            " deleted by the keep rules";
      if (*push) summary.breakdown += (summary.breakdown.empty() ? "" : "; ") + PushSummary(**push);
      ShowSummary(summary);
      NotifyBackupEnd(name, *result);
      if (CMainFrame* frame = Frame(); frame && frame->GetSchemesView())
        frame->GetSchemesView()->FillList();  // the Scheme's last Backup
      if (result->status == BackupJobResult::Status::kFailed)
        wxMessageBox("The Backup could not be written.\n" + Utf8(result->error), "Error",
                     wxOK | wxICON_ERROR, Frame());
      else if (!recordError->empty())
        wxMessageBox("How the Backup ended could not be recorded.\n" + Utf8(*recordError),
                     "Tessarook", wxOK | wxICON_WARNING, Frame());
      if (*push) ReportPush(**push);
    });
    return result->status == BackupJobResult::Status::kFailed ? 1 : 0;
  });
}

bool CBackupsView::StartVerify(const std::string& name) {
  const std::string path = GetBackupPath(name);
  if (path.empty() || m_worker.IsRunning()) return false;
  std::shared_ptr<CCancelAwareSink> sink = MakeSink();
  ShowProgress();
  const auto start = std::chrono::steady_clock::now();
  return m_worker.StartTask([this, sink, path, name, start] {
    // Worker thread.
    auto result =
        std::make_shared<VerifyResult>(VerifyBackup(path, &m_worker.CancelFlag(), sink.get()));
    CallAfter([this, result, name, start, sink] {
      // Window thread.
      m_lastVerify = *result;
      OnWorkerDone();
      const bool damaged =
          result->status != VerifyResult::Status::kChecked || !result->faults.empty();
      OperationSummary summary;
      summary.what = "Verification of \"" + name + "\"";
      summary.outcome = OutcomeOf(result->status == VerifyResult::Status::kCancelled,
                                  damaged && result->status != VerifyResult::Status::kCancelled);
      summary.files = result->files;
      summary.bytes = sink->Bytes();
      summary.seconds = SecondsSince(start);
      summary.error = VerifyVerdict(*result);
      for (const VerifyFault& fault : result->faults)
        summary.skipped.emplace_back(fault.path, fault.reason);
      ShowSummary(summary);
      if (result->status == VerifyResult::Status::kCancelled) return;
      wxMessageBox(Utf8(VerifyReport(name, *result)), "Verify Backup",
                   wxOK | (damaged ? wxICON_ERROR : wxICON_INFORMATION), Frame());
    });
    return 0;
  });
}

bool CBackupsView::StartExport(const std::string& name, const std::string& target) {
  const std::string path = GetBackupPath(name);
  if (path.empty() || target.empty() || m_worker.IsRunning()) return false;
  const ZipPathStyle style =
      TheApp().GetSettings().zip_absolute ? ZipPathStyle::kAbsolute : ZipPathStyle::kRelative;
  std::shared_ptr<CCancelAwareSink> sink = MakeSink();
  ShowProgress();
  const auto start = std::chrono::steady_clock::now();
  return m_worker.StartTask([this, sink, path, target, style, name, start] {
    // Worker thread.
    auto result = std::make_shared<ZipExportResult>(
        CZipExport::Run(path, target, style, &m_worker.CancelFlag(), sink.get()));
    CallAfter([this, result, name, start, sink] {
      // Window thread.
      OnWorkerDone();
      OperationSummary summary;
      summary.what = "Export of \"" + name + "\" to ZIP";
      summary.outcome = OutcomeOf(result->status == ZipExportResult::Status::kCancelled,
                                  result->status == ZipExportResult::Status::kFailed);
      summary.error = result->error;
      summary.files = result->filesWritten;
      summary.bytes = sink->Bytes();
      summary.seconds = SecondsSince(start);
      for (const SkippedFile& file : result->skipped)
        summary.skipped.emplace_back(file.path, file.reason);
      ShowSummary(summary);
      if (result->status == ZipExportResult::Status::kFailed)
        wxMessageBox("The ZIP archive could not be written.\n" + Utf8(result->error), "Error",
                     wxOK | wxICON_ERROR, Frame());
      else if (result->status == ZipExportResult::Status::kDone && !result->skipped.empty())
        wxMessageBox(
            "These files of the Backup were not exported:\n" + ListSkipped(result->skipped),
            "Export to ZIP", wxOK | wxICON_WARNING, Frame());
    });
    return result->status == ZipExportResult::Status::kFailed ? 1 : 0;
  });
}

std::string CBackupsView::PushSummary(const SchemePush& push) {
  switch (push.end) {
    case PushEnd::kOk:
      return "copied to " + push.remote;
    case PushEnd::kInterrupted:
      return "copy to " + push.remote + " interrupted";
    case PushEnd::kIncomplete:
      return "copy to " + push.remote + " incomplete";
    default:
      return "copy to " + push.remote + " failed";
  }
}

void CBackupsView::ReportPush(const SchemePush& push) {
  // Window thread. A push the user cancelled needs no word; a failed one
  // leaves the Backup as good as it is, and says so.
  if (!push.recordError.empty())
    wxMessageBox("How the off-site copy ended could not be recorded.\n" + Utf8(push.recordError),
                 "Tessarook", wxOK | wxICON_WARNING, Frame());
  if (push.end == PushEnd::kOk || push.end == PushEnd::kInterrupted) return;
  const wxString text = "The Backup was taken, but its off-site copy to " + Utf8(push.remote) +
                        (push.end == PushEnd::kIncomplete ? " is incomplete.\n" : " failed.\n") +
                        Utf8(push.reason);
  if (CMainFrame* frame = Frame()) frame->NotifyIfUnseen("Tessarook", text, true);
  wxMessageBox(text, "Off-site Copy", wxOK | wxICON_WARNING, Frame());
}

void CBackupsView::NotifyBackupEnd(const std::string& name, const BackupJobResult& result) {
  // Window thread. Only the user who cannot see the window needs telling.
  CMainFrame* frame = Frame();
  if (!frame) return;
  const wxString backup = "\"" + Utf8(name) + "\"";
  switch (result.status) {
    case BackupJobResult::Status::kDone: {
      wxString text = "The Backup " + backup +
                      " is finished: " + Utf8(FormatCount(result.filesStored)) + " files, " +
                      Utf8(FormatFileSize(result.archiveSize)) + ".";
      if (!result.skipped.empty())
        text += wxString::Format(" %zu files could not be read.", result.skipped.size());
      frame->NotifyIfUnseen("Tessarook", text, false);
      break;
    }
    case BackupJobResult::Status::kFailed:
      frame->NotifyIfUnseen(
          "Tessarook", "The Backup " + backup + " could not be written.\n" + Utf8(result.error),
          true);
      break;
    case BackupJobResult::Status::kCancelled:
      break;  // the user cancelled it: nothing to announce
  }
}

void CBackupsView::OnWorkerDone() {
  // Window thread; the worker thread is about to end.
  m_worker.Wait();
  if (CMainFrame* frame = Frame()) frame->GetProgressDisplay()->HideProgress();
  RestartWatcher();  // the first Backup may have made the folder to watch
  RefreshList();
  ++m_finishedRuns;
}

}  // namespace tessarook
