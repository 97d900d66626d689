// SPDX-License-Identifier: GPL-3.0-or-later
// Scheme > Schedule in the real frame, against the real crontab (no systemd
// user manager can be reached from the test): the timer line, the keep rules
// and their preview, a record that survives a restart of the window and a
// rename of the Scheme, and the keep rules applied after a Backup.

#include <fcntl.h>
#include <sys/stat.h>
#include <wx/statusbr.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/CommandIds.h"
#include "backup/BackupGuiTestSupport.h"
#include "backup/BackupsView.h"
#include "library/ScheduleDlg.h"
#include "library/SchemeRecord.h"
#include "library/SchemesView.h"
#include "offsite/Rclone.h"
#include "util/RunProgram.h"

using namespace tessarook;
namespace fs = std::filesystem;

template <>
class wxExpectModal<CScheduleDlg> : public wxExpectModalBase<CScheduleDlg> {
 public:
  explicit wxExpectModal(std::function<int(CScheduleDlg&)> user) : m_user(std::move(user)) {}

 protected:
  int OnInvoked(CScheduleDlg* dialog) const override { return m_user(*dialog); }

 private:
  std::function<int(CScheduleDlg&)> m_user;
};

namespace {

class ScheduleTest : public ShellTest {
 protected:
  void SetUp() override {
    // The user's own crontab comes back at the end; no user manager answers.
    const ProgramRun list = RunProgram({"crontab", "-l"});
    m_hadCrontab = list.status == 0;
    m_crontab = list.out;
    m_runtime = m_temp / "runtime";
    fs::create_directories(m_runtime);
    setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    RunProgram({"crontab", "-"}, "# the user's own\n");
    ShellTest::SetUp();
  }
  void TearDown() override {
    ShellTest::TearDown();
    if (m_hadCrontab)
      RunProgram({"crontab", "-"}, m_crontab);
    else
      RunProgram({"crontab", "-r"});
    unsetenv("XDG_RUNTIME_DIR");
  }
  static std::string Crontab() { return RunProgram({"crontab", "-l"}).out; }
  void TakeBackup(const std::string& name) {
    CBackupsView* view = Frame()->GetBackupsView();
    const int runs = view->GetFinishedRuns();
    ASSERT_TRUE(view->StartBackup(name));
    for (int i = 0; i < 6000 && view->GetFinishedRuns() == runs; ++i) {
      wxTheApp->ProcessPendingEvents();
      wxTheApp->Yield(true);
      wxMilliSleep(5);
    }
    ASSERT_GT(view->GetFinishedRuns(), runs);
  }

  bool m_hadCrontab = false;
  std::string m_crontab;
  fs::path m_runtime;
};

TEST_F(ScheduleTest, TheDialogSetsTheTimerAndKeepRulesThatFollowTheScheme) {
  if (RunProgram({"crontab", "-l"}).started == false) GTEST_SKIP() << "no crontab program";
  EXPECT_FALSE(IsEnabled(ID_SCHEME_SCHEDULE)) << "no Scheme open";
  const std::string home = MakeScheme("Home");
  ASSERT_TRUE(Doc()->OpenScheme(home));
  EXPECT_TRUE(IsEnabled(ID_SCHEME_SCHEDULE));
  for (const char* name : {"b1", "b2", "b3", "b4"}) TakeBackup(name);
  // A file in the Backups' folder that is no Backup, older than all of them:
  // pruning leaves it alone, and so must the preview of what pruning deletes.
  const fs::path junk = fs::path(home + ".backups") / "old.zip";
  WriteFile(junk, "no archive");
  const struct timespec old[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, junk.c_str(), old, 0), 0);

