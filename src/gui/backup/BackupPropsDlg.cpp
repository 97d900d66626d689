// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/BackupPropsDlg.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dataview.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/srchctrl.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/utils.h>

#include <algorithm>
#include <chrono>

#include "app/CommandIds.h"
#include "backup/BackupCommandIds.h"
#include "shell/ThrottledProgress.h"

namespace tessarook {

namespace {

constexpr int kGaugeSteps = 10000;

wxString Utf8(const std::string& text) { return wxString::FromUTF8(text.c_str()); }

std::function<bool(const std::string&)>& Launcher() {
  static std::function<bool(const std::string&)> launcher = [](const std::string& path) {
    return wxLaunchDefaultApplication(Utf8(path));
  };
  return launcher;
}

// Preview copies of this run, removed with their folder when the program ends.
CPreviewFolder& PreviewFolder() {
  static CPreviewFolder folder;
  return folder;
}

// The restore's progress, posted to the dialog's bar (by bytes once they are
// known) and, as text, to the main window's status bar, at most ~20 times a
// second. Called on the worker thread; the dialog outlives the worker.
class CDialogProgress : public CThrottledProgress {
 public:
  explicit CDialogProgress(CBackupPropsDlg* dialog) : m_dialog(dialog) {}

 private:
  void Deliver(const ProgressCounts& counts) override {
    CBackupPropsDlg* dialog = m_dialog;
    dialog->CallAfter([dialog, counts] {
      const bool byBytes = counts.haveBytes && counts.bytesTotal;
      const uint64_t done = byBytes ? counts.bytes : counts.files;
      const uint64_t total = byBytes ? counts.bytesTotal : counts.filesTotal;
      const int value =
          total ? int(double(std::min(done, total)) * kGaugeSteps / double(total)) : 0;
      dialog->GetGauge()->SetValue(value);
      dialog->ShowRestoreProgress(counts.files, counts.filesTotal, counts.haveBytes, counts.bytes,
                                  counts.bytesTotal);
    });
  }

