// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainFrame.h"

#include <wx/accel.h>
#include <wx/config.h>
#include <wx/display.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/notifmsg.h>
#include <wx/statusbr.h>
#include <wx/stdpaths.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

#include <cctype>

#include "app/AboutDlg.h"
#include "app/CommandIds.h"
#include "app/CommandTexts.h"
#include "app/ListPane.h"
#include "app/NewSchemeDlg.h"
#include "app/ProgramArt.h"
#include "app/ProgressDisplay.h"
#include "app/TessarookApp.h"
#include "backup/BackupCommandIds.h"
#include "backup/BackupsView.h"
#include "files/FilesView.h"
#include "library/ScheduleDlg.h"
#include "library/SchemesCommandIds.h"
#include "library/SchemesView.h"
#include "monitor/NotifyIcon.h"
#include "settings/SettingsDlg.h"
#include "settings/UserPlaces.h"
#include "shell/Caption.h"
#include "shell/Messages.h"
#include "shell/NewSchemeFile.h"
#include "shell/WindowPlacement.h"
#include "ui/BiSplitterWnd.h"
#include "util/WorkerThread.h"

namespace tessarook {

namespace {

constexpr int kRecentPlaceholderId = wxID_FILE9;
constexpr unsigned kTrayIconId = 987;
const char kPlacementKey[] = "/Settings/wstatus";
const char kHomepage[] = "https://www.tessarook.org/";
const char kSupportPage[] = "https://www.tessarook.org/support/";
// The pane's export and import commands have no prompt of their own; the
// menu bar and the toolbar say what they do.
const char kExportSchemePrompt[] = "Export a Scheme with its Backups to a Compressed Scheme file";
const char kImportSchemePrompt[] = "Import a Scheme with its Backups from a Compressed Scheme file";

wxString Text(std::string_view text) { return wxString::FromUTF8(text.data(), text.size()); }

// A menu item whose status-bar prompt is the command's own.
void AddItem(wxMenu* menu, int id, const wxString& text, wxItemKind kind = wxITEM_NORMAL) {
  menu->Append(id, text, CommandPrompt(id), kind);
}

}  // namespace

CMainFrame::CMainFrame(CTessarookDoc* doc)
    : wxFrame(nullptr, wxID_ANY, "Tessarook", wxDefaultPosition, wxDefaultSize),
      m_doc(doc),
      m_lockTimer(this) {
  SetIcons(ProgramIcons());
  CreateMenus();
  CreateToolbar();
  CreateStatusFields();
  CreatePanes();
  BindCommands();
  SetSize(FromDIP(wxSize(960, 680)));
  // Small enough for a small screen, large enough that each pane keeps room
  // for its caption and a few rows beside and below the fixed split positions.
  SetMinClientSize(wxSize(200 + 6, 250 + 2) + FromDIP(wxSize(300, 110)));
  Centre();
  m_normalRect = GetRect();
  m_doc->SetListener(this);
  UpdateCaption();
  RebuildRecentMenu();
  m_lockTimer.Start(250);
}

CMainFrame::~CMainFrame() {
  m_lockTimer.Stop();
  SavePlacement();
  CopyViewStateToSettings();
  ShowTrayIcon(false);
  if (m_doc) m_doc->SetListener(nullptr);
  TheApp().OnMainFrameDestroyed(this);
}

void CMainFrame::CreateMenus() {
  auto* bar = new wxMenuBar;
  m_schemeMenu = new wxMenu;
  AddItem(m_schemeMenu, ID_NEW_SCHEME, "&New...\tCtrl+N");
  AddItem(m_schemeMenu, ID_OPEN_SCHEME, "&Open...\tCtrl+O");
  AddItem(m_schemeMenu, ID_SAVE_SCHEME, "&Save\tCtrl+S");
  AddItem(m_schemeMenu, ID_SAVE_SCHEME_AS, "Save &As...");
  AddItem(m_schemeMenu, ID_CLOSE_SCHEME, "&Close");
  AddItem(m_schemeMenu, ID_SCHEME_SCHEDULE, "Sc&hedule...");
  m_schemeMenu->AppendSeparator();
  m_schemeMenu->AppendSeparator();  // the recent Schemes go between the two separators
  AddItem(m_schemeMenu, ID_EXIT, "E&xit");
  bar->Append(m_schemeMenu, "&Scheme");

  // What people do with Backups, where they look first; the same commands as
  // the panes' pop-up menus.
  auto* backup = new wxMenu;
  AddItem(backup, ID_BACKUP_NOW, "Back Up &Now...\tCtrl+B");
  backup->AppendSeparator();
  AddItem(backup, ID_BACKUP_RESTORE, "&Restore...");
  AddItem(backup, ID_BACKUP_PROPERTIES, "&Browse...");
  AddItem(backup, ID_BACKUP_VERIFY, "&Verify");
  backup->AppendSeparator();
  backup->Append(ID_SCHEMES_EXPORT, "&Export Scheme...", kExportSchemePrompt);
  backup->Append(ID_SCHEMES_IMPORT, "&Import Scheme...", kImportSchemePrompt);
  bar->Append(backup, "&Backup");

  auto* tools = new wxMenu;
  AddItem(tools, ID_SETTINGS, "&Settings...");
  bar->Append(tools, "&Tools");

  auto* view = new wxMenu;
  AddItem(view, ID_VIEW_TOOLBAR, "&Toolbar", wxITEM_CHECK);
  AddItem(view, ID_VIEW_STATUS_BAR, "&Status Bar", wxITEM_CHECK);
  AddItem(view, ID_VIEW_MY_SCHEMES, "&My Schemes", wxITEM_CHECK);
  bar->Append(view, "&View");

  auto* help = new wxMenu;
  AddItem(help, ID_USER_MANUAL, "User &Manual");
  help->AppendSeparator();
  AddItem(help, ID_HOMEPAGE, "Tessarook Homepage");
  AddItem(help, ID_SUPPORT, "Support");
  help->AppendSeparator();
  AddItem(help, ID_ABOUT, "&About Tessarook...");
  bar->Append(help, "&Help");
  SetMenuBar(bar);

  wxAcceleratorEntry keys[] = {
      wxAcceleratorEntry(wxACCEL_NORMAL, WXK_F1, ID_USER_MANUAL),
      wxAcceleratorEntry(wxACCEL_NORMAL, WXK_F6, ID_NEXT_PANE),
      wxAcceleratorEntry(wxACCEL_SHIFT, WXK_F6, ID_PREVIOUS_PANE),
  };
  SetAcceleratorTable(wxAcceleratorTable(WXSIZEOF(keys), keys));
}

void CMainFrame::CreateToolbar() {
  m_toolbar = CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT | wxTB_NODIVIDER);
  m_toolbar->SetName("ToolBar");
  auto add = [this](int id, Art art) {
    m_toolbar->AddTool(id, CommandTooltip(id), ToolArt(art), CommandTooltip(id));
    m_toolbar->SetToolLongHelp(id, CommandPrompt(id));
  };
  add(ID_NEW_SCHEME, Art::kNewScheme);
  add(ID_OPEN_SCHEME, Art::kOpen);
  add(ID_SAVE_SCHEME, Art::kSave);
  add(ID_CLOSE_SCHEME, Art::kCloseScheme);
  m_toolbar->AddSeparator();
  add(ID_BACKUP_NOW, Art::kBackUpNow);
  add(ID_BACKUP_RESTORE, Art::kRestore);
  add(ID_BACKUP_PROPERTIES, Art::kBrowse);
  add(ID_BACKUP_VERIFY, Art::kVerify);
  add(ID_SCHEME_SCHEDULE, Art::kSchedule);
  m_toolbar->AddTool(ID_SCHEMES_EXPORT, "Export Scheme", ToolArt(Art::kExportScheme),
                     "Export Scheme");
  m_toolbar->SetToolLongHelp(ID_SCHEMES_EXPORT, kExportSchemePrompt);
  m_toolbar->AddTool(ID_SCHEMES_IMPORT, "Import Scheme", ToolArt(Art::kImportScheme),
                     "Import Scheme");
  m_toolbar->SetToolLongHelp(ID_SCHEMES_IMPORT, kImportSchemePrompt);
  m_toolbar->AddSeparator();
  add(ID_SETTINGS, Art::kSettings);
  m_toolbar->AddSeparator();
  add(ID_USER_MANUAL, Art::kManual);
  add(ID_ABOUT, Art::kAbout);
  m_toolbar->Realize();
  // A button whose command opens a dialog never hears the pointer leave it, so
  // its prompt would stay: the frame carries the command out, then the status
  // bar says "Ready" again.
  m_toolbar->Bind(wxEVT_TOOL, [this](wxCommandEvent& event) {
    ProcessWindowEvent(event);
    if (!m_oldStatusText.empty()) DoGiveHelp(wxString(), false);
  });
}

