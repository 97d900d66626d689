// SPDX-License-Identifier: GPL-3.0-or-later
// The "&Backup" menu and its toolbar buttons, driven in the real frame: the
// enable rules of the panes' pop-up commands, Back Up Now with the time as the
// name, Browse and Restore opening the contents window, Verify on the worker.

#include <wx/toolbar.h>

#include <ctime>
#include <random>
#include <regex>
#include <string>

#include "BackupGuiTestSupport.h"
#include "app/CommandIds.h"
#include "backup/BackupCommandIds.h"
#include "library/SchemesCommandIds.h"
#include "shell/NameCheck.h"

using namespace tessarook;
namespace fs = std::filesystem;

TEST_F(BackupsTest, TheBackupMenuFollowsThePopUpRulesAndBacksUpNow) {
  const int oneBackup[] = {ID_BACKUP_RESTORE, ID_BACKUP_PROPERTIES, ID_BACKUP_VERIFY};
  // Every command is on the menu bar and on the toolbar.
  wxToolBar* toolbar = Frame()->GetToolBar();
  for (int id : {int(ID_BACKUP_NOW), int(ID_BACKUP_RESTORE), int(ID_BACKUP_PROPERTIES),
                 int(ID_BACKUP_VERIFY), int(ID_SCHEMES_EXPORT), int(ID_SCHEMES_IMPORT)}) {
    EXPECT_NE(Frame()->GetMenuBar()->FindItem(id), nullptr) << id;
    EXPECT_NE(toolbar->FindById(id), nullptr) << id;
  }
  EXPECT_EQ(Frame()->GetMenuBar()->FindMenu("Backup"), 1);

  // No Scheme: nothing to back up or act on; the exchange commands stay.
  EXPECT_FALSE(IsEnabled(ID_BACKUP_NOW));
  for (int id : oneBackup) EXPECT_FALSE(IsEnabled(id)) << id;
  EXPECT_TRUE(IsEnabled(ID_SCHEMES_EXPORT));
  EXPECT_TRUE(IsEnabled(ID_SCHEMES_IMPORT));

  OpenTreeScheme();
  EXPECT_TRUE(IsEnabled(ID_BACKUP_NOW));
  for (int id : oneBackup) EXPECT_FALSE(IsEnabled(id)) << "no Backup selected: " << id;

  // Back Up Now: the name dialog opens with the time as "backup" names Backups.
  std::string offered;
  const time_t before = time(nullptr);
  int runs = View()->GetFinishedRuns();
  wxTEST_DIALOG(Command(ID_BACKUP_NOW), wxExpectModal<CNewSchemeDlg>([&](CNewSchemeDlg& dialog) {
                  EXPECT_EQ(dialog.m_strCaption, "Back Up Now");
                  offered = dialog.m_strName.utf8_string();
                  return wxID_OK;
                }));
  const time_t after = time(nullptr);
  EXPECT_TRUE(offered == BackupNameForTime(before) || offered == BackupNameForTime(after))
      << offered;
  EXPECT_TRUE(std::regex_match(offered, std::regex(R"(\d{4}-\d\d-\d\d \d\d\.\d\d\.\d\d)")));
  // While it runs, the commands wait as the pop-up's do.
  if (View()->IsWorkerRunning()) {
    EXPECT_FALSE(IsEnabled(ID_BACKUP_NOW));
    EXPECT_FALSE(IsEnabled(ID_SCHEMES_EXPORT));
  }
  ASSERT_TRUE(WaitForRuns(++runs));
  EXPECT_EQ(View()->GetListedNames(), std::vector<std::string>{offered});

  // "&New Backup..." keeps its empty name.
  wxTEST_DIALOG(View()->NewBackup(), wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& dialog) {
                  EXPECT_EQ(dialog.m_strName, "");
                  return wxID_CANCEL;
                }));

  // A selected Backup: Browse opens the contents unchecked, Restore checked.
  ASSERT_TRUE(View()->SelectName(offered));
  for (int id : oneBackup) EXPECT_TRUE(IsEnabled(id)) << id;
  for (const bool restore : {false, true}) {
    wxTEST_DIALOG(Command(restore ? ID_BACKUP_RESTORE : ID_BACKUP_PROPERTIES),
                  wxExpectModal<CBackupPropsDlg>([&](CBackupPropsDlg& dialog) {
                    EXPECT_EQ(dialog.m_bRestoreMode, restore);
                    EXPECT_EQ(dialog.m_strName.utf8_string(), offered);
                    return wxID_CANCEL;
                  }));
  }

  // Verify: on the worker, then the verdict.
  wxTEST_DIALOG(
      {
        Command(ID_BACKUP_VERIFY);
        ASSERT_TRUE(WaitForRuns(++runs));
      },
      CExpectMessage("The Backup \"" + offered + "\" is in order: 3 files checked.",
                     "Verify Backup", wxID_OK, wxICON_INFORMATION));
  EXPECT_EQ(View()->GetLastVerifyResult().files, 3u);
  EXPECT_EQ(Frame()->GetStatusBar()->GetStatusText(0).rfind(
                "Verification of \"" + offered + "\" finished: 3 files", 0),
            0u)
      << Frame()->GetStatusBar()->GetStatusText(0);
}

TEST_F(BackupsTest, VerifyNamesEachDamagedEntryByItsPath) {
  // Data that does not compress: a flipped byte in the middle of the Backup
  // lands in the file's stored bytes.
  std::mt19937 random(7);
  std::string noise(200000, '\0');
  for (char& c : noise) c = char(random());
  fs::create_directories(Data());
  WriteFile(Data() / "noise.bin", noise);
  OpenScheme({(Data() / "noise.bin").string()}, {});
  int runs = View()->GetFinishedRuns();
  ASSERT_TRUE(View()->StartBackup("bad"));
  ASSERT_TRUE(WaitForRuns(++runs));
  std::string bytes = ReadFile(BackupFile("bad"));
  bytes[bytes.size() / 2] ^= 0x5a;
  WriteFile(BackupFile("bad"), bytes);

  ASSERT_TRUE(View()->SelectName("bad"));
  wxTEST_DIALOG(
      {
        Command(ID_BACKUP_VERIFY);
        ASSERT_TRUE(WaitForRuns(++runs));
      },
      CExpectMessageStart("The Backup \"bad\" is damaged: 1 damaged entry.\n\n" +
                              (Data() / "noise.bin").string() + ": ",
                          "Verify Backup"));
  ASSERT_EQ(View()->GetLastVerifyResult().faults.size(), 1u);
  EXPECT_EQ(View()->GetLastVerifyResult().faults[0].path, (Data() / "noise.bin").string());

  // A file that is no Backup at all.
  PutBackup("junk", "not a zip");
  View()->RefreshList();
  ASSERT_TRUE(View()->SelectName("junk"));
  wxTEST_DIALOG(
      {
        Command(ID_BACKUP_VERIFY);
        ASSERT_TRUE(WaitForRuns(++runs));
      },
      CExpectMessageStart("The Backup \"junk\" cannot be checked: the Backup file is missing",
                          "Verify Backup"));
}