  CBackupPropsDlg* m_dialog;
};

// "path: reason" lines, at most ten, then how many more there are.
wxString ListFailures(const std::vector<RestoreFailure>& failures) {
  wxString text;
  for (size_t i = 0; i < failures.size(); ++i) {
    if (i == 10) {
      text += wxString::Format("... and %zu more\n", failures.size() - i);
      break;
    }
    text += Utf8(failures[i].path) + ": " + Utf8(failures[i].reason) + "\n";
  }
  return text;
}

}  // namespace

std::string ChosenPath(const wxFileDialog& dialog) {
  // The GTK dialog may leave the full path empty when the file was chosen by
  // other means than its own widgets; folder and name are always kept.
  wxString path = dialog.GetPath();
  if (path.empty() && !dialog.GetFilename().empty())
    path = wxFileName(dialog.GetDirectory(), dialog.GetFilename()).GetFullPath();
  return path.utf8_string();
}

void CBackupPropsDlg::SetLauncher(std::function<bool(const std::string&)> launcher) {
  Launcher() = std::move(launcher);
}

CBackupPropsDlg::CBackupPropsDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Backup contents: ", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  m_filter = new wxSearchCtrl(this, wxID_ANY);
  m_filter->SetDescriptiveText("Filter");
  m_filter->ShowCancelButton(true);
  m_showTree =
      new wxRadioButton(this, wxID_ANY, "&Folders", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
  m_showList = new wxRadioButton(this, wxID_ANY, "&List");
  m_tree = new wxDataViewCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxDV_SINGLE);
  m_flat = new wxDataViewCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxDV_SINGLE);
  m_treeModel = new CBackupTreeModel(m_contents);
  m_listModel = new CBackupListModel(m_contents);
  m_tree->AssociateModel(m_treeModel.get());
  AddContentsColumns(m_tree, "Name");
  AddContentsColumns(m_flat, "Path");
  // Long paths keep both ends, the file's name included; the Path column
  // takes the room the others leave, and a pointer on a row shows it whole.
  m_flat->GetColumn(kContentsName)->GetRenderer()->EnableEllipsize(wxELLIPSIZE_MIDDLE);
  m_flat->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    FitPathColumn();
  });
  m_flat->GetMainWindow()->Bind(wxEVT_MOTION, [this](wxMouseEvent& event) {
    event.Skip();
    const wxString tip = GetListTipAt(event.GetPosition());
    if (tip != m_flat->GetToolTipText()) {
      if (tip.empty())
        m_flat->UnsetToolTip();
      else
        m_flat->SetToolTip(tip);
    }
  });
  m_flat->Hide();
  m_gauge = new wxGauge(this, wxID_ANY, kGaugeSteps, wxDefaultPosition, wxDefaultSize,
                        wxGA_HORIZONTAL | wxGA_SMOOTH);
  m_summary = new wxStaticText(this, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                               wxST_ELLIPSIZE_END);
  m_restore = new wxButton(this, ID_BPDLG_RESTORE, "Restore selected files");
  m_close = new wxButton(this, wxID_CANCEL, "Close");

  auto* bottom = new wxBoxSizer(wxHORIZONTAL);
  // The progress bar while a restore runs; afterwards, in its place, how it ended.
  bottom->Add(m_gauge, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT | wxRESERVE_SPACE_EVEN_IF_HIDDEN,
              FromDIP(10));
  bottom->Add(m_summary, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, FromDIP(10));
  bottom->Add(m_restore, 0, wxRIGHT, FromDIP(6));
  bottom->Add(m_close, 0);
  auto* bar = new wxBoxSizer(wxHORIZONTAL);
  bar->Add(m_filter, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, FromDIP(10));
  bar->Add(m_showTree, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, FromDIP(6));
  bar->Add(m_showList, 0, wxALIGN_CENTER_VERTICAL);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(bar, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, FromDIP(10));
  top->Add(m_tree, 1, wxEXPAND | wxALL, FromDIP(10));
  top->Add(m_flat, 1, wxEXPAND | wxALL, FromDIP(10));
  top->Add(new wxStaticLine(this), 0, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(10));
  top->Add(bottom, 0, wxEXPAND | wxALL, FromDIP(10));
  SetSizer(top);
  SetSize(ConvertDialogToPixels(wxSize(400, 260)));
  m_gauge->Hide();
  SetEscapeId(wxID_CANCEL);

  m_restore->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { StartRestore(); });
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { CancelOrClose(); }, wxID_CANCEL);
  Bind(wxEVT_CLOSE_WINDOW, &CBackupPropsDlg::OnClose, this);
  for (wxDataViewCtrl* view : {m_tree, m_flat}) {
    view->Bind(wxEVT_DATAVIEW_ITEM_CONTEXT_MENU, &CBackupPropsDlg::OnContextMenu, this);
    view->Bind(wxEVT_DATAVIEW_SELECTION_CHANGED, &CBackupPropsDlg::OnSelectionChanged, this);
    view->Bind(wxEVT_DATAVIEW_ITEM_ACTIVATED, [this](wxDataViewEvent&) {
      if (!IsRestoring() && SelectedPosition() >= 0) Preview();
    });
    // A check changes the folders above and the rows below: both views redraw.
    view->Bind(wxEVT_DATAVIEW_ITEM_VALUE_CHANGED, [this](wxDataViewEvent&) { RefreshViews(); });
  }
  m_showTree->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { ShowTree(true); });
  m_showList->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { ShowTree(false); });
  // Typing filters after a short pause; Enter at once.
  m_filterTimer.SetOwner(this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ApplyFilter(); });
  m_filter->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { m_filterTimer.StartOnce(250); });
  m_filter->Bind(wxEVT_SEARCH, [this](wxCommandEvent&) { ApplyFilter(); });
  m_filter->Bind(wxEVT_SEARCH_CANCEL, [this](wxCommandEvent&) { SetFilter(wxString()); });
  // The pop-up commands, from the menu itself or passed on by the main frame.
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent& e) {
        if (IsRestoring()) return;
        switch (e.GetId()) {
          case ID_BPD_PREVIEW:
            Preview();
            break;
          case ID_BPD_RESTORE_ELSEWHERE:
            RestoreElsewhere();
            break;
          case ID_BPD_SELECT_ALL:
            SelectAll(true);
            break;
          case ID_BPD_SELECT_NONE:
            SelectAll(false);
            break;
        }
      },
      ID_BPD_RESTORE_ELSEWHERE, ID_BPD_PREVIEW);
}

CBackupPropsDlg::~CBackupPropsDlg() {
  m_worker.Cancel();
  m_worker.Wait();
}

