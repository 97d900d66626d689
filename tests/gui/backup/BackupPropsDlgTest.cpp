// SPDX-License-Identifier: GPL-3.0-or-later
// The "Backup contents" dialog: its rows, the check marks of the two ways of
// opening it, the pop-up commands through the main frame, preview, restore
// elsewhere, and restoring the checked files on its worker.
#include <wx/button.h>
#include <wx/dataview.h>
#include <wx/filedlg.h>
#include <wx/gauge.h>
#include <wx/uiaction.h>

#include <filesystem>

#include "../GuiTestSupport.h"
#include "BackupGuiTestSupport.h"
#include "app/CommandIds.h"
#include "backup/BackupArchive.h"
#include "backup/BackupCommandIds.h"
#include "backup/ZipFile.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

class BackupPropsTest : public BackupsTest {
 protected:
  void SetUp() override {
    BackupsTest::SetUp();
    CBackupPropsDlg::SetLauncher([this](const std::string& path) {
      m_launched.push_back(path);
      return m_canOpen;
    });
  }
  void TearDown() override {
    CBackupPropsDlg::SetLauncher([](const std::string&) { return true; });
    BackupsTest::TearDown();
  }

  // Takes the Backup "b" of the tree Scheme and selects it.
  void TakeBackup() {
    OpenTreeScheme();
    const int before = View()->GetFinishedRuns();
    ASSERT_TRUE(View()->StartBackup("b"));
    ASSERT_TRUE(WaitForRuns(before + 1));
    ASSERT_TRUE(View()->SelectName("b"));
  }

  // The dialog as the pane sets it up, loaded but not shown.
  std::unique_ptr<CBackupPropsDlg> OpenDialog(bool restoreMode) {
    auto dialog = std::make_unique<CBackupPropsDlg>(Frame());
    dialog->m_strName = "b";
    dialog->m_backupPath = BackupFile("b").string();
    dialog->m_bRestoreMode = restoreMode;
    wxString error;
    EXPECT_TRUE(dialog->Load(error)) << error;
    return dialog;
  }

  std::vector<std::string> m_launched;
  bool m_canOpen = true;
};

}  // namespace

TEST_F(BackupPropsTest, RestoreModeChecksEveryRowAndPropertiesNone) {
  TakeBackup();
  int rows = 0;
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_RESTORE),
                wxExpectModal<CBackupPropsDlg>([&rows](CBackupPropsDlg& d) {
                  EXPECT_EQ(d.GetTitle(), "Backup contents: b");
                  rows = d.GetRowCount();
                  for (int row = 0; row < d.GetRowCount(); ++row) EXPECT_TRUE(d.IsRowChecked(row));
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(rows, 3);
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_PROPERTIES),
                wxExpectModal<CBackupPropsDlg>([](CBackupPropsDlg& d) {
                  EXPECT_EQ(d.GetRowCount(), 3);
                  for (int row = 0; row < d.GetRowCount(); ++row) EXPECT_FALSE(d.IsRowChecked(row));
                  // Rows are sorted by path.
                  for (int row = 1; row < d.GetRowCount(); ++row)
                    EXPECT_LT(d.GetRowPath(row - 1), d.GetRowPath(row));
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(View()->GetPropertiesDialog(), nullptr);
}

TEST_F(BackupPropsTest, MissingAndDamagedBackupsAreReportedAndTheDialogCloses) {
  OpenTreeScheme();
  PutBackup("gone", "placeholder");
  View()->RefreshList();
  ASSERT_TRUE(View()->SelectName("gone"));
  fs::remove(BackupFile("gone"));
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_PROPERTIES),
                CExpectMessage("The Backup file doesn't exist", "Error", wxID_OK, wxICON_ERROR));

  // A ZIP without its manifest.
  {
    CZipFile zip;
    ASSERT_TRUE(zip.Create(BackupFile("nomanifest").string()));
    ASSERT_TRUE(zip.AddFromMemory("x", 1, "0"));
    ASSERT_EQ(zip.Close(), 0);
  }
  View()->RefreshList();
  ASSERT_TRUE(View()->SelectName("nomanifest"));
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_RESTORE),
                CExpectMessage("The Backup appears to be damaged or incomplete", "Error", wxID_OK));
}