void CMainFrame::CreateStatusFields() {
  wxStatusBar* bar = CreateStatusBar(STATUS_FIELD_COUNT);
  // Each field is as wide as the text it is made for.
  const wxString sizing[STATUS_FIELD_COUNT] = {
      wxString(), "Progress:", wxString(' ', 53), wxString(' ', 18), "CAP", "NUM", "SCRL"};
  int widths[STATUS_FIELD_COUNT];
  widths[0] = -1;
  for (int i = 1; i < STATUS_FIELD_COUNT; ++i)
    widths[i] = bar->GetTextExtent(sizing[i]).x + FromDIP(12);
  bar->SetStatusWidths(STATUS_FIELD_COUNT, widths);
  SetStatusBarPane(STATUS_FIELD_PROMPT);
  SetStatusText("Ready", STATUS_FIELD_PROMPT);
  m_progress = std::make_unique<CProgressDisplay>(bar);
}

void CMainFrame::CreatePanes() {
  m_outer = new CBiSplitterWnd;
  m_outer->Create(this, 0x25, ID_OUTER_SPLITTER);
  m_schemesView = m_outer->CreateView<CSchemesView>(ID_SCHEMES_VIEW, m_doc);
  m_outer->SetPane(0, 0x515, "My Schemes", m_schemesView);
  m_inner = m_outer->CreateNestedSplitter(ID_INNER_SPLITTER, 0x26);
  m_outer->SetPane(1, 0x100, wxString(), m_inner);
  m_filesView = m_inner->CreateView<CFilesView>(ID_FILES_VIEW, m_doc);
  m_inner->SetPane(0, 0x115, "Files and Folders to Backup", m_filesView);
  m_backupsView = m_inner->CreateView<CBackupsView>(
      ID_BACKUPS_VIEW, m_doc, [this] { return m_filesView ? m_filesView->GetItemCount() : 0; });
  m_inner->SetPane(1, 0x115, "Available Backups", m_backupsView);
  m_outer->SetSplitPos(200);
  m_outer->SetBarWidth(6);
  m_inner->SetSplitPos(250);
  m_inner->SetBarWidth(2);
}