bool CBackupPropsDlg::Load(wxString& error) {
  SetTitle("Backup contents: " + m_strName);
  m_contents.paths = &m_archive.paths;
  m_contents.rows.clear();
  m_contents.checked.clear();
  m_sorted.clear();
  m_treeOrder.clear();
  m_selectedPosition = -1;
  if (!m_archive.Open(m_backupPath)) {
    error = "The Backup file doesn't exist";
    return false;
  }
  if (!m_archive.ReadManifest()) {
    error = "The Backup appears to be damaged or incomplete";
    return false;
  }
  // A damaged list still shows, and restores, the files it could name.
  m_damageNotice.clear();
  if (!m_archive.Damage().empty())
    m_damageNotice =
        "The Backup appears to be damaged or incomplete\n\nThe list shows the files that could "
        "be read from it.";
  m_archive.ReadEntryFacts(m_contents.sizes, m_contents.times);
  m_contents.checked.assign(m_archive.paths.size(), m_bRestoreMode);
  // Sorted once for the tree; the list is byte-wise by path, which is mostly
  // the same order. Equal paths stay in manifest order in both.
  m_treeOrder = TreeOrder(m_archive.paths);
  m_sorted = m_treeOrder;
  ToByteOrder(m_archive.paths, m_sorted);
  m_appliedFilter = m_filter->GetValue();
  m_appliedFilter += "\n";  // differs from any filter: ApplyFilter builds
  ApplyFilter();
  m_gauge->SetValue(0);
  SyncControls();
  return true;
}

void CBackupPropsDlg::ApplyFilter() {
  m_filterTimer.Stop();
  const wxString text = m_filter->GetValue();
  if (text == m_appliedFilter) return;
  m_appliedFilter = text;
  const std::string filter = text.utf8_string();
  m_contents.tree.Build(m_archive.paths, m_treeOrder, m_contents.sizes, m_contents.times,
                        m_contents.checked, filter);
  m_contents.rows.clear();
  for (size_t position : m_sorted)
    if (ContainsFolded(m_archive.paths[position], filter)) m_contents.rows.push_back(position);
  m_treeModel->Cleared();
  m_listModel->Reset(unsigned(m_contents.rows.size()));
  // The tree opens down to where it branches: a Backup of one home folder
  // shows that folder's contents at once.
  CBackupTree::NodeId node = CBackupTree::kRoot;
  for (std::vector<CBackupTree::NodeId> children = m_contents.tree.Children(node);
       children.size() == 1 && m_contents.tree.IsFolder(children[0]);
       children = m_contents.tree.Children(node)) {
    node = children[0];
    m_tree->Expand(CBackupTreeModel::ItemOf(node));
  }
  // The selected file stays selected while the filter lets it through.
  const int64_t selected = m_selectedPosition;
  m_selectedPosition = -1;
  if (selected >= 0 && m_contents.tree.NodeOf(size_t(selected)) != CBackupTree::kRoot)
    SelectNode(m_contents.tree.NodeOf(size_t(selected)));
}

void CBackupPropsDlg::SetFilter(const wxString& text) {
  m_filter->ChangeValue(text);
  ApplyFilter();
}

void CBackupPropsDlg::ShowTree(bool tree) {
  if (!tree && !m_listAttached) {
    // Made when first asked for: a long list costs a moment to set up.
    m_flat->AssociateModel(m_listModel.get());
    m_listAttached = true;
  }
  m_showTree->SetValue(tree);
  m_showList->SetValue(!tree);
  m_tree->Show(tree);
  m_flat->Show(!tree);
  Layout();
  const int64_t selected = m_selectedPosition;
  if (selected >= 0) {
    if (tree)
      SelectNode(m_contents.tree.NodeOf(size_t(selected)));
    else
      for (int row = 0; row < GetRowCount(); ++row)
        if (GetRowPosition(row) == size_t(selected)) SelectRow(row);
  }
}

void CBackupPropsDlg::FitPathColumn() {
  // A column not yet drawn tells no width: it then has the one it was made with.
  int others = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, m_flat) + FromDIP(4);
  for (unsigned column : {kContentsSize, kContentsTime}) {
    const int width = m_flat->GetColumn(column)->GetWidth();
    others += width > 0 ? width : FromDIP(ContentsColumnWidth(column));
  }
  const int width = std::max(FromDIP(200), m_flat->GetClientSize().x - others);
  if (m_flat->GetColumn(kContentsName)->GetWidth() != width)
    m_flat->GetColumn(kContentsName)->SetWidth(width);
}

