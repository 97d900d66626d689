// SPDX-License-Identifier: GPL-3.0-or-later
// The "My Schemes" pane in the real window: the list, open, delete, rename,
// duplicate, export and import, the busy rules and the automatic refresh.
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>
#include <wx/statusbr.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "GuiTestSupport.h"
#include "app/CommandIds.h"
#include "app/ProgressDisplay.h"
#include "backup/BackupStore.h"
#include "backup/BackupsView.h"
#include "files/FilesView.h"
#include "library/SchemesCommandIds.h"
#include "library/SchemesView.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

const char kDeleteText[] =
    "All backups for this Scheme will be lost and you won't be able to undo this action. Are "
    "you sure you want to delete the Scheme \"%s\"?";
const char kDeleteOpenText[] =
    "The Scheme you are about to delete is currently open in Tessarook. Proceeding will close "
    "the Scheme and delete it.\n";
const char kExistsText[] =
    "A Scheme with such name already exists in My Schemes folder.\nDo you want to overwrite it?";

class SchemesViewTest : public ShellTest {
 protected:
  CSchemesView* View() const { return Frame()->GetSchemesView(); }

  // A command of the pane's pop-up menu, as the menu sends it.
  void ViewCommand(int id) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(View());
    View()->ProcessWindowEvent(event);
  }

  std::vector<std::string> Listed() const {
    std::vector<std::string> names;
    for (long i = 0; i < View()->GetItemCount(); ++i)
      names.push_back(View()->GetItemName(i).utf8_string());
    return names;
  }

  fs::path SchemeFile(const std::string& name) const {
    return fs::path(SchemesDir()) / (name + ".tsbak");
  }
  fs::path BackupsDir(const std::string& name) const {
    return fs::path(SchemesDir()) / (name + ".tsbak.backups");
  }
  // A Backups file with the given bytes (folders made as needed).
  void PutBackup(const std::string& scheme, const std::string& relative, const std::string& bytes) {
    const fs::path file = BackupsDir(scheme) / relative;
    fs::create_directories(file.parent_path());
    WriteFile(file, bytes);
  }

  void Select(const std::string& name) {
    View()->FillList();
    ASSERT_TRUE(View()->SelectName(wxString::FromUTF8(name)));
  }

  // Pumps events until `done` holds or `seconds` have gone by.
  bool PumpUntil(const std::function<bool()>& done, int seconds = 5) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      Flush();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  // Another program writes `path` until the pane shows it: a watcher that has
  // only just started may not be looking yet, so the file is written again
  // (one byte longer each time) a few times before giving up.
  bool DropUntilShown(const fs::path& path, const std::function<bool()>& shown) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      WriteFile(path, std::string(8 + attempt, '\0'));
      if (PumpUntil(shown, 2)) return true;
    }
    return false;
  }
  // Waits for the export or import started last to end and be reported.
  bool WaitForExchange(unsigned endedBefore) {
    return PumpUntil([&] { return View()->GetEndedRuns() > endedBefore; });
  }

  // An in-place edit of item `name` ending with `typed`, as the list sends it.
  bool EditInPlace(const std::string& name, const std::string& typed) {
    View()->FillList();
    wxListCtrl* list = View()->GetList();
    long index = -1;
    for (long i = 0; i < list->GetItemCount(); ++i)
      if (list->GetItemText(i) == wxString::FromUTF8(name)) index = i;
    EXPECT_GE(index, 0) << name;
    wxListEvent event(wxEVT_LIST_END_LABEL_EDIT, list->GetId());
    event.SetEventObject(list);
    event.m_itemIndex = index;
    event.m_item.SetId(index);
    event.m_item.SetText(wxString::FromUTF8(typed));
    list->GetEventHandler()->ProcessEvent(event);
    Flush();
    return event.IsAllowed();
  }
};

}  // namespace