void CMainFrame::BindCommands() {
  Bind(wxEVT_MENU, &CMainFrame::OnNewScheme, this, ID_NEW_SCHEME);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { m_doc->OpenWithDialog(); }, ID_OPEN_SCHEME);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { m_doc->SaveScheme(); }, ID_SAVE_SCHEME);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { m_doc->SaveSchemeAs(); }, ID_SAVE_SCHEME_AS);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        if (m_doc->CloseScheme()) m_filesView->StopMonitors();
      },
      ID_CLOSE_SCHEME);
  auto needsScheme = [this](wxUpdateUIEvent& e) { e.Enable(m_doc->HasScheme()); };
  for (int id : {int(ID_SAVE_SCHEME), int(ID_SAVE_SCHEME_AS), int(ID_CLOSE_SCHEME)})
    Bind(wxEVT_UPDATE_UI, needsScheme, id);
  Bind(wxEVT_MENU, &CMainFrame::OnRecentScheme, this, ID_RECENT_FIRST,
       ID_RECENT_FIRST + kRecentSchemeCount - 1);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, ID_EXIT);
  Bind(wxEVT_MENU, &CMainFrame::OnSettings, this, ID_SETTINGS);

  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        m_toolbar->Show(!m_toolbar->IsShown());
        SendSizeEvent();
      },
      ID_VIEW_TOOLBAR);
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Check(m_toolbar->IsShown()); },
      ID_VIEW_TOOLBAR);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        GetStatusBar()->Show(!GetStatusBar()->IsShown());
        SendSizeEvent();
      },
      ID_VIEW_STATUS_BAR);
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Check(GetStatusBar()->IsShown()); },
      ID_VIEW_STATUS_BAR);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { m_outer->TogglePane(0); }, ID_VIEW_MY_SCHEMES);
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Check(!m_outer->IsPaneFolded(0)); },
      ID_VIEW_MY_SCHEMES);

  Bind(wxEVT_MENU, &CMainFrame::OnUserManual, this, ID_USER_MANUAL);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        CAboutDlg about(this);
        about.ShowModal();
      },
      ID_ABOUT);
  Bind(
      wxEVT_MENU, [](wxCommandEvent&) { wxLaunchDefaultBrowser(kHomepage); }, ID_HOMEPAGE);
  Bind(
      wxEVT_MENU, [](wxCommandEvent&) { wxLaunchDefaultBrowser(kSupportPage); }, ID_SUPPORT);

  // The backup properties dialog's pop-up commands go on to that dialog.
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent& e) {
        if (!m_propertiesDialog) return;
        wxCommandEvent forwarded(wxEVT_MENU, e.GetId());
        forwarded.SetEventObject(m_propertiesDialog);
        wxPostEvent(m_propertiesDialog->GetEventHandler(), forwarded);
      },
      ID_BPD_RESTORE_ELSEWHERE, ID_BPD_PREVIEW);

  // "Cancel" in the status bar: every running file operation is asked to stop.
  Bind(
      wxEVT_BUTTON,
      [this](wxCommandEvent&) {
        for (const FileOperation& operation : m_fileOperations) {
          if (!operation.worker->IsRunning()) continue;
          if (operation.stop)
            operation.stop();
          else
            operation.worker->RequestStop();
        }
        m_progress->HideProgress();
      },
      ID_CANCEL_OPERATION);

  Bind(wxEVT_MENU, &CMainFrame::OnTrayShow, this, ID_TRAY_SHOW);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, ID_TRAY_CLOSE);
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Enable(CanStartBackup()); }, ID_NEW_BACKUP);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        if (CanStartBackup()) m_backupsView->NewBackup(true);
      },
      ID_NEW_BACKUP);

  BindBackupMenu();

  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { CyclePanes(1); }, ID_NEXT_PANE);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { CyclePanes(-1); }, ID_PREVIOUS_PANE);
  // The window that takes the focus says which pane now has it (asking for
  // the focus while the event runs may still give the one it leaves).
  Bind(wxEVT_CHILD_FOCUS, [this](wxChildFocusEvent& e) {
    UpdateFocusedPane(e.GetWindow());
    e.Skip();
  });

  Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
  Bind(wxEVT_ICONIZE, &CMainFrame::OnIconize, this);
  Bind(wxEVT_SIZE, [this](wxSizeEvent& e) {
    OnMoveOrSize();
    e.Skip();
  });
  Bind(wxEVT_MOVE, [this](wxMoveEvent& e) {
    OnMoveOrSize();
    e.Skip();
  });
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    UpdateLockIndicators();
    // Not every way the focus moves tells the frame (a click into a list that
    // had it before a dialog, say): the mark follows it here as well.
    UpdateFocusedPane(wxWindow::FindFocus());
  });
}

