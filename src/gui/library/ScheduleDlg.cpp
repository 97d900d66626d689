// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/ScheduleDlg.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/stdpaths.h>
#include <wx/textctrl.h>

#include <ctime>

#include "app/TessarookApp.h"
#include "settings/UserPlaces.h"
#include "shell/StatusTexts.h"
#include "util/OpenBeneath.h"

namespace tessarook {

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
const Schedule kSchedules[] = {Schedule::kOff, Schedule::kHourly, Schedule::kDaily,
                               Schedule::kWeekly};
unsigned KeepPolicy::*const kKeepFields[5] = {&KeepPolicy::last, &KeepPolicy::hourly,
                                              &KeepPolicy::daily, &KeepPolicy::weekly,
                                              &KeepPolicy::monthly};

wxString Utf8(const std::string& text) { return wxString::FromUTF8(text.c_str()); }

int64_t Now() { return int64_t(time(nullptr)) * kNsPerSecond; }

wxString When(int64_t ns) { return Utf8(MomentText(ns, true)); }

// The remote choice for a folder on this computer (a remote set as a plain
// path elsewhere, e.g. a mounted disk).
const char kThisComputer[] = "(this computer)";

// The width the remote's notes wrap at (device-independent pixels).
constexpr int kTextWidth = 460;

}  // namespace

std::string AppRecordsFile() {
  return CSchemeRecords::FileBeside(TheApp().GetSettings().GetSettingsPath());
}

CScheduler AppScheduler() {
  const wxString exe = wxStandardPaths::Get().GetExecutablePath();
  const std::string dir = FolderOf(exe.utf8_string());
  const std::string settings = TheApp().GetSettings().GetSettingsPath();
  // The timer's Backups read the same settings as this window.
  const bool own = settings == FindUserPlaces().settingsFile;
  return CScheduler(FindCliProgram(dir), UserConfigHome(), own ? std::string() : settings);
}

