// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/SchemesView.h"

#include <wx/bmpbndl.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>

#include "app/CommandIds.h"
#include "app/CommandTexts.h"
#include "app/MainFrame.h"
#include "app/NewSchemeDlg.h"
#include "app/ProgressDisplay.h"
#include "app/TessarookApp.h"
#include "backup/BackupStore.h"
#include "backup/BackupsView.h"
#include "exchange/CsmFormat.h"
#include "exchange/CsmReader.h"
#include "files/FilesView.h"
#include "library/ScheduleDlg.h"
#include "library/SchemeRecord.h"
#include "library/SchemesCommandIds.h"
#include "scheme/SchemePaths.h"
#include "scheme/TessarookDoc.h"
#include "shell/Messages.h"
#include "shell/NameCheck.h"
#include "shell/StatusTexts.h"
#include "util/PathUtil.h"
#include "util/SamePath.h"

namespace tessarook {

namespace {

const char kCsmFilter[] = "Compressed Scheme (*.csm)|*.csm|All Files (*.*)|*.*";
const char kDeleteCaption[] = "Delete Scheme?";
const char kDeleteText[] =
    "All backups for this Scheme will be lost and you won't be able to undo this action. Are "
    "you sure you want to delete the Scheme \"%s\"?";
const char kDeleteOpenText[] =
    "The Scheme you are about to delete is currently open in Tessarook. Proceeding will close "
    "the Scheme and delete it.\n";

// The Scheme icon: a sheet with a folded corner and a green tick.
const char kSchemeIconSvg[] =
    R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">)"
    R"(<path d="M3 1.5h7l3 3v10H3z" fill="#f4f6f8" stroke="#5a6b7d"/>)"
    R"(<path d="M10 1.5v3h3" fill="none" stroke="#5a6b7d"/>)"
    R"(<path d="M5 9.5l2 2 4-4.5" fill="none" stroke="#2e8b3d" stroke-width="1.6"/></svg>)";

// A Scheme whose Backups need looking at: the sheet with a red exclamation mark.
const char kAttentionIconSvg[] =
    R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">)"
    R"(<path d="M3 1.5h7l3 3v10H3z" fill="#f4f6f8" stroke="#5a6b7d"/>)"
    R"(<path d="M10 1.5v3h3" fill="none" stroke="#5a6b7d"/>)"
    R"(<circle cx="11" cy="11" r="4.5" fill="#c8403a"/>)"
    R"(<path d="M11 8.3v3.4" stroke="#fff" stroke-width="1.6"/>)"
    R"(<circle cx="11" cy="13.4" r=".9" fill="#fff"/></svg>)";

wxString FromUtf8(const std::string& text) { return wxString::FromUTF8(text.data(), text.size()); }
wxString Text(std::string_view text) { return wxString::FromUTF8(text.data(), text.size()); }

// The workers report their errors in a box of their own, owned by no window.
void ShowWorkerError(const char* text) {
  if (text) wxMessageBox(wxString::FromUTF8(text), "Error", wxOK | wxICON_WARNING, nullptr);
}

// The chosen file. Some toolkits only know the path once the dialog has been
// on screen; the folder and the name are always there.
wxString ChosenPath(const wxFileDialog& dialog) {
  const wxString path = dialog.GetPath();
  if (!path.empty()) return path;
  if (dialog.GetFilename().empty()) return wxString();
  return wxFileName(dialog.GetDirectory(), dialog.GetFilename()).GetFullPath();
}

bool EndsWithCsm(const wxString& path) { return path.Lower().EndsWith(".csm"); }

}  // namespace

CSchemesView::CSchemesView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc)
    : CListPane(parent, id, doc, wxColour(223, 226, 230)), m_images(16, 16, true, 1) {
  wxListCtrl* list = GetList();
  // Beside each name: when its last Backup was taken and how it ended, when
  // the next one is due, and how its off-site copy stands; the header names them.
  list->SetWindowStyleFlag(wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_SORT_ASCENDING | wxLC_EDIT_LABELS |
                           wxBORDER_NONE);
  AddColumn("Name", 80);
  AddColumn("Last Backup", 80);
  AddColumn("Next", 80);
  AddColumn("Off-site Copy", 80);
  // Image 0: a Scheme; 1: a Scheme that needs looking at (its last Backup
  // failed, its scheduled Backups are behind, or its off-site copy is).
  for (const char* svg : {kSchemeIconSvg, kAttentionIconSvg}) {
    const wxBitmapBundle icon =
        wxBitmapBundle::FromSVG(svg, wxSize(16, 16));  // never empty: the SVG is ours
    m_images.Add(icon.GetBitmap(wxSize(16, 16)));
  }
  list->SetImageList(&m_images, wxIMAGE_LIST_SMALL);
  BindEvents();
  FillList();
}