void CMainFrame::BindBackupMenu() {
  // The menu bar's and toolbar's commands reach the frame: it hands them to
  // the pane whose command they are, under the rules of that pane's pop-up.
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Enable(CanStartBackup()); }, ID_BACKUP_NOW);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        if (CanStartBackup()) m_backupsView->BackUpNow();
      },
      ID_BACKUP_NOW);
  auto onBackup = [this](int id, std::function<void()> action) {
    Bind(
        wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Enable(CanActOnBackup()); }, id);
    Bind(
        wxEVT_MENU,
        [this, action](wxCommandEvent&) {
          if (CanActOnBackup()) action();
        },
        id);
  };
  onBackup(ID_BACKUP_RESTORE, [this] { m_backupsView->ShowProperties(true); });
  onBackup(ID_BACKUP_PROPERTIES, [this] { m_backupsView->ShowProperties(false); });
  onBackup(ID_BACKUP_VERIFY, [this] { m_backupsView->VerifySelected(); });

  auto exchange = [this](wxUpdateUIEvent& e) { e.Enable(!IsFileOperationRunning()); };
  Bind(wxEVT_UPDATE_UI, exchange, ID_SCHEMES_EXPORT);
  Bind(wxEVT_UPDATE_UI, exchange, ID_SCHEMES_IMPORT);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        // The Scheme chosen in My Schemes, else the open one.
        if (m_schemesView->GetSelectedName().empty() && m_doc->HasScheme())
          m_schemesView->SelectName(wxFileName(wxString::FromUTF8(m_doc->GetPathName())).GetName());
        m_schemesView->ExportSelected();
      },
      ID_SCHEMES_EXPORT);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { m_schemesView->ImportScheme(); }, ID_SCHEMES_IMPORT);

  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Enable(CanSchedule()); }, ID_SCHEME_SCHEDULE);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        if (CanSchedule()) ShowSchedule();
      },
      ID_SCHEME_SCHEDULE);
}

