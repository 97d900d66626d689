// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop program's test runner: GoogleTest first, then the program
// itself in a temporary home, so nothing touches the user's files.
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/init.h>
#include <wx/modalhook.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "GuiTestSupport.h"
#include "app/TessarookApp.h"

namespace {

// Catches a dialog shown outside any wxTEST_DIALOG: fails the test and closes
// it at once instead of waiting for a user who never comes.
class CNoDialogHook : public wxModalDialogHook {
 protected:
  int Enter(wxDialog* dialog) override {
    wxString text = dialog->GetTitle();
    if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) text += ": " + box->GetMessage();
    ADD_FAILURE() << "unexpected dialog \"" << text.utf8_string() << "\"";
    return SafestAnswer(dialog);
  }
};

// A failed wxWidgets check is a test failure, not a dialog.
void OnToolkitAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                     const wxString& message) {
  ADD_FAILURE_AT(file.utf8_string().c_str(), line)
      << func.utf8_string() << ": " << cond.utf8_string() << " " << message.utf8_string();
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();

  namespace fs = std::filesystem;
  const fs::path home =
      fs::temp_directory_path() / ("tessarook-gui-home-" + std::to_string(getpid()));
  fs::remove_all(home);
  fs::create_directories(home);
  // The program finds its own places below this home, as for any user; the
  // runtime folder (the single-instance lock) lies apart from it.
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_DATA_HOME");
  const fs::path runtime = home.string() + "-run";
  fs::remove_all(runtime);
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

  wxSetAssertHandler(OnToolkitAssert);
  wxApp::SetInstance(new tessarook::CTessarookApp);
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  if (!wxEntryStart(wxArgc, wxArgv)) {
    fprintf(stderr, "cannot start wxWidgets (no display?)\n");
    return 1;
  }
  wxTheApp->SetExitOnFrameDelete(false);
  CNoDialogHook noDialogs;
  noDialogs.Register();
  int result = 1;
  if (wxTheApp->CallOnInit()) {
    result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
  } else {
    fprintf(stderr, "the program did not start\n");
  }
  noDialogs.Unregister();
  wxEntryCleanup();
  std::error_code ec;
  fs::remove_all(home, ec);
  fs::remove_all(runtime, ec);
  return result;
}
