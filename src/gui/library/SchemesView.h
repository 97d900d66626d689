// SPDX-License-Identifier: GPL-3.0-or-later
// "My Schemes": the Schemes of the My Schemes folder, with the library's
// commands (open, rename, duplicate, delete, export, import, refresh).
#ifndef TESSAROOK_GUI_LIBRARY_SCHEMESVIEW_H
#define TESSAROOK_GUI_LIBRARY_SCHEMESVIEW_H

#include <wx/imaglist.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>

#include "app/ListPane.h"
#include "backup/TaskWorker.h"
#include "library/ExchangeProgressBridge.h"
#include "library/SchemeExportWorker.h"
#include "library/SchemeImportWorker.h"
#include "library/SchemeLibrary.h"
#include "library/SchemeRecord.h"
#include "monitor/FolderWatcher.h"

class wxListEvent;

namespace tessarook {

class CMainFrame;

class CSchemesView : public CListPane {
 public:
  CSchemesView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc);
  ~CSchemesView() override;

  // Rebuilds the list of Schemes from the My Schemes folder.
  void FillList();
  // What the status columns show for a listed Scheme: 1 its last Backup, 2
  // its next, 3 its off-site copy; and whether it is marked.
  wxString GetStatusText(const wxString& name, int column) const;
  bool NeedsAttention(const wxString& name) const;
  // The tip a pointer at `point` (the list's client coordinates) shows: the
  // Scheme's name, its last Backup and the next one due; empty off the rows.
  wxString GetTipAt(const wxPoint& point) const;
  // A Scheme was opened, created or closed: rebuild, and (with autorefresh on)
  // start watching the My Schemes folder unless a watcher still runs.
  void OnDocumentUpdate() override;

  // Index of the selected item, or -1.
  long GetSelectedIndex() const;
  // The selected Scheme's name; empty when nothing is selected.
  wxString GetSelectedName() const;
  // Selects the Scheme of that name; false when it is not listed.
  bool SelectName(const wxString& name);
  wxString GetItemName(long index) const;

  // The commands (window thread).
  void OpenSelected();
  void DeleteSelected();
  // With an empty name: asks for one with the name dialog. With a name (an
  // in-place edit): checks it and asks before replacing another Scheme.
  void RenameScheme(const wxString& newName);
  void DuplicateSelected();
  void ExportSelected();
  void ImportScheme();
  // "Import Scheme" once the file is chosen (also a .csm file the program was started with).
  void ImportSchemeFile(const std::string& csmPath);

  // Whether export and import may start (no file operation runs).
  bool CanExchange() const;

  // Copies (Duplicate) or moves by copying (Rename across file systems) a
  // Scheme with its Backups on the worker, with the status bar's progress and
  // "Cancel". False when another file operation runs.
  bool StartLibraryCopy(const std::string& oldName, const std::string& newName, bool rename);
  bool IsCopyRunning() const { return m_copy.IsRunning(); }
  LibraryResult GetLastCopyResult() const { return m_lastCopy; }

  CSchemeExportWorker& GetExportWorker() { return m_export; }
  CSchemeImportWorker& GetImportWorker() { return m_import; }
  const CFolderWatcher& GetWatcher() const { return m_watcher; }
  // How many exports and imports have ended and been reported so far.
  unsigned GetEndedRuns() const { return m_endedRuns; }

 protected:
  wxString HintText() const override;

 private:
  void BindEvents();
  void OnSize(wxSizeEvent& event);
  void OnContextMenu(wxContextMenuEvent& event);
  void OnEndLabelEdit(wxListEvent& event);
  void OnExportEnded();
  void OnImportEnded();
  void QueueFill();
  void StartWatcher();
  // Says so when the operation was refused because a Backup of a Scheme it
  // concerns is being written; true then.
  bool SayIfBusy(LibraryResult result);

  CMainFrame* Frame() const;
  CSchemeLibrary Library() const;
  std::string SchemesDir() const;
  // Registers the workers with the frame's busy rules and "Cancel" (once).
  void RegisterWorkers();
  void ShowProgress();
  void HideProgress();

  wxImageList m_images;
  // A Scheme's record and timer follow it: renamed or duplicated (`copy`) to
  // `newFile`, or deleted (`newFile` empty).
  // What carries a Scheme's schedule record and timer through Delete, Rename
  // and Duplicate, and the message when that did not work out.
  SchemeFollower ScheduleFollower() const;
  void SayIfNotFollowed(const std::string& error);
  std::map<std::string, SchemeStatus> m_status;  // by Scheme name
  int m_timerKind = -1;                          // TimerKind, -1 until asked
  void OnCopyEnded(LibraryResult result, std::string newName, bool rename, double seconds,
                   uint64_t bytes);

  // The status bar's word on an export or import that ended (code 1: stopped).
  void ShowExchangeSummary(bool exporting, int code, uint32_t records,
                           const std::vector<std::string>& skipped, const char* error);

  std::string m_exchangeName;
  std::chrono::steady_clock::time_point m_exchangeStart;
  CTaskWorker m_copy;
  LibraryResult m_lastCopy = LibraryResult::kDone;
  CSchemeExportWorker m_export;
  CSchemeImportWorker m_import;
  CExchangeProgressBridge m_exportProgress;
  CExchangeProgressBridge m_importProgress;
  CFolderWatcher m_watcher;
  std::atomic<bool> m_fillQueued{false};
  bool m_registered = false;
  unsigned m_endedRuns = 0;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_LIBRARY_SCHEMESVIEW_H
