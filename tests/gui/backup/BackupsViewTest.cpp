// SPDX-License-Identifier: GPL-3.0-or-later
// The "Available Backups" pane in the real window: taking a Backup of a real
// tree with the status-bar progress, Cancel, the list and its arrangements,
// delete, rename in place, Export to ZIP and the busy rules.
#include <sys/wait.h>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>
#include <wx/statusbr.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "../GuiTestSupport.h"
#include "BackupGuiTestSupport.h"
#include "app/CommandIds.h"
#include "app/ProgressDisplay.h"
#include "backup/BackupArchive.h"
#include "backup/BackupCommandIds.h"
#include "backup/BackupStore.h"
#include "backup/BackupsView.h"
#include "files/FilesView.h"
#include "shell/Messages.h"
#include "shell/StatusTexts.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

const char kDeleteQuestion[] =
    "All contents of this Backup will be lost and you won't be able to undo this action.\n"
    "Are you sure you want to delete the Backup \"%s\"?";

wxString Msg(std::string_view text) { return wxString::FromUTF8(text.data(), text.size()); }

int RunStatus(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(BackupsTest, NewBackupOfARealTreeIsListedAndReadsWithUnzip) {
  OpenTreeScheme();
  EXPECT_TRUE(View()->IsHintShown()) << "a Scheme with files but no Backups shows the hint";
  EXPECT_TRUE(IsViewEnabled(ID_BACKUP_NEW));

  // The tray's "&New Backup..." goes through the name dialog, which names the Scheme.
  const int before = View()->GetFinishedRuns();
  wxTEST_DIALOG(Command(ID_NEW_BACKUP), wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& d) {
                  EXPECT_EQ(d.GetTitle(), "New Backup - Work");
                  EXPECT_EQ(d.GetLabelControl()->GetLabel(), "Backup name:");
                  EXPECT_EQ(d.GetNameEdit()->GetValue(), "");
                  d.GetNameEdit()->SetValue("Monday");
                  return d.TryAccept() ? wxID_OK : wxID_CANCEL;
                }));
  EXPECT_TRUE(Frame()->GetProgressDisplay()->IsProgressShown());
  ASSERT_TRUE(WaitForRuns(before + 1));
  EXPECT_FALSE(Frame()->GetProgressDisplay()->IsProgressShown());
  EXPECT_FALSE(Frame()->IsFileOperationRunning());

  const fs::path zip = BackupFile("Monday");
  ASSERT_TRUE(fs::exists(zip));
  EXPECT_EQ(View()->GetListedNames(), std::vector<std::string>{"Monday"});
  EXPECT_FALSE(View()->IsHintShown());
  wxListCtrl* list = View()->GetList();
  EXPECT_EQ(list->GetItemText(0, 2).utf8_string(), FormatFileSize(fs::file_size(zip)));
  // The status bar says what was done; selecting the row gives the exact size.
  EXPECT_TRUE(Frame()->GetStatusBar()->GetStatusText(0).StartsWith(
      "Backup \"Monday\" finished: 3 files, 5.0 kB in "))
      << Frame()->GetStatusBar()->GetStatusText(0);
  View()->SelectName("Monday");
  wxListEvent selected(wxEVT_LIST_ITEM_SELECTED, list->GetId());
  selected.SetEventObject(list);
  selected.m_itemIndex = 0;
  list->ProcessWindowEvent(selected);
  EXPECT_EQ(Frame()->GetStatusBar()->GetStatusText(0).utf8_string(),
            "Monday: " + FormatExactBytes(fs::file_size(zip)));
  // "%a, %h:%m": a weekday, a comma and a time.
  EXPECT_TRUE(list->GetItemText(0, 1).Matches("*, *:*")) << list->GetItemText(0, 1);

  EXPECT_EQ(RunStatus("unzip -tqq '" + zip.string() + "' >/dev/null 2>&1"), 0);
  CBackupArchive archive;
  ASSERT_TRUE(archive.Open(zip.string()));
  ASSERT_TRUE(archive.ReadManifest());
  // The single file first, then the folder's files without the excluded ".log".
  ASSERT_EQ(archive.paths.size(), 3u);
  EXPECT_EQ(archive.paths[0], (Data() / "single.txt").string());
  for (const auto& path : archive.paths) EXPECT_EQ(path.find(".log"), std::string::npos) << path;
}

