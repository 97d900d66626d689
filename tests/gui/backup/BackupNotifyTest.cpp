// SPDX-License-Identifier: GPL-3.0-or-later
// A Backup that ends while the user does not look at the window (another
// window is in front, or it is hidden in the notification area) is announced
// on the desktop with its counts, or with what went wrong; one that ends in
// view is not. Every end is noted in the Scheme's record.

#include <string>
#include <utility>
#include <vector>

#include "BackupGuiTestSupport.h"
#include "library/ScheduleDlg.h"
#include "library/SchemeRecord.h"
#include "shell/StatusTexts.h"

namespace fs = std::filesystem;

TEST_F(BackupsTest, ABackupEndingWhileTheWindowIsHiddenIsAnnounced) {
  OpenTreeScheme();
  std::vector<std::pair<std::string, bool>> notes;  // message, error
  Frame()->SetNotifier([&](const wxString& title, const wxString& message, bool error) {
    EXPECT_EQ(title, "Tessarook");
    notes.emplace_back(message.utf8_string(), error);
  });

  bool active = true;
  Frame()->SetActiveProbe([&active] { return active; });

  int runs = View()->GetFinishedRuns();
  ASSERT_TRUE(View()->StartBackup("in view"));
  ASSERT_TRUE(WaitForRuns(++runs));
  EXPECT_TRUE(notes.empty()) << "the window shows the result itself";

  active = false;  // the user went on in another window
  ASSERT_TRUE(View()->StartBackup("elsewhere"));
  ASSERT_TRUE(WaitForRuns(++runs));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].first, "The Backup \"elsewhere\" is finished: 3 files, " +
                                tessarook::FormatFileSize(fs::file_size(BackupFile("elsewhere"))) +
                                ".");
  EXPECT_FALSE(notes[0].second);
  active = true;

  Frame()->Hide();  // as minimising to the tray does
  ASSERT_TRUE(View()->StartBackup("hidden"));
  ASSERT_TRUE(WaitForRuns(++runs));
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[1].first.rfind("The Backup \"hidden\" is finished: 3 files, ", 0), 0u);
  notes.erase(notes.begin());

  // A failure is announced too, and still reported in its "Error" box.
  fs::create_directories(BackupFile("blocked"));
  ASSERT_TRUE(View()->StartBackup("blocked"));
  wxTEST_DIALOG(ASSERT_TRUE(WaitForRuns(++runs)),
                CExpectMessageStart("The Backup could not be written.\n", "Error"));
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[1].first.rfind("The Backup \"blocked\" could not be written.\n", 0), 0u)
      << notes[1].first;
  EXPECT_TRUE(notes[1].second);

  tessarook::CSchemeRecords records(tessarook::AppRecordsFile());
  tessarook::SchemeRecord record = records.Get(Doc()->GetPathName());
  EXPECT_EQ(record.lastName, "blocked");
  EXPECT_EQ(record.lastEnd, tessarook::BackupEnd::kFailed);
  EXPECT_FALSE(record.lastError.empty());

  Frame()->Show();
  ASSERT_TRUE(View()->StartBackup("shown again"));
  ASSERT_TRUE(WaitForRuns(++runs));
  EXPECT_EQ(notes.size(), 2u);
  record = records.Get(Doc()->GetPathName());
  EXPECT_EQ(record.lastName, "shown again");
  EXPECT_EQ(record.lastEnd, tessarook::BackupEnd::kOk);
  EXPECT_EQ(record.lastFiles, 3u);
  Frame()->SetNotifier({});
  Frame()->SetActiveProbe({});
}
