// SPDX-License-Identifier: GPL-3.0-or-later
// Opens the Backup contents dialog on a Backup RUNS times, as Browse does, and
// prints each time in milliseconds from the start until the dialog is shown
// with its rows drawn and nothing left to do, then the part of it spent
// reading the Backup and building the tree, and the number of rows.
// Usage: bench-browse-open BACKUP.zip [RUNS]
#include <wx/app.h>
#include <wx/evtloop.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "backup/BackupPropsDlg.h"

class BenchApp : public wxApp {
 public:
  bool OnInit() override {
    if (argc < 2) {
      std::fprintf(stderr, "usage: bench-browse-open BACKUP.zip [RUNS]\n");
      m_status = 2;
      return false;
    }
    const std::string backup = argv[1].utf8_string();
    const int runs = argc > 2 ? std::atoi(argv[2].utf8_string().c_str()) : 5;
    for (int run = 0; run < runs; ++run) {
      const auto start = std::chrono::steady_clock::now();
      auto* dialog = new tessarook::CBackupPropsDlg(nullptr);
      dialog->m_strName = "bench";
      dialog->m_backupPath = backup;
      wxString error;
      if (!dialog->Load(error)) {
        std::fprintf(stderr, "%s\n", error.utf8_string().c_str());
        m_status = 1;
        return false;
      }
      const double loaded =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      dialog->Show();
      dialog->Update();
      // Until the window system and the dialog have nothing more to do.
      for (int quiet = 0, rounds = 0; quiet < 3 && rounds < 100000; ++rounds) {
        const bool busy = wxTheApp->Pending() || ProcessIdle();
        if (busy) {
          if (wxTheApp->Pending()) wxTheApp->Dispatch();
          quiet = 0;
        } else {
          ++quiet;
        }
      }
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      std::printf("%.0f %.0f %d\n", ms, loaded, dialog->GetRowCount());
      std::fflush(stdout);
      dialog->Destroy();
      while (wxTheApp->Pending()) wxTheApp->Dispatch();
    }
    return false;
  }
  int OnExit() override { return m_status; }

 private:
  int m_status = 0;
};

wxIMPLEMENT_APP_NO_MAIN(BenchApp);

int main(int argc, char** argv) {
  const int status = wxEntry(argc, argv);
  return status;
}
