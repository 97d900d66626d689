// SPDX-License-Identifier: GPL-3.0-or-later
// "Available Backups": the open Scheme's Backups, and the commands that take,
// rename, copy, delete, open, restore and export them.
#ifndef TESSAROOK_GUI_BACKUP_BACKUPSVIEW_H
#define TESSAROOK_GUI_BACKUP_BACKUPSVIEW_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ListPane.h"
#include "backup/BackupJob.h"
#include "backup/BackupStore.h"
#include "backup/BackupVerifier.h"
#include "backup/TaskWorker.h"
#include "backup/ZipExport.h"
#include "library/SchemePush.h"
#include "monitor/FolderWatcher.h"
#include "shell/StatusTexts.h"

class wxMenu;
class wxImageList;

namespace tessarook {

class CMainFrame;
class CBackupPropsDlg;
class CCancelAwareSink;

class CBackupsView : public CListPane {
 public:
  // filesInScheme tells how many rows the files view lists; the hint and
  // "&New Backup..." need it.
  CBackupsView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc,
               std::function<int()> filesInScheme);
  ~CBackupsView() override;

  // A Scheme was opened, created, changed or closed: watch its Backups
  // folder (with autorefresh on) and list it again.
  void OnDocumentUpdate() override;

  // Lists the Backups folder again in the current arrangement.
  void RefreshList();

  // 0 none, 1 by name, 2 by time, 3 by size (the setting's codes).
  int GetArrangement() const { return m_arrangement; }
  void SetArrangement(int arrangement);

  // The Backup file of `name` in the open Scheme ("" without a Scheme).
  std::string GetBackupPath(const std::string& name) const;
  // The Backups folder of the open Scheme ("" without a Scheme).
  std::string GetBackupsFolder() const;

  // The names as listed, top to bottom.
  std::vector<std::string> GetListedNames() const;
  // The selected Backup's name; "" when none is selected.
  std::string GetSelectedName() const;
  // Selects the row of that name; false when it is not listed.
  bool SelectName(const std::string& name);

  // The commands (window thread). Each acts on the selected Backup.
  // The name dialog, then StartBackup. `forScheme`: the dialog's title names
  // the Scheme (when the window that shows it may not be in view: the tray).
  void NewBackup(bool forScheme = false);
  // The name dialog with the current time as the name, then StartBackup.
  void BackUpNow();
  // Checks the selected Backup on the worker thread (StartVerify).
  void VerifySelected();
  void DeleteSelected();  // asks first
  void RenameSelected();  // by the name dialog
  void DuplicateSelected();
  void ShowProperties(bool restoreMode);  // the contents dialog
  void ExportSelectedToZip();             // asks for the target, then StartExport
  // The in-place rename: asks before replacing another Backup.
  void RenameBackup(const std::string& newName);

  // Takes a Backup of the open Scheme under `name` on the worker thread;
  // with `reread`, every file is read (nothing is copied from the Backup
  // before). False when one is still running or no Scheme is open.
  bool StartBackup(const std::string& name, bool reread = false);
  // Writes the named Backup as a plain ZIP to `target` on the worker thread.
  bool StartExport(const std::string& name, const std::string& target);
  // Reads every entry of the named Backup on the worker thread; the end shows
  // in the status bar and in a message (each damaged entry by its path).
  bool StartVerify(const std::string& name);
  // The result of the latest verification.
  const VerifyResult& GetLastVerifyResult() const { return m_lastVerify; }

  // True while the backup or export worker runs.
  bool IsWorkerRunning() const { return m_worker.IsRunning(); }
  // Counts the worker runs whose end the window thread has handled.
  int GetFinishedRuns() const { return m_finishedRuns; }
  // The contents dialog while it is shown.
  CBackupPropsDlg* GetPropertiesDialog() const { return m_dialog; }
  // The result of the latest Backup taken.
  const BackupJobResult& GetLastBackupResult() const { return m_lastBackup; }

  // The pop-up menu for a click on a row (true) or on empty space.
  wxMenu* BuildPopupMenu(bool onItem) const;

 protected:
  wxString HintText() const override;

 private:
  void BindCommands();
  void SetUpImages();
  void RestartWatcher();
  CMainFrame* Frame() const;
  bool NoOperationRunning() const;
  bool HasFilesToBackUp() const;
  void OnContextMenu(wxContextMenuEvent& event);
  void OnEndLabelEdit(wxListEvent& event);
  void OnWorkerDone();
  // Says so when a name operation was refused because a Backup of a name it
  // touches is being written (by another program).
  void SayIfBusy(StoreResult result);
  // A desktop notification when the window is hidden in the tray.
  void NotifyBackupEnd(const std::string& name, const BackupJobResult& result);
  // The push that followed a Backup: a few words for the status bar, and its
  // failure told to the user.
  static std::string PushSummary(const SchemePush& push);
  void ReportPush(const SchemePush& push);
  void ShowProgress();
  std::shared_ptr<CCancelAwareSink> MakeSink();
  void ShowSummary(const OperationSummary& summary);

  std::function<int()> m_filesInScheme;
  int m_arrangement = 2;
  CFolderWatcher m_watcher;
  std::string m_watchedFolder;
  CTaskWorker m_worker;
  bool m_workerRegistered = false;
  int m_finishedRuns = 0;
  BackupJobResult m_lastBackup;
  VerifyResult m_lastVerify;
  CBackupPropsDlg* m_dialog = nullptr;
  bool m_quietSelection = false;      // a refresh selects the row again
  std::vector<BackupInfo> m_backups;  // row i shows m_backups[i]
  wxImageList* m_largeImages = nullptr;
  wxImageList* m_smallImages = nullptr;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_BACKUP_BACKUPSVIEW_H
