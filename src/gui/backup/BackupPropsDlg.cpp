// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/BackupPropsDlg.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checklst.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/utils.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <numeric>

#include "app/CommandIds.h"
#include "backup/BackupCommandIds.h"

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
class CDialogProgress : public IProgressSink {
 public:
  explicit CDialogProgress(CBackupPropsDlg* dialog) : m_dialog(dialog) {}
  void OnProgress(uint64_t done, uint64_t total) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files = {done, total};
    Post(m_first || done == 0 || done >= total);
    m_first = false;
  }
  void OnBytes(uint64_t done, uint64_t total) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bytes = {done, total};
    const bool edge = !m_haveBytes || done >= total;
    m_haveBytes = true;
    Post(edge);
  }
  uint64_t Bytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes.first;
  }

 private:
  // With m_mutex held.
  void Post(bool edge) {
    const auto now = std::chrono::steady_clock::now();
    if (!edge && now - m_last < std::chrono::milliseconds(50)) return;
    m_last = now;
    CBackupPropsDlg* dialog = m_dialog;
    const auto files = m_files;
    const auto bytes = m_bytes;
    const bool haveBytes = m_haveBytes;
    dialog->CallAfter([dialog, files, bytes, haveBytes] {
      const auto [done, total] = haveBytes && bytes.second ? bytes : files;
      const int value =
          total ? int(double(std::min(done, total)) * kGaugeSteps / double(total)) : 0;
      dialog->GetGauge()->SetValue(value);
      dialog->ShowRestoreProgress(files.first, files.second, haveBytes, bytes.first, bytes.second);
    });
  }

  CBackupPropsDlg* m_dialog;
  mutable std::mutex m_mutex;
  std::chrono::steady_clock::time_point m_last;
  std::pair<uint64_t, uint64_t> m_files{0, 0};
  std::pair<uint64_t, uint64_t> m_bytes{0, 0};
  bool m_first = true;
  bool m_haveBytes = false;
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
  m_list = new wxCheckListBox(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, nullptr,
                              wxLB_SINGLE | wxLB_NEEDED_SB | wxLB_HSCROLL);
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
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(m_list, 1, wxEXPAND | wxALL, FromDIP(10));
  top->Add(new wxStaticLine(this), 0, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(10));
  top->Add(bottom, 0, wxEXPAND | wxALL, FromDIP(10));
  SetSizer(top);
  SetSize(ConvertDialogToPixels(wxSize(302, 218)));
  m_gauge->Hide();
  SetEscapeId(wxID_CANCEL);

  m_restore->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { StartRestore(); });
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { CancelOrClose(); }, wxID_CANCEL);
  Bind(wxEVT_CLOSE_WINDOW, &CBackupPropsDlg::OnClose, this);
  m_list->Bind(wxEVT_CONTEXT_MENU, &CBackupPropsDlg::OnContextMenu, this);
  m_list->Bind(wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) {
    if (!IsRestoring()) Preview();
  });
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
  m_list->Clear();
  m_rowPositions.clear();
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
  // Sorted byte-wise by path; equal paths stay in manifest order.
  std::vector<size_t> order(m_archive.paths.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(),
                   [this](size_t a, size_t b) { return m_archive.paths[a] < m_archive.paths[b]; });
  wxArrayString rows;
  for (size_t position : order) rows.Add(Utf8(m_archive.paths[position]));
  m_list->Append(rows);
  m_rowPositions = std::move(order);
  for (int row = 0; row < GetRowCount(); ++row) m_list->Check(row, m_bRestoreMode);
  m_gauge->SetValue(0);
  SyncControls();
  return true;
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

int CBackupPropsDlg::GetRowCount() const { return int(m_list->GetCount()); }

std::string CBackupPropsDlg::GetRowPath(int row) const {
  return m_archive.paths[m_rowPositions[size_t(row)]];
}

bool CBackupPropsDlg::IsRowChecked(int row) const { return m_list->IsChecked(row); }

void CBackupPropsDlg::CheckRow(int row, bool check) { m_list->Check(row, check); }

int CBackupPropsDlg::GetSelectedRow() const { return m_list->GetSelection(); }

void CBackupPropsDlg::SelectRow(int row) { m_list->SetSelection(row); }

void CBackupPropsDlg::SelectAll(bool check) {
  for (int row = 0; row < GetRowCount(); ++row) m_list->Check(row, check);
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

void CBackupPropsDlg::OnContextMenu(wxContextMenuEvent& event) {
  if (IsRestoring()) return;
  wxPoint screen = event.GetPosition();
  if (screen == wxDefaultPosition) screen = m_list->ClientToScreen(wxPoint(0, 0));
  const int row = m_list->HitTest(m_list->ScreenToClient(screen));
  if (row == wxNOT_FOUND)
    m_list->SetSelection(wxNOT_FOUND);
  else
    m_list->SetSelection(row);
  std::unique_ptr<wxMenu> menu(BuildPopupMenu(row != wxNOT_FOUND));
  PopupMenu(menu.get(), ScreenToClient(screen));
}

void CBackupPropsDlg::Preview() {
  const int row = GetSelectedRow();
  if (row == wxNOT_FOUND) return;
  std::string temp;
  std::string error;
  // A copy that cannot be made simply does not open.
  if (CRestoreJob::ExtractPreviewCopy(m_archive, GetRowPosition(row), PreviewFolder(), temp,
                                      error) &&
      !Launcher()(temp))
    wxMessageBox("No program could be found to open the file " +
                     Utf8(LastPathComponent(GetRowPath(row))) + ".",
                 "Error", wxOK | wxICON_ERROR, this);
}

void CBackupPropsDlg::RestoreElsewhere() {
  const int row = GetSelectedRow();
  if (row == wxNOT_FOUND) return;
  const std::string fileName = LastPathComponent(GetRowPath(row));
  // Replacing a file the user picked here is what was asked for: no question.
  wxFileDialog dialog(GetParent() ? GetParent() : this, wxString(), wxString(), Utf8(fileName),
                      "All Files (*.*)|*", wxFD_SAVE);
  if (dialog.ShowModal() != wxID_OK) return;
  std::string error;
  if (!CRestoreJob::ExtractPosition(m_archive, GetRowPosition(row), ChosenPath(dialog), error))
    wxMessageBox("The file could not be restored.\n" + Utf8(error), "Error", wxOK | wxICON_ERROR,
                 this);
}

bool CBackupPropsDlg::StartRestore() {
  if (IsRestoring()) return false;
  std::vector<size_t> positions;
  for (int row = 0; row < GetRowCount(); ++row)
    if (IsRowChecked(row)) positions.push_back(GetRowPosition(row));
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
  m_list->Enable(!busy);
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
