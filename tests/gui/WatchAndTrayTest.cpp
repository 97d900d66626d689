// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic refresh across the Settings dialog, and the tray icon's left click
// and New Backup dialog.
#include <wx/taskbar.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "GuiTestSupport.h"
#include "app/CommandIds.h"
#include "files/FilesView.h"
#include "library/SchemesView.h"
#include "monitor/NotifyIcon.h"
#include "scheme/Scheme.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 4000) {
  for (int i = 0; i < ms / 10 && !done(); ++i) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

}  // namespace

TEST_F(ShellTest, AutomaticRefreshGoesOnAfterTheSettingsDialogWithTheNewFolders) {
  Settings().autorefresh = true;
  fs::create_directories(m_temp / "data");
  WriteFile(m_temp / "data/report.txt", "r");
  ASSERT_TRUE(Doc()->OpenScheme(MakeScheme("Home", (m_temp / "data/report.txt").string())));
  CFilesView* files = Frame()->GetFilesView();
  ASSERT_EQ(files->GetRows().size(), 1u);
  ASSERT_TRUE(files->GetRows()[0].m_exists);

  // A new My Schemes folder, chosen in the dialog.
  const fs::path other = m_temp / "Other Schemes";
  fs::create_directories(other);
  wxTEST_DIALOG(Command(ID_SETTINGS), wxExpectModal<CSettingsDlg>([&](CSettingsDlg& d) {
                  d.GetFolderEdit()->SetValue(other.string());
                  EXPECT_TRUE(d.TryAccept());
                  return wxID_OK;
                }));
  ASSERT_EQ(Settings().dir_schemes, other.string());
  Flush();

  // The single file entry is deleted: the pane sees it.
  fs::remove(m_temp / "data/report.txt");
  EXPECT_TRUE(WaitFor([&] { return !files->GetRows().empty() && !files->GetRows()[0].m_exists; }))
      << "the files pane missed the deleted file";

  // A Scheme appears in the new folder: the My Schemes pane lists it by itself.
  CScheme scheme;
  ASSERT_EQ(scheme.Save((other / "Travel.tsbak").string()), SchemeError::kOk);
  CSchemesView* schemes = Frame()->GetSchemesView();
  EXPECT_TRUE(WaitFor([&] { return schemes->SelectName("Travel"); }))
      << "the My Schemes pane still watches the old folder";
  EXPECT_EQ(schemes->GetWatcher().GetPath(), other.string());
}

TEST_F(ShellTest, ALeftClickOnTheTrayIconBringsTheWindowBack) {
  CNotifyIcon* icon = new CNotifyIcon(Frame(), 987, wxBitmapBundle(), "Tessarook", true);
  WaitFor([] { return false; }, 200);  // the frame's first showing is done
  Frame()->Hide();
  Flush();
  ASSERT_FALSE(Frame()->IsShown());
  wxTaskBarIconEvent click(wxEVT_TASKBAR_LEFT_UP, icon);
  icon->ProcessEvent(click);
  Flush();
  EXPECT_TRUE(Frame()->IsShown());
  icon->Destroy();
  Flush();
}

TEST_F(ShellTest, TheTraysNewBackupDialogNamesTheScheme) {
  ASSERT_TRUE(Doc()->OpenScheme(MakeScheme("Photos 2026")));
  wxTEST_DIALOG(Command(ID_NEW_BACKUP), wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& d) {
                  EXPECT_EQ(d.m_strCaption, "New Backup - Photos 2026");
                  EXPECT_EQ(d.m_strLabel, "Backup name:");
                  return wxID_CANCEL;
                }));
}

TEST_F(ShellTest, RoundTripsThroughTheTrayKeepTheWindowsInside) {
  // The window manager (where there is one) answers later: wait until the
  // window's sizes have stood still for a moment.
  auto Settle = [this] {
    wxRect last = Frame()->GetRect();
    wxSize lastInside = Frame()->GetClientSize();
    int still = 0;
    for (int i = 0; i < 300 && still < 30; ++i) {
      WaitFor([] { return false; }, 10);
      const bool same = Frame()->GetRect() == last && Frame()->GetClientSize() == lastInside;
      still = same ? still + 1 : 0;
      last = Frame()->GetRect();
      lastInside = Frame()->GetClientSize();
    }
  };
  Frame()->SetClientSize(wxSize(700, 500));
  Settle();
  const wxSize inside = Frame()->GetClientSize();
  const wxSize outside = Frame()->GetSize();
  for (int round = 0; round < 3; ++round) {
    // Minimised (the window manager answers later), then hidden as the tray hides it.
    Frame()->Iconize(true);
    Settle();
    Frame()->Hide();
    Flush();
    Command(ID_TRAY_SHOW);
    Settle();
    EXPECT_EQ(Frame()->GetClientSize(), inside) << "round " << round;
    EXPECT_EQ(Frame()->GetSize(), outside) << "round " << round;
  }
}