  wxTEST_DIALOG(Command(ID_SCHEME_SCHEDULE), wxExpectModal<CScheduleDlg>([](CScheduleDlg& dlg) {
                  EXPECT_EQ(dlg.GetTitle(), "Schedule - Home");
                  EXPECT_EQ(dlg.GetSchedule(), Schedule::kOff);
                  EXPECT_EQ(dlg.GetLastBackupText().rfind("Last Backup: \"b4\", ", 0), 0u);
                  EXPECT_TRUE(dlg.GetLastBackupText().EndsWith(": ok"));
                  EXPECT_TRUE(dlg.GetPreview().empty());
                  dlg.SetSchedule(Schedule::kDaily);
                  EXPECT_TRUE(dlg.GetNextRunText().Contains("(once you press OK)"));
                  EXPECT_TRUE(dlg.GetNextRunText().Contains("crontab"));
                  KeepPolicy keep;
                  keep.last = 2;
                  dlg.SetKeep(keep);
                  // Equal times: the greater name counts as the newer.
                  EXPECT_EQ(dlg.GetPreview(), (std::vector<std::string>{"b2", "b1"}));
                  EXPECT_EQ(dlg.GetPreviewText(), "These rules would delete 2 of 4 Backups now:");
                  EXPECT_TRUE(dlg.Apply());
                  return wxID_OK;
                }));
  fs::remove(junk);
  EXPECT_NE(Crontab().find("backup --notify -- 'Home' # tessarook-backup:Home\n"),
            std::string::npos)
      << Crontab();
  EXPECT_NE(Crontab().find("# the user's own\n"), std::string::npos);
  EXPECT_FALSE(Frame()->GetSchemesView()->GetStatusText("Home", 2).empty()) << "next run shown";
  EXPECT_TRUE(Frame()->GetSchemesView()->GetStatusText("Home", 1).EndsWith(", ok"));
  // The narrow pane shows the whole status to a pointer on the row.
  {
    CSchemesView* view = Frame()->GetSchemesView();
    wxRect row;
    ASSERT_TRUE(view->GetList()->GetItemRect(0, row));
    const wxString tip = view->GetTipAt(row.GetPosition() + wxPoint(4, row.height / 2));
    EXPECT_EQ(tip, "Home\nLast Backup: " + view->GetStatusText("Home", 1) +
                       "\nNext: " + view->GetStatusText("Home", 2));
    EXPECT_TRUE(view->GetTipAt(wxPoint(4, row.GetBottom() + 3 * row.height)).empty());
  }

  // A restart of the window reads the same record.
  TheApp().EndShell();
  ASSERT_TRUE(TheApp().StartShell(wxString::FromUTF8(home.c_str())));
  wxTEST_DIALOG(Command(ID_SCHEME_SCHEDULE), wxExpectModal<CScheduleDlg>([](CScheduleDlg& dlg) {
                  EXPECT_EQ(dlg.GetSchedule(), Schedule::kDaily);
                  EXPECT_EQ(dlg.GetKeep().last, 2u);
                  EXPECT_FALSE(dlg.GetNextRunText().Contains("once you press OK"));
                  return wxID_CANCEL;
                }));

  // The next Backup applies the rules.
  TakeBackup("b5");
  EXPECT_EQ(Frame()->GetBackupsView()->GetListedNames().size(), 2u);
  // Old Backups the rules deleted are no files the Backup skipped.
  const wxString said = Frame()->GetStatusBar()->GetStatusText(0);
  EXPECT_FALSE(said.Contains("skipped")) << said;
  EXPECT_TRUE(said.Contains("old Backups deleted by the keep rules")) << said;

  // Renaming the open Scheme in My Schemes carries the record and the line.
  CSchemesView* schemes = Frame()->GetSchemesView();
  ASSERT_TRUE(schemes->SelectName("Home"));
  schemes->RenameScheme("Work");
  const std::string work = (fs::path(SchemesDir()) / "Work.tsbak").string();
  EXPECT_EQ(Doc()->GetPathName(), work);
  const std::string tab = Crontab();
  EXPECT_EQ(tab.find("tessarook-backup:Home"), std::string::npos) << tab;
  EXPECT_NE(tab.find("tessarook-backup:Work"), std::string::npos) << tab;
  CSchemeRecords records(AppRecordsFile());
  EXPECT_EQ(records.Get(work).schedule, Schedule::kDaily);
  EXPECT_EQ(records.Get(work).lastName, "b5");
  EXPECT_TRUE(records.Get(home).IsEmpty());