// The New Backup dialog's "Read every file again": unchecked, a Backup builds
// on the one before it; checked, it reads every file. The name dialog shows
// it for a new Backup only.
TEST_F(BackupsTest, NewBackupCanReadEveryFileAgain) {
  OpenTreeScheme();
  auto take = [&](const std::string& name, bool reread) {
    const int before = View()->GetFinishedRuns();
    wxTEST_DIALOG(Command(ID_NEW_BACKUP), wxExpectModal<CNewSchemeDlg>([&](CNewSchemeDlg& d) {
                    EXPECT_TRUE(d.GetRereadCheck()->IsShown());
                    EXPECT_EQ(d.GetRereadCheck()->GetLabel(), "Read every file again");
                    EXPECT_FALSE(d.GetRereadCheck()->GetValue());
                    d.GetNameEdit()->SetValue(name);
                    d.GetRereadCheck()->SetValue(reread);
                    return d.TryAccept() ? wxID_OK : wxID_CANCEL;
                  }));
    EXPECT_TRUE(WaitForRuns(before + 1));
    EXPECT_EQ(View()->GetLastBackupResult().status, BackupJobResult::Status::kDone);
    return View()->GetLastBackupResult().parent;
  };
  EXPECT_EQ(take("first", false), "");
  EXPECT_EQ(take("second", false), BackupFile("first").string());
  EXPECT_EQ(take("third", true), "");
  EXPECT_EQ(take("fourth", false), BackupFile("third").string());

  ASSERT_TRUE(View()->SelectName("third"));
  wxTEST_DIALOG(View()->RenameSelected(), wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& d) {
                  EXPECT_FALSE(d.GetRereadCheck()->IsShown());
                  return wxID_CANCEL;
                }));
}

TEST_F(BackupsTest, ABackupThatSkippedFilesSaysSoAndNamesThem) {
  fs::create_directories(Data());
  WriteFile(Data() / "kept.txt", "kept");
  fs::create_symlink(Data() / "gone.txt", Data() / "dangling.txt");  // there, but unreadable
  OpenScheme({(Data() / "kept.txt").string(), (Data() / "dangling.txt").string()}, {});
  // The Files pane marks the entry a Backup cannot read.
  CFilesView* files = Frame()->GetFilesView();
  bool marked = false;
  for (long row = 0; row < long(files->GetRows().size()); ++row)
    if (files->GetRows()[size_t(row)].m_name == "dangling.txt")
      marked = files->GetRowImage(row) == kImageUnreadableFile;
  EXPECT_TRUE(marked);

  // A Backup selected before: the refresh afterwards keeps it selected and
  // leaves the summary standing.
  PutBackup("Sunday", "not a zip");
  View()->RefreshList();
  ASSERT_TRUE(View()->SelectName("Sunday"));
  const int before = View()->GetFinishedRuns();
  ASSERT_TRUE(View()->StartBackup("Monday"));
  ASSERT_TRUE(WaitForRuns(before + 1));
  View()->RefreshList();  // as the folder's watcher does
  EXPECT_EQ(View()->GetSelectedName(), "Sunday");
  const wxString status = Frame()->GetStatusBar()->GetStatusText(0);
  EXPECT_TRUE(status.StartsWith("Backup \"Monday\" finished: 1 file, 4 bytes in ")) << status;
  EXPECT_TRUE(status.EndsWith("; 1 file skipped.")) << status;
  const OperationSummary* summary = Frame()->GetProgressDisplay()->GetSummary();
  ASSERT_NE(summary, nullptr);
  ASSERT_EQ(summary->skipped.size(), 1u);
  EXPECT_EQ(summary->skipped[0].first, (Data() / "dangling.txt").string());
  EXPECT_TRUE(Frame()->GetProgressDisplay()->GetDetailsButton()->IsShown());
}

