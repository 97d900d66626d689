// SPDX-License-Identifier: GPL-3.0-or-later
// "Schedule": when the open Scheme is backed up by itself, which of its
// Backups are kept after each Backup (with what those rules would delete now),
// how its last Backup ended, and the remote every Backup is copied to
// afterwards (one of the user's rclone remotes and a folder on it) with how
// the last copy went.
#ifndef TESSAROOK_GUI_LIBRARY_SCHEDULEDLG_H
#define TESSAROOK_GUI_LIBRARY_SCHEDULEDLG_H

#include <wx/dialog.h>

#include <string>
#include <vector>

#include "backup/BackupStore.h"
#include "library/Scheduler.h"
#include "library/SchemePush.h"
#include "library/SchemeRecord.h"

class wxChoice;
class wxListBox;
class wxSpinCtrl;
class wxStaticText;
class wxTextCtrl;

namespace tessarook {

// The records file beside the settings file in use.
std::string AppRecordsFile();
// The scheduler for this program: the tessarook-cli installed beside it.
CScheduler AppScheduler();

class CScheduleDlg : public wxDialog {
 public:
  CScheduleDlg(wxWindow* parent, std::string schemeFile, std::string schemesDir);

  // The choices as shown.
  Schedule GetSchedule() const;
  void SetSchedule(Schedule schedule);  // as if the user chose it
  KeepPolicy GetKeep() const;
  void SetKeep(const KeepPolicy& keep);  // as if the user typed it
  // The Backups the preview names (would be deleted by the rules now).
  std::vector<std::string> GetPreview() const;
  wxString GetPreviewText() const;
  wxString GetNextRunText() const;
  wxString GetLastBackupText() const;

  // The remote as chosen: "REMOTE:PATH", "" for none.
  std::string GetRemote() const;
  void SetRemote(const std::string& remote);  // as if the user chose it
  // The remotes offered ("(none)" first, then "name:" for each).
  std::vector<std::string> GetRemoteChoices() const;
  // What the dialog says about the chosen remote: that copies there are not
  // encrypted, or that rclone is missing; "" when there is nothing to say.
  wxString GetRemoteNote() const;
  wxString GetLastPushText() const;

  // Stores the record and sets up the timer; false (after a message) when the
  // timer could not be set up. OK calls it and closes only on success.
  bool Apply();

 private:
  void UpdatePreview();
  void UpdateNextRun();
  void UpdateRemote();

  std::string m_schemeFile;
  std::string m_instance;
  CSchemeRecords m_records;
  CScheduler m_scheduler;
  SchemeRecord m_record;
  TimerState m_timer;
  std::vector<BackupInfo> m_backups;
  wxChoice* m_schedule = nullptr;
  wxStaticText* m_next = nullptr;
  wxStaticText* m_last = nullptr;
  wxSpinCtrl* m_keep[5] = {};
  wxStaticText* m_previewLabel = nullptr;
  wxListBox* m_preview = nullptr;
  RemoteChoices m_remotes;
  wxChoice* m_remoteName = nullptr;
  wxTextCtrl* m_remotePath = nullptr;
  wxStaticText* m_remoteNote = nullptr;
  wxString m_note;  // as shown there, before wrapping
  wxStaticText* m_lastPush = nullptr;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_LIBRARY_SCHEDULEDLG_H
