// SPDX-License-Identifier: GPL-3.0-or-later
// The name dialog, the settings dialog, the About box and its link labels.
#include <wx/settings.h>
#include <wx/utils.h>

#include <filesystem>

#include "GuiTestSupport.h"
#include "app/AboutDlg.h"
#include "app/CommandIds.h"
#include "app/LinkLabel.h"
#include "library/SchemesView.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

const char kInvalidName[] =
    "The name cannot contain the following characters: \\ / : * ? \" < > |\n"
    "Please type in a valid name.";
const char kBackupExists[] =
    "A Backup with such name already exists in this Scheme.\nDo you want to overwrite it?";

// A name dialog as a caller sets it up, shown with the test as its user.
int RunNameDialog(wxWindow* parent, int mode, const wxString& preset,
                  std::function<int(CNewSchemeDlg&)> user, wxString* result = nullptr) {
  CNewSchemeDlg dialog(parent);
  dialog.m_strCaption = mode == NAME_BACKUP ? "Rename Backup" : "Rename Scheme";
  dialog.m_strLabel = mode == NAME_BACKUP ? "Backup name:" : "Scheme name:";
  dialog.m_nMode = mode;
  dialog.m_strName = preset;
  int answer = wxID_NONE;
  wxTEST_DIALOG(answer = dialog.ShowModal(), wxExpectModal<CNewSchemeDlg>(user));
  if (result) *result = dialog.m_strName;
  return answer;
}

bool Type(CNewSchemeDlg& dialog, const wxString& text) {
  dialog.GetNameEdit()->SetValue(text);
  return dialog.TryAccept();
}

}  // namespace

TEST_F(ShellTest, NameDialogRefusals) {
  MakeScheme("Home");
  wxString name;
  const int answer = RunNameDialog(
      Frame(), NAME_SCHEME, "Home",
      [](CNewSchemeDlg& d) {
        EXPECT_EQ(d.GetTitle(), "Rename Scheme");
        EXPECT_EQ(d.GetLabelControl()->GetLabel(), "Scheme name:");
        EXPECT_EQ(d.GetNameEdit()->GetValue(), "Home");
        // Empty: refused without a word.
        EXPECT_FALSE(Type(d, ""));
        // A slash: explained, and the typed text stays for correcting.
        wxTEST_DIALOG(
            EXPECT_FALSE(Type(d, "a/b")),
            CExpectMessage(kInvalidName, "Invalid Scheme name", wxID_OK, wxICON_INFORMATION));
        EXPECT_EQ(d.GetNameEdit()->GetValue(), "a/b");
        // Blanks are a name.
        EXPECT_TRUE(Type(d, "   "));
        // The name it opened with needs no question although it exists.
        EXPECT_TRUE(Type(d, "Home"));
        return wxID_OK;
      },
      &name);
  EXPECT_EQ(answer, wxID_OK);
  EXPECT_EQ(name, "Home");
}

TEST_F(ShellTest, NameDialogForBackupsAsksAboutTheOpenSchemesBackups) {
  const std::string scheme = MakeScheme("Home");
  ASSERT_TRUE(Doc()->OpenScheme(scheme));
  fs::create_directories(scheme + ".backups");
  WriteFile(scheme + ".backups/Monday.zip", "zip");
  RunNameDialog(Frame(), NAME_BACKUP, "", [](CNewSchemeDlg& d) {
    // The invalid-name caption is the same in both modes.
    wxTEST_DIALOG(EXPECT_FALSE(Type(d, "x|y")),
                  CExpectMessage(kInvalidName, "Invalid Scheme name", wxID_OK));
    wxTEST_DIALOG(
        EXPECT_FALSE(Type(d, "Monday")),
        CExpectMessage(kBackupExists, "Backup already exists", wxID_NO, wxICON_INFORMATION));
    EXPECT_EQ(d.GetNameEdit()->GetValue(), "Monday");
    wxTEST_DIALOG(EXPECT_TRUE(Type(d, "Monday")),
                  CExpectMessage(kBackupExists, "Backup already exists", wxID_YES));
    // A Scheme of that name is no Backup.
    EXPECT_TRUE(Type(d, "Home"));
    return wxID_OK;
  });
}