wxString CBackupPropsDlg::GetListTipAt(const wxPoint& point) const {
  if (!m_listAttached) return wxString();
  wxDataViewItem item;
  wxDataViewColumn* column = nullptr;
  m_flat->HitTest(point, item, column);
  if (!item.IsOk() || column == nullptr || column->GetModelColumn() != kContentsName)
    return wxString();
  const unsigned row = m_listModel->GetRow(item);
  return row < m_contents.rows.size() ? Utf8(m_archive.paths[m_contents.rows[row]]) : wxString();
}

bool CBackupPropsDlg::IsTreeShown() const { return m_tree->IsShown(); }

void CBackupPropsDlg::RefreshViews() {
  m_tree->Refresh();
  m_flat->Refresh();
}

int CBackupPropsDlg::ShowModal() {
  wxString error;
  if (!Load(error)) {
    wxMessageBox(error, "Error", wxOK | wxICON_ERROR, GetParent());
    return wxID_NONE;
  }
  if (!m_damageNotice.empty())
    wxMessageBox(m_damageNotice, "Error", wxOK | wxICON_WARNING, GetParent());
  CentreOnParent();
  return wxDialog::ShowModal();
}

int CBackupPropsDlg::GetRowCount() const { return int(m_contents.rows.size()); }

std::string CBackupPropsDlg::GetRowPath(int row) const {
  return m_archive.paths[m_contents.rows[size_t(row)]];
}

size_t CBackupPropsDlg::GetRowPosition(int row) const { return m_contents.rows[size_t(row)]; }

bool CBackupPropsDlg::IsRowChecked(int row) const {
  return m_contents.checked[GetRowPosition(row)];
}

void CBackupPropsDlg::CheckRow(int row, bool check) {
  CheckPosition(m_contents, GetRowPosition(row), check);
  RefreshViews();
}

void CBackupPropsDlg::CheckNode(CBackupTree::NodeId node, bool check) {
  m_contents.tree.SetChecked(node, check, m_contents.checked);
  RefreshViews();
}

int64_t CBackupPropsDlg::SelectedPosition() const { return m_selectedPosition; }

int CBackupPropsDlg::GetSelectedRow() const {
  if (m_selectedPosition < 0) return wxNOT_FOUND;
  for (int row = 0; row < GetRowCount(); ++row)
    if (GetRowPosition(row) == size_t(m_selectedPosition)) return row;
  return wxNOT_FOUND;
}

void CBackupPropsDlg::SelectRow(int row) {
  if (row < 0 || row >= GetRowCount()) {
    m_selectedPosition = -1;
    m_tree->UnselectAll();
    m_flat->UnselectAll();
    return;
  }
  m_selectedPosition = int64_t(GetRowPosition(row));
  if (m_listAttached) {
    m_flat->Select(m_listModel->GetItem(unsigned(row)));
    m_flat->EnsureVisible(m_listModel->GetItem(unsigned(row)));
  }
  const CBackupTree::NodeId node = m_contents.tree.NodeOf(size_t(m_selectedPosition));
  if (node != CBackupTree::kRoot) {
    m_tree->Select(CBackupTreeModel::ItemOf(node));
    m_tree->EnsureVisible(CBackupTreeModel::ItemOf(node));
  }
}

void CBackupPropsDlg::SelectNode(CBackupTree::NodeId node) {
  if (node == CBackupTree::kRoot || node >= m_contents.tree.NodeCount()) return;
  const int64_t position = m_contents.tree.Position(node);
  if (position >= 0) {
    for (int row = 0; row < GetRowCount(); ++row)
      if (GetRowPosition(row) == size_t(position)) return SelectRow(row);
  }
  m_selectedPosition = -1;
  m_flat->UnselectAll();
  m_tree->Select(CBackupTreeModel::ItemOf(node));
  m_tree->EnsureVisible(CBackupTreeModel::ItemOf(node));
}

CBackupTree::NodeId CBackupPropsDlg::GetSelectedNode() const {
  if (IsTreeShown()) return CBackupTreeModel::NodeOf(m_tree->GetSelection());
  return m_selectedPosition < 0 ? CBackupTree::kRoot
                                : m_contents.tree.NodeOf(size_t(m_selectedPosition));
}