TEST_F(BackupsTest, CancelDuringABackupOfManyFilesLeavesNoFile) {
  const fs::path many = Data() / "many";
  fs::create_directories(many);
  for (int i = 0; i < 6000; ++i) WriteFile(many / ("f" + std::to_string(i) + ".txt"), "x");
  OpenScheme({}, {many.string()});
  // An earlier Backup of the same name is replaced only by a complete one.
  fs::create_directories(BackupFile("big").parent_path());
  WriteFile(BackupFile("big"), "older Backup");
  WriteFile(BackupFile("keep"), "another Backup");
  View()->RefreshList();

  const int before = View()->GetFinishedRuns();
  ASSERT_TRUE(View()->StartBackup("big"));
  EXPECT_TRUE(Frame()->IsFileOperationRunning());
  // While it runs: no second Backup, no item commands; refresh stays.
  EXPECT_FALSE(IsViewEnabled(ID_BACKUP_NEW));
  EXPECT_FALSE(IsViewEnabled(ID_BACKUP_DELETE));
  EXPECT_FALSE(IsViewEnabled(ID_BACKUP_EXPORT_ZIP));
  EXPECT_TRUE(IsViewEnabled(ID_BACKUP_REFRESH));
  EXPECT_FALSE(IsEnabled(ID_NEW_BACKUP));
  EXPECT_FALSE(View()->StartBackup("second"));

  wxCommandEvent cancel(wxEVT_BUTTON, ID_CANCEL_OPERATION);
  Frame()->GetProgressDisplay()->GetCancelButton()->GetEventHandler()->ProcessEvent(cancel);
  EXPECT_FALSE(Frame()->GetProgressDisplay()->IsProgressShown()) << "hidden at once";
  // The half-written Backup is never offered in the list.
  View()->RefreshList();
  EXPECT_EQ(View()->GetListedNames(), (std::vector<std::string>{"big", "keep"}));
  ASSERT_TRUE(WaitForRuns(before + 1));
  EXPECT_EQ(View()->GetLastBackupResult().status, BackupJobResult::Status::kCancelled);
  EXPECT_EQ(ReadFile(BackupFile("big")), "older Backup");
  EXPECT_EQ(View()->GetListedNames(), (std::vector<std::string>{"big", "keep"}));
  int files = 0;
  for (const auto& entry : fs::directory_iterator(BackupFile("big").parent_path())) {
    ++files;
    EXPECT_EQ(entry.path().extension(), ".zip") << "no partial file is left: " << entry.path();
  }
  EXPECT_EQ(files, 2);
  EXPECT_TRUE(IsViewEnabled(ID_BACKUP_NEW));
}

TEST_F(BackupsTest, ABackupThatCannotBeWrittenIsReportedAndNotListed) {
  OpenTreeScheme();
  // The Backups folder's place is taken by a file: the Backup cannot be made.
  WriteFile(BackupFile("x").parent_path(), "in the way");
  const int before = View()->GetFinishedRuns();
  ASSERT_TRUE(View()->StartBackup("x"));
  // The "Error" box comes with the end of the run.
  wxTEST_DIALOG(ASSERT_TRUE(WaitForRuns(before + 1)),
                CExpectMessageStart("The Backup could not be written.\n", "Error"));
  EXPECT_EQ(View()->GetLastBackupResult().status, BackupJobResult::Status::kFailed);
  EXPECT_TRUE(View()->GetListedNames().empty());
}

// A Backup of a name that another program is writing at the moment (the
// command line, say) is refused with a message; the other one is not replaced.
TEST_F(BackupsTest, ABackupOfANameBeingWrittenElsewhereIsRefused) {
  OpenTreeScheme();
  CBackupNameLock elsewhere;
  ASSERT_EQ(elsewhere.Acquire(BackupFile("x").string(), false, nullptr),
            CBackupNameLock::Outcome::kHeld);
  const int before = View()->GetFinishedRuns();
  ASSERT_TRUE(View()->StartBackup("x"));
  wxTEST_DIALOG(
      ASSERT_TRUE(WaitForRuns(before + 1)),
      CExpectMessageStart(wxString("The Backup could not be written.\n") + kBackupBeingWrittenText,
                          "Error"));
  EXPECT_FALSE(fs::exists(BackupFile("x")));
  EXPECT_TRUE(View()->GetListedNames().empty());
}