  // Off: the line goes, the rules stay.
  wxTEST_DIALOG(Command(ID_SCHEME_SCHEDULE), wxExpectModal<CScheduleDlg>([](CScheduleDlg& dlg) {
                  dlg.SetSchedule(Schedule::kOff);
                  EXPECT_TRUE(dlg.Apply());
                  return wxID_OK;
                }));
  EXPECT_EQ(Crontab(), "# the user's own\n");
  EXPECT_EQ(records.Get(work).keep.last, 2u);
  EXPECT_TRUE(schemes->GetStatusText("Work", 2).empty());

  // Deleting the Scheme removes its record.
  ASSERT_TRUE(schemes->SelectName("Work"));
  wxTEST_DIALOG(schemes->DeleteSelected(),
                wxExpectModal<wxMessageDialog>(wxID_YES).Describe("delete question"));
  EXPECT_TRUE(records.Get(work).IsEmpty());
}

TEST_F(ScheduleTest, AFailedOrOverdueSchemeIsMarked) {
  const std::string a = MakeScheme("Fine"), b = MakeScheme("Failed"), c = MakeScheme("Late");
  CSchemeRecords records(AppRecordsFile());
  const int64_t now = int64_t(time(nullptr)) * 1000000000;
  ASSERT_TRUE(records.Update(a, [&](SchemeRecord& r) {
    r.schedule = Schedule::kHourly;
    r.scheduledSince = now;
  }));
  BackupEndNote failed;
  failed.name = "x";
  failed.started = now;
  failed.end = BackupEnd::kFailed;
  ASSERT_TRUE(NoteBackupEnd(records, b, failed));
  ASSERT_TRUE(records.Update(c, [&](SchemeRecord& r) {
    r.schedule = Schedule::kDaily;
    r.scheduledSince = now - int64_t(3) * 24 * 3600 * 1000000000;
  }));
  CSchemesView* schemes = Frame()->GetSchemesView();
  schemes->FillList();
  EXPECT_FALSE(schemes->NeedsAttention("Fine"));
  EXPECT_TRUE(schemes->NeedsAttention("Failed"));
  EXPECT_TRUE(schemes->GetStatusText("Failed", 1).EndsWith(", failed"));
  EXPECT_TRUE(schemes->NeedsAttention("Late"));
  wxListItem item;
  for (long row = 0; row < schemes->GetList()->GetItemCount(); ++row) {
    item.SetId(row);
    item.SetMask(wxLIST_MASK_IMAGE | wxLIST_MASK_TEXT);
    schemes->GetList()->GetItem(item);
    EXPECT_EQ(item.GetImage(), item.GetText() == "Fine" ? 0 : 1) << item.GetText();
  }
}