TEST_F(SchemesViewTest, ListsTheSchemeFilesOfTheFolderByName) {
  EXPECT_EQ(View()->GetItemCount(), 0);
  EXPECT_TRUE(View()->IsHintShown());
  EXPECT_EQ(View()->GetHint(), "(no schemes)");

  fs::create_directories(SchemesDir());
  for (const char* name : {"b.TSBAK", "x.tsbak.old", "my.project.tsbak", "a.tsbak", "notes.txt"})
    WriteFile(fs::path(SchemesDir()) / name, std::string(8, '\0'));
  fs::create_directories(fs::path(SchemesDir()) / "folder.tsbak");
  fs::create_directories(BackupsDir("a"));
  ViewCommand(ID_SCHEMES_REFRESH);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"a", "folder", "my.project"}));
  EXPECT_FALSE(View()->IsHintShown());
  // The rule of the listing is the pane's, not the toolkit's: every item shows the icon.
  wxListItem item;
  item.SetId(0);
  item.SetMask(wxLIST_MASK_IMAGE);
  ASSERT_TRUE(View()->GetList()->GetItem(item));
  EXPECT_EQ(item.GetImage(), 0);
}

TEST_F(SchemesViewTest, OpenCommandOpensTheSelectedScheme) {
  MakeScheme("Home");
  ViewCommand(ID_SCHEMES_OPEN);  // nothing selected: nothing happens
  EXPECT_FALSE(Doc()->HasScheme());
  Select("Home");
  ViewCommand(ID_SCHEMES_OPEN);
  ASSERT_TRUE(Doc()->HasScheme());
  EXPECT_EQ(Doc()->GetPathName(), SchemeFile("Home").string());
}

TEST_F(SchemesViewTest, DeletingTheOpenSchemeClosesItFirst) {
  MakeScheme("Home");
  PutBackup("Home", "one.zip", "zip");
  ASSERT_TRUE(Doc()->OpenScheme(SchemeFile("Home").string()));
  Select("Home");
  wxTEST_DIALOG(ViewCommand(ID_SCHEMES_DELETE),
                CExpectMessage(wxString(kDeleteOpenText) + wxString::Format(kDeleteText, "Home"),
                               "Delete Scheme?", wxID_YES, wxICON_WARNING));
  EXPECT_FALSE(Doc()->HasScheme());
  EXPECT_EQ(Doc()->GetTitle(), "No Scheme");
  EXPECT_FALSE(fs::exists(SchemeFile("Home")));
  EXPECT_FALSE(fs::exists(BackupsDir("Home")));
  EXPECT_TRUE(Listed().empty());
}

TEST_F(SchemesViewTest, DeleteAnsweredNoKeepsTheSchemeAndStillRefreshes) {
  MakeScheme("Home");
  Select("Home");
  MakeScheme("Late");  // made behind the pane's back
  wxTEST_DIALOG(ViewCommand(ID_SCHEMES_DELETE),
                CExpectMessage(wxString::Format(kDeleteText, "Home"), "Delete Scheme?", wxID_NO,
                               wxICON_WARNING));
  EXPECT_TRUE(fs::exists(SchemeFile("Home")));
  EXPECT_EQ(Listed(), (std::vector<std::string>{"Home", "Late"}));

  Select("Late");
  wxTEST_DIALOG(ViewCommand(ID_SCHEMES_DELETE),
                CExpectMessage(wxString::Format(kDeleteText, "Late"), "Delete Scheme?", wxID_YES));
  EXPECT_FALSE(fs::exists(SchemeFile("Late")));
  EXPECT_EQ(Listed(), (std::vector<std::string>{"Home"}));
}