TEST_F(BackupsTest, ArrangementsOrderTheListAndCheckTheirItems) {
  OpenTreeScheme();
  PutBackup("b-middle", std::string(200, 'b'));
  PutBackup("a-large", std::string(900, 'a'));
  PutBackup("c-small", std::string(10, 'c'));
  PutBackup("not-a-backup.txt", "x", false);
  fs::create_directories(BackupFile("folder.zip").parent_path() / "sub.zip");

  View()->SetArrangement(1);
  EXPECT_EQ(View()->GetListedNames(), (std::vector<std::string>{"a-large", "b-middle", "c-small"}));
  EXPECT_TRUE(IsViewChecked(ID_BACKUP_BY_NAME));
  EXPECT_FALSE(IsViewChecked(ID_BACKUP_BY_SIZE));
  RunViewCommand(ID_BACKUP_BY_SIZE);
  EXPECT_EQ(View()->GetListedNames(), (std::vector<std::string>{"c-small", "b-middle", "a-large"}));
  EXPECT_TRUE(IsViewChecked(ID_BACKUP_BY_SIZE));
  // A refresh keeps the order; none is descending by name.
  PutBackup("d-tiny", "d");
  RunViewCommand(ID_BACKUP_REFRESH);
  EXPECT_EQ(View()->GetListedNames(),
            (std::vector<std::string>{"d-tiny", "c-small", "b-middle", "a-large"}));
  View()->SetArrangement(0);
  EXPECT_EQ(View()->GetListedNames(),
            (std::vector<std::string>{"d-tiny", "c-small", "b-middle", "a-large"}));
  // The display modes keep the rows.
  RunViewCommand(ID_BACKUP_LIST);
  EXPECT_TRUE(IsViewChecked(ID_BACKUP_LIST));
  EXPECT_EQ(View()->GetListedNames().size(), 4u);
  RunViewCommand(ID_BACKUP_TABLE);
  EXPECT_EQ(View()->GetList()->GetItemText(0, 2), "1 byte");
}

TEST_F(BackupsTest, DeleteAsksAndRefreshesWhateverTheAnswer) {
  OpenTreeScheme();
  PutBackup("old", "data");
  View()->RefreshList();
  ASSERT_TRUE(View()->SelectName("old"));
  PutBackup("appeared", "data");  // shows after the refresh even when No
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_DELETE),
                CExpectMessage(wxString::Format(kDeleteQuestion, "old"), "Delete Backup?", wxID_NO,
                               wxICON_WARNING));
  EXPECT_TRUE(fs::exists(BackupFile("old")));
  EXPECT_EQ(View()->GetListedNames().size(), 2u);
  ASSERT_TRUE(View()->SelectName("old"));
  wxTEST_DIALOG(
      RunViewCommand(ID_BACKUP_DELETE),
      CExpectMessage(wxString::Format(kDeleteQuestion, "old"), "Delete Backup?", wxID_YES));
  EXPECT_FALSE(fs::exists(BackupFile("old")));
  EXPECT_EQ(View()->GetListedNames(), std::vector<std::string>{"appeared"});
}

