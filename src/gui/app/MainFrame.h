// SPDX-License-Identifier: GPL-3.0-or-later
// The program's main window: menus, toolbar, status bar and the three panes.
#ifndef TESSAROOK_GUI_APP_MAINFRAME_H
#define TESSAROOK_GUI_APP_MAINFRAME_H

#include <wx/frame.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <functional>
#include <memory>
#include <vector>

#include "scheme/TessarookDoc.h"

class wxToolBar;
class wxMenu;
class wxNotificationMessage;

namespace tessarook {

class CBiSplitterWnd;
class CSchemesView;
class CFilesView;
class CBackupsView;
class CNotifyIcon;
class CProgressDisplay;
class CWorkerThread;

class CMainFrame : public wxFrame, public IDocumentListener {
 public:
  explicit CMainFrame(CTessarookDoc* doc);
  ~CMainFrame() override;

  // Shell access for the panes and dialogs.
  CSchemesView* GetSchemesView() const { return m_schemesView; }
  CFilesView* GetFilesView() const { return m_filesView; }
  CBackupsView* GetBackupsView() const { return m_backupsView; }
  CBiSplitterWnd* GetOuterSplitter() const { return m_outer; }
  CBiSplitterWnd* GetInnerSplitter() const { return m_inner; }
  CTessarookDoc* GetDocument() const { return m_doc; }

  // True while any registered long file operation (backup, export, import)
  // runs. The owners of those workers register a probe; each is called on the
  // window thread and reads its worker's running flag.
  bool IsFileOperationRunning() const;
  void AddOperationProbe(std::function<bool()> probe);
  // Registers a file operation's worker (backup, export, import): it counts
  // for IsFileOperationRunning, and "Cancel" asks it to stop: with `stop` when
  // given, else with RequestStop. The worker must outlive the frame's use of
  // it (the views' workers do).
  void AddFileOperation(CWorkerThread* worker, std::function<void()> stop = {});

  // The status bar's progress bar, label and "Cancel" button.
  CProgressDisplay* GetProgressDisplay() const { return m_progress.get(); }

  // The backup properties dialog while it is open: the frame forwards the
  // commands of its pop-up menu to it.
  void SetPropertiesDialog(wxWindow* dialog) { m_propertiesDialog = dialog; }

  // The close checks in their order: the save prompt, then the question
  // about a running file operation. True when the window may close.
  bool CanClose();

  // The caption: document title, " - ", "Tessarook Backup".
  void UpdateCaption();
  // The recent Schemes in the "&Scheme" menu.
  void RebuildRecentMenu();

  // The placement kept in the profile store ("Settings/wstatus").
  void RestorePlacement();
  void SavePlacement();

  // Shows the window in front of the others: out of the tray or from
  // minimised, in the placement it had.
  void BringToFront();

  // Puts the tray icon up (only with minimize_to_tray on) or takes it down.
  void ShowTrayIcon(bool show);
  CNotifyIcon* GetTrayIcon() const { return m_pTrayIcon; }

  // A desktop notification about a file operation that ended while the user
  // was not looking at the window: it is hidden in the notification area,
  // minimised, or another window is the active one (window thread). Shown only
  // then; true when it was. The notifier and the test for an active window can
  // be replaced, e.g. by a test.
  using Notifier = std::function<void(const wxString& title, const wxString& message, bool error)>;
  bool NotifyIfUnseen(const wxString& title, const wxString& message, bool error);
  void SetNotifier(Notifier notifier) { m_notifier = std::move(notifier); }
  void SetActiveProbe(std::function<bool()> probe) { m_activeProbe = std::move(probe); }

  // Whether "&New Backup..." may run: a Scheme with files, nothing running.
  bool CanStartBackup() const;
  // Whether the "&Backup" menu's commands for one Backup may run: a Backup
  // selected in the open Scheme's list, nothing running.
  bool CanActOnBackup() const;
  // Whether "Sc&hedule..." may run: a saved Scheme is open, nothing running.
  bool CanSchedule() const;
  // The Schedule dialog for the open Scheme.
  void ShowSchedule();

  // IDocumentListener (window thread).
  void OnDocumentUpdated() override;
  void OnDocumentTitleChanged() override;
  void OnDocumentSaveAttempted() override;

  wxMenu* GetSchemeMenu() const { return m_schemeMenu; }

 private:
  void CreateMenus();
  void CreateToolbar();
  void CreateStatusFields();
  void CreatePanes();
  void BindCommands();
  void BindBackupMenu();
  void UpdateLockIndicators();
  void TrackNormalRect();
  void CopyViewStateToSettings();
  // F6 / Shift+F6: the focus goes to the next or previous pane that shows.
  void CyclePanes(int step);
  // Marks the caption of the pane that holds `focus` (a window that has or
  // takes the keyboard focus); none when no pane holds it.
  void UpdateFocusedPane(wxWindow* focus);

  void OnNewScheme(wxCommandEvent& event);
  void OnSettings(wxCommandEvent& event);
  void OnUserManual(wxCommandEvent& event);
  void OnRecentScheme(wxCommandEvent& event);
  void OnTrayShow(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnIconize(wxIconizeEvent& event);
  void OnMoveOrSize();
  // Shows the window again, in the placement it had before it went to the tray.
  void ReturnFromTray();

  // Weak: at program exit the document manager deletes the document before the
  // frame, whose destruction is delayed.
  wxWeakRef<CTessarookDoc> m_doc;
  CBiSplitterWnd* m_outer = nullptr;
  CBiSplitterWnd* m_inner = nullptr;
  CSchemesView* m_schemesView = nullptr;
  CFilesView* m_filesView = nullptr;
  CBackupsView* m_backupsView = nullptr;
  wxToolBar* m_toolbar = nullptr;
  wxMenu* m_schemeMenu = nullptr;
  CNotifyIcon* m_pTrayIcon = nullptr;
  wxWindow* m_propertiesDialog = nullptr;
  Notifier m_notifier;
  std::function<bool()> m_activeProbe;
  std::unique_ptr<wxNotificationMessage> m_notification;
  std::vector<std::function<bool()>> m_operationProbes;
  struct FileOperation {
    CWorkerThread* worker;
    std::function<void()> stop;
  };
  std::vector<FileOperation> m_fileOperations;
  std::unique_ptr<CProgressDisplay> m_progress;
  wxTimer m_lockTimer;
  wxRect m_normalRect;       // the last placement while shown, neither minimised nor maximised
  bool m_maximised = false;  // whether it was maximised then
  bool m_lockStates[3] = {false, false, false};
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_APP_MAINFRAME_H
