// SPDX-License-Identifier: GPL-3.0-or-later
// "Files and Folders to Backup": the open Scheme's files and folders.
#ifndef TESSAROOK_GUI_FILES_FILESVIEW_H
#define TESSAROOK_GUI_FILES_FILESVIEW_H

#include <wx/imaglist.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/ListPane.h"
#include "files/EntryRow.h"
#include "files/FolderMonitors.h"
#include "files/IconKeys.h"

class wxMenu;

namespace tessarook {

class CFilesView : public CListPane {
 public:
  CFilesView(wxWindow* parent, wxWindowID id, CTessarookDoc* doc);
  ~CFilesView() override;

  // Rebuilds the rows from the Scheme (and, with autorefresh on, starts a
  // watcher for every location folder not yet watched).
  void OnDocumentUpdate() override;
  // Stops the change monitors of the Scheme's folders.
  void StopMonitors();
  size_t GetMonitorCount() const { return m_monitors.Count(); }

  // 1 by name, 2 by location (the setting's codes).
  int GetArrangement() const { return m_arrangement; }

  // The rows in the order shown, and the image each one shows.
  const std::vector<CEntryRow>& GetRows() const { return m_rows; }
  int GetRowImage(long row) const;
  const CIconKeys& GetIconKeys() const { return m_iconKeys; }
  int GetImageCount() const;
  // The first selected row, or -1.
  long GetSelectedRow() const;
  void SelectRow(long row);

  // Adds dropped paths as the shell gives them: a symbolic link counts as the
  // path it points to; a folder becomes a folder entry, anything else a file entry.
  void AddDroppedPaths(const std::vector<std::string>& paths);
  // A double-click on a row's column: on Location or Size it opens the row's
  // location folder. True when it did.
  bool OpenLocationAt(long row, long column);

  // Opens a path with the desktop's default application; tests replace it.
  using Launcher = std::function<bool(const std::string& path)>;
  void SetLauncher(Launcher launcher) { m_launch = std::move(launcher); }

 protected:
  wxString HintText() const override;

 private:
  void BindEvents();
  void InitImages();
  int ImageFor(const std::string& path, const CEntryRow& row);
  void AddEntryRow(const std::string& path, bool folder);
  void SchemeEdited();
  void QueueRefresh();

  void OnAddFiles();
  void OnAddFolder();
  void OnRemove();
  void OnOpen();
  void OnProperties();
  void OnContextMenu(wxContextMenuEvent& event);
  void OnMouseDoubleClick(wxMouseEvent& event);
  wxWindow* RowArea() const;
  wxMenu* MakeContextMenu(bool onRow) const;

  int m_arrangement = 1;
  std::vector<CEntryRow> m_rows;
  std::vector<int> m_rowImages;
  wxImageList m_largeImages;
  wxImageList m_smallImages;
  CIconKeys m_iconKeys;
  CFolderMonitors m_monitors;
  std::atomic<bool> m_refreshQueued{false};
  Launcher m_launch;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_FILES_FILESVIEW_H