// While a Backup of a Scheme is being written (by the command line, say),
// deleting, renaming or duplicating over it changes nothing, and says why.
TEST_F(SchemesViewTest, ASchemeWhoseBackupIsBeingWrittenIsLeftAlone) {
  MakeScheme("Home");
  MakeScheme("Other");
  CBackupNameLock writing;
  ASSERT_EQ(writing.Acquire((BackupsDir("Home") / "tonight.zip").string(), false, nullptr),
            CBackupNameLock::Outcome::kHeld);
  const CExpectMessage busy(kSchemeBackupBeingWrittenText, "Error", wxID_OK, wxICON_ERROR);
  Select("Home");
  wxTEST_DIALOG(ViewCommand(ID_SCHEMES_DELETE),
                CExpectMessage(wxString::Format(kDeleteText, "Home"), "Delete Scheme?", wxID_YES),
                busy);
  EXPECT_TRUE(fs::exists(SchemeFile("Home")));
  Select("Home");
  wxTEST_DIALOG(View()->RenameScheme("Renamed"), busy);
  EXPECT_TRUE(fs::exists(SchemeFile("Home")));
  EXPECT_FALSE(fs::exists(SchemeFile("Renamed")));
  Select("Other");
  wxTEST_DIALOG(View()->RenameScheme("Home"),
                CExpectMessage(kExistsText, "Scheme already exists", wxID_YES), busy);
  EXPECT_TRUE(fs::exists(SchemeFile("Other")));
  writing.Release();
  Select("Home");
  wxTEST_DIALOG(ViewCommand(ID_SCHEMES_DELETE),
                CExpectMessage(wxString::Format(kDeleteText, "Home"), "Delete Scheme?", wxID_YES));
  EXPECT_FALSE(fs::exists(SchemeFile("Home")));
}

TEST_F(SchemesViewTest, DeleteOfAModifiedOpenSchemeCancelledAtTheSavePromptDeletesNothing) {
  MakeScheme("Home");
  ASSERT_TRUE(Doc()->OpenScheme(SchemeFile("Home").string()));
  Doc()->Modify(true);
  Select("Home");
  wxTEST_DIALOG(ViewCommand(ID_SCHEMES_DELETE),
                CExpectMessage(wxString(kDeleteOpenText) + wxString::Format(kDeleteText, "Home"),
                               "Delete Scheme?", wxID_YES),
                wxExpectAny(wxID_CANCEL));
  EXPECT_TRUE(Doc()->HasScheme());
  EXPECT_TRUE(fs::exists(SchemeFile("Home")));
}

TEST_F(SchemesViewTest, InPlaceRenameOntoAnotherSchemeAsksAndReplacesIt) {
  MakeScheme("work", "/etc/hostname");
  MakeScheme("home", "/etc/hosts");
  PutBackup("work", "w.zip", "work backup");
  PutBackup("home", "h.zip", "home backup");
  const std::string workBytes = ReadFile(SchemeFile("work"));

  // The list never keeps the typed text; No leaves both Schemes alone.
  bool allowed = true;
  wxTEST_DIALOG(allowed = EditInPlace("work", "home"),
                CExpectMessage(kExistsText, "Scheme already exists", wxID_NO, wxICON_INFORMATION));
  EXPECT_FALSE(allowed);
  EXPECT_TRUE(fs::exists(SchemeFile("work")));
  EXPECT_EQ(ReadFile(BackupsDir("home") / "h.zip"), "home backup");

  const unsigned ended = View()->GetEndedRuns();
  wxTEST_DIALOG(allowed = EditInPlace("work", "home"),
                CExpectMessage(kExistsText, "Scheme already exists", wxID_YES));
  EXPECT_FALSE(allowed);
  EXPECT_TRUE(WaitForExchange(ended));  // moved on the worker
  EXPECT_FALSE(fs::exists(SchemeFile("work")));
  EXPECT_FALSE(fs::exists(BackupsDir("work")));
  EXPECT_EQ(ReadFile(SchemeFile("home")), workBytes);
  EXPECT_EQ(ReadFile(BackupsDir("home") / "w.zip"), "work backup");
  EXPECT_FALSE(fs::exists(BackupsDir("home") / "h.zip"));
  EXPECT_EQ(Listed(), (std::vector<std::string>{"home"}));
}

TEST_F(SchemesViewTest, InPlaceRenameRefusesForbiddenCharactersAndIgnoresTheSameText) {
  MakeScheme("work");
  wxTEST_DIALOG(EditInPlace("work", "a/b"),
                CExpectMessage("The name cannot contain the following characters: \\ / : * ? \" "
                               "< > |\nPlease type in a valid name.",
                               "Invalid Scheme name", wxID_OK));
  EXPECT_FALSE(EditInPlace("work", "work"));  // no dialog, nothing moves
  EXPECT_TRUE(fs::exists(SchemeFile("work")));
  EXPECT_EQ(Listed(), (std::vector<std::string>{"work"}));
}