TEST_F(ShellTest, SettingsDialogRefusesAFolderThatDoesNotExist) {
  const std::string before = Settings().dir_schemes;
  wxTEST_DIALOG(Command(ID_SETTINGS), wxExpectModal<CSettingsDlg>([](CSettingsDlg& d) {
                  for (const char* folder : {"", "/no/such/folder"}) {
                    d.GetFolderEdit()->SetValue(folder);
                    wxTEST_DIALOG(
                        EXPECT_FALSE(d.TryAccept()),
                        CExpectMessage("The folder you've selected as My Schemes folder doesn't "
                                       "exist. Please select a different one.",
                                       "Invalid Folder", wxID_OK, wxICON_INFORMATION));
                    EXPECT_EQ(d.GetFolderEdit()->GetValue(), folder);  // kept for correcting
                  }
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(Settings().dir_schemes, before);
}

TEST_F(ShellTest, SettingsDialogAppliesOnOkOnly) {
  fs::create_directories(m_temp / "Elsewhere");
  const bool refresh = Settings().autorefresh;
  // Cancel after editing changes nothing.
  wxTEST_DIALOG(Command(ID_SETTINGS), wxExpectModal<CSettingsDlg>([this](CSettingsDlg& d) {
                  EXPECT_EQ(d.GetFolderEdit()->GetValue(), SchemesDir());
                  d.GetFolderEdit()->SetValue((m_temp / "Elsewhere").string());
                  d.GetRefreshCheck()->SetValue(!d.GetRefreshCheck()->GetValue());
                  d.GetAbsoluteRadio()->SetValue(true);
                  EXPECT_TRUE(d.GetNormalRadio()->GetValue());
                  d.GetFasterRadio()->SetValue(true);
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(Settings().dir_schemes, SchemesDir());
  EXPECT_EQ(Settings().autorefresh, refresh);
  EXPECT_FALSE(Settings().zip_absolute);
  EXPECT_EQ(Settings().compression_level, CSettings::kNormalCompression);

  // OK stores all five; a folder typed with a trailing separator keeps it.
  const std::string typed = (m_temp / "Elsewhere").string() + "/";
  wxTEST_DIALOG(Command(ID_SETTINGS), wxExpectModal<CSettingsDlg>([&](CSettingsDlg& d) {
                  d.GetFolderEdit()->SetValue(typed);
                  d.GetRefreshCheck()->SetValue(!refresh);
                  d.GetTrayCheck()->SetValue(true);
                  d.GetAbsoluteRadio()->SetValue(true);
                  d.GetSmallerRadio()->SetValue(true);
                  EXPECT_TRUE(d.TryAccept());
                  return wxID_OK;
                }));
  EXPECT_EQ(Settings().dir_schemes, typed);
  EXPECT_EQ(Settings().autorefresh, !refresh);
  EXPECT_TRUE(Settings().minimize_to_tray);
  EXPECT_TRUE(Settings().zip_absolute);
  EXPECT_EQ(Settings().compression_level, CSettings::kSmallerCompression);

  // A relative folder below the current one is accepted and kept as typed.
  const fs::path old = fs::current_path();
  fs::current_path(m_temp.Path());
  wxTEST_DIALOG(Command(ID_SETTINGS), wxExpectModal<CSettingsDlg>([](CSettingsDlg& d) {
                  EXPECT_TRUE(d.GetAbsoluteRadio()->GetValue());
                  EXPECT_TRUE(d.GetSmallerRadio()->GetValue());
                  d.GetFolderEdit()->SetValue("Elsewhere");
                  EXPECT_TRUE(d.TryAccept());
                  return wxID_OK;
                }));
  fs::current_path(old);
  EXPECT_EQ(Settings().dir_schemes, "Elsewhere");
}

TEST_F(ShellTest, AboutBoxAndItsLinks) {
  wxTEST_DIALOG(Command(ID_ABOUT), wxExpectAny(wxID_OK).Describe("About box"));

  CAboutDlg about(Frame());
  EXPECT_EQ(about.GetTitle(), "About Tessarook");
  CLinkLabel* version = about.GetVersionLabel();
  EXPECT_EQ(version->GetLabel(), wxString("Tessarook ") + TESSAROOK_VERSION);
  EXPECT_EQ(version->GetLabelFont().GetWeight(), wxFONTWEIGHT_BOLD);
  EXPECT_EQ(version->GetLabelFont().GetPointSize(), 14);
  EXPECT_TRUE(version->IsText3D());
  EXPECT_EQ(version->GetLinkMode(), CLinkLabel::kNoLink);
  EXPECT_EQ(about.GetWebLabel()->GetTextColor(), wxColour(0, 0, 255));
  EXPECT_TRUE(about.GetWebLabel()->GetLabelFont().GetUnderlined());

  // Clicks open the web address, and a new mail to the address.
  std::vector<wxString> opened;
  auto previous = CLinkLabel::SetOpener([&](const wxString& url) {
    opened.push_back(url);
    return true;
  });
  for (CLinkLabel* label : {about.GetWebLabel(), about.GetMailLabel(), about.GetVersionLabel()}) {
    wxMouseEvent click(wxEVT_LEFT_DOWN);
    click.SetEventObject(label);
    label->ProcessWindowEvent(click);
  }
  CLinkLabel::SetOpener(previous);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], CAboutDlg::WebAddress());
  EXPECT_EQ(opened[1], wxString("mailto:") + CAboutDlg::MailAddress());
}

TEST_F(ShellTest, LinkLabelRepaintsItsBackgroundAfterAColourChange) {
  CLinkLabel label(Frame(), wxID_ANY, "text");
  const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
  EXPECT_EQ(label.GetBackgroundFill(), face);
  label.SetBackgroundFill(wxColour(1, 2, 3));
  wxSysColourChangedEvent changed;
  changed.SetEventObject(&label);
  label.ProcessWindowEvent(changed);
  EXPECT_EQ(label.GetBackgroundFill(), face);
}
