// SPDX-License-Identifier: GPL-3.0-or-later
// The application: one instance only, the settings written at exit.
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "exchange/CsmWriter.h"
#include "files/FilesView.h"
#include "library/SchemesView.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

// Starts the real program once more (this test program is the running
// instance: same HOME, same runtime folder) with `args`, in `workingDir`, and
// waits for it to end while this one goes on handling its events. Returns the
// exit status (-1 when it did not end in time); its error output goes to `log`.
int StartSecondInstance(const std::vector<std::string>& args, const std::string& workingDir,
                        const std::string& log) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (!freopen(log.c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout)) _exit(125);
    if (chdir(workingDir.c_str()) != 0) _exit(126);
    std::vector<char*> argv{const_cast<char*>(TESSAROOK_GUI_EXE)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(TESSAROOK_GUI_EXE, argv.data());
    _exit(127);
  }
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 400 && done == 0; ++i) {
    done = waitpid(child, &status, WNOHANG);
    if (done == 0) {
      wxTheApp->ProcessPendingEvents();
      wxTheApp->Yield(true);
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  if (done == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(ShellTest, ASecondStartHandsItsCommandLineToTheRunningWindow) {
  CTempFolder out;
  const std::string log = (out / "stderr.txt").string();
  // The window sits in the tray (hidden), no Scheme open.
  Frame()->Hide();
  const int before = TheApp().GetSecondStarts();
  MakeScheme("Holiday", "/etc/hostname");

  // Started again with a scheme file, named relative to its own folder: the
  // second process ends at once without a word, the running window comes to
  // the front and opens the file. Still one program with a window.
  EXPECT_EQ(StartSecondInstance({"Holiday.tsbak"}, SchemesDir(), log), 0);
  EXPECT_EQ(ReadFile(log), "");
  Flush();
  EXPECT_EQ(TheApp().GetSecondStarts(), before + 1);
  EXPECT_TRUE(Frame()->IsShown());
  ASSERT_TRUE(Doc()->HasScheme());
  EXPECT_EQ(Doc()->GetPathName(), SchemesDir() + "/Holiday.tsbak");

  // Without arguments: only to the front.
  Frame()->Iconize(true);
  EXPECT_EQ(StartSecondInstance({}, SchemesDir(), log), 0);
  Flush();
  EXPECT_EQ(TheApp().GetSecondStarts(), before + 2);
  EXPECT_FALSE(Frame()->IsIconized());
  EXPECT_EQ(Doc()->GetPathName(), SchemesDir() + "/Holiday.tsbak");

  // A Compressed Scheme from the file manager is imported.
  MakeScheme("trip", "/etc/hosts");
  const std::string csm = (out / "trip.csm").string();
  ASSERT_EQ(CCsmWriter(SchemesDir()).Run("trip", csm), ExportResult::kDone);
  fs::remove(SchemesDir() + "/trip.tsbak");
  CSchemesView* schemes = Frame()->GetSchemesView();
  const unsigned ended = schemes->GetEndedRuns();
  EXPECT_EQ(StartSecondInstance({csm}, "/", log), 0);
  for (int i = 0; i < 500 && schemes->GetEndedRuns() == ended; ++i) {
    Flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(fs::exists(SchemesDir() + "/trip.tsbak"));
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