TEST_F(SchemesViewTest, RenamingTheOpenSchemeReopensItUnderTheNewName) {
  MakeScheme("work");
  PutBackup("work", "w.zip", "bytes");
  ASSERT_TRUE(Doc()->OpenScheme(SchemeFile("work").string()));
  Doc()->GetScheme().AddFileEntry("/etc/hosts");  // an unsaved change goes along
  Doc()->Modify(true);
  Select("work");
  wxTEST_DIALOG(ViewCommand(ID_SCHEMES_RENAME),
                wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& dlg) {
                  EXPECT_EQ(dlg.m_strCaption, "Rename Scheme");
                  EXPECT_EQ(dlg.m_strName, "work");
                  dlg.m_strName = "job";
                  return wxID_OK;
                }));
  ASSERT_TRUE(Doc()->HasScheme());
  EXPECT_EQ(Doc()->GetPathName(), SchemeFile("job").string());
  EXPECT_FALSE(Doc()->IsModified());
  EXPECT_GE(Doc()->GetScheme().FindFileEntry("/etc/hosts"), 0);
  EXPECT_FALSE(fs::exists(SchemeFile("work")));
  EXPECT_EQ(ReadFile(BackupsDir("job") / "w.zip"), "bytes");
  EXPECT_EQ(Listed(), (std::vector<std::string>{"job"}));
  EXPECT_EQ(View()->GetSelectedName(), "job");
}

TEST_F(SchemesViewTest, DuplicateCopiesTheSchemeAndAlwaysMakesABackupsFolder) {
  MakeScheme("work");
  EXPECT_FALSE(IsEnabled(ID_SCHEMES_DUPLICATE) && View()->GetSelectedIndex() >= 0);
  Select("work");
  const unsigned ended = View()->GetEndedRuns();
  wxTEST_DIALOG(ViewCommand(ID_SCHEMES_DUPLICATE),
                wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& dlg) {
                  EXPECT_EQ(dlg.m_strCaption, "Duplicate Scheme");
                  dlg.m_strName = "copy";
                  return wxID_OK;
                }));
  EXPECT_TRUE(WaitForExchange(ended));
  EXPECT_EQ(ReadFile(SchemeFile("copy")), ReadFile(SchemeFile("work")));
  EXPECT_TRUE(fs::is_directory(BackupsDir("copy")));
  EXPECT_TRUE(fs::is_empty(BackupsDir("copy")));
  EXPECT_FALSE(Doc()->HasScheme());
  EXPECT_EQ(Listed(), (std::vector<std::string>{"copy", "work"}));
}

