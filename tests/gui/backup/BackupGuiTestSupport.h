// SPDX-License-Identifier: GPL-3.0-or-later
// The Backups pane tests' fixture: a real tree of files, a Scheme over it,
// and waiting for the pane's worker.
#ifndef TESSAROOK_TESTS_GUI_BACKUP_BACKUPGUITESTSUPPORT_H
#define TESSAROOK_TESTS_GUI_BACKUP_BACKUPGUITESTSUPPORT_H

#include <wx/app.h>
#include <wx/menu.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "../GuiTestSupport.h"
#include "backup/BackupPropsDlg.h"
#include "backup/BackupsView.h"
#include "scheme/Scheme.h"
#include "scheme/SchemePaths.h"

// The contents dialog, filled in by the test like a user.
template <>
class wxExpectModal<tessarook::CBackupPropsDlg>
    : public wxExpectModalBase<tessarook::CBackupPropsDlg> {
 public:
  explicit wxExpectModal(std::function<int(tessarook::CBackupPropsDlg&)> user)
      : m_user(std::move(user)) {}

 protected:
  int OnInvoked(tessarook::CBackupPropsDlg* dialog) const override { return m_user(*dialog); }

 private:
  std::function<int(tessarook::CBackupPropsDlg&)> m_user;
};

// A message box whose text starts with `start` (the rest names a reason the
// system gives), under `caption`, answered with OK.
class CExpectMessageStart : public wxExpectModalBase<wxMessageDialog, CExpectMessageStart> {
 public:
  CExpectMessageStart(const wxString& start, const wxString& caption)
      : m_start(start), m_caption(caption) {}

 protected:
  int OnInvoked(wxMessageDialog* dialog) const override {
    EXPECT_TRUE(dialog->GetMessage().StartsWith(m_start)) << dialog->GetMessage().utf8_string();
    EXPECT_EQ(dialog->GetCaption(), m_caption);
    return wxID_OK;
  }
  wxString GetDefaultDescription() const override { return "message box \"" + m_start + "...\""; }

 private:
  wxString m_start;
  wxString m_caption;
};

class BackupsTest : public ShellTest {
 protected:
  tessarook::CBackupsView* View() const { return Frame()->GetBackupsView(); }
  std::filesystem::path Data() const { return m_temp.Path() / "data"; }

  // A Scheme over a real tree: one single file and one folder that excludes
  // "log", with a sub-folder.
  void OpenTreeScheme() {
    namespace fs = std::filesystem;
    fs::create_directories(Data() / "tree" / "docs");
    WriteFile(Data() / "single.txt", "single file");
    WriteFile(Data() / "tree" / "docs" / "report.txt", "report");
    WriteFile(Data() / "tree" / "photo.jpg", std::string(5000, 'p'));
    WriteFile(Data() / "tree" / "debug.log", "left out");
    OpenScheme({(Data() / "single.txt").string()}, {(Data() / "tree").string()}, {"log"});
  }

  void OpenScheme(const std::vector<std::string>& files, const std::vector<std::string>& folders,
                  const std::vector<std::string>& excluded = {}) {
    std::filesystem::create_directories(SchemesDir());
    tessarook::CScheme scheme;
    for (const auto& f : files) scheme.AddFileEntry(f);
    for (const auto& f : folders) {
      scheme.AddFolderEntry(f);
      scheme.m_folders.back().m_excludedExtensions = excluded;
    }
    m_schemeFile = SchemesDir() + "/Work.tsbak";
    ASSERT_EQ(scheme.Save(m_schemeFile), tessarook::SchemeError::kOk);
    ASSERT_TRUE(Doc()->OpenScheme(m_schemeFile));
  }

  std::filesystem::path BackupFile(const std::string& name) const {
    return tessarook::BackupFilePath(tessarook::BackupsFolderFor(m_schemeFile), name);
  }
  // A file in the Backups folder; with `zip` it is named as a Backup.
  void PutBackup(const std::string& name, const std::string& bytes, bool zip = true) {
    const std::filesystem::path path =
        zip ? BackupFile(name)
            : std::filesystem::path(tessarook::BackupsFolderFor(m_schemeFile)) / name;
    std::filesystem::create_directories(path.parent_path());
    WriteFile(path, bytes);
  }

  // Pumps events until the pane has handled `runs` worker ends (30 s at most).
  bool WaitForRuns(int runs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (View()->GetFinishedRuns() < runs) {
      if (std::chrono::steady_clock::now() > end) return false;
      wxTheApp->ProcessPendingEvents();
      wxTheApp->Yield(true);
      wxMilliSleep(5);
    }
    return true;
  }
  bool WaitForRestore(tessarook::CBackupPropsDlg& dialog, int restores) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (dialog.GetFinishedRestores() < restores) {
      if (std::chrono::steady_clock::now() > end) return false;
      wxTheApp->ProcessPendingEvents();
      wxTheApp->Yield(true);
      wxMilliSleep(5);
    }
    return true;
  }

  // The pane's own commands, as its pop-up menu sends them.
  void RunViewCommand(int id) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(View());
    View()->ProcessWindowEvent(event);
  }
  bool IsViewEnabled(int id) {
    wxUpdateUIEvent event(id);
    event.SetEventObject(View());
    View()->ProcessWindowEvent(event);
    return !event.GetSetEnabled() || event.GetEnabled();
  }
  bool IsViewChecked(int id) {
    wxUpdateUIEvent event(id);
    event.SetEventObject(View());
    View()->ProcessWindowEvent(event);
    return event.GetSetChecked() && event.GetChecked();
  }

  std::string m_schemeFile;
};

#endif  // TESSAROOK_TESTS_GUI_BACKUP_BACKUPGUITESTSUPPORT_H
