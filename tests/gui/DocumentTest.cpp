// SPDX-License-Identifier: GPL-3.0-or-later
// The Scheme document through the main frame: caption, New Scheme, Close
// Scheme, open and save failures, the recent list.
#include <wx/menu.h>

#include <filesystem>

#include "GuiTestSupport.h"
#include "app/CommandIds.h"
#include "files/FilesView.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

const char kCaptionTail[] = " - Tessarook Backup";

// Types `name` into the name dialog and presses OK, as a user would.
std::function<int(CNewSchemeDlg&)> TypeName(const std::string& name, bool expectAccepted = true) {
  return [name, expectAccepted](CNewSchemeDlg& dialog) {
    EXPECT_EQ(dialog.GetTitle(), "New Scheme");
    EXPECT_EQ(dialog.GetLabelControl()->GetLabel(), "Scheme name:");
    dialog.GetNameEdit()->SetValue(wxString::FromUTF8(name.c_str()));
    const bool accepted = dialog.TryAccept();
    EXPECT_EQ(accepted, expectAccepted);
    return accepted ? wxID_OK : wxID_CANCEL;
  };
}

}  // namespace

TEST_F(ShellTest, CaptionFollowsTheDocumentTitle) {
  EXPECT_EQ(Frame()->GetTitle(), wxString("No Scheme") + kCaptionTail);
  EXPECT_FALSE(Doc()->HasScheme());
  EXPECT_EQ(Doc()->GetOpenLevel(), 1);

  // While the name dialog is up the title part is "New Scheme".
  wxTEST_DIALOG(Command(ID_NEW_SCHEME), wxExpectModal<CNewSchemeDlg>([this](CNewSchemeDlg&) {
                  EXPECT_EQ(Frame()->GetTitle(), wxString("New Scheme") + kCaptionTail);
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(Frame()->GetTitle(), wxString("No Scheme") + kCaptionTail);

  // A title holding " - " itself is kept whole and followed once.
  const std::string path = MakeScheme("Work - Photos");
  ASSERT_TRUE(Doc()->OpenScheme(path));
  EXPECT_EQ(Frame()->GetTitle(), wxString("Work - Photos") + kCaptionTail);
  EXPECT_EQ(Doc()->GetOpenLevel(), 3);
  ASSERT_TRUE(Doc()->OpenScheme(MakeScheme("Second")));
  EXPECT_EQ(Doc()->GetOpenLevel(), 5);
  EXPECT_EQ(Frame()->GetTitle(), wxString("Second") + kCaptionTail);
}

TEST_F(ShellTest, NewSchemeCreatesAnEmptySchemeAndOpensIt) {
  wxTEST_DIALOG(Command(ID_NEW_SCHEME), wxExpectModal<CNewSchemeDlg>(TypeName("Home")));
  const fs::path file = fs::path(SchemesDir()) / "Home.tsbak";
  EXPECT_EQ(ReadFile(file), std::string(8, '\0'));
  EXPECT_TRUE(Doc()->HasScheme());
  EXPECT_EQ(Doc()->GetPathName(), file.string());
  EXPECT_FALSE(Doc()->IsModified());
  EXPECT_EQ(Frame()->GetTitle(), wxString("Home") + kCaptionTail);
  // The empty Scheme invites files, not Backups.
  EXPECT_TRUE(Frame()->GetFilesView()->IsHintShown());
  EXPECT_TRUE(Frame()->GetFilesView()->GetHint().StartsWith("There are no files attached"));
}

TEST_F(ShellTest, NewSchemeOverAnExistingOneReplacesItAndItsBackups) {
  const std::string path = MakeScheme("Home");
  const fs::path backups = fs::path(path + ".backups");
  fs::create_directories(backups / "inner");
  WriteFile(backups / "Monday.zip", "zip");

  // "No" keeps the dialog open and everything on disk; the user then cancels.
  wxTEST_DIALOG(Command(ID_NEW_SCHEME), wxExpectModal<CNewSchemeDlg>(TypeName("Home", false)),
                CExpectMessage("A Scheme with such name already exists in My Schemes folder.\n"
                               "Do you want to overwrite it?",
                               "Scheme already exists", wxID_NO, wxICON_INFORMATION));
  EXPECT_TRUE(fs::exists(backups / "Monday.zip"));
  EXPECT_NE(ReadFile(path), std::string(8, '\0'));
  EXPECT_FALSE(Doc()->HasScheme());

  // A second question names how many Backups go; "No" keeps them.
  const wxString secondQuestion =
      "The Scheme \"Home\" has 1 Backup. Overwriting it deletes it, and you won't be able "
      "to undo this action.\nDo you want to overwrite it?";
  wxTEST_DIALOG(Command(ID_NEW_SCHEME), wxExpectModal<CNewSchemeDlg>(TypeName("Home")),
                CExpectMessage("A Scheme with such name already exists in My Schemes folder.\n"
                               "Do you want to overwrite it?",
                               "Scheme already exists", wxID_YES),
                CExpectMessage(secondQuestion, "Scheme already exists", wxID_NO, wxICON_WARNING));
  EXPECT_TRUE(fs::exists(backups / "Monday.zip"));
  EXPECT_NE(ReadFile(path), std::string(8, '\0'));
  EXPECT_FALSE(Doc()->HasScheme());

  wxTEST_DIALOG(Command(ID_NEW_SCHEME), wxExpectModal<CNewSchemeDlg>(TypeName("Home")),
                CExpectMessage("A Scheme with such name already exists in My Schemes folder.\n"
                               "Do you want to overwrite it?",
                               "Scheme already exists", wxID_YES),
                CExpectMessage(secondQuestion, "Scheme already exists", wxID_YES));
  EXPECT_FALSE(fs::exists(backups));
  EXPECT_EQ(ReadFile(path), std::string(8, '\0'));
  EXPECT_TRUE(Doc()->HasScheme());
  EXPECT_TRUE(Doc()->GetScheme().m_files.empty());
}

TEST_F(ShellTest, CancelledNewSchemeLeavesNoSchemeOpen) {
  const std::string path = MakeScheme("Home");
  ASSERT_TRUE(Doc()->OpenScheme(path));
  ASSERT_TRUE(Doc()->HasScheme());
  wxTEST_DIALOG(Command(ID_NEW_SCHEME),
                wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg&) { return wxID_CANCEL; }));
  EXPECT_FALSE(Doc()->HasScheme());
  EXPECT_EQ(Doc()->GetTitle(), "No Scheme");
  EXPECT_TRUE(Doc()->GetPathName().empty());
  EXPECT_FALSE(IsEnabled(ID_SAVE_SCHEME));
  EXPECT_FALSE(IsEnabled(ID_CLOSE_SCHEME));
  // The scheme file that was open is untouched.
  EXPECT_TRUE(fs::exists(path));
}

TEST_F(ShellTest, NewSchemeMakesAMissingSchemesFolder) {
  Settings().dir_schemes = (m_temp / "not yet").string();
  wxTEST_DIALOG(Command(ID_NEW_SCHEME), wxExpectModal<CNewSchemeDlg>(TypeName("First")));
  EXPECT_EQ(ReadFile(m_temp / "not yet" / "First.tsbak"), std::string(8, '\0'));
  EXPECT_TRUE(Doc()->HasScheme());
}

TEST_F(ShellTest, CloseSchemeOnAModifiedSchemeAsksFirst) {
  const std::string path = MakeScheme("Home");
  const std::string before = ReadFile(path);
  ASSERT_TRUE(Doc()->OpenScheme(path));
  Doc()->GetScheme().AddFileEntry("/tmp/added");
  Doc()->Modify(true);
  const int level = Doc()->GetOpenLevel();

  // Cancel keeps the Scheme open, modified and at its level.
  wxTEST_DIALOG(
      Command(ID_CLOSE_SCHEME),
      CExpectMessage("Save changes to Home?", "Tessarook Backup", wxID_CANCEL, wxICON_QUESTION));
  EXPECT_TRUE(Doc()->HasScheme());
  EXPECT_TRUE(Doc()->IsModified());
  EXPECT_EQ(Doc()->GetOpenLevel(), level);
  EXPECT_EQ(Doc()->GetScheme().m_files.size(), 2u);
  EXPECT_EQ(Frame()->GetTitle(), wxString("Home") + kCaptionTail);

  // No discards the edit: the file keeps what it had.
  wxTEST_DIALOG(Command(ID_CLOSE_SCHEME),
                CExpectMessage("Save changes to Home?", "Tessarook Backup", wxID_NO));
  EXPECT_FALSE(Doc()->HasScheme());
  EXPECT_FALSE(Doc()->IsModified());
  EXPECT_EQ(Doc()->GetOpenLevel(), 1);
  EXPECT_EQ(ReadFile(path), before);

  // Yes writes the edit before closing.
  ASSERT_TRUE(Doc()->OpenScheme(path));
  Doc()->GetScheme().AddFileEntry("/tmp/added");
  Doc()->Modify(true);
  wxTEST_DIALOG(Command(ID_CLOSE_SCHEME),
                CExpectMessage("Save changes to Home?", "Tessarook Backup", wxID_YES));
  EXPECT_FALSE(Doc()->HasScheme());
  CScheme saved;
  ASSERT_EQ(saved.Load(path), SchemeError::kOk);
  EXPECT_EQ(saved.FindFileEntry("/tmp/added"), 1);
}

TEST_F(ShellTest, FailedOpenResetsToThePlaceholder) {
  const std::string good = MakeScheme("Good");
  ASSERT_TRUE(Doc()->OpenScheme(good));
  const std::string goodBytes = ReadFile(good);
  const fs::path damaged = fs::path(SchemesDir()) / "Damaged.tsbak";
  WriteFile(damaged, std::string("\x01\x00\x00", 3));  // a count cut short

  bool opened = true;
  wxTEST_DIALOG(
      opened = Doc()->OpenScheme(damaged.string()),
      CExpectMessage("Unexpected file format.", "Tessarook Backup", wxID_OK, wxICON_EXCLAMATION));
  EXPECT_FALSE(opened);
  EXPECT_FALSE(Doc()->HasScheme());
  EXPECT_EQ(Doc()->GetOpenLevel(), 1);
  EXPECT_EQ(Doc()->GetTitle(), "No Scheme");
  EXPECT_TRUE(Doc()->GetPathName().empty());
  EXPECT_TRUE(Doc()->GetScheme().m_files.empty());
  EXPECT_FALSE(IsEnabled(ID_SAVE_SCHEME));
  // The Scheme that was open before keeps its file.
  EXPECT_EQ(ReadFile(good), goodBytes);

  const std::string missing = SchemesDir() + "/Gone.tsbak";
  wxTEST_DIALOG(Doc()->OpenScheme(missing),
                CExpectMessage(missing + " was not found.", "Tessarook Backup", wxID_OK));
  EXPECT_EQ(Doc()->GetTitle(), "No Scheme");
}

TEST_F(ShellTest, FailedSaveKeepsTheEditsMarkedUnsaved) {
  const std::string path = MakeScheme("Home");
  ASSERT_TRUE(Doc()->OpenScheme(path));
  Doc()->GetScheme().AddFileEntry("/tmp/added");
  Doc()->Modify(true);
  // A folder where the file should go: the save cannot replace it.
  const std::string blocked = SchemesDir() + "/Blocked.tsbak";
  fs::create_directories(blocked);
  bool saved = true;
  wxTEST_DIALOG(saved = Doc()->SaveTo(blocked), wxExpectAny(wxID_OK));
  EXPECT_FALSE(saved);
  EXPECT_TRUE(Doc()->IsModified());
  EXPECT_EQ(Doc()->GetPathName(), path);
  // Closing therefore still offers to save.
  wxTEST_DIALOG(Command(ID_CLOSE_SCHEME),
                CExpectMessage("Save changes to Home?", "Tessarook Backup", wxID_CANCEL));
  EXPECT_TRUE(Doc()->HasScheme());
}

TEST_F(ShellTest, SavingUnderAnotherNameTakesThatFilesTitle) {
  ASSERT_TRUE(Doc()->OpenScheme(MakeScheme("Home")));
  Doc()->Modify(true);
  const std::string target = (m_temp / "Copy.tsbak").string();
  ASSERT_TRUE(Doc()->SaveTo(target));
  EXPECT_FALSE(Doc()->IsModified());
  EXPECT_EQ(Doc()->GetPathName(), target);
  EXPECT_EQ(Frame()->GetTitle(), wxString("Copy") + kCaptionTail);
  EXPECT_EQ(TheApp().GetRecentSchemes().GetHistoryFile(0), target);
  CScheme copy;
  ASSERT_EQ(copy.Load(target), SchemeError::kOk);
  EXPECT_EQ(copy.m_files.size(), 1u);
}

TEST_F(ShellTest, RecentSchemesStandBetweenTheSeparators) {
  wxMenu* menu = Frame()->GetSchemeMenu();
  auto labelAt = [menu](size_t i) { return menu->FindItemByPosition(i)->GetItemLabel(); };
  // Nothing recent: one disabled placeholder (after New, Open, Save, Save As,
  // Close, Schedule and a separator).
  ASSERT_EQ(menu->GetMenuItemCount(), 10u);
  EXPECT_FALSE(menu->FindItemByPosition(7)->IsEnabled());

  const std::string a = MakeScheme("A"), b = MakeScheme("B");
  ASSERT_TRUE(Doc()->OpenScheme(a));
  ASSERT_TRUE(Doc()->OpenScheme(b));
  ASSERT_EQ(menu->GetMenuItemCount(), 11u);
  EXPECT_TRUE(menu->FindItemByPosition(6)->IsSeparator());
  EXPECT_EQ(labelAt(7), "&1 " + b);
  EXPECT_EQ(labelAt(8), "&2 " + a);
  EXPECT_TRUE(menu->FindItemByPosition(9)->IsSeparator());
  EXPECT_EQ(menu->FindItemByPosition(10)->GetId(), ID_EXIT);

  // At most four are kept.
  for (const char* name : {"C", "D", "E"}) ASSERT_TRUE(Doc()->OpenScheme(MakeScheme(name)));
  EXPECT_EQ(TheApp().GetRecentSchemes().GetCount(), 4u);
  EXPECT_EQ(menu->GetMenuItemCount(), 13u);

  // Choosing one opens it and moves it to the top: B, E, D, C.
  Command(ID_RECENT_FIRST + 3);
  EXPECT_EQ(Doc()->GetPathName(), b);
  EXPECT_EQ(labelAt(7), "&1 " + b);
  // One whose file is gone reports it and leaves the list.
  const std::string d = SchemesDir() + "/D.tsbak";
  ASSERT_EQ(TheApp().GetRecentSchemes().GetHistoryFile(2), d);
  fs::remove(d);
  wxTEST_DIALOG(Command(ID_RECENT_FIRST + 2),
                CExpectMessage(d + " was not found.", "Tessarook Backup", wxID_OK));
  EXPECT_EQ(TheApp().GetRecentSchemes().GetCount(), 3u);
  EXPECT_EQ(menu->GetMenuItemCount(), 12u);
  EXPECT_FALSE(Doc()->HasScheme());
}