TEST_F(SchemesViewTest, DuplicateRunsOnTheWorkerWithProgressAndACancelLeavesNothing) {
  MakeScheme("work");
  PutBackup("work", "small.zip", "s");
  // Large enough to take a moment: a sparse file of 64 MiB reads as zeros.
  const fs::path big = BackupsDir("work") / "big.zip";
  WriteFile(big, "");
  fs::resize_file(big, uintmax_t(64) << 20);
  Select("work");
  auto duplicateAs = [this](const std::string& name) {
    wxTEST_DIALOG(ViewCommand(ID_SCHEMES_DUPLICATE),
                  wxExpectModal<CNewSchemeDlg>([name](CNewSchemeDlg& dlg) {
                    dlg.m_strName = wxString::FromUTF8(name.c_str());
                    return wxID_OK;
                  }));
  };
  CProgressDisplay* progress = Frame()->GetProgressDisplay();
  unsigned ended = View()->GetEndedRuns();
  duplicateAs("copy");
  // The command has returned: the window is free, the copy runs, with Cancel.
  EXPECT_TRUE(Frame()->IsFileOperationRunning());
  EXPECT_TRUE(progress->IsProgressShown());
  EXPECT_TRUE(progress->GetCancelButton()->IsShown());
  EXPECT_FALSE(View()->CanExchange());
  wxCommandEvent cancel(wxEVT_BUTTON, ID_CANCEL_OPERATION);
  Frame()->ProcessWindowEvent(cancel);
  ASSERT_TRUE(WaitForExchange(ended));
  EXPECT_EQ(View()->GetLastCopyResult(), LibraryResult::kCancelled);
  EXPECT_FALSE(fs::exists(SchemeFile("copy")));
  EXPECT_FALSE(fs::exists(BackupsDir("copy")));
  for (const auto& entry : fs::directory_iterator(SchemesDir()))
    EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
  EXPECT_EQ(Frame()->GetStatusBar()->GetStatusText(0), "Duplicate \"copy\" was cancelled.");
  EXPECT_EQ(Listed(), (std::vector<std::string>{"work"}));

  // Left to run, it copies everything, and the bar counted the bytes.
  ended = View()->GetEndedRuns();
  duplicateAs("copy");
  ASSERT_TRUE(PumpUntil([&] { return View()->GetEndedRuns() > ended; }, 120));
  EXPECT_EQ(View()->GetLastCopyResult(), LibraryResult::kDone);
  EXPECT_EQ(fs::file_size(BackupsDir("copy") / "big.zip"), uintmax_t(64) << 20);
  Flush();
  EXPECT_EQ(progress->GetBytesDone(), progress->GetBytesTotal());
  EXPECT_GT(progress->GetBytesTotal(), uint64_t(64) << 20);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"copy", "work"}));
  EXPECT_EQ(View()->GetSelectedName(), "copy");
}

TEST_F(SchemesViewTest, ExportWithNothingSelectedReportsTheMissingSource) {
  MakeScheme("work");
  View()->FillList();
  ASSERT_EQ(View()->GetSelectedIndex(), -1);
  const fs::path target = m_temp / "out.csm";
  const unsigned ended = View()->GetEndedRuns();
  wxTEST_DIALOG(
      {
        ViewCommand(ID_SCHEMES_EXPORT);
        EXPECT_TRUE(WaitForExchange(ended));
      },
      wxExpectModal<wxFileDialog>(target.string()),
      CExpectMessage("Error reading source Scheme", "Error", wxID_OK, wxICON_WARNING));
  EXPECT_FALSE(Frame()->GetProgressDisplay()->IsProgressShown());
  EXPECT_FALSE(Frame()->IsFileOperationRunning());
}

TEST_F(SchemesViewTest, ExportAndImportCarryASchemeWithItsBackups) {
  MakeScheme("trip", "/etc/hosts");
  PutBackup("trip", "monday.zip", std::string(70000, 'm'));
  PutBackup("trip", "old/a.zip", "from a sub-folder");
  const std::string schemeBytes = ReadFile(SchemeFile("trip"));
  Select("trip");
  const fs::path target = m_temp / "trip";  // the pane adds the extension
  unsigned ended = View()->GetEndedRuns();
  wxTEST_DIALOG(
      {
        ViewCommand(ID_SCHEMES_EXPORT);
        EXPECT_TRUE(Frame()->GetProgressDisplay()->IsProgressShown());
        EXPECT_TRUE(WaitForExchange(ended));
      },
      wxExpectModal<wxFileDialog>(target.string()));
  ASSERT_TRUE(fs::exists(m_temp / "trip.csm"));
  EXPECT_FALSE(Frame()->GetProgressDisplay()->IsProgressShown());
  // The bar ended full: two files of two.
  EXPECT_EQ(Frame()->GetProgressDisplay()->GetDone(), 2u);
  EXPECT_EQ(Frame()->GetProgressDisplay()->GetTotal(), 2u);

  // Into another My Schemes folder, which the import makes.
  Settings().dir_schemes = (m_temp / "Elsewhere").string();
  ended = View()->GetEndedRuns();
  wxTEST_DIALOG(
      {
        ViewCommand(ID_SCHEMES_IMPORT);
        EXPECT_TRUE(WaitForExchange(ended));
      },
      wxExpectModal<wxFileDialog>((m_temp / "trip.csm").string()));
  const fs::path elsewhere = m_temp / "Elsewhere";
  EXPECT_EQ(ReadFile(elsewhere / "trip.tsbak"), schemeBytes);
  EXPECT_EQ(ReadFile(elsewhere / "trip.tsbak.backups" / "monday.zip"), std::string(70000, 'm'));
  EXPECT_EQ(ReadFile(elsewhere / "trip.tsbak.backups" / "a.zip"), "from a sub-folder");
  EXPECT_EQ(Listed(), (std::vector<std::string>{"trip"}));
}