bool CMainFrame::CanActOnBackup() const {
  return m_doc->HasScheme() && !m_backupsView->GetSelectedName().empty() &&
         !IsFileOperationRunning();
}

bool CMainFrame::CanSchedule() const {
  return m_doc->HasScheme() && !m_doc->GetPathName().empty() && !IsFileOperationRunning();
}

void CMainFrame::ShowSchedule() {
  const std::string schemeFile = m_doc->GetPathName();
  {
    CScheduleDlg dialog(this, schemeFile, TheApp().GetSettings().dir_schemes);
    dialog.ShowModal();
  }
  m_schemesView->FillList();  // its next run and marks
}

bool CMainFrame::IsFileOperationRunning() const {
  for (const FileOperation& operation : m_fileOperations)
    if (operation.worker->IsRunning()) return true;
  for (const auto& probe : m_operationProbes)
    if (probe && probe()) return true;
  return false;
}

void CMainFrame::AddFileOperation(CWorkerThread* worker, std::function<void()> stop) {
  if (worker) m_fileOperations.push_back({worker, std::move(stop)});
}

void CMainFrame::AddOperationProbe(std::function<bool()> probe) {
  m_operationProbes.push_back(std::move(probe));
}

bool CMainFrame::CanStartBackup() const {
  return m_doc->HasScheme() && m_filesView->GetItemCount() > 0 && !IsFileOperationRunning();
}

bool CMainFrame::CanClose() {
  if (!m_doc->OnSaveModified()) return false;
  if (IsFileOperationRunning()) {
    const int answer =
        wxMessageBox(Text(msg::kOperationRunning), Text(msg::kOperationRunningCaption),
                     wxYES_NO | wxNO_DEFAULT | wxICON_WARNING, this);
    if (answer != wxYES) return false;
  }
  return true;
}

void CMainFrame::OnClose(wxCloseEvent& event) {
  if (event.CanVeto() && !CanClose()) {
    event.Veto();
    return;
  }
  Destroy();
}

void CMainFrame::UpdateCaption() {
  SetTitle(wxString::FromUTF8(MakeCaption(m_doc->GetTitle().utf8_string()).c_str()));
}

