// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "../exchange/TestFiles.h"
#include "monitor/FolderSnapshot.h"
#include "monitor/FolderWatcher.h"

namespace tessarook {
namespace {

using namespace tessarook::testing;
using namespace std::chrono_literals;

struct Report {
  ChangeKind kind;
  std::string path;
};

// Collects the reports a watcher's callback receives on the watcher's thread.
struct Collector {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<Report> reports;
  int result = 0;

  static int Callback(const CFileSnapshotItem& item, ChangeKind kind, void* self) {
    auto* c = static_cast<Collector*>(self);
    std::lock_guard<std::mutex> lock(c->mutex);
    c->reports.push_back({kind, item.FullPath()});
    c->cv.notify_all();
    return c->result;
  }

  // Waits (generously) for report number `n` (counting from 1).
  bool WaitFor(size_t n, std::chrono::milliseconds limit = 5000ms) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, limit, [&] { return reports.size() >= n; });
  }
  bool WaitForKind(ChangeKind kind, std::chrono::milliseconds limit = 5000ms) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, limit, [&] {
      for (const Report& r : reports)
        if (r.kind == kind) return true;
      return false;
    });
  }
  std::vector<Report> Reports() {
    std::lock_guard<std::mutex> lock(mutex);
    return reports;
  }
};

CFolderSnapshot Snap(const std::string& folder) {
  CFolderSnapshot s;
  s.Take(folder);
  return s;
}

TEST(FolderSnapshotTest, ListsDepthFirstAndSkipsHiddenAndTemporaryFiles) {
  TempDir tmp;
  WriteFile(tmp / "w/sub/inner.txt", "i");
  WriteFile(tmp / "w/.hiddendir/seen.txt", "s");
  for (const char* ignored :
       {"~draft.doc", "notes.tmp", "a.TMP.txt", "report.bak", "x.bakery", ".hidden", "sub/~x"})
    WriteFile(tmp / ("w/" + std::string(ignored)), "t");
  WriteFile(tmp / "w/keep.txt", "k");
  const CFolderSnapshot snap = Snap(tmp / "w");
  std::vector<std::string> paths;
  for (const auto& item : snap.Items()) paths.push_back(item.FullPath());
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths,
            (std::vector<std::string>{tmp / "w/.hiddendir", tmp / "w/.hiddendir/seen.txt",
                                      tmp / "w/keep.txt", tmp / "w/sub", tmp / "w/sub/inner.txt"}));
  // A folder's contents follow it at once.
  for (size_t i = 0; i < snap.Items().size(); ++i)
    if (snap.Items()[i].m_name == "inner.txt") {
      EXPECT_EQ(snap.Items()[i - 1].m_name, "sub");
    }
  EXPECT_TRUE(Snap(tmp / "missing").Items().empty());
}

TEST(FolderSnapshotTest, CompareFindsTheFirstCreatedDeletedOrChangedItem) {
  TempDir tmp;
  WriteFile(tmp / "w/a.txt", "a");
  const CFolderSnapshot one = Snap(tmp / "w");
  WriteFile(tmp / "w/b.txt", "b");
  const CFolderSnapshot two = Snap(tmp / "w");
  CFileSnapshotItem item = CFileSnapshotItem::Default();
  EXPECT_EQ(CFolderSnapshot::Compare(one, one, item), ChangeKind::kNone);
  EXPECT_EQ(item.FullPath(), "default.txt/");
  EXPECT_EQ(CFolderSnapshot::Compare(one, two, item), ChangeKind::kCreated);
  EXPECT_EQ(item.FullPath(), tmp / "w/b.txt");
  EXPECT_EQ(CFolderSnapshot::Compare(two, one, item), ChangeKind::kDeleted);
  EXPECT_EQ(item.FullPath(), tmp / "w/b.txt");
  WriteFile(tmp / "w/b.txt", "longer");
  EXPECT_EQ(CFolderSnapshot::Compare(two, Snap(tmp / "w"), item), ChangeKind::kChanged);
  EXPECT_EQ(item.FullPath(), tmp / "w/b.txt");
  EXPECT_EQ(item.m_size, 6u);
  // A rename keeps the count: reported as a change.
  const CFolderSnapshot three = Snap(tmp / "w");
  fs::rename(tmp / "w/a.txt", tmp / "w/c.txt");
  EXPECT_EQ(CFolderSnapshot::Compare(three, Snap(tmp / "w"), item), ChangeKind::kChanged);
}

class FolderWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(tmp / "w");
    watcher.SetPath(tmp / "w");
    watcher.SetCallback(&Collector::Callback, &collector);
  }
  TempDir tmp;
  Collector collector;
  CFolderWatcher watcher;
};