CSchemesView::~CSchemesView() {
  // Nothing may reach this view from another thread once it is going.
  m_watcher.Stop();
  m_copy.Cancel();
  m_copy.Wait();
  m_export.StopAndWait();
  m_import.StopAndWait();
  GetList()->SetImageList(nullptr, wxIMAGE_LIST_SMALL);
}

void CSchemesView::BindEvents() {
  wxListCtrl* list = GetList();
  list->Bind(wxEVT_SIZE, &CSchemesView::OnSize, this);
  list->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OpenSelected(); });
  list->Bind(wxEVT_LIST_KEY_DOWN, [this](wxListEvent& e) {
    if (e.GetKeyCode() == WXK_DELETE)
      DeleteSelected();
    else
      e.Skip();
  });
  list->Bind(wxEVT_LIST_END_LABEL_EDIT, &CSchemesView::OnEndLabelEdit, this);
  list->Bind(wxEVT_CONTEXT_MENU, &CSchemesView::OnContextMenu, this);
  // The pane is narrow: a pointer on a Scheme shows its whole status. The
  // rows are drawn by a window inside the list, which gets the pointer.
  for (wxWindow* rows : list->GetChildren()) {
    rows->Bind(wxEVT_MOTION, [this, rows](wxMouseEvent& event) {
      event.Skip();
      const wxString tip =
          GetTipAt(GetList()->ScreenToClient(rows->ClientToScreen(event.GetPosition())));
      if (tip != rows->GetToolTipText()) {
        if (tip.empty())
          rows->UnsetToolTip();
        else
          rows->SetToolTip(tip);
      }
    });
  }

  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { OpenSelected(); }, ID_SCHEMES_OPEN);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { RenameScheme(wxString()); }, ID_SCHEMES_RENAME);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { DuplicateSelected(); }, ID_SCHEMES_DUPLICATE);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { ExportSelected(); }, ID_SCHEMES_EXPORT);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { DeleteSelected(); }, ID_SCHEMES_DELETE);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { ImportScheme(); }, ID_SCHEMES_IMPORT);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { FillList(); }, ID_SCHEMES_REFRESH);

  auto needsSelection = [this](wxUpdateUIEvent& e) { e.Enable(GetSelectedIndex() >= 0); };
  Bind(wxEVT_UPDATE_UI, needsSelection, ID_SCHEMES_RENAME);
  Bind(wxEVT_UPDATE_UI, needsSelection, ID_SCHEMES_DUPLICATE);
  auto needsIdle = [this](wxUpdateUIEvent& e) { e.Enable(CanExchange()); };
  Bind(wxEVT_UPDATE_UI, needsIdle, ID_SCHEMES_EXPORT);
  Bind(wxEVT_UPDATE_UI, needsIdle, ID_SCHEMES_IMPORT);
}

CMainFrame* CSchemesView::Frame() const {
  return dynamic_cast<CMainFrame*>(wxGetTopLevelParent(const_cast<CSchemesView*>(this)));
}

std::string CSchemesView::SchemesDir() const { return TheApp().GetSettings().dir_schemes; }

CSchemeLibrary CSchemesView::Library() const {
  CTessarookDoc* doc = GetDocument();
  OpenSchemeHooks hooks;
  hooks.openSchemePath = [doc] { return doc->HasScheme() ? doc->GetPathName() : std::string(); };
  hooks.saveTo = [doc](const std::string& path) { return doc->SaveTo(path); };
  hooks.close = [this, doc] {
    if (doc->CloseScheme())
      if (CMainFrame* frame = Frame()) frame->GetFilesView()->StopMonitors();
  };
  hooks.open = [doc](const std::string& path) { return doc->OpenScheme(path); };
  return CSchemeLibrary(SchemesDir(), std::move(hooks));
}