// The off-site copy in the Schedule dialog: the remote picked from the
// user's rclone remotes, the note on unencrypted copies, every Backup pushed
// there afterwards (a "local" remote: a real rclone run without a server), a
// failing remote that leaves the Backup and marks the Scheme, and a dialog
// that stays usable without rclone.
TEST_F(ScheduleTest, TheDialogsRemoteIsPushedAfterEveryBackupAndMarkedWhenBehind) {
  if (FindRclone().empty()) GTEST_SKIP() << "rclone is not installed";
  const fs::path conf = m_temp / "rclone.conf";
  {
    std::ofstream out(conf);
    out << "[here]\ntype = local\n\n[vault]\ntype = crypt\nremote = here:/nowhere\n";
  }
  setenv("RCLONE_CONFIG", conf.c_str(), 1);
  const fs::path offsite = m_temp / "offsite";
  const std::string home = MakeScheme("Home");
  ASSERT_TRUE(Doc()->OpenScheme(home));
  TakeBackup("b1");
  const auto choose = [](const std::string& remote) {
    return wxExpectModal<CScheduleDlg>([remote](CScheduleDlg& dlg) {
      dlg.SetRemote(remote);
      EXPECT_EQ(dlg.GetRemote(), remote);
      EXPECT_TRUE(dlg.Apply());
      return wxID_OK;
    });
  };

  wxTEST_DIALOG(
      Command(ID_SCHEME_SCHEDULE), wxExpectModal<CScheduleDlg>([&](CScheduleDlg& dlg) {
        EXPECT_EQ(dlg.GetRemoteChoices(), (std::vector<std::string>{"(none)", "here:", "vault:"}));
        EXPECT_EQ(dlg.GetRemote(), "");
        EXPECT_EQ(dlg.GetRemoteNote(), "");
        EXPECT_EQ(dlg.GetLastPushText(), "Last copy: none (no remote chosen)");
        dlg.SetRemote("vault:v");
        EXPECT_EQ(dlg.GetRemoteNote(), "") << "a crypt remote";
        dlg.SetRemote("here:" + offsite.string());
        EXPECT_TRUE(dlg.GetRemoteNote().Contains("stored unencrypted")) << dlg.GetRemoteNote();
        EXPECT_TRUE(dlg.Apply());
        return wxID_OK;
      }));
  CSchemeRecords records(AppRecordsFile());
  EXPECT_EQ(records.Get(home).remote, "here:" + offsite.string());
  CSchemesView* schemes = Frame()->GetSchemesView();
  schemes->FillList();
  EXPECT_EQ(schemes->GetStatusText("Home", 3), "behind: not copied yet");
  EXPECT_TRUE(schemes->NeedsAttention("Home"));

  // The next Backup carries both Backups there.
  TakeBackup("b2");
  for (const char* b : {"b1", "b2"})
    EXPECT_TRUE(fs::exists(offsite / "Home.tsbak.backups" / (std::string(b) + ".zip"))) << b;
  EXPECT_EQ(records.Get(home).pushEnd, PushEnd::kOk);
  EXPECT_TRUE(Frame()->GetStatusBar()->GetStatusText(0).Contains("copied to here:"))
      << Frame()->GetStatusBar()->GetStatusText(0);
  EXPECT_FALSE(schemes->NeedsAttention("Home"));
  EXPECT_TRUE(schemes->GetStatusText("Home", 3).EndsWith(", ok"));

  // A remote folder that is a file: the Backup stays, the user is told, the
  // Scheme is marked.
  const fs::path file = m_temp / "a-file";
  std::ofstream(file) << "x";
  wxTEST_DIALOG(Command(ID_SCHEME_SCHEDULE), choose("here:" + file.string()));
  wxTEST_DIALOG(TakeBackup("b3"),
                CExpectMessageStart("The Backup was taken, but its off-site copy to here:" +
                                        file.string() + " failed.\n",
                                    "Off-site Copy"));
  EXPECT_EQ(Frame()->GetBackupsView()->GetListedNames().size(), 3u);
  EXPECT_EQ(records.Get(home).lastEnd, BackupEnd::kOk);
  EXPECT_EQ(records.Get(home).pushEnd, PushEnd::kFailed);
  EXPECT_TRUE(schemes->NeedsAttention("Home"));
  EXPECT_TRUE(schemes->GetStatusText("Home", 3).StartsWith("behind: ")) << "after a failed push";
  wxTEST_DIALOG(Command(ID_SCHEME_SCHEDULE), wxExpectModal<CScheduleDlg>([](CScheduleDlg& dlg) {
                  EXPECT_TRUE(dlg.GetLastPushText().Contains(": failed ("))
                      << dlg.GetLastPushText();
                  EXPECT_TRUE(dlg.GetLastPushText().Contains("lacks the newest Backup"));
                  return wxID_CANCEL;
                }));

  // Without rclone the dialog names the package and still works.
  const std::string path = std::getenv("PATH");
  setenv("PATH", (m_temp / "no-programs").c_str(), 1);
  wxTEST_DIALOG(Command(ID_SCHEME_SCHEDULE), wxExpectModal<CScheduleDlg>([&](CScheduleDlg& dlg) {
                  EXPECT_TRUE(dlg.GetRemoteNote().Contains("Debian package rclone"))
                      << dlg.GetRemoteNote();
                  EXPECT_EQ(dlg.GetRemote(), "here:" + file.string()) << "the stored one";
                  dlg.SetRemote("");
                  EXPECT_TRUE(dlg.Apply());
                  return wxID_OK;
                }));
  setenv("PATH", path.c_str(), 1);
  unsetenv("RCLONE_CONFIG");
  EXPECT_EQ(records.Get(home).remote, "");
  EXPECT_EQ(records.Get(home).pushEnd, PushEnd::kNone);
}

}  // namespace