CScheduleDlg::CScheduleDlg(wxWindow* parent, std::string schemeFile, std::string schemesDir)
    : wxDialog(parent, wxID_ANY, "Schedule"),
      m_schemeFile(std::move(schemeFile)),
      m_instance(ScheduleInstance(schemesDir, m_schemeFile)),
      m_records(AppRecordsFile()),
      m_scheduler(AppScheduler()) {
  m_record = m_records.Get(m_schemeFile);
  m_timer = m_scheduler.Query(m_instance, m_record.schedule);
  m_backups = CBackupStore(m_schemeFile).List();
  SetTitle("Schedule - " + Utf8(ScheduleInstance(schemesDir, m_schemeFile)));

  const int gap = FromDIP(6);
  const int margin = FromDIP(12);
  auto* top = new wxBoxSizer(wxVERTICAL);

  auto* when = new wxStaticBoxSizer(wxVERTICAL, this, "Back up automatically");
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(when->GetStaticBox(), wxID_ANY, "Back up automatically:"), 0,
           wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  m_schedule = new wxChoice(when->GetStaticBox(), wxID_ANY);
  for (const char* text : {"off", "hourly", "daily", "weekly"}) m_schedule->Append(text);
  row->Add(m_schedule, 0, wxALIGN_CENTER_VERTICAL);
  when->Add(row, 0, wxALL, gap);
  m_next = new wxStaticText(when->GetStaticBox(), wxID_ANY, wxString());
  when->Add(m_next, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
  m_last = new wxStaticText(when->GetStaticBox(), wxID_ANY, GetLastBackupText());
  when->Add(m_last, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
  top->Add(when, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);

  auto* keep = new wxStaticBoxSizer(wxVERTICAL, this, "Keep rules, applied after every Backup");
  keep->Add(new wxStaticText(keep->GetStaticBox(), wxID_ANY,
                             "A Backup is kept when any rule keeps it; 0 leaves a rule out.\n"
                             "Without any rule every Backup is kept."),
            0, wxALL, gap);
  auto* grid = new wxFlexGridSizer(3, gap, gap);
  const char* const labels[5][2] = {{"Keep the last", "Backups"},
                                    {"Keep one per hour for", "hours"},
                                    {"Keep one per day for", "days"},
                                    {"Keep one per week for", "weeks"},
                                    {"Keep one per month for", "months"}};
  for (int i = 0; i < 5; ++i) {
    grid->Add(new wxStaticText(keep->GetStaticBox(), wxID_ANY, labels[i][0]), 0,
              wxALIGN_CENTER_VERTICAL);
    m_keep[i] = new wxSpinCtrl(keep->GetStaticBox(), wxID_ANY, wxEmptyString, wxDefaultPosition,
                               wxDefaultSize, wxSP_ARROW_KEYS, 0, 1000000, 0);
    grid->Add(m_keep[i], 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(new wxStaticText(keep->GetStaticBox(), wxID_ANY, labels[i][1]), 0,
              wxALIGN_CENTER_VERTICAL);
  }
  keep->Add(grid, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
  m_previewLabel = new wxStaticText(keep->GetStaticBox(), wxID_ANY, wxString());
  keep->Add(m_previewLabel, 0, wxLEFT | wxRIGHT, gap);
  m_preview =
      new wxListBox(keep->GetStaticBox(), wxID_ANY, wxDefaultPosition, FromDIP(wxSize(360, 110)));
  keep->Add(m_preview, 1, wxEXPAND | wxALL, gap);
  top->Add(keep, 1, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);

  // The remote: the user's rclone remotes, as rclone lists them now.
  m_remotes = ListRcloneRemotes();
  auto* offsite = new wxStaticBoxSizer(wxVERTICAL, this, "Off-site copy, made after every Backup");
  wxWindow* box = offsite->GetStaticBox();
  auto* remoteRow = new wxBoxSizer(wxHORIZONTAL);
  remoteRow->Add(new wxStaticText(box, wxID_ANY, "Copy to remote:"), 0,
                 wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  m_remoteName = new wxChoice(box, wxID_ANY);
  m_remoteName->Append("(none)");
  for (const RcloneRemote& r : m_remotes.remotes) m_remoteName->Append(Utf8(r.name + ":"));
  remoteRow->Add(m_remoteName, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  remoteRow->Add(new wxStaticText(box, wxID_ANY, "Folder:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT,
                 gap);
  m_remotePath =
      new wxTextCtrl(box, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(180, -1)));
  remoteRow->Add(m_remotePath, 1, wxALIGN_CENTER_VERTICAL);
  offsite->Add(remoteRow, 0, wxEXPAND | wxALL, gap);
  m_remoteNote = new wxStaticText(box, wxID_ANY, wxString());
  offsite->Add(m_remoteNote, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
  m_lastPush = new wxStaticText(box, wxID_ANY, GetLastPushText());
  // rclone's reasons can be long: they wrap rather than widen the dialog.
  m_lastPush->Wrap(FromDIP(kTextWidth));
  offsite->Add(m_lastPush, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
  top->Add(offsite, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, margin);

  top->Add(CreateSeparatedButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, margin);
  SetSizerAndFit(top);

  SetSchedule(m_record.schedule);
  SetKeep(m_record.keep);
  SetRemote(m_record.remote);
  m_remoteName->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { UpdateRemote(); });
  m_remotePath->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { UpdateRemote(); });
  m_schedule->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { UpdateNextRun(); });
  for (wxSpinCtrl* spin : m_keep) {
    spin->Bind(wxEVT_SPINCTRL, [this](wxSpinEvent&) { UpdatePreview(); });
    spin->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { UpdatePreview(); });
  }
  Bind(
      wxEVT_BUTTON,
      [this](wxCommandEvent&) {
        if (Apply()) EndModal(wxID_OK);
      },
      wxID_OK);
  Layout();
  Fit();
  CentreOnParent();
}

Schedule CScheduleDlg::GetSchedule() const {
  const int at = m_schedule->GetSelection();
  return at >= 0 && at < 4 ? kSchedules[at] : Schedule::kOff;
}

void CScheduleDlg::SetSchedule(Schedule schedule) {
  for (int i = 0; i < 4; ++i)
    if (kSchedules[i] == schedule) m_schedule->SetSelection(i);
  UpdateNextRun();
}

KeepPolicy CScheduleDlg::GetKeep() const {
  KeepPolicy keep;
  for (int i = 0; i < 5; ++i) keep.*kKeepFields[i] = unsigned(std::max(0, m_keep[i]->GetValue()));
  return keep;
}

void CScheduleDlg::SetKeep(const KeepPolicy& keep) {
  for (int i = 0; i < 5; ++i) m_keep[i]->SetValue(int(keep.*kKeepFields[i]));
  UpdatePreview();
}

std::vector<std::string> CScheduleDlg::GetPreview() const {
  std::vector<std::string> names;
  for (const BackupInfo& b : BackupsToPrune(m_schemeFile, GetKeep())) names.push_back(b.name);
  return names;
}

wxString CScheduleDlg::GetPreviewText() const { return m_previewLabel->GetLabel(); }

wxString CScheduleDlg::GetNextRunText() const { return m_next->GetLabel(); }

wxString CScheduleDlg::GetLastBackupText() const {
  if (m_record.lastEnd == BackupEnd::kNone) return "Last Backup: none recorded yet";
  wxString text = "Last Backup: \"" + Utf8(m_record.lastName) + "\", " + When(m_record.lastTaken) +
                  ": " + BackupEndText(m_record.lastEnd);
  if (!m_record.lastError.empty()) text += " (" + Utf8(m_record.lastError) + ")";
  return text;
}

void CScheduleDlg::UpdateNextRun() {
  const Schedule chosen = GetSchedule();
  wxString text;
  if (chosen == Schedule::kOff) {
    text = "Next run: none (Backups are taken only when you ask)";
  } else if (chosen == m_record.schedule && m_timer.enabled && m_timer.nextRun) {
    text = "Next run: " + When(m_timer.nextRun);
  } else {
    text = "Next run: " + When(NextScheduledRun(chosen, Now(), m_timer.kind == TimerKind::kCron)) +
           " (once you press OK)";
  }
  if (chosen != Schedule::kOff) {
    if (m_timer.kind == TimerKind::kSystemd)
      text += "\nby the systemd user timer " + Utf8(TimerUnitName(m_instance));
    else if (m_timer.kind == TimerKind::kCron)
      text += "\nby a line in your crontab";
    else
      text += "\nNo systemd user manager runs and there is no crontab: nothing can start it.";
  }
  m_next->SetLabel(text);
  Layout();
}

std::string CScheduleDlg::GetRemote() const {
  const int at = m_remoteName->GetSelection();
  if (at <= 0) return {};
  const std::string path = m_remotePath->GetValue().utf8_string();
  if (m_remoteName->GetString(at) == kThisComputer) return path;
  return m_remoteName->GetString(at).utf8_string() + path;
}

void CScheduleDlg::SetRemote(const std::string& remote) {
  std::string name, path;
  SplitRemote(remote, name, path);
  int at = 0;
  if (!remote.empty()) {
    // A remote set elsewhere that rclone does not list (any more), or a
    // folder on this computer, is offered as it is, so OK keeps it.
    const wxString item = name.empty() ? wxString(kThisComputer) : Utf8(name + ":");
    at = m_remoteName->FindString(item, true);
    if (at == wxNOT_FOUND) at = int(m_remoteName->Append(item));
  }
  m_remoteName->SetSelection(at);
  m_remotePath->ChangeValue(remote.empty() ? wxString() : Utf8(path));
  UpdateRemote();
}

std::vector<std::string> CScheduleDlg::GetRemoteChoices() const {
  std::vector<std::string> out;
  for (unsigned i = 0; i < m_remoteName->GetCount(); ++i)
    out.push_back(m_remoteName->GetString(i).utf8_string());
  return out;
}

wxString CScheduleDlg::GetRemoteNote() const { return m_note; }

wxString CScheduleDlg::GetLastPushText() const {
  if (m_record.remote.empty()) return "Last copy: none (no remote chosen)";
  if (m_record.pushEnd == PushEnd::kNone) return "Last copy: none yet";
  wxString text = "Last copy: " + When(m_record.pushStarted) + " to " + Utf8(m_record.remote) +
                  ": " + PushEndText(m_record.pushEnd);
  if (!m_record.pushError.empty()) text += " (" + Utf8(m_record.pushError) + ")";
  const BackupInfo* newest = NewestBackup(m_backups);
  if (IsRemoteBehind(m_record, newest ? newest->creationTime : 0))
    text += "\nThe copy lacks the newest Backup; the next Backup copies it.";
  return text;
}

void CScheduleDlg::UpdateRemote() {
  m_remotePath->Enable(m_remoteName->GetSelection() > 0);
  wxString note;
  if (m_remotes.rcloneMissing) {
    wxString missing = Utf8(kRcloneMissingText);
    missing[0] = wxToupper(missing[0]);
    note = missing + ".";
  } else if (!m_remotes.error.empty()) {
    note = "The remotes could not be listed: " + Utf8(m_remotes.error);
  }
  const std::string remote = GetRemote();
  if (!remote.empty() && !m_remotes.rcloneMissing && !m_remotes.Encrypts(remote)) {
    std::string name, path;
    SplitRemote(remote, name, path);
    note += wxString(note.empty() ? "" : "\n") + "The copies will be stored unencrypted: " +
            (name.empty() ? wxString("a folder on this computer") : Utf8(name)) +
            " is not an rclone crypt remote.";
  }
  m_note = note;
  m_remoteNote->SetLabel(note);
  m_remoteNote->Wrap(FromDIP(kTextWidth));
  m_remoteNote->Show(!note.empty());
  Layout();
}

void CScheduleDlg::UpdatePreview() {
  m_preview->Clear();
  const KeepPolicy keep = GetKeep();
  if (!keep.Any()) {
    m_previewLabel->SetLabel("No rule: every Backup is kept.");
    return;
  }
  size_t judged = 0;
  const std::vector<BackupInfo> gone = BackupsToPrune(m_schemeFile, keep, &judged);
  m_previewLabel->SetLabel(gone.empty() ? wxString("These rules delete no Backup now.")
                                        : wxString::Format("These rules would delete %zu of %zu "
                                                           "Backups now:",
                                                           gone.size(), judged));
  for (const BackupInfo& b : gone)
    m_preview->Append(Utf8(b.name + "  (" + BackupTimeText(b) + ")"));
}

bool CScheduleDlg::Apply() {
  const Schedule schedule = GetSchedule();
  const KeepPolicy keep = GetKeep();
  const std::string remote = GetRemote();
  const Schedule before = m_record.schedule;
  std::string error;
  // The timer first: the record never says "on" for a timer that is not there.
  if ((schedule != before || (schedule != Schedule::kOff && !m_timer.enabled)) &&
      !m_scheduler.Apply(m_instance, schedule, &error)) {
    wxMessageBox("The Scheme could not be scheduled.\n" + Utf8(error), "Schedule",
                 wxOK | wxICON_ERROR, this);
    return false;
  }
  const int64_t now = Now();
  const bool stored = m_records.Update(
      m_schemeFile,
      [&](SchemeRecord& r) {
        if (schedule != Schedule::kOff && r.schedule != schedule) r.scheduledSince = now;
        r.schedule = schedule;
        r.keep = keep;
        r.SetRemote(remote);
      },
      &error);
  if (!stored) {
    wxMessageBox("The schedule could not be stored.\n" + Utf8(error), "Schedule",
                 wxOK | wxICON_ERROR, this);
    return false;
  }
  m_record = m_records.Get(m_schemeFile);
  return true;
}

}  // namespace tessarook