TEST_F(FolderWatcherTest, ReportsCreatedChangedAndDeleted) {
  ASSERT_TRUE(watcher.Start());
  std::this_thread::sleep_for(500ms);  // let it take its first listing
  // Each step waits for its report; the next change follows at once, while the watcher
  // may still be busy with the report before.
  WriteFile(tmp / "w/new.txt", "1");
  ASSERT_TRUE(collector.WaitForKind(ChangeKind::kCreated));
  WriteFile(tmp / "w/new.txt", "12345");
  ASSERT_TRUE(collector.WaitForKind(ChangeKind::kChanged));
  fs::remove(tmp / "w/new.txt");
  ASSERT_TRUE(collector.WaitForKind(ChangeKind::kDeleted));
  watcher.Stop();
  // A file caught half-written may add a "changed" report; the order is fixed.
  std::vector<ChangeKind> kinds;
  for (const auto& rep : collector.Reports()) {
    EXPECT_EQ(rep.path, tmp / "w/new.txt");
    if (kinds.empty() || kinds.back() != rep.kind) kinds.push_back(rep.kind);
  }
  EXPECT_EQ(kinds, (std::vector<ChangeKind>{ChangeKind::kCreated, ChangeKind::kChanged,
                                            ChangeKind::kDeleted}));
}

TEST_F(FolderWatcherTest, IgnoredNamesAreNotReported) {
  ASSERT_TRUE(watcher.Start());
  std::this_thread::sleep_for(500ms);
  WriteFile(tmp / "w/~x", "t");
  WriteFile(tmp / "w/a.tmp", "t");
  WriteFile(tmp / "w/.hidden", "t");
  std::this_thread::sleep_for(1200ms);
  // A real file afterwards is the first thing reported.
  WriteFile(tmp / "w/real.txt", "r");
  ASSERT_TRUE(collector.WaitFor(1));
  watcher.Stop();
  const auto r = collector.Reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].path, tmp / "w/real.txt");
}

TEST_F(FolderWatcherTest, StartRefusesAndStopRestarts) {
  CFolderWatcher noPath;
  EXPECT_FALSE(noPath.Start());
  ASSERT_TRUE(watcher.Start());
  EXPECT_FALSE(watcher.Start());  // still watching
  EXPECT_TRUE(watcher.IsRunning());
  watcher.Stop();
  EXPECT_FALSE(watcher.IsRunning());
  // Once stopped nothing more is reported, and the watcher starts again.
  WriteFile(tmp / "w/while-stopped.txt", "s");
  std::this_thread::sleep_for(700ms);
  EXPECT_TRUE(collector.Reports().empty());
  ASSERT_TRUE(watcher.Start());
  std::this_thread::sleep_for(500ms);
  WriteFile(tmp / "w/after.txt", "a");
  ASSERT_TRUE(collector.WaitFor(1));
  watcher.Stop();
  EXPECT_EQ(collector.Reports()[0].path, tmp / "w/after.txt");
}

TEST_F(FolderWatcherTest, ThreadThatEndedByItselfCanStartAgain) {
  // A folder that cannot be watched ends the thread quietly.
  watcher.SetPath(tmp / "missing");
  ASSERT_TRUE(watcher.Start());
  for (int i = 0; i < 100 && !watcher.HasEnded(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(watcher.HasEnded());
  EXPECT_TRUE(watcher.IsRunning());  // counts as running until stopped
  watcher.SetPath(tmp / "w");
  ASSERT_TRUE(watcher.Start());
  std::this_thread::sleep_for(500ms);
  // A non-zero result from the callback ends the watching as well.
  collector.result = 1;
  WriteFile(tmp / "w/one.txt", "1");
  ASSERT_TRUE(collector.WaitFor(1));
  for (int i = 0; i < 100 && !watcher.HasEnded(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(watcher.HasEnded());
  watcher.Stop();
}

TEST_F(FolderWatcherTest, BurstOfChangesGivesFewReports) {
  int posted = 0;
  std::mutex m;
  watcher.SetPoster([&] {
    std::lock_guard<std::mutex> lock(m);
    ++posted;
  });
  ASSERT_TRUE(watcher.Start());
  std::this_thread::sleep_for(500ms);
  // Five hundred notifications within a moment: reports are paced by the pause after
  // each notification, not one per event.
  for (int i = 0; i < 500; ++i) WriteFile(tmp / ("w/f" + std::to_string(i)), "x");
  std::this_thread::sleep_for(1500ms);
  watcher.Stop();
  std::lock_guard<std::mutex> lock(m);
  EXPECT_GE(posted, 1);
  EXPECT_LT(posted, 20);
  EXPECT_TRUE(collector.Reports().empty());  // the poster takes precedence
}

}  // namespace
}  // namespace tessarook
