// SPDX-License-Identifier: GPL-3.0-or-later
// A Backup that ends while the window is hidden in the notification area is
// announced on the desktop; one that ends in view is not.

#include <string>
#include <utility>
#include <vector>

#include "BackupGuiTestSupport.h"

namespace fs = std::filesystem;

TEST_F(BackupsTest, ABackupEndingWhileTheWindowIsHiddenIsAnnounced) {
  OpenTreeScheme();
  std::vector<std::pair<std::string, bool>> notes;  // message, error
  Frame()->SetNotifier([&](const wxString& title, const wxString& message, bool error) {
    EXPECT_EQ(title, "Tessarook");
    notes.emplace_back(message.utf8_string(), error);
  });

  int runs = View()->GetFinishedRuns();
  ASSERT_TRUE(View()->StartBackup("in view"));
  ASSERT_TRUE(WaitForRuns(++runs));
  EXPECT_TRUE(notes.empty()) << "the window shows the result itself";

  Frame()->Hide();  // as minimising to the tray does
  ASSERT_TRUE(View()->StartBackup("hidden"));
  ASSERT_TRUE(WaitForRuns(++runs));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], std::make_pair(std::string("The Backup \"hidden\" is finished."), false));

  // A failure is announced too, and still reported in its "Error" box.
  fs::create_directories(BackupFile("blocked"));
  ASSERT_TRUE(View()->StartBackup("blocked"));
  wxTEST_DIALOG(ASSERT_TRUE(WaitForRuns(++runs)),
                CExpectMessageStart("The Backup could not be written.\n", "Error"));
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[1].first.rfind("The Backup \"blocked\" could not be written.\n", 0), 0u)
      << notes[1].first;
  EXPECT_TRUE(notes[1].second);

  Frame()->Show();
  ASSERT_TRUE(View()->StartBackup("shown again"));
  ASSERT_TRUE(WaitForRuns(++runs));
  EXPECT_EQ(notes.size(), 2u);
  Frame()->SetNotifier({});
}
