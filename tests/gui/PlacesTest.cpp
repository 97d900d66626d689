// SPDX-License-Identifier: GPL-3.0-or-later
// Where the desktop program keeps its files for the user: settings, profile,
// single-instance lock and the default My Schemes folder.
#include <wx/config.h>
#include <wx/stattext.h>

#include <cstdlib>
#include <filesystem>

#include "GuiTestSupport.h"
#include "app/CommandIds.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

fs::path Home() { return std::getenv("HOME"); }

}  // namespace

TEST_F(ShellTest, ProgramFilesLiveInTheUsersFoldersAndNoneInTheHomeFolderItself) {
  EXPECT_EQ(Settings().GetSettingsPath(), (Home() / ".config/tessarook/settings.xml").string());
  // The lock is in the runtime folder while the program runs.
  const fs::path lock =
      fs::path(std::getenv("XDG_RUNTIME_DIR")) / CTessarookApp::InstanceName().utf8_string();
  EXPECT_TRUE(fs::exists(lock)) << lock;

  // Placement and recent files go to the profile in the config folder.
  Frame()->SetSize(wxRect(30, 40, 640, 480));
  TheApp().EndShell();
  const std::string profile = ReadFile(Home() / ".config/tessarook/profile.conf");
  EXPECT_NE(profile.find("wstatus="), std::string::npos) << profile;
  ASSERT_TRUE(TheApp().StartShell(wxString()));
  EXPECT_EQ(Frame()->GetSize(), wxSize(640, 480));

  for (const fs::directory_entry& entry : fs::directory_iterator(Home())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == ".config" || name == ".local") << "left in the home folder: " << name;
  }
}

TEST_F(ShellTest, SettingsDialogShowsTheDefaultFolderAndMakesItWhenChosen) {
  const std::string standard = CSettings::DefaultSchemesDir();
  EXPECT_EQ(standard, (Home() / ".local/share/tessarook/My Schemes").string());
  ASSERT_FALSE(fs::exists(standard));
  Settings().dir_schemes = standard;
  wxTEST_DIALOG(Command(ID_SETTINGS), wxExpectModal<CSettingsDlg>([&standard](CSettingsDlg& d) {
                  auto* shown = dynamic_cast<wxStaticText*>(d.FindWindow("defaultFolder"));
                  EXPECT_NE(shown, nullptr);
                  if (shown) {
                    EXPECT_NE(shown->GetLabel().utf8_string().find(standard), std::string::npos)
                        << shown->GetLabel().utf8_string();
                  }
                  // A first OK with the default folder is not refused: the folder is made.
                  EXPECT_TRUE(d.TryAccept());
                  return wxID_OK;
                }));
  EXPECT_TRUE(fs::is_directory(standard));
  EXPECT_EQ(Settings().dir_schemes, standard);
}

TEST_F(ShellTest, NewSchemeNamesWhyTheMySchemesFolderCannotBeMade) {
  WriteFile(m_temp / "file", "x");
  const std::string folder = (m_temp / "file" / "My Schemes").string();
  Settings().dir_schemes = folder;
  wxTEST_DIALOG(Command(ID_NEW_SCHEME),
                CExpectMessage("Cannot create the My Schemes folder " + folder + ": " +
                                   (m_temp / "file").string() + ": not a directory.",
                               "Tessarook Backup", wxID_OK, wxICON_ERROR));
  EXPECT_FALSE(Doc()->HasScheme());
}