void CSchemesView::FillList() {
  wxListCtrl* list = GetList();
  const wxString selected = GetSelectedName();
  list->DeleteAllItems();
  m_status.clear();
  const CSchemeLibrary library = Library();
  const SchemeRecordMap records = CSchemeRecords(AppRecordsFile()).ReadAll();
  if (m_timerKind < 0) m_timerKind = int(AppScheduler().Kind());
  const int64_t now = int64_t(time(nullptr)) * 1000000000;
  for (const std::string& name : library.List()) {
    const std::string file = library.SchemeFile(name);
    const auto found = records.find(file);
    const SchemeRecord record = found == records.end() ? SchemeRecord() : found->second;
    const BackupInfo* newest = nullptr;
    const std::vector<BackupInfo> backups = CBackupStore(file).List();
    newest = NewestBackup(backups);
    SchemeStatus status = DescribeScheme(record, newest ? newest->creationTime : 0, now,
                                         TimerKind(m_timerKind) == TimerKind::kCron);
    const long row = list->InsertItem(list->GetItemCount(), FromUtf8(name), status.attention);
    if (IsTableMode()) {
      list->SetItem(row, 1, FromUtf8(status.last));
      list->SetItem(row, 2, FromUtf8(status.next));
      list->SetItem(row, 3, FromUtf8(status.offsite));
      FitColumnToText(0, FromUtf8(name));
      FitColumnToText(1, FromUtf8(status.last));
      FitColumnToText(2, FromUtf8(status.next));
      FitColumnToText(3, FromUtf8(status.offsite));
    }
    if (status.attention) list->SetItemTextColour(row, wxColour(170, 30, 30));
    m_status[name] = std::move(status);
  }
  if (!selected.empty()) SelectName(selected);
  UpdateHint();
}

wxString CSchemesView::GetStatusText(const wxString& name, int column) const {
  const auto it = m_status.find(name.utf8_string());
  if (it == m_status.end()) return wxString();
  const SchemeStatus& status = it->second;
  return FromUtf8(column == 1 ? status.last : column == 2 ? status.next : status.offsite);
}

wxString CSchemesView::GetTipAt(const wxPoint& point) const {
  wxListCtrl* list = GetList();
  for (long i = 0; i < list->GetItemCount(); ++i) {
    wxRect rect;
    if (!list->GetItemRect(i, rect) || !rect.Contains(point)) continue;
    const wxString name = list->GetItemText(i);
    const wxString last = GetStatusText(name, 1);
    const wxString next = GetStatusText(name, 2);
    wxString tip = name;
    tip += "\nLast Backup: " + (last.empty() ? wxString("none") : last);
    if (!next.empty()) tip += "\nNext: " + next;
    return tip;
  }
  return wxString();
}

bool CSchemesView::NeedsAttention(const wxString& name) const {
  const auto it = m_status.find(name.utf8_string());
  return it != m_status.end() && it->second.attention;
}

void CSchemesView::OnDocumentUpdate() {
  RegisterWorkers();
  FillList();
  StartWatcher();
}

void CSchemesView::StartWatcher() {
  if (!TheApp().GetSettings().autorefresh) {
    // Automatic refresh is off: nothing is watched.
    m_watcher.Stop();
    return;
  }
  // A watcher that still runs on the My Schemes folder goes on; one that ended
  // by itself (its folder went away) starts again, and so does one left on a
  // folder that is no longer the My Schemes folder.
  if (m_watcher.IsRunning() && !m_watcher.HasEnded() && m_watcher.GetPath() == SchemesDir()) return;
  m_watcher.Stop();
  m_watcher.SetPath(SchemesDir());
  m_watcher.SetPoster([this] { QueueFill(); });
  m_watcher.Start();
}

// Called on the watcher's thread: only queues one rebuild for the window thread.
void CSchemesView::QueueFill() {
  if (m_fillQueued.exchange(true)) return;
  CallAfter([this] {
    m_fillQueued = false;
    FillList();
  });
}

wxString CSchemesView::HintText() const { return "(no schemes)"; }

long CSchemesView::GetSelectedIndex() const {
  return GetList()->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
}

wxString CSchemesView::GetItemName(long index) const {
  return index >= 0 && index < GetList()->GetItemCount() ? GetList()->GetItemText(index)
                                                         : wxString();
}

wxString CSchemesView::GetSelectedName() const { return GetItemName(GetSelectedIndex()); }