void CMainFrame::RebuildRecentMenu() {
  for (int id = ID_RECENT_FIRST; id < ID_RECENT_FIRST + kRecentSchemeCount; ++id)
    if (m_schemeMenu->FindItem(id)) m_schemeMenu->Destroy(id);
  if (m_schemeMenu->FindItem(kRecentPlaceholderId)) m_schemeMenu->Destroy(kRecentPlaceholderId);

  // The list stands between the separator after "&Close" and the one before "E&xit".
  size_t position = 0;
  while (position < m_schemeMenu->GetMenuItemCount() &&
         !m_schemeMenu->FindItemByPosition(position)->IsSeparator())
    ++position;
  ++position;
  const wxFileHistory& recent = TheApp().GetRecentSchemes();
  const size_t count = std::min<size_t>(recent.GetCount(), kRecentSchemeCount);
  for (size_t i = 0; i < count; ++i) {
    wxString path = recent.GetHistoryFile(i);
    path.Replace("&", "&&");
    m_schemeMenu->Insert(position + i, ID_RECENT_FIRST + int(i),
                         wxString::Format("&%zu %s", i + 1, path), CommandPrompt(ID_RECENT_FIRST));
  }
  if (count == 0) {
    m_schemeMenu->Insert(position, kRecentPlaceholderId, "Recent Schemes");
    m_schemeMenu->Enable(kRecentPlaceholderId, false);
  }
}

void CMainFrame::OnRecentScheme(wxCommandEvent& event) {
  const size_t index = size_t(event.GetId() - ID_RECENT_FIRST);
  wxFileHistory& recent = TheApp().GetRecentSchemes();
  if (index >= recent.GetCount()) return;
  const wxString path = recent.GetHistoryFile(index);
  if (!m_doc->OnSaveModified()) return;
  // A file that can no longer be read leaves the list.
  if (!m_doc->OnOpenDocument(path)) {
    recent.RemoveFileFromHistory(index);
    RebuildRecentMenu();
  }
}

void CMainFrame::OnNewScheme(wxCommandEvent&) {
  const std::string schemesDir = TheApp().GetSettings().dir_schemes;
  // Made when missing; a folder that cannot be made or written is named with
  // its cause now, rather than as a puzzling save error after the name.
  std::string why;
  if (!PrepareSchemesFolder(schemesDir, &why)) {
    why[0] = char(std::toupper(static_cast<unsigned char>(why[0])));
    wxMessageBox(wxString::FromUTF8(why + "."), Text(kAppTitle), wxOK | wxICON_ERROR, this);
    return;
  }
  if (!m_doc->NewPlaceholder()) return;
  m_doc->SetDocumentTitle("New Scheme");

  CNewSchemeDlg dialog(this);
  dialog.m_strCaption = "New Scheme";
  dialog.m_strLabel = "Scheme name:";
  dialog.m_nMode = NAME_SCHEME;
  if (dialog.ShowModal() != wxID_OK) {
    m_doc->CloseScheme();
    return;
  }
  const std::string name = dialog.m_strName.utf8_string();
  // The name dialog asked about overwriting the Scheme; its Backups go too,
  // so when there are any, a second question says how many.
  if (const size_t backups = BackupsOfScheme(schemesDir, name); backups > 0) {
    const int answer = wxMessageBox(
        wxString::FromUTF8(NewSchemeDeletesBackupsQuestion(name, backups).c_str()),
        Text(msg::kSchemeExistsCaption), wxYES_NO | wxNO_DEFAULT | wxICON_WARNING, this);
    if (answer != wxYES) {
      m_doc->CloseScheme();
      return;
    }
  }
  const std::string path = PrepareNewSchemeFile(schemesDir, name);
  if (path.empty()) {
    wxMessageBox(Text(kSchemeBackupBeingWrittenText), "Error", wxOK | wxICON_ERROR, this);
    m_doc->CloseScheme();
    return;
  }
  m_doc->SaveTo(path);
  m_doc->OpenScheme(path);
}

void CMainFrame::OnSettings(wxCommandEvent&) {
  {
    CSettingsDlg dialog(this, TheApp().GetSettings());
    dialog.ShowModal();
  }
  // OK or Cancel alike: every pane rebuilds, and watches what the settings
  // now say: the My Schemes folder it names, the Scheme's folders afresh (or
  // nothing, with automatic refresh off).
  m_schemesView->OnDocumentUpdate();
  m_filesView->StopMonitors();
  m_filesView->OnDocumentUpdate();
  m_backupsView->OnDocumentUpdate();
}