TEST_F(SchemesViewTest, ImportOverTheOpenSchemeEmptiesItsOldBackupsFirst) {
  MakeScheme("trip");
  PutBackup("trip", "fresh.zip", "new");
  Select("trip");
  const fs::path csm = m_temp / "trip.csm";
  unsigned ended = View()->GetEndedRuns();
  wxTEST_DIALOG(
      {
        ViewCommand(ID_SCHEMES_EXPORT);
        EXPECT_TRUE(WaitForExchange(ended));
      },
      wxExpectModal<wxFileDialog>(csm.string()));

  // The Scheme carries on: an old Backup the file does not hold, and the open Scheme.
  PutBackup("trip", "stale.zip", "old");
  PutBackup("trip", "sub/older.zip", "older");
  ASSERT_TRUE(Doc()->OpenScheme(SchemeFile("trip").string()));
  ended = View()->GetEndedRuns();
  wxTEST_DIALOG(
      {
        ViewCommand(ID_SCHEMES_IMPORT);
        EXPECT_FALSE(Doc()->HasScheme());  // closed before the import starts
        EXPECT_FALSE(fs::exists(BackupsDir("trip") / "stale.zip"));
        EXPECT_TRUE(WaitForExchange(ended));
      },
      wxExpectModal<wxFileDialog>(csm.string()),
      CExpectMessage(kExistsText, "Scheme already exists", wxID_YES, wxICON_QUESTION));
  EXPECT_EQ(ReadFile(BackupsDir("trip") / "fresh.zip"), "new");
  EXPECT_FALSE(fs::exists(BackupsDir("trip") / "stale.zip"));
  EXPECT_FALSE(fs::exists(BackupsDir("trip") / "sub" / "older.zip"));

  // Over a Scheme that is not open, old Backups stay; No changes nothing at all.
  PutBackup("trip", "kept.zip", "kept");
  ended = View()->GetEndedRuns();
  wxTEST_DIALOG(
      {
        ViewCommand(ID_SCHEMES_IMPORT);
        EXPECT_TRUE(WaitForExchange(ended));
      },
      wxExpectModal<wxFileDialog>(csm.string()),
      CExpectMessage(kExistsText, "Scheme already exists", wxID_YES));
  EXPECT_EQ(ReadFile(BackupsDir("trip") / "kept.zip"), "kept");
  wxTEST_DIALOG(ViewCommand(ID_SCHEMES_IMPORT), wxExpectModal<wxFileDialog>(csm.string()),
                CExpectMessage(kExistsText, "Scheme already exists", wxID_NO));
  EXPECT_FALSE(View()->GetImportWorker().IsRunning());
}

TEST_F(SchemesViewTest, ImportOfADamagedFileChangesNothing) {
  const fs::path csm = m_temp / "bad.csm";
  // Claims a 3-byte name and a scheme far longer than the file.
  WriteFile(csm, std::string("\x03\0\0\0abc\xff\xff\0\0", 11));
  wxTEST_DIALOG(ViewCommand(ID_SCHEMES_IMPORT), wxExpectModal<wxFileDialog>(csm.string()),
                CExpectMessage("The compressed Scheme is damaged or incomplete", "Error", wxID_OK));
  EXPECT_FALSE(fs::exists(SchemeFile("abc")));
  EXPECT_FALSE(View()->GetImportWorker().IsRunning());
}

