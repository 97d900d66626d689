// SPDX-License-Identifier: GPL-3.0-or-later
// The application: one instance only, the settings written at exit.
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "GuiTestSupport.h"
#include "exchange/CsmWriter.h"
#include "files/FilesView.h"
#include "library/SchemesView.h"

namespace fs = std::filesystem;
using namespace tessarook;

TEST(Application, SecondStartEndsSilently) {
  // This test program runs as the first instance (same HOME); start the real
  // program once more.
  CTempFolder out;
  const std::string log = (out / "stderr.txt").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FILE* err = freopen(log.c_str(), "w", stderr);
    (void)err;
    freopen("/dev/null", "w", stdout);
    execl(TESSAROOK_GUI_EXE, TESSAROOK_GUI_EXE, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 200 && done == 0; ++i) {
    done = waitpid(child, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (done == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the second instance kept running";
  }
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 127) << "could not start " << TESSAROOK_GUI_EXE;
  EXPECT_EQ(ReadFile(log), "");  // not a word
}

TEST_F(ShellTest, SettingsAreWrittenAtExit) {
  const std::string file = TheApp().GetSettings().GetSettingsPath();
  Settings().dir_schemes = "/srv/schemes & more";
  Settings().minimize_to_tray = true;
  Frame()->GetFilesView();
  ASSERT_TRUE(TheApp().SaveSettings());
  const std::string xml = ReadFile(file);
  EXPECT_NE(xml.find("<minimize_to_tray>1</minimize_to_tray>"), std::string::npos) << xml;
  // Another XML reader agrees.
  const std::string command =
      "python3 -c \"import sys,xml.etree.ElementTree as E;"
      "r=E.parse(sys.argv[1]).getroot();"
      "sys.exit(0 if r.find('dir_schemes').text=='/srv/schemes & more' "
      "else 1)\" '" +
      file + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << xml;

  // A settings file that cannot be written is reported once.
  fs::remove(file);
  fs::create_directories(file);  // a folder stands where the file goes
  bool saved = true;
  wxTEST_DIALOG(saved = TheApp().SaveSettings(),
                CExpectMessage("Tessarook is unable to save the program settings.\n"
                               "Please reboot before re-starting Tessarook.",
                               "Settings error", wxID_OK, wxICON_WARNING));
  EXPECT_FALSE(saved);
  fs::remove_all(file);
}

TEST_F(ShellTest, StartingWithASchemeFileOpensIt) {
  const std::string path = MakeScheme("Work - Photos", "/etc/hostname");
  TheApp().EndShell();
  ASSERT_TRUE(TheApp().StartShell(wxString::FromUTF8(path.c_str())));
  EXPECT_EQ(Frame()->GetTitle(), "Work - Photos - Tessarook Backup");
  EXPECT_TRUE(Doc()->HasScheme());
  EXPECT_EQ(Doc()->GetOpenLevel(), 2);  // the open's +2 without a placeholder first
  EXPECT_EQ(Frame()->GetFilesView()->GetItemCount(), 1);

  // A file that cannot be read: its error, then no window stays.
  TheApp().EndShell();
  const std::string missing = SchemesDir() + "/Missing.tsbak";
  bool started = true;
  wxTEST_DIALOG(started = TheApp().StartShell(wxString::FromUTF8(missing.c_str())),
                CExpectMessage(missing + " was not found.", "Tessarook Backup", wxID_OK));
  EXPECT_FALSE(started);
  EXPECT_EQ(TheApp().GetMainFrame(), nullptr);
  EXPECT_EQ(TheApp().GetDocument(), nullptr);
  ASSERT_TRUE(TheApp().StartShell(wxString()));  // for the rest of the run
}

TEST_F(ShellTest, PropertiesDialogCommandsAreForwardedToTheOpenDialog) {
  for (int id : {190, 187, 188, 189}) Command(id);  // no dialog: nothing happens
  wxDialog dialog(Frame(), wxID_ANY, "contents");
  std::vector<int> received;
  dialog.Bind(wxEVT_MENU, [&received](wxCommandEvent& e) { received.push_back(e.GetId()); });
  Frame()->SetPropertiesDialog(&dialog);
  for (int id : {190, 187, 188, 189}) Command(id);
  Flush();
  Frame()->SetPropertiesDialog(nullptr);
  EXPECT_EQ(received, (std::vector<int>{190, 187, 188, 189}));
}

TEST_F(ShellTest, StartingWithACompressedSchemeImportsIt) {
  // A Compressed Scheme opened from the file manager: the program starts and imports it.
  MakeScheme("trip", "/etc/hosts");
  const std::string csm = (m_temp / "trip.CSM").string();
  ASSERT_EQ(CCsmWriter(SchemesDir()).Run("trip", csm), ExportResult::kDone);
  fs::remove(SchemesDir() + "/trip.tsbak");
  TheApp().EndShell();
  ASSERT_TRUE(TheApp().StartShell(wxString::FromUTF8(csm.c_str())));
  EXPECT_FALSE(Doc()->HasScheme());
  CSchemesView* schemes = Frame()->GetSchemesView();
  for (int i = 0; i < 500 && schemes->GetEndedRuns() == 0; ++i) {
    Flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(schemes->GetEndedRuns(), 1u);
  EXPECT_TRUE(fs::exists(SchemesDir() + "/trip.tsbak"));
  EXPECT_TRUE(schemes->SelectName("trip"));
}