TEST_F(BackupPropsTest, DamagedManifestIsReportedAndWhatCouldBeReadIsListed) {
  OpenTreeScheme();
  fs::create_directories(BackupFile("badlist").parent_path());
  {
    CBackupArchive zip;
    ASSERT_TRUE(zip.Create(BackupFile("badlist").string()));
    ASSERT_TRUE(zip.AddFromMemory("x", 1, "0"));
    ASSERT_TRUE(zip.AddFromMemory("y", 1, "1"));
    const std::string list = "0: /data/x\r\n1: /data/y";
    ASSERT_TRUE(zip.AddFromMemory(list.data(), list.size(), "list.txt"));
    ASSERT_EQ(zip.Close(), 0);
  }
  // The manifest's recorded checksum no longer matches its data.
  std::string bytes = ReadFile(BackupFile("badlist"));
  const size_t central = bytes.rfind("list.txt") - 46;
  bytes[central + 16] = static_cast<char>(bytes[central + 16] ^ 0x01);
  WriteFile(BackupFile("badlist"), bytes);
  View()->RefreshList();
  ASSERT_TRUE(View()->SelectName("badlist"));
  int rows = -1;
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_PROPERTIES),
                CExpectMessage("The Backup appears to be damaged or incomplete\n\nThe list shows "
                               "the files that could be read from it.",
                               "Error", wxID_OK, wxICON_WARNING),
                wxExpectModal<CBackupPropsDlg>([&rows](CBackupPropsDlg& d) {
                  rows = d.GetRowCount();
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(rows, 2);
}

TEST_F(BackupPropsTest, SelectAllAndNoneThroughTheMainFrameKeepTheSelection) {
  TakeBackup();
  auto dialog = OpenDialog(false);
  Frame()->SetPropertiesDialog(dialog.get());
  dialog->SelectRow(1);
  Command(ID_BPD_SELECT_ALL);
  Flush();
  for (int row = 0; row < dialog->GetRowCount(); ++row) EXPECT_TRUE(dialog->IsRowChecked(row));
  Command(ID_BPD_SELECT_NONE);
  Flush();
  for (int row = 0; row < dialog->GetRowCount(); ++row) EXPECT_FALSE(dialog->IsRowChecked(row));
  EXPECT_EQ(dialog->GetSelectedRow(), 1);
  Frame()->SetPropertiesDialog(nullptr);

  std::unique_ptr<wxMenu> onRow(CBackupPropsDlg::BuildPopupMenu(true));
  std::unique_ptr<wxMenu> beside(CBackupPropsDlg::BuildPopupMenu(false));
  EXPECT_EQ(onRow->GetLabel(ID_BPD_PREVIEW), "&Preview the file");
  EXPECT_EQ(onRow->GetLabel(ID_BPD_RESTORE_ELSEWHERE), "&Restore the file elsewhere...");
  EXPECT_EQ(beside->GetMenuItemCount(), 2u);
  EXPECT_EQ(beside->FindItem(ID_BPD_PREVIEW), nullptr);
}

TEST_F(BackupPropsTest, RestoreOfCheckedFilesRecreatesMissingFolders) {
  TakeBackup();
  fs::remove_all(Data() / "tree");
  WriteFile(Data() / "single.txt", "changed since");

  auto dialog = OpenDialog(false);
  // Check only the files under the tree.
  for (int row = 0; row < dialog->GetRowCount(); ++row)
    dialog->CheckRow(row, dialog->GetRowPath(row).find("/tree/") != std::string::npos);
  ASSERT_TRUE(dialog->StartRestore());
  // Busy: only "Cancel" is active.
  EXPECT_EQ(dialog->GetCloseButton()->GetLabel(), "Cancel");
  EXPECT_FALSE(dialog->GetRestoreButton()->IsEnabled());
  EXPECT_FALSE(dialog->GetList()->IsEnabled());
  EXPECT_FALSE(dialog->StartRestore());
  ASSERT_TRUE(WaitForRestore(*dialog, 1));
  EXPECT_EQ(dialog->GetCloseButton()->GetLabel(), "Close");
  EXPECT_TRUE(dialog->GetRestoreButton()->IsEnabled());
  EXPECT_FALSE(dialog->GetGauge()->IsShown());

  EXPECT_EQ(ReadFile(Data() / "tree" / "docs" / "report.txt"), "report");
  EXPECT_EQ(ReadFile(Data() / "tree" / "photo.jpg"), std::string(5000, 'p'));
  EXPECT_EQ(ReadFile(Data() / "single.txt"), "changed since") << "unchecked: left alone";
  EXPECT_EQ(dialog->GetLastRestore().restored.size(), 2u);
}

TEST_F(BackupPropsTest, RestoreReportsWhatItCouldNotWrite) {
  TakeBackup();
  // A folder where the file should go cannot be replaced by the file.
  fs::remove(Data() / "single.txt");
  fs::create_directories(Data() / "single.txt" / "blocked");
  auto dialog = OpenDialog(true);
  ASSERT_TRUE(dialog->StartRestore());
  wxTEST_DIALOG(ASSERT_TRUE(WaitForRestore(*dialog, 1)),
                CExpectMessageStart(wxString::FromUTF8("These files could not be restored:\n" +
                                                       (Data() / "single.txt").string() + ": "),
                                    "Error"));
  // The other files were restored all the same.
  EXPECT_EQ(dialog->GetLastRestore().restored.size(), 2u);
  EXPECT_EQ(dialog->GetLastRestore().failed.size(), 1u);
}

TEST_F(BackupPropsTest, PreviewAndRestoreElsewhereWriteTheSelectedFile) {
  TakeBackup();
  auto dialog = OpenDialog(false);
  int reportRow = -1;
  for (int row = 0; row < dialog->GetRowCount(); ++row)
    if (dialog->GetRowPath(row).find("report.txt") != std::string::npos) reportRow = row;
  ASSERT_GE(reportRow, 0);
  dialog->SelectRow(reportRow);

  dialog->Preview();
  ASSERT_EQ(m_launched.size(), 1u);
  EXPECT_EQ(fs::path(m_launched[0]).filename(), "report.txt");
  EXPECT_EQ(ReadFile(m_launched[0]), "report");
  fs::remove(m_launched[0]);

  const fs::path elsewhere = m_temp.Path() / "elsewhere" / "copy.txt";
  fs::create_directories(elsewhere.parent_path());
  WriteFile(elsewhere, "replaced without a question");
  wxTEST_DIALOG(dialog->RestoreElsewhere(),
                wxExpectModal<wxFileDialog>(wxString::FromUTF8(elsewhere.string())));
  EXPECT_EQ(ReadFile(elsewhere), "report");
}

TEST_F(BackupPropsTest, EscapeStillClosesTheDialogAfterARestore) {
  TakeBackup();
  auto dialog = OpenDialog(false);
  dialog->Show();
  Flush();
  // The user clicks "Restore selected files": the button has the focus, and is
  // disabled while the restore runs.
  dialog->GetRestoreButton()->SetFocus();
  ASSERT_TRUE(dialog->StartRestore());
  ASSERT_TRUE(WaitForRestore(*dialog, 1));
  Flush();
  wxWindow* focus = wxWindow::FindFocus();
  EXPECT_TRUE(focus != nullptr && wxGetTopLevelParent(focus) == dialog.get())
      << "the focus is outside the dialog";
  wxUIActionSimulator keyboard;
  keyboard.Char(WXK_ESCAPE);
  Flush();
  EXPECT_FALSE(dialog->IsShown());
}

// Backup > Browse in the real frame: the folder tree opens down to where it
// branches, folders show what lies below them, the filter matches any part of
// a path in both views, and a checked folder restores everything below it.
TEST_F(BackupPropsTest, TheTreeBrowsesFiltersAndRestoresAFolderWithWhatLiesBelowIt) {
  TakeBackup();
  fs::remove_all(Data() / "tree");
  WriteFile(Data() / "single.txt", "changed since");
  bool restored = false;
  wxTEST_DIALOG(
      Command(ID_BACKUP_PROPERTIES), wxExpectModal<CBackupPropsDlg>([&](CBackupPropsDlg& d) {
        EXPECT_TRUE(d.IsTreeShown());
        const CBackupTree& tree = d.GetTreeModel();
        CBackupTree::NodeId data = CBackupTree::kRoot, folder = CBackupTree::kRoot;
        for (CBackupTree::NodeId id = 1; id < tree.NodeCount(); ++id) {
          if (tree.IsFolder(id) && tree.Path(id) == Data().string()) data = id;
          if (tree.IsFolder(id) && tree.Path(id) == (Data() / "tree").string()) folder = id;
        }
        EXPECT_NE(folder, CBackupTree::kRoot);
        EXPECT_TRUE(d.GetTree()->IsExpanded(CBackupTreeModel::ItemOf(data)));
        wxDataViewModel* model = d.GetTree()->GetModel();
        wxVariant value;
        model->GetValue(value, CBackupTreeModel::ItemOf(folder), kContentsSize);
        EXPECT_EQ(value.GetString(), "5.0 kB");  // report.txt and photo.jpg
        model->GetValue(value, CBackupTreeModel::ItemOf(folder), kContentsTime);
        EXPECT_FALSE(value.GetString().empty());

        // The check box of the folder, as a click gives it.
        value << wxDataViewCheckIconText("tree", wxBitmapBundle(), wxCHK_CHECKED);
        EXPECT_TRUE(model->ChangeValue(value, CBackupTreeModel::ItemOf(folder), kContentsName));
        model->GetValue(value, CBackupTreeModel::ItemOf(data), kContentsName);
        wxDataViewCheckIconText shown;
        shown << value;
        EXPECT_EQ(shown.GetCheckedState(), wxCHK_UNDETERMINED);
        for (int row = 0; row < d.GetRowCount(); ++row)
          EXPECT_EQ(d.IsRowChecked(row), d.GetRowPath(row).find("/tree/") != std::string::npos)
              << d.GetRowPath(row);

        // The filter, in either view; the selection follows from one to the other.
        d.SetFilter("REPORT");
        EXPECT_EQ(d.GetRowCount(), 1);
        EXPECT_EQ(d.GetTreeModel().FileCount(), 1u);
        d.SelectRow(0);
        d.ShowTree(false);
        EXPECT_TRUE(d.GetList()->IsShown());
        EXPECT_FALSE(d.GetTree()->IsShown());
        EXPECT_EQ(static_cast<wxDataViewVirtualListModel*>(d.GetList()->GetModel())->GetCount(),
                  1u);
        EXPECT_EQ(d.GetSelectedRow(), 0);
        d.SetFilter(wxString());
        EXPECT_EQ(d.GetRowCount(), 3);
        EXPECT_EQ(static_cast<wxDataViewVirtualListModel*>(d.GetList()->GetModel())->GetCount(),
                  3u);
        EXPECT_NE(d.GetRowPath(d.GetSelectedRow()).find("report.txt"), std::string::npos);
        // The Path column fills what the others leave, and a pointer on a row
        // shows its path whole; beside the rows or on another column, nothing.
        wxDataViewCtrl* list = d.GetList();
        d.SetSize(wxSize(900, 500));
        d.Show();
        for (int i = 0; i < 50 && list->GetColumn(kContentsName)->GetWidth() < 400; ++i) {
          wxTheApp->Yield(true);
          wxMilliSleep(10);
        }
        const int columns = list->GetColumn(kContentsName)->GetWidth() +
                            list->GetColumn(kContentsSize)->GetWidth() +
                            list->GetColumn(kContentsTime)->GetWidth();
        EXPECT_GE(columns, list->GetClientSize().x - 60);
        EXPECT_LE(columns, list->GetClientSize().x) << "Size and Modified stay in view";
        const wxDataViewItem first =
            static_cast<wxDataViewVirtualListModel*>(list->GetModel())->GetItem(0);
        const wxRect path = list->GetItemRect(first, list->GetColumn(kContentsName));
        const wxRect size = list->GetItemRect(first, list->GetColumn(kContentsSize));
        EXPECT_EQ(d.GetListTipAt(path.GetPosition() + wxPoint(path.width / 2, path.height / 2)),
                  d.GetRowPath(0));
        EXPECT_TRUE(d.GetListTipAt(size.GetPosition() + wxPoint(4, size.height / 2)).empty());
        EXPECT_TRUE(d.GetListTipAt(wxPoint(path.x + 4, list->GetClientSize().y - 4)).empty());

        // What is checked is restored, also while a filter hides it.
        d.SetFilter("photo");
        EXPECT_TRUE(d.StartRestore());
        restored = WaitForRestore(d, 1);
        return wxID_CANCEL;
      }));
  ASSERT_TRUE(restored);
  EXPECT_EQ(ReadFile(Data() / "tree" / "docs" / "report.txt"), "report");
  EXPECT_EQ(ReadFile(Data() / "tree" / "photo.jpg"), std::string(5000, 'p'));
  EXPECT_EQ(ReadFile(Data() / "single.txt"), "changed since") << "not checked: left alone";
}