// Delete, rename and duplicate take the lock of every name they remove or
// create: a name another program is writing a Backup under is left alone, and
// the user is told why.
TEST_F(BackupsTest, NameOperationsLeaveANameBeingWrittenElsewhereAlone) {
  OpenTreeScheme();
  PutBackup("kept", "kept data");
  PutBackup("busy", "old busy data");
  View()->RefreshList();
  CBackupNameLock elsewhere;
  ASSERT_EQ(elsewhere.Acquire(BackupFile("busy").string(), false, nullptr),
            CBackupNameLock::Outcome::kHeld);
  const CExpectMessage busy(kBackupBeingWrittenText, "Error", wxID_OK, wxICON_ERROR);

  ASSERT_TRUE(View()->SelectName("busy"));
  wxTEST_DIALOG(
      RunViewCommand(ID_BACKUP_DELETE),
      CExpectMessage(wxString::Format(kDeleteQuestion, "busy"), "Delete Backup?", wxID_YES), busy);
  ASSERT_TRUE(View()->SelectName("kept"));
  wxTEST_DIALOG(View()->RenameBackup("busy"),
                CExpectMessage(Msg(msg::kBackupExists), Msg(msg::kBackupExistsCaption), wxID_YES),
                busy);
  ASSERT_TRUE(View()->SelectName("kept"));
  wxTEST_DIALOG(
      RunViewCommand(ID_BACKUP_DUPLICATE), wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& d) {
        d.GetNameEdit()->SetValue("busy");
        return d.TryAccept() ? wxID_OK : wxID_CANCEL;
      }),
      CExpectMessage(Msg(msg::kBackupExists), Msg(msg::kBackupExistsCaption), wxID_YES), busy);
  EXPECT_EQ(ReadFile(BackupFile("busy")), "old busy data");
  EXPECT_EQ(ReadFile(BackupFile("kept")), "kept data");

  elsewhere.Release();
  ASSERT_TRUE(View()->SelectName("kept"));
  wxTEST_DIALOG(View()->RenameBackup("busy"),
                CExpectMessage(Msg(msg::kBackupExists), Msg(msg::kBackupExistsCaption), wxID_YES));
  EXPECT_EQ(ReadFile(BackupFile("busy")), "kept data");
}

TEST_F(BackupsTest, RenameInPlaceToAnotherBackupsNameAsksBeforeOverwriting) {
  OpenTreeScheme();
  PutBackup("first", "first data");
  PutBackup("second", "second data");
  View()->RefreshList();

  ASSERT_TRUE(View()->SelectName("first"));
  wxTEST_DIALOG(View()->RenameBackup("second"),
                CExpectMessage(Msg(msg::kBackupExists), Msg(msg::kBackupExistsCaption), wxID_NO,
                               wxICON_INFORMATION));
  EXPECT_EQ(ReadFile(BackupFile("first")), "first data");
  EXPECT_EQ(ReadFile(BackupFile("second")), "second data");

  ASSERT_TRUE(View()->SelectName("first"));
  wxTEST_DIALOG(View()->RenameBackup("second"),
                CExpectMessage(Msg(msg::kBackupExists), Msg(msg::kBackupExistsCaption), wxID_YES));
  EXPECT_FALSE(fs::exists(BackupFile("first")));
  EXPECT_EQ(ReadFile(BackupFile("second")), "first data");
  EXPECT_EQ(View()->GetListedNames(), std::vector<std::string>{"second"});

  // A name that would lead out of the Backups folder is refused.
  ASSERT_TRUE(View()->SelectName("second"));
  wxTEST_DIALOG(View()->RenameBackup("../escaped"),
                CExpectMessage(Msg(msg::kInvalidName), Msg(msg::kInvalidNameCaption), wxID_OK));
  EXPECT_EQ(ReadFile(BackupFile("second")), "first data");
  EXPECT_FALSE(fs::exists(BackupFile("second").parent_path().parent_path() / "escaped.zip"));

  // Renaming to a new name by the dialog; duplicating keeps the original.
  ASSERT_TRUE(View()->SelectName("second"));
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_RENAME),
                wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& d) {
                  EXPECT_EQ(d.GetTitle(), "Rename Backup");
                  EXPECT_EQ(d.GetNameEdit()->GetValue(), "second");
                  d.GetNameEdit()->SetValue("third");
                  return d.TryAccept() ? wxID_OK : wxID_CANCEL;
                }));
  ASSERT_TRUE(View()->SelectName("third"));
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_DUPLICATE),
                wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& d) {
                  EXPECT_EQ(d.GetTitle(), "Duplicate Backup");
                  d.GetNameEdit()->SetValue("fourth");
                  return d.TryAccept() ? wxID_OK : wxID_CANCEL;
                }));
  View()->SetArrangement(1);
  EXPECT_EQ(View()->GetListedNames(), (std::vector<std::string>{"fourth", "third"}));
  EXPECT_EQ(ReadFile(BackupFile("fourth")), "first data");
}

