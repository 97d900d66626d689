// SPDX-License-Identifier: GPL-3.0-or-later
// "Backup contents: NAME": the source paths of one Backup's files as a folder
// tree or as a flat sorted list, each row with a check box, its size and its
// last-write time, and a filter; preview, restore one file elsewhere, restore
// the checked files (checking a folder checks everything below it).
#ifndef TESSAROOK_GUI_BACKUP_BACKUPPROPSDLG_H
#define TESSAROOK_GUI_BACKUP_BACKUPPROPSDLG_H

#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "backup/BackupArchive.h"
#include "backup/BackupContentsModels.h"
#include "backup/RestoreJob.h"
#include "backup/TaskWorker.h"
#include "shell/StatusTexts.h"
#include "util/ProgressText.h"

class wxDataViewCtrl;
class wxDataViewEvent;
class wxRadioButton;
class wxSearchCtrl;
class wxGauge;
class wxButton;
class wxMenu;
class wxFileDialog;

namespace tessarook {

class CBackupPropsDlg : public wxDialog {
 public:
  // Set the Backup name, its path and the restore mode before ShowModal.
  explicit CBackupPropsDlg(wxWindow* parent);
  ~CBackupPropsDlg() override;

  // Opens the Backup and reads its manifest; on failure shows the "Error"
  // message and returns wxID_NONE without showing the dialog.
  int ShowModal() override;

  // Opens the archive and fills the list (ShowModal does this). False with
  // the user's message in `error` when the Backup cannot be read.
  bool Load(wxString& error);
  // After Load: the warning ShowModal gives before the dialog appears when
  // the Backup's list of files is damaged ("" when it is whole).
  const wxString& GetDamageNotice() const { return m_damageNotice; }

  // The rows of the list: the source paths the filter lets through, sorted
  // byte-wise, each keeping its manifest position, so a path stored twice
  // restores each copy from its own entry. The selection is shared with the
  // folder tree.
  int GetRowCount() const;
  std::string GetRowPath(int row) const;
  size_t GetRowPosition(int row) const;
  bool IsRowChecked(int row) const;
  void CheckRow(int row, bool check);
  int GetSelectedRow() const;
  void SelectRow(int row);

  // The folder tree of the same paths.
  const CBackupTree& GetTreeModel() const { return m_contents.tree; }
  // Checks or unchecks a tree node: a folder with everything below it.
  void CheckNode(CBackupTree::NodeId node, bool check);
  // Selects a node in the tree, opening the folders above it.
  void SelectNode(CBackupTree::NodeId node);
  // The file or folder selected in the view shown (kRoot for none).
  CBackupTree::NodeId GetSelectedNode() const;
  // Shows the folder tree (true) or the list.
  void ShowTree(bool tree);
  bool IsTreeShown() const;
  // Shows only the paths holding `text` (letters in either case), in both views.
  void SetFilter(const wxString& text);

  // The commands of the pop-up menu (also reached through the main frame).
  void SelectAll(bool check);
  void Preview();
  void RestoreElsewhere();
  // Starts restoring the checked rows to their source paths. False while a
  // restore runs.
  bool StartRestore();
  // Close, or while restoring: stop the restore and stay open.
  void CancelOrClose();

  // The controls follow the restore worker: list and restore button only
  // while idle, "Cancel" instead of "Close" and the progress bar while busy.
  void SyncControls();
  bool IsRestoring() const { return m_worker.IsRunning() || m_busy; }
  // Counts the restores whose end the window thread has handled.
  int GetFinishedRestores() const { return m_finishedRestores; }
  // What the latest restore could not write.
  const RestoreResult& GetLastRestore() const { return m_lastRestore; }
  // The latest restore as the status bar tells it: files, bytes, time, and
  // the files that were not restored, with why.
  OperationSummary GetRestoreSummary() const;
  // A restore's progress as text in the main window's status bar (window thread).
  void ShowRestoreProgress(uint64_t filesDone, uint64_t filesTotal, bool haveBytes,
                           uint64_t bytesDone, uint64_t bytesTotal);

  // The pop-up menu for a click on a row (true) or beside the rows.
  static wxMenu* BuildPopupMenu(bool onRow);

  // The full path shown as the list's tip at a point of it (its client
  // coordinates): empty off the Path column or beside the rows.
  wxString GetListTipAt(const wxPoint& point) const;

  wxDataViewCtrl* GetList() const { return m_flat; }
  wxDataViewCtrl* GetTree() const { return m_tree; }
  wxSearchCtrl* GetFilterBox() const { return m_filter; }
  wxButton* GetRestoreButton() const { return m_restore; }
  wxButton* GetCloseButton() const { return m_close; }
  wxGauge* GetGauge() const { return m_gauge; }
  // Where the end of the latest restore is told: how many files were
  // created, replaced, already identical and not restored.
  wxStaticText* GetSummary() const { return m_summary; }

  // How a preview copy is opened; the desktop's default application unless
  // replaced (the tests do, so nothing is launched). False when no program
  // could open it.
  static void SetLauncher(std::function<bool(const std::string&)> launcher);

  wxString m_strName;        // the Backup's name, for the caption
  std::string m_backupPath;  // its file
  bool m_bRestoreMode = false;

 private:
  void OnContextMenu(wxDataViewEvent& event);
  void OnSelectionChanged(wxDataViewEvent& event);
  void ApplyFilter();
  void RefreshViews();
  // The Path column takes the width the list's other columns leave.
  void FitPathColumn();
  // The selected file's manifest position, or -1 when no file is selected.
  int64_t SelectedPosition() const;
  void OnRestoreDone(RestoreResult result);
  void OnClose(wxCloseEvent& event);

  CBackupArchive m_archive;
  BackupContents m_contents;
  std::vector<size_t> m_sorted;     // every position, byte-wise by path
  std::vector<size_t> m_treeOrder;  // every position, in TreeOrder
  wxObjectDataPtr<CBackupTreeModel> m_treeModel;
  wxObjectDataPtr<CBackupListModel> m_listModel;
  bool m_listAttached = false;      // the list gets its model when first shown
  int64_t m_selectedPosition = -1;  // the file selected in either view
  wxString m_appliedFilter;
  wxTimer m_filterTimer;
  wxSearchCtrl* m_filter = nullptr;
  wxRadioButton* m_showTree = nullptr;
  wxRadioButton* m_showList = nullptr;
  wxDataViewCtrl* m_tree = nullptr;
  wxDataViewCtrl* m_flat = nullptr;
  wxGauge* m_gauge = nullptr;
  wxStaticText* m_summary = nullptr;
  wxButton* m_restore = nullptr;
  wxButton* m_close = nullptr;
  CTaskWorker m_worker;
  bool m_busy = false;  // from the start of a restore until its end is handled
  int m_finishedRestores = 0;
  RestoreResult m_lastRestore;
  std::chrono::steady_clock::time_point m_restoreStart;
  double m_restoreSeconds = 0;
  std::function<uint64_t()> m_restoreBytes;  // bytes restored by the latest run
  CRateMeter m_restoreRate;
  wxString m_damageNotice;
};

// The path a save dialog ended with.
std::string ChosenPath(const wxFileDialog& dialog);

}  // namespace tessarook

#endif  // TESSAROOK_GUI_BACKUP_BACKUPPROPSDLG_H
