// SPDX-License-Identifier: GPL-3.0-or-later
// What the Backup contents dialog shows, for its two views: the folder tree of
// the source paths (CBackupTree) and the flat list of paths sorted byte-wise.
// Both ask for rows only as they are shown, so a Backup of hundreds of
// thousands of files opens at once. Columns: the check box with the name (or
// path), the size, the last-write time. A check given in either view is a
// check of the manifest positions behind it.
#ifndef TESSAROOK_GUI_BACKUP_BACKUPCONTENTSMODELS_H
#define TESSAROOK_GUI_BACKUP_BACKUPCONTENTSMODELS_H

#include <wx/bmpbndl.h>
#include <wx/dataview.h>

#include <cstdint>
#include <string>
#include <vector>

#include "backup/BackupTree.h"

namespace tessarook {

// The facts both views show, kept by the dialog.
struct BackupContents {
  std::vector<std::string>* paths = nullptr;  // by manifest position
  std::vector<uint64_t> sizes;
  std::vector<int64_t> times;
  std::vector<bool> checked;
  CBackupTree tree;          // of the paths the filter lets through
  std::vector<size_t> rows;  // the same paths, byte-wise, for the list
};

enum BackupContentsColumn { kContentsName, kContentsSize, kContentsTime, kContentsColumns };

class CBackupTreeModel : public wxDataViewModel {
 public:
  explicit CBackupTreeModel(BackupContents& contents);

  static wxDataViewItem ItemOf(CBackupTree::NodeId id);
  static CBackupTree::NodeId NodeOf(const wxDataViewItem& item);

  unsigned GetColumnCount() const override { return kContentsColumns; }
  wxString GetColumnType(unsigned column) const override;
  void GetValue(wxVariant& value, const wxDataViewItem& item, unsigned column) const override;
  bool SetValue(const wxVariant& value, const wxDataViewItem& item, unsigned column) override;
  wxDataViewItem GetParent(const wxDataViewItem& item) const override;
  bool IsContainer(const wxDataViewItem& item) const override;
  bool HasContainerColumns(const wxDataViewItem&) const override { return true; }
  unsigned GetChildren(const wxDataViewItem& item, wxDataViewItemArray& children) const override;

 private:
  BackupContents& m_contents;
  wxBitmapBundle m_folderIcon;
  wxBitmapBundle m_fileIcon;
};

class CBackupListModel : public wxDataViewVirtualListModel {
 public:
  explicit CBackupListModel(BackupContents& contents);

  unsigned GetColumnCount() const override { return kContentsColumns; }
  wxString GetColumnType(unsigned column) const override;
  void GetValueByRow(wxVariant& value, unsigned row, unsigned column) const override;
  bool SetValueByRow(const wxVariant& value, unsigned row, unsigned column) override;

 private:
  BackupContents& m_contents;
  wxBitmapBundle m_fileIcon;
};

// Checks or unchecks one manifest position, the tree's counts included.
void CheckPosition(BackupContents& contents, size_t position, bool check);

// The width a column is made with (device-independent pixels).
int ContentsColumnWidth(unsigned column);

// A view's columns: the check box with the name, the size, the time.
void AddContentsColumns(wxDataViewCtrl* view, const wxString& nameTitle);

}  // namespace tessarook

#endif  // TESSAROOK_GUI_BACKUP_BACKUPCONTENTSMODELS_H
