// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/BackupContentsModels.h"

#include <wx/artprov.h>

#include "shell/StatusTexts.h"

namespace tessarook {

namespace {

wxString Utf8(std::string_view text) { return wxString::FromUTF8(text.data(), text.size()); }

wxCheckBoxState StateOf(CBackupTree::Check check) {
  switch (check) {
    case CBackupTree::Check::kAll:
      return wxCHK_CHECKED;
    case CBackupTree::Check::kSome:
      return wxCHK_UNDETERMINED;
    case CBackupTree::Check::kNone:
      break;
  }
  return wxCHK_UNCHECKED;
}

wxString TypeOf(unsigned column) {
  return column == kContentsName ? wxDataViewCheckIconTextRenderer::GetDefaultType()
                                 : wxString("string");
}

void SizeAndTime(wxVariant& value, unsigned column, uint64_t size, int64_t time) {
  if (column == kContentsSize)
    value = Utf8(FormatFileSize(size));
  else
    value = time ? Utf8(MomentText(time)) : wxString();
}

// An unchecked or partly checked box becomes checked, a checked one unchecked.
bool Checks(const wxVariant& value) {
  wxDataViewCheckIconText given;
  given << value;
  return given.GetCheckedState() != wxCHK_UNCHECKED;
}

wxBitmapBundle Icon(const wxArtID& id) { return wxArtProvider::GetBitmapBundle(id, wxART_LIST); }

}  // namespace

CBackupTreeModel::CBackupTreeModel(BackupContents& contents)
    : m_contents(contents), m_folderIcon(Icon(wxART_FOLDER)), m_fileIcon(Icon(wxART_NORMAL_FILE)) {}

wxDataViewItem CBackupTreeModel::ItemOf(CBackupTree::NodeId id) {
  return wxDataViewItem(reinterpret_cast<void*>(uintptr_t(id)));
}

CBackupTree::NodeId CBackupTreeModel::NodeOf(const wxDataViewItem& item) {
  return CBackupTree::NodeId(reinterpret_cast<uintptr_t>(item.GetID()));
}

wxString CBackupTreeModel::GetColumnType(unsigned column) const { return TypeOf(column); }

void CBackupTreeModel::GetValue(wxVariant& value, const wxDataViewItem& item,
                                unsigned column) const {
  const CBackupTree& tree = m_contents.tree;
  const CBackupTree::NodeId id = NodeOf(item);
  if (id == CBackupTree::kRoot || id >= tree.NodeCount()) return;
  if (column == kContentsName) {
    value << wxDataViewCheckIconText(Utf8(tree.Name(id)),
                                     tree.IsFolder(id) ? m_folderIcon : m_fileIcon,
                                     StateOf(tree.CheckState(id)));
    return;
  }
  SizeAndTime(value, column, tree.Size(id), tree.Time(id));
}

bool CBackupTreeModel::SetValue(const wxVariant& value, const wxDataViewItem& item,
                                unsigned column) {
  const CBackupTree::NodeId id = NodeOf(item);
  if (column != kContentsName || id == CBackupTree::kRoot) return false;
  m_contents.tree.SetChecked(id, Checks(value), m_contents.checked);
  return true;
}

wxDataViewItem CBackupTreeModel::GetParent(const wxDataViewItem& item) const {
  const CBackupTree::NodeId id = NodeOf(item);
  if (id == CBackupTree::kRoot || id >= m_contents.tree.NodeCount()) return wxDataViewItem();
  return ItemOf(m_contents.tree.Parent(id));
}

bool CBackupTreeModel::IsContainer(const wxDataViewItem& item) const {
  const CBackupTree::NodeId id = NodeOf(item);
  return id == CBackupTree::kRoot ||
         (id < m_contents.tree.NodeCount() && m_contents.tree.IsFolder(id));
}

unsigned CBackupTreeModel::GetChildren(const wxDataViewItem& item,
                                       wxDataViewItemArray& children) const {
  const CBackupTree::NodeId id = NodeOf(item);
  if (id >= m_contents.tree.NodeCount()) return 0;
  const std::vector<CBackupTree::NodeId> nodes = m_contents.tree.Children(id);
  children.reserve(nodes.size());
  for (CBackupTree::NodeId child : nodes) children.push_back(ItemOf(child));
  return unsigned(nodes.size());
}

CBackupListModel::CBackupListModel(BackupContents& contents)
    : wxDataViewVirtualListModel(unsigned(contents.rows.size())),
      m_contents(contents),
      m_fileIcon(Icon(wxART_NORMAL_FILE)) {}

wxString CBackupListModel::GetColumnType(unsigned column) const { return TypeOf(column); }

void CBackupListModel::GetValueByRow(wxVariant& value, unsigned row, unsigned column) const {
  if (row >= m_contents.rows.size()) return;
  const size_t position = m_contents.rows[row];
  if (column == kContentsName) {
    value << wxDataViewCheckIconText(
        Utf8((*m_contents.paths)[position]), m_fileIcon,
        m_contents.checked[position] ? wxCHK_CHECKED : wxCHK_UNCHECKED);
    return;
  }
  SizeAndTime(value, column, m_contents.sizes[position], m_contents.times[position]);
}

bool CBackupListModel::SetValueByRow(const wxVariant& value, unsigned row, unsigned column) {
  if (column != kContentsName || row >= m_contents.rows.size()) return false;
  const size_t position = m_contents.rows[row];
  CheckPosition(m_contents, position, Checks(value));
  return true;
}

void CheckPosition(BackupContents& contents, size_t position, bool check) {
  // Through the tree, so that its folders count the change.
  const CBackupTree::NodeId node = contents.tree.NodeOf(position);
  if (node != CBackupTree::kRoot)
    contents.tree.SetChecked(node, check, contents.checked);
  else if (position < contents.checked.size())
    contents.checked[position] = check;
}

int ContentsColumnWidth(unsigned column) {
  return column == kContentsName ? 360 : column == kContentsSize ? 80 : 130;
}

void AddContentsColumns(wxDataViewCtrl* view, const wxString& nameTitle) {
  auto* check = new wxDataViewCheckIconTextRenderer();
  view->AppendColumn(new wxDataViewColumn(nameTitle, check, kContentsName,
                                          view->FromDIP(ContentsColumnWidth(kContentsName)),
                                          wxALIGN_LEFT, wxDATAVIEW_COL_RESIZABLE));
  view->AppendTextColumn("Size", kContentsSize, wxDATAVIEW_CELL_INERT,
                         view->FromDIP(ContentsColumnWidth(kContentsSize)), wxALIGN_RIGHT,
                         wxDATAVIEW_COL_RESIZABLE);
  view->AppendTextColumn("Modified", kContentsTime, wxDATAVIEW_CELL_INERT,
                         view->FromDIP(ContentsColumnWidth(kContentsTime)), wxALIGN_LEFT,
                         wxDATAVIEW_COL_RESIZABLE);
}

}  // namespace tessarook