bool CSchemesView::SelectName(const wxString& name) {
  wxListCtrl* list = GetList();
  for (long i = 0; i < list->GetItemCount(); ++i) {
    if (list->GetItemText(i) != name) continue;
    list->SetItemState(i, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                       wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    return true;
  }
  return false;
}

void CSchemesView::OnSize(wxSizeEvent& event) {
  // The status columns take what they need; the names take the rest.
  wxListCtrl* list = GetList();
  int width = list->GetClientSize().x - 1;
  for (int column = 1; column < list->GetColumnCount(); ++column)
    width -= list->GetColumnWidth(column);
  if (list->GetColumnCount() > 0) list->SetColumnWidth(0, std::max(width, GetColumnWidth(0)));
  event.Skip();
}

void CSchemesView::OnContextMenu(wxContextMenuEvent& event) {
  if (!TakeContextMenuRequest(event)) return;
  wxListCtrl* list = GetList();
  wxPoint at;
  long item = -1;
  if (event.GetPosition() == wxDefaultPosition) {
    // From the keyboard: the selected Scheme, at its row.
    item = KeyboardMenuRow(at);
  } else {
    at = ScreenToClient(event.GetPosition());
    // The row under the mouse, by the rows' rectangles in the list's own
    // coordinates (its hit test counts from below the table header).
    const wxPoint point = list->ScreenToClient(event.GetPosition());
    for (long i = 0; i < list->GetItemCount() && item < 0; ++i) {
      wxRect rect;
      if (list->GetItemRect(i, rect) && rect.Contains(point)) item = i;
    }
  }
  wxMenu menu;
  // Each item carries its status-bar prompt.
  auto add = [&menu](int id, const char* text) { menu.Append(id, text, CommandPrompt(id)); };
  if (item >= 0) {
    list->SetItemState(item, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                       wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    add(ID_SCHEMES_OPEN, "&Open Scheme");
    add(ID_SCHEMES_RENAME, "&Rename Scheme...");
    add(ID_SCHEMES_DUPLICATE, "Du&plicate Scheme...");
    add(ID_SCHEMES_EXPORT, "&Export Scheme");
    add(ID_SCHEMES_DELETE, "&Delete Scheme");
    menu.AppendSeparator();
  }
  add(ID_NEW_SCHEME, "&New Scheme...");
  add(ID_SCHEMES_IMPORT, "&Import Scheme");
  add(ID_CLOSE_SCHEME, "Close Scheme");
  menu.AppendSeparator();
  add(ID_SCHEMES_REFRESH, "Re&fresh");
  // The frame's own commands (New, Close) reach it through the parents.
  PopupAndDispatch(menu, at);
}

void CSchemesView::OpenSelected() {
  const wxString name = GetSelectedName();
  if (name.empty()) return;
  GetDocument()->OpenScheme(SchemeFilePath(SchemesDir(), name.utf8_string()));
}

void CSchemesView::DeleteSelected() {
  const wxString name = GetSelectedName();
  if (name.empty()) return;
  CSchemeLibrary library = Library();
  const bool open = library.IsOpen(name.utf8_string());
  wxString text = wxString::Format(kDeleteText, name);
  if (open) text = wxString(kDeleteOpenText) + text;
  const int answer =
      wxMessageBox(text, kDeleteCaption, wxYES_NO | wxNO_DEFAULT | wxICON_WARNING, Frame());
  if (answer == wxYES) {
    if (SayIfBusy(library.IsBeingWritten(name.utf8_string()) ? LibraryResult::kBusy
                                                             : LibraryResult::kDone)) {
      FillList();
      return;
    }
    // A Scheme whose save prompt was cancelled stays open, and is not deleted.
    if (open) {
      CTessarookDoc* doc = GetDocument();
      if (!doc->CloseScheme()) {
        FillList();
        return;
      }
      if (CMainFrame* frame = Frame()) frame->GetFilesView()->StopMonitors();
    }
    library.SetFollower(ScheduleFollower());
    SayIfBusy(library.Delete(name.utf8_string()));
    SayIfNotFollowed(library.FollowError());
  }
  FillList();
}

void CSchemesView::RenameScheme(const wxString& typed) {
  const wxString oldName = GetSelectedName();
  if (oldName.empty()) return;
  wxString newName = typed;
  if (newName.empty()) {
    CNewSchemeDlg dialog(Frame());
    dialog.m_strCaption = "Rename Scheme";
    dialog.m_strLabel = "Scheme name:";
    dialog.m_nMode = NAME_SCHEME;
    dialog.m_strName = oldName;
    if (dialog.ShowModal() != wxID_OK) return;
    newName = dialog.m_strName;
  } else {
    // A name typed in place gets the same checks the name dialog makes.
    if (!CSchemeLibrary::IsValidNewName(newName.utf8_string())) {
      wxMessageBox(Text(InvalidNameText(newName.utf8_string())), Text(msg::kInvalidNameCaption),
                   wxOK | wxICON_EXCLAMATION, Frame());
      return;
    }
    if (newName != oldName && Library().Exists(newName.utf8_string())) {
      const int answer = wxMessageBox(Text(msg::kSchemeExists), Text(msg::kSchemeExistsCaption),
                                      wxYES_NO | wxNO_DEFAULT | wxICON_INFORMATION, Frame());
      if (answer != wxYES) return;
    }
  }
  // A Scheme that is not open moves on the worker: its Backups may have to be
  // copied (another file system), which takes a while. The open one is saved,
  // closed and opened again here.
  CSchemeLibrary library = Library();
  if (!library.IsOpen(oldName.utf8_string())) {
    StartLibraryCopy(oldName.utf8_string(), newName.utf8_string(), true);
    return;
  }
  library.SetFollower(ScheduleFollower());
  const LibraryResult result = library.Rename(oldName.utf8_string(), newName.utf8_string());
  if (result == LibraryResult::kUnchanged || SayIfBusy(result)) return;
  SayIfNotFollowed(library.FollowError());
  FillList();
  SelectName(newName);
}

void CSchemesView::OnEndLabelEdit(wxListEvent& event) {
  // The list never takes the typed text itself: the rename rebuilds it.
  event.Veto();
  if (event.IsEditCancelled()) return;
  const wxString typed = event.GetLabel();
  const long index = event.GetIndex();
  if (typed.empty() || typed == GetItemName(index)) return;
  // After the edit box has gone: the rename may ask questions.
  CallAfter([this, typed, name = GetItemName(index)] {
    if (SelectName(name)) RenameScheme(typed);
  });
}

void CSchemesView::DuplicateSelected() {
  const wxString oldName = GetSelectedName();
  if (oldName.empty()) return;  // nothing to copy
  CNewSchemeDlg dialog(Frame());
  dialog.m_strCaption = "Duplicate Scheme";
  dialog.m_strLabel = "Scheme name:";
  dialog.m_nMode = NAME_SCHEME;
  dialog.m_strName = oldName;
  if (dialog.ShowModal() != wxID_OK) return;
  // Gigabytes of Backups take a while: copied on the worker.
  StartLibraryCopy(oldName.utf8_string(), dialog.m_strName.utf8_string(), false);
}

bool CSchemesView::StartLibraryCopy(const std::string& oldName, const std::string& newName,
                                    bool rename) {
  RegisterWorkers();
  if (!CanExchange()) return false;
  CSchemeLibrary library = Library();
  if (SamePath(library.SchemeFile(oldName), library.SchemeFile(newName))) return false;
  {
    // Asked here as well as on the worker, so that a Scheme whose Backup is
    // being written is refused at once, before any progress is shown.
    CBackupsFolderLock heldOld, heldNew;
    if ((rename && !heldOld.Acquire(library.BackupsFolder(oldName))) ||
        !heldNew.Acquire(library.BackupsFolder(newName)))
      return !SayIfBusy(LibraryResult::kBusy);
  }
  const uint64_t total = library.DataBytes(oldName);
  CMainFrame* frame = Frame();
  std::shared_ptr<IProgressSink> sink(frame ? frame->GetProgressDisplay()->MakeSink() : nullptr);
  const std::string dir = SchemesDir();
  SchemeFollower follower = ScheduleFollower();
  const bool started = m_copy.StartTask(
      [this, dir, oldName, newName, rename, total, sink, follower = std::move(follower)] {
        // Worker thread: the library without the open Scheme's hooks (the caller
        // makes sure the Scheme is not open when it is moved).
        const auto start = std::chrono::steady_clock::now();
        uint64_t done = 0;
        CopyControl control;
        control.cancel = &m_copy.CancelFlag();
        control.copied = [&done, total, &sink](uint64_t bytes) {
          done += bytes;
          if (sink) sink->OnBytes(done, total);
        };
        if (sink) sink->OnBytes(0, total);
        CSchemeLibrary library(dir);
        library.SetFollower(follower);
        const LibraryResult result = rename ? library.Rename(oldName, newName, control)
                                            : library.Duplicate(oldName, newName, control);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        CallAfter([this, result, newName, rename, seconds, done, error = library.FollowError()] {
          OnCopyEnded(result, newName, rename, seconds, done);
          SayIfNotFollowed(error);
        });
        return result == LibraryResult::kDone ? 0 : 1;
      });
  if (started) ShowProgress();
  return started;
}

void CSchemesView::OnCopyEnded(LibraryResult result, std::string newName, bool rename,
                               double seconds, uint64_t bytes) {
  // Window thread; the worker is about to end.
  m_copy.Wait();
  m_lastCopy = result;
  HideProgress();
  OperationSummary summary;
  summary.what = std::string(rename ? "Rename to \"" : "Duplicate \"") + newName + "\"";
  summary.seconds = seconds;
  summary.bytes = bytes;
  summary.files = 1;
  if (result == LibraryResult::kCancelled) summary.outcome = OperationSummary::Outcome::kCancelled;
  if (result == LibraryResult::kFailed || result == LibraryResult::kMissing ||
      result == LibraryResult::kBadName) {
    summary.outcome = OperationSummary::Outcome::kFailed;
    summary.error = "the Scheme could not be copied completely";
  }
  if (result == LibraryResult::kBusy) {
    summary.outcome = OperationSummary::Outcome::kFailed;
    summary.error = kSchemeBackupBeingWrittenText;
  }
  if (CMainFrame* frame = Frame()) frame->GetProgressDisplay()->ShowSummary(summary);
  FillList();
  if (result == LibraryResult::kDone) SelectName(FromUtf8(newName));
  ++m_endedRuns;
  SayIfBusy(result);
}

bool CSchemesView::SayIfBusy(LibraryResult result) {
  if (result != LibraryResult::kBusy) return false;
  wxMessageBox(Text(kSchemeBackupBeingWrittenText), "Error", wxOK | wxICON_ERROR, Frame());
  return true;
}

SchemeFollower CSchemesView::ScheduleFollower() const {
  // Made on the window thread (it reads the settings); called wherever the
  // library operation runs, while it holds the Schemes' Backups folders.
  return tessarook::ScheduleFollower(AppRecordsFile(), AppScheduler(), SchemesDir());
}

void CSchemesView::SayIfNotFollowed(const std::string& error) {
  if (!error.empty())
    wxMessageBox("The Scheme's schedule could not follow it.\n" + FromUtf8(error), "Schedule",
                 wxOK | wxICON_WARNING, Frame());
}

bool CSchemesView::CanExchange() const {
  const CMainFrame* frame = Frame();
  if (frame) return !frame->IsFileOperationRunning();
  return !m_export.IsRunning() && !m_import.IsRunning();
}

void CSchemesView::RegisterWorkers() {
  if (m_registered) return;
  CMainFrame* frame = Frame();
  if (!frame) return;
  frame->AddFileOperation(&m_copy, [this] { m_copy.Cancel(); });
  frame->AddFileOperation(&m_export);
  frame->AddFileOperation(&m_import);
  m_export.SetOnEnded([this] { CallAfter(&CSchemesView::OnExportEnded); });
  m_import.SetOnEnded([this] { CallAfter(&CSchemesView::OnImportEnded); });
  m_registered = true;
}

void CSchemesView::ShowProgress() {
  if (CMainFrame* frame = Frame()) frame->GetProgressDisplay()->ShowProgress();
}

void CSchemesView::HideProgress() {
  CMainFrame* frame = Frame();
  // Another operation may still be showing its progress.
  if (frame && !frame->IsFileOperationRunning()) frame->GetProgressDisplay()->HideProgress();
}

void CSchemesView::ExportSelected() {
  RegisterWorkers();
  if (!CanExchange()) return;
  const wxString name = GetSelectedName();
  wxFileDialog dialog(Frame(), "Export Scheme", wxString(), name + ".csm", kCsmFilter,
                      wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() != wxID_OK) return;
  wxString path = ChosenPath(dialog);
  if (path.empty()) return;
  if (dialog.GetFilterIndex() == 0 && !EndsWithCsm(path)) {
    path += ".csm";
    if (wxFileName::Exists(path)) {
      const int answer = wxMessageBox(
          wxFileName(path).GetFullName() + " already exists.\nDo you want to replace it?",
          "Export Scheme", wxYES_NO | wxNO_DEFAULT | wxICON_WARNING, Frame());
      if (answer != wxYES) return;
    }
  }
  CMainFrame* frame = Frame();
  m_exportProgress.Reset(frame ? frame->GetProgressDisplay()->MakeSink() : nullptr);
  if (!m_export.StartExport(SchemesDir(), name.utf8_string(), path.utf8_string(),
                            &m_exportProgress))
    return;
  m_exchangeName = name.utf8_string();
  m_exchangeStart = std::chrono::steady_clock::now();
  ShowProgress();
}

void CSchemesView::ShowExchangeSummary(bool exporting, int code, uint32_t records,
                                       const std::vector<std::string>& skipped, const char* error) {
  OperationSummary summary;
  summary.what = std::string(exporting ? "Export of \"" : "Import of \"") + m_exchangeName + "\"";
  summary.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_exchangeStart).count();
  summary.files = records;
  summary.bytes = (exporting ? m_exportProgress : m_importProgress).BytesDone();
  for (const std::string& file : skipped) summary.skipped.emplace_back(file, "");
  if (code == 1) summary.outcome = OperationSummary::Outcome::kCancelled;
  if (error) {
    summary.outcome = OperationSummary::Outcome::kFailed;
    summary.error = error;
  }
  if (CMainFrame* frame = Frame()) frame->GetProgressDisplay()->ShowSummary(summary);
}

void CSchemesView::OnExportEnded() {
  m_export.Wait();
  HideProgress();
  ShowExchangeSummary(true, m_export.Result() == ExportResult::kStopped ? 1 : 0, m_export.Records(),
                      m_export.Skipped(), ExportMessage(m_export.Result()));
  ShowWorkerError(ExportMessage(m_export.Result()));
  if (CMainFrame* frame = Frame()) frame->GetBackupsView()->OnDocumentUpdate();
  ++m_endedRuns;
}

void CSchemesView::ImportScheme() {
  RegisterWorkers();
  if (!CanExchange()) return;
  wxFileDialog dialog(Frame(), "Import Scheme", wxString(), wxString(), kCsmFilter,
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return;
  ImportSchemeFile(ChosenPath(dialog).utf8_string());
}

void CSchemesView::ImportSchemeFile(const std::string& csmPath) {
  RegisterWorkers();
  if (!CanExchange()) return;
  // The name comes from the file itself; a damaged file changes nothing.
  CsmSummary summary;
  const ImportResult inspected = CCsmReader::Inspect(csmPath, summary);
  if (inspected != ImportResult::kDone) {
    wxMessageBox(wxString::FromUTF8(ImportMessage(inspected)), "Error", wxOK | wxICON_WARNING,
                 Frame());
    return;
  }

  CSchemeLibrary library = Library();
  if (library.Exists(summary.name)) {
    const int answer = wxMessageBox(Text(msg::kSchemeExists), Text(msg::kSchemeExistsCaption),
                                    wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION, Frame());
    if (answer != wxYES) return;
    if (library.IsOpen(summary.name)) {
      // The open Scheme makes way: saved, closed, and its old Backups emptied.
      CTessarookDoc* doc = GetDocument();
      doc->SaveTo(library.SchemeFile(summary.name));
      if (!doc->CloseScheme()) return;
      if (CMainFrame* frame = Frame()) frame->GetFilesView()->StopMonitors();
      library.ClearBackups(summary.name);
    }
  }

  CMainFrame* frame = Frame();
  m_importProgress.Reset(frame ? frame->GetProgressDisplay()->MakeSink() : nullptr);
  if (!m_import.StartImport(SchemesDir(), csmPath, &m_importProgress)) return;
  m_exchangeName = summary.name;
  m_exchangeStart = std::chrono::steady_clock::now();
  ShowProgress();
}

void CSchemesView::OnImportEnded() {
  m_import.Wait();
  HideProgress();
  ShowExchangeSummary(false, m_import.Result() == ImportResult::kStopped ? 1 : 0,
                      m_import.Records(), m_import.Skipped(), ImportMessage(m_import.Result()));
  ShowWorkerError(ImportMessage(m_import.Result()));
  FillList();
  ++m_endedRuns;
}

}  // namespace tessarook