void CMainFrame::OnUserManual(wxCommandEvent&) {
  const wxString manual = TheApp().ManualPath();
  if (!wxFileName::FileExists(manual)) {
    wxMessageBox("The user manual " + manual + " could not be found.", Text(kAppTitle),
                 wxOK | wxICON_EXCLAMATION, this);
    return;
  }
  wxLaunchDefaultBrowser(wxFileName::FileNameToURL(wxFileName(manual)));
}

void CMainFrame::OnDocumentUpdated() {
  m_schemesView->OnDocumentUpdate();
  m_filesView->OnDocumentUpdate();
  m_backupsView->OnDocumentUpdate();  // after the files: its hint depends on them
  UpdateCaption();
}

void CMainFrame::OnDocumentTitleChanged() { UpdateCaption(); }

void CMainFrame::OnDocumentSaveAttempted() { m_schemesView->FillList(); }

void CMainFrame::OnMoveOrSize() {
  if (!IsShown() || IsIconized()) return;
  m_maximised = IsMaximized();
  if (!m_maximised && !IsFullScreen()) {
    m_normalRect = GetRect();
  }
}

void CMainFrame::RestorePlacement() {
  wxString text;
  if (!wxConfigBase::Get()->Read(kPlacementKey, &text)) return;
  auto placement = CWindowPlacement::FromText(text.utf8_string());
  if (!placement) return;
  const wxRect rect(placement->x, placement->y, placement->width, placement->height);
  // The display that shows most of it, or, for a place no display shows any
  // more (a monitor was removed), the primary one, where it is centred.
  int display = wxDisplay::GetFromPoint(rect.GetTopLeft() + wxPoint(rect.width / 2, 16));
  const bool lost = display == wxNOT_FOUND;
  if (lost) display = 0;
  // All of it inside the part of the display that panels leave free: saved
  // at another scale or on a larger screen, it would hide the status bar.
  if (display >= 0 && display < int(wxDisplay::GetCount())) {
    const wxRect area = wxDisplay(unsigned(display)).GetClientArea();
    if (lost) {
      placement->x = area.x + (area.width - placement->width) / 2;
      placement->y = area.y + (area.height - placement->height) / 2;
    }
    placement = placement->FittedInto(area.x, area.y, area.width, area.height);
  }
  SetSize(wxRect(placement->x, placement->y, placement->width, placement->height));
  m_normalRect = GetRect();
  if (placement->maximised) Maximize();
}

void CMainFrame::SavePlacement() {
  if (m_normalRect.IsEmpty()) return;
  CWindowPlacement placement;
  placement.x = m_normalRect.x;
  placement.y = m_normalRect.y;
  placement.width = m_normalRect.width;
  placement.height = m_normalRect.height;
  placement.maximised = IsMaximized();
  wxConfigBase* config = wxConfigBase::Get();
  config->Write(kPlacementKey, wxString::FromUTF8(placement.ToText().c_str()));
  wxLogNull quiet;  // a profile that cannot be written keeps its old placement
  config->Flush();
}

void CMainFrame::CopyViewStateToSettings() {
  CSettings& settings = TheApp().GetSettings();
  settings.files_view = m_filesView->GetDisplayMode();
  settings.files_sorting = m_filesView->GetArrangement();
  settings.backups_view = m_backupsView->GetDisplayMode();
  settings.backups_sorting = m_backupsView->GetArrangement();
}

void CMainFrame::ShowTrayIcon(bool show) {
  if (show) {
    if (TheApp().GetSettings().minimize_to_tray && !m_pTrayIcon)
      m_pTrayIcon = new CNotifyIcon(this, kTrayIconId, ProgramIconArt(22), "Tessarook", true);
    return;
  }
  if (m_pTrayIcon) {
    m_pTrayIcon->Remove();
    m_pTrayIcon->Destroy();  // deleted once its own events are done
    m_pTrayIcon = nullptr;
  }
}