TEST_F(BackupsTest, ExportToZipWritesRealNamesForAnyArchiveTool) {
  OpenTreeScheme();
  const int before = View()->GetFinishedRuns();
  ASSERT_TRUE(View()->StartBackup("b"));
  ASSERT_TRUE(WaitForRuns(before + 1));
  ASSERT_TRUE(View()->SelectName("b"));

  const fs::path target = m_temp.Path() / "exported.zip";
  wxTEST_DIALOG(RunViewCommand(ID_BACKUP_EXPORT_ZIP),
                wxExpectModal<wxFileDialog>(wxString::FromUTF8(target.string())));
  ASSERT_TRUE(WaitForRuns(before + 2));
  ASSERT_TRUE(fs::exists(target));
  EXPECT_EQ(RunStatus("unzip -tqq '" + target.string() + "' >/dev/null 2>&1"), 0);
  // Relative names by default: below the folder the files share.
  const fs::path out = m_temp.Path() / "out";
  EXPECT_EQ(RunStatus("unzip -qq '" + target.string() + "' -d '" + out.string() + "'"), 0);
  EXPECT_EQ(ReadFile(out / "single.txt"), "single file");
  EXPECT_EQ(ReadFile(out / "tree" / "docs" / "report.txt"), "report");

  Settings().zip_absolute = true;
  ASSERT_TRUE(View()->StartExport("b", (m_temp.Path() / "abs.zip").string()));
  ASSERT_TRUE(WaitForRuns(before + 3));
  const fs::path absOut = m_temp.Path() / "abs";
  EXPECT_EQ(RunStatus("unzip -qq '" + (m_temp.Path() / "abs.zip").string() + "' -d '" +
                      absOut.string() + "'"),
            0);
  EXPECT_EQ(ReadFile(absOut / Data().relative_path() / "single.txt"), "single file");
}

TEST_F(BackupsTest, ThePopupMenusHoldTheItemCommandsOnlyOnARow) {
  OpenTreeScheme();
  std::unique_ptr<wxMenu> onItem(View()->BuildPopupMenu(true));
  std::unique_ptr<wxMenu> onSpace(View()->BuildPopupMenu(false));
  EXPECT_EQ(onItem->GetLabel(ID_BACKUP_RESTORE), "&Restore Backup...");
  EXPECT_EQ(onItem->GetLabel(ID_BACKUP_EXPORT_ZIP), "Export to &ZIP...");
  EXPECT_NE(onItem->FindItem(ID_BACKUP_BY_SIZE), nullptr);
  EXPECT_EQ(onSpace->FindItem(ID_BACKUP_DELETE), nullptr);
  EXPECT_NE(onSpace->FindItem(ID_BACKUP_NEW), nullptr);
  EXPECT_EQ(onItem->GetMenuItemCount(), onSpace->GetMenuItemCount() + 7);
}

TEST_F(BackupsTest, WithAutorefreshTheListFollowsTheBackupsFolder) {
  Settings().autorefresh = true;
  OpenTreeScheme();
  // The folder appears with the first Backup; the watcher follows it there.
  const int before = View()->GetFinishedRuns();
  ASSERT_TRUE(View()->StartBackup("first"));
  ASSERT_TRUE(WaitForRuns(before + 1));
  PutBackup("copied-in", "made by another program");
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (View()->GetListedNames().size() < 2 && std::chrono::steady_clock::now() < end) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    wxMilliSleep(20);
  }
  // No refresh by hand: the watcher's report rebuilt the list.
  std::vector<std::string> names = View()->GetListedNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"copied-in", "first"}));
}