void CBackupPropsDlg::OnSelectionChanged(wxDataViewEvent& event) {
  const wxDataViewItem item = event.GetItem();
  if (event.GetEventObject() == m_flat) {
    m_selectedPosition =
        item.IsOk() ? int64_t(m_contents.rows[m_listModel->GetRow(item)]) : int64_t(-1);
    return;
  }
  const CBackupTree::NodeId node = CBackupTreeModel::NodeOf(item);
  m_selectedPosition = item.IsOk() && node < m_contents.tree.NodeCount()
                           ? m_contents.tree.Position(node)
                           : int64_t(-1);
}

void CBackupPropsDlg::SelectAll(bool check) {
  // Everything the filter lets through.
  m_contents.tree.SetChecked(CBackupTree::kRoot, check, m_contents.checked);
  RefreshViews();
}

wxMenu* CBackupPropsDlg::BuildPopupMenu(bool onRow) {
  auto* menu = new wxMenu;
  if (onRow) {
    menu->Append(ID_BPD_PREVIEW, "&Preview the file");
    menu->Append(ID_BPD_RESTORE_ELSEWHERE, "&Restore the file elsewhere...");
    menu->AppendSeparator();
  }
  menu->Append(ID_BPD_SELECT_ALL, "Select &all");
  menu->Append(ID_BPD_SELECT_NONE, "Select &none");
  return menu;
}

void CBackupPropsDlg::OnContextMenu(wxDataViewEvent& event) {
  if (IsRestoring()) return;
  auto* view = dynamic_cast<wxDataViewCtrl*>(event.GetEventObject());
  const wxDataViewItem item = event.GetItem();
  if (view && item.IsOk()) view->Select(item);
  if (view) {
    wxDataViewEvent changed(wxEVT_DATAVIEW_SELECTION_CHANGED, view, item);
    OnSelectionChanged(changed);
  }
  // The file commands for a file; a folder or the space beside the rows gets
  // the check commands only.
  std::unique_ptr<wxMenu> menu(BuildPopupMenu(item.IsOk() && SelectedPosition() >= 0));
  PopupMenu(menu.get());
}

void CBackupPropsDlg::Preview() {
  const int64_t position = SelectedPosition();
  if (position < 0) return;
  std::string temp;
  std::string error;
  // A copy that cannot be made simply does not open.
  if (CRestoreJob::ExtractPreviewCopy(m_archive, size_t(position), PreviewFolder(), temp, error) &&
      !Launcher()(temp))
    wxMessageBox("No program could be found to open the file " +
                     Utf8(LastPathComponent(m_archive.paths[size_t(position)])) + ".",
                 "Error", wxOK | wxICON_ERROR, this);
}

void CBackupPropsDlg::RestoreElsewhere() {
  const int64_t position = SelectedPosition();
  if (position < 0) return;
  const std::string fileName = LastPathComponent(m_archive.paths[size_t(position)]);
  // Replacing a file the user picked here is what was asked for: no question.
  wxFileDialog dialog(GetParent() ? GetParent() : this, wxString(), wxString(), Utf8(fileName),
                      "All Files (*.*)|*", wxFD_SAVE);
  if (dialog.ShowModal() != wxID_OK) return;
  std::string error;
  if (!CRestoreJob::ExtractPosition(m_archive, size_t(position), ChosenPath(dialog), error))
    wxMessageBox("The file could not be restored.\n" + Utf8(error), "Error", wxOK | wxICON_ERROR,
                 this);
}

bool CBackupPropsDlg::StartRestore() {
  if (IsRestoring()) return false;
  // Every checked file, also those the filter hides now; in the list's order.
  std::vector<size_t> positions;
  for (size_t position : m_sorted)
    if (m_contents.checked[position]) positions.push_back(position);
  auto refused = std::make_shared<std::vector<RestoreFailure>>();
  auto items = std::make_shared<std::vector<RestoreItem>>(
      CRestoreJob::Plan(m_archive, positions, std::string(), *refused));
  m_gauge->SetValue(0);
  m_summary->SetLabel(wxString());
  m_busy = true;
  SyncControls();
  auto sink = std::make_shared<CDialogProgress>(this);
  m_restoreStart = std::chrono::steady_clock::now();
  m_restoreRate.Reset();
  m_restoreBytes = [sink] { return sink->Bytes(); };
  const bool started = m_worker.StartTask([this, items, refused, sink] {
    // Worker thread: the archive is used by nothing else meanwhile.
    RestoreResult result = CRestoreJob::Run(m_archive, *items, &m_worker.CancelFlag(), sink.get());
    result.failed.insert(result.failed.begin(), refused->begin(), refused->end());
    CallAfter([this, result] { OnRestoreDone(result); });
    return 0;
  });
  if (!started) {
    m_busy = false;
    SyncControls();
  }
  return started;
}