bool CMainFrame::NotifyIfUnseen(const wxString& title, const wxString& message, bool error) {
  // A window in front of the user speaks for itself.
  const bool active = m_activeProbe ? m_activeProbe() : IsActive();
  if (IsShown() && !IsIconized() && active) return false;
  if (m_notifier) {
    m_notifier(title, message, error);
  } else {
    // Kept until the next one, so the notification is not withdrawn with it.
    m_notification = std::make_unique<wxNotificationMessage>(
        title, message, this, error ? wxICON_ERROR : wxICON_INFORMATION);
    m_notification->Show();
  }
  return true;
}

void CMainFrame::OnIconize(wxIconizeEvent& event) {
  event.Skip();
  if (!TheApp().GetSettings().minimize_to_tray) return;
  if (event.IsIconized()) {
    ShowTrayIcon(true);
    // Hide only behind an icon that is really there: with no notification
    // area the window stays an ordinary minimised window, or it could never
    // be brought back.
    if (m_pTrayIcon && m_pTrayIcon->IsShown())
      Hide();
    else
      ShowTrayIcon(false);
  } else {
    ReturnFromTray();
  }
}

void CMainFrame::OnTrayShow(wxCommandEvent&) { ReturnFromTray(); }

void CMainFrame::BringToFront() {
  ReturnFromTray();  // shown, restored and raised (presented to the window manager)
}

void CMainFrame::ReturnFromTray() {
  // A hidden window is placed anew when it is shown again (by the window
  // manager, say): put it back exactly where it was, maximised if it was.
  const bool fromTray = !IsShown();
  const wxRect placement = m_normalRect;
  const bool maximised = m_maximised;
  ShowTrayIcon(false);
  Show();
  if (IsIconized()) Iconize(false);
  if (fromTray && !placement.IsEmpty()) {
    SetSize(placement);
    if (maximised) Maximize();
  }
  Raise();
}

void CMainFrame::CyclePanes(int step) {
  std::vector<CListPane*> panes;
  if (!m_outer->IsPaneFolded(0)) panes.push_back(m_schemesView);
  if (!m_outer->IsPaneFolded(1)) {
    if (!m_inner->IsPaneFolded(0)) panes.push_back(m_filesView);
    if (!m_inner->IsPaneFolded(1)) panes.push_back(m_backupsView);
  }
  if (panes.empty()) return;
  int current = -1;
  for (wxWindow* w = wxWindow::FindFocus(); w && current < 0; w = w->GetParent())
    for (size_t i = 0; i < panes.size(); ++i)
      if (w == panes[i]) current = int(i);
  const int count = int(panes.size());
  const int next = current < 0 ? 0 : ((current + step) % count + count) % count;
  panes[size_t(next)]->FocusPane();
  UpdateFocusedPane(panes[size_t(next)]);
}

void CMainFrame::UpdateFocusedPane(wxWindow* focus) {
  wxWindow* pane = nullptr;
  for (wxWindow* w = focus; w && !pane; w = w->GetParent())
    if (w == m_schemesView || w == m_filesView || w == m_backupsView) pane = w;
  m_outer->SetFocusedPane(pane == m_schemesView ? 0 : -1);
  m_inner->SetFocusedPane(pane == m_filesView ? 0 : pane == m_backupsView ? 1 : -1);
}

void CMainFrame::UpdateLockIndicators() {
  static const wxKeyCode kKeys[3] = {WXK_CAPITAL, WXK_NUMLOCK, WXK_SCROLL};
  static const char* const kTexts[3] = {"CAP", "NUM", "SCRL"};
  wxStatusBar* bar = GetStatusBar();
  if (!bar) return;
  for (int i = 0; i < 3; ++i) {
    const bool on = wxGetKeyState(kKeys[i]);
    if (on == m_lockStates[i] && !bar->GetStatusText(STATUS_FIELD_CAPS + i).empty() == on) continue;
    m_lockStates[i] = on;
    bar->SetStatusText(on ? kTexts[i] : "", STATUS_FIELD_CAPS + i);
  }
}

}  // namespace tessarook