TEST_F(SchemesViewTest, ExchangeCommandsAndTrayBackupWaitWhileAnExportRuns) {
  ASSERT_TRUE(Doc()->OpenScheme(MakeScheme("Home")));
  Frame()->GetFilesView()->OnDocumentUpdate();
  ASSERT_TRUE(IsEnabled(ID_NEW_BACKUP));
  wxUpdateUIEvent exportRule(ID_SCHEMES_EXPORT);
  View()->ProcessWindowEvent(exportRule);
  EXPECT_TRUE(exportRule.GetEnabled());

  // An export held before its first step counts as running.
  CSchemeExportWorker& worker = View()->GetExportWorker();
  ASSERT_TRUE(worker.Start(true));
  EXPECT_TRUE(Frame()->IsFileOperationRunning());
  EXPECT_FALSE(IsEnabled(ID_NEW_BACKUP));
  for (int id : {int(ID_SCHEMES_EXPORT), int(ID_SCHEMES_IMPORT)}) {
    wxUpdateUIEvent rule(id);
    View()->ProcessWindowEvent(rule);
    EXPECT_TRUE(rule.GetSetEnabled() && !rule.GetEnabled()) << id;
  }
  ViewCommand(ID_SCHEMES_IMPORT);  // refused without a dialog

  // "Cancel" in the status bar stops it; the body never runs.
  wxCommandEvent cancel(wxEVT_BUTTON, ID_CANCEL_OPERATION);
  Frame()->ProcessWindowEvent(cancel);
  worker.Wait();
  EXPECT_FALSE(Frame()->IsFileOperationRunning());
  EXPECT_TRUE(IsEnabled(ID_NEW_BACKUP));
}

TEST_F(SchemesViewTest, AutomaticRefreshFollowsTheFolderOnlyWhenSwitchedOn) {
  fs::create_directories(SchemesDir());
  Settings().autorefresh = false;
  View()->OnDocumentUpdate();
  EXPECT_FALSE(View()->GetWatcher().IsRunning());
  MakeScheme("Quiet");
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  Flush();
  EXPECT_TRUE(Listed().empty());

  Settings().autorefresh = true;
  View()->OnDocumentUpdate();
  EXPECT_TRUE(View()->GetWatcher().IsRunning());
  EXPECT_EQ(Listed(), (std::vector<std::string>{"Quiet"}));
  // Another program drops a Scheme into the folder (once the watcher has looked).
  EXPECT_TRUE(DropUntilShown(SchemeFile("Dropped"), [&] { return Listed().size() == 2; }));
  EXPECT_EQ(Listed(), (std::vector<std::string>{"Dropped", "Quiet"}));
  fs::remove(SchemeFile("Quiet"));
  EXPECT_TRUE(PumpUntil([&] { return Listed().size() == 1; }));

  // A new My Schemes folder is watched from the next update on.
  const fs::path moved = m_temp / "Moved";
  fs::create_directories(moved);
  Settings().dir_schemes = moved.string();
  View()->OnDocumentUpdate();
  EXPECT_TRUE(Listed().empty());
  EXPECT_TRUE(DropUntilShown(moved / "Arrived.tsbak", [&] { return Listed().size() == 1; }));

  Settings().autorefresh = false;
  View()->OnDocumentUpdate();
  EXPECT_FALSE(View()->GetWatcher().IsRunning());
}

TEST_F(SchemesViewTest, AutomaticRefreshReachesTheBackupsPaneOfTheOpenScheme) {
  MakeScheme("Home");
  fs::create_directories(BackupsDir("Home"));
  CBackupsView* backups = Frame()->GetBackupsView();

  Settings().autorefresh = false;
  ASSERT_TRUE(Doc()->OpenScheme(SchemeFile("Home").string()));
  WriteFile(BackupsDir("Home") / "quiet.zip", "not looked at");
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  Flush();
  EXPECT_TRUE(backups->GetListedNames().empty());

  Settings().autorefresh = true;
  ASSERT_TRUE(Doc()->OpenScheme(SchemeFile("Home").string()));
  ASSERT_EQ(backups->GetListedNames().size(), 1u);
  EXPECT_TRUE(DropUntilShown(BackupsDir("Home") / "dropped.zip",
                             [&] { return backups->GetListedNames().size() == 2; }));
}