void CBackupPropsDlg::ShowRestoreProgress(uint64_t filesDone, uint64_t filesTotal, bool haveBytes,
                                          uint64_t bytesDone, uint64_t bytesTotal) {
  m_restoreRate.Add(bytesDone, std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - m_restoreStart)
                                   .count());
  auto* frame = dynamic_cast<wxFrame*>(GetParent());
  if (!frame || !frame->GetStatusBar() || !IsRestoring()) return;
  frame->GetStatusBar()->SetStatusText(
      Utf8(ByteProgressText(filesDone, filesTotal, haveBytes && bytesTotal > 0, bytesDone,
                            bytesTotal, m_restoreRate.Rate())),
      0);
}

OperationSummary CBackupPropsDlg::GetRestoreSummary() const {
  OperationSummary summary;
  summary.what = "Restore of \"" + m_strName.utf8_string() + "\"";
  summary.outcome = m_lastRestore.cancelled ? OperationSummary::Outcome::kCancelled
                                            : OperationSummary::Outcome::kDone;
  summary.files = m_lastRestore.restored.size();
  // The failures are counted as skipped below; the breakdown says what became of the rest.
  RestoreResult handled;
  handled.created = m_lastRestore.created;
  handled.replaced = m_lastRestore.replaced;
  handled.same = m_lastRestore.same;
  if (summary.files) summary.breakdown = RestoreSummaryText(handled);
  summary.bytes = m_restoreBytes ? m_restoreBytes() : 0;
  summary.seconds = m_restoreSeconds;
  size_t damaged = 0;
  for (const RestoreFailure& failure : m_lastRestore.failed) {
    summary.skipped.emplace_back(failure.path, failure.reason);
    if (failure.damaged) ++damaged;
  }
  // Damage in the Backup is a failure of the restore, never a file merely left out.
  if (damaged && !m_lastRestore.cancelled) {
    summary.outcome = OperationSummary::Outcome::kFailed;
    summary.error = "the Backup is damaged (" + std::to_string(damaged) +
                    (damaged == 1 ? " file" : " files") + " could not be read)";
  }
  return summary;
}

void CBackupPropsDlg::OnRestoreDone(RestoreResult result) {
  m_restoreSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_restoreStart).count();
  // Window thread; the worker thread is about to end.
  m_worker.Wait();
  m_busy = false;
  m_lastRestore = std::move(result);
  ++m_finishedRestores;
  const wxString summary = Utf8(RestoreSummaryText(m_lastRestore));
  m_summary->SetLabel((m_lastRestore.cancelled ? "Cancelled: " : "Restored: ") + summary + ".");
  SyncControls();
  if (!m_lastRestore.cancelled && !m_lastRestore.failed.empty())
    wxMessageBox("These files could not be restored:\n" + ListFailures(m_lastRestore.failed) +
                     "\n" + summary + ".",
                 "Error", wxOK | wxICON_ERROR, this);
}

void CBackupPropsDlg::SyncControls() {
  const bool busy = IsRestoring();
  for (wxWindow* control :
       std::initializer_list<wxWindow*>{m_tree, m_flat, m_filter, m_showTree, m_showList})
    control->Enable(!busy);
  m_restore->Enable(!busy);
  m_close->SetLabel(busy ? "Cancel" : "Close");
  m_gauge->Show(busy);
  m_summary->Show(!busy);
  Layout();
  // The restore button had the focus and lost it while disabled: give it back,
  // or no key (Escape included) would reach the dialog.
  wxWindow* focus = FindFocus();
  if (!busy && IsShown() && (focus == nullptr || wxGetTopLevelParent(focus) != this))
    m_restore->SetFocus();
}

void CBackupPropsDlg::CancelOrClose() {
  if (IsRestoring()) {
    // Stops after the file being written (a file cut short is removed); the
    // dialog stays open and turns idle when the end arrives.
    m_worker.Cancel();
    return;
  }
  if (IsModal())
    EndModal(wxID_CANCEL);
  else
    Hide();
}

void CBackupPropsDlg::OnClose(wxCloseEvent& event) {
  // Every way of closing acts as Cancel.
  if (IsRestoring() && event.CanVeto()) {
    event.Veto();
    m_worker.Cancel();
    return;
  }
  CancelOrClose();
}

}  // namespace tessarook
