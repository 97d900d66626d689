// SPDX-License-Identifier: GPL-3.0-or-later
// The road of one Backup in the real window, as a new user takes it: a new
// Scheme, files dropped on it, a Backup, a look inside it, and a restore.
#include <filesystem>

#include "GuiTestSupport.h"
#include "app/CommandIds.h"
#include "backup/BackupCommandIds.h"
#include "backup/BackupGuiTestSupport.h"
#include "files/FilesView.h"
#include "library/SchemesView.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

class WholeRoadTest : public BackupsTest {};

}  // namespace

TEST_F(WholeRoadTest, NewSchemeFilesBackupContentsAndRestore) {
  fs::create_directories(Data() / "letters");
  WriteFile(Data() / "notes.txt", "my notes");
  WriteFile(Data() / "letters" / "sam.txt", "Dear Sam");

  // Scheme > New...: the name dialog, then an empty Scheme in My Schemes, open.
  wxTEST_DIALOG(Command(ID_NEW_SCHEME), wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& dlg) {
                  EXPECT_EQ(dlg.m_strCaption, "New Scheme");
                  dlg.m_strName = "Road";
                  return wxID_OK;
                }));
  const fs::path schemeFile = fs::path(SchemesDir()) / "Road.tsbak";
  ASSERT_TRUE(Doc()->HasScheme());
  EXPECT_EQ(Doc()->GetPathName(), schemeFile.string());
  EXPECT_EQ(Frame()->GetSchemesView()->GetItemName(0), "Road");
  EXPECT_FALSE(IsEnabled(ID_NEW_BACKUP));  // nothing to back up yet

  // Files dropped on the files pane; Scheme > Save.
  CFilesView* files = Frame()->GetFilesView();
  files->AddDroppedPaths({(Data() / "notes.txt").string(), (Data() / "letters").string()});
  EXPECT_EQ(files->GetItemCount(), 2);
  EXPECT_TRUE(Doc()->IsModified());
  Command(ID_SAVE_SCHEME);
  EXPECT_FALSE(Doc()->IsModified());
  CScheme saved;
  ASSERT_EQ(saved.Load(schemeFile.string()), SchemeError::kOk);
  EXPECT_GE(saved.FindFolderEntry((Data() / "letters").string()), 0);

  // New Backup from the tray menu's command; the worker lists it when done.
  ASSERT_TRUE(IsEnabled(ID_NEW_BACKUP));
  const int before = View()->GetFinishedRuns();
  wxTEST_DIALOG(Command(ID_NEW_BACKUP), wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& dlg) {
                  dlg.m_strName = "First";
                  return wxID_OK;
                }));
  ASSERT_TRUE(WaitForRuns(before + 1));
  EXPECT_EQ(View()->GetListedNames(), (std::vector<std::string>{"First"}));
  EXPECT_TRUE(fs::exists(schemeFile.string() + ".backups/First.zip"));

  // Properties: the contents are the two files, by their full paths.
  ASSERT_TRUE(View()->SelectName("First"));
  std::vector<std::string> rows;
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_PROPERTIES),
                wxExpectModal<CBackupPropsDlg>([&rows](CBackupPropsDlg& dlg) {
                  for (int row = 0; row < dlg.GetRowCount(); ++row)
                    rows.push_back(dlg.GetRowPath(row));
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(rows, (std::vector<std::string>{(Data() / "letters" / "sam.txt").string(),
                                            (Data() / "notes.txt").string()}));

  // The originals are lost; Restore Backup... puts every checked file back.
  fs::remove_all(Data());
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_RESTORE),
                wxExpectModal<CBackupPropsDlg>([this](CBackupPropsDlg& dlg) {
                  EXPECT_TRUE(dlg.StartRestore());
                  EXPECT_TRUE(WaitForRestore(dlg, 1));
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(ReadFile(Data() / "notes.txt"), "my notes");
  EXPECT_EQ(ReadFile(Data() / "letters" / "sam.txt"), "Dear Sam");
}
