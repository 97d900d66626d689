// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "TestFiles.h"
#include "exchange/ExportWorker.h"
#include "exchange/ImportWorker.h"

namespace tessarook {
namespace {

using namespace tessarook::testing;

// Holds the job at Show until the test lets it go.
class GateProgress : public CExchangeProgress {
 public:
  void Show() override {
    std::unique_lock<std::mutex> lock(m);
    shown = true;
    cv.notify_all();
    cv.wait(lock, [this] { return open; });
  }
  void Step() override {
    if (onStep) onStep();
  }
  void WaitShown() {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [this] { return shown; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(m);
    open = true;
    cv.notify_all();
  }
  std::mutex m;
  std::condition_variable cv;
  bool shown = false, open = false;
  std::function<void()> onStep;
};

TEST(ExchangeWorkers, RunOneJobAtATimeAndReportTheirResults) {
  TempDir tmp;
  WriteFile(tmp / "a/s.tsbak", "scheme");
  WriteFile(tmp / "a/s.tsbak.backups/1.zip", "one");
  WriteFile(tmp / "a/s.tsbak.backups/2.zip", "two");

  CExportWorker exporter;
  GateProgress gate;
  ASSERT_TRUE(exporter.StartExport(tmp / "a", "s", tmp / "s.csm", &gate));
  gate.WaitShown();
  EXPECT_TRUE(exporter.IsRunning());
  EXPECT_FALSE(exporter.StartExport(tmp / "a", "s", tmp / "other.csm", nullptr));
  gate.Open();
  ASSERT_TRUE(exporter.Wait());
  EXPECT_EQ(exporter.Result(), ExportResult::kDone);
  EXPECT_EQ(ExportExitCode(exporter.Result()), 0);
  EXPECT_EQ(exporter.Records(), 2u);
  EXPECT_FALSE(fs::exists(tmp / "other.csm"));

  // Cancel after the first record: no file, result 0 as the worker's exit code.
  GateProgress cancel;
  cancel.Open();
  cancel.onStep = [&] { exporter.RequestStop(); };
  ASSERT_TRUE(exporter.StartExport(tmp / "a", "s", tmp / "stopped.csm", &cancel));
  ASSERT_TRUE(exporter.Wait());
  EXPECT_EQ(exporter.Result(), ExportResult::kStopped);
  EXPECT_EQ(ExportExitCode(exporter.Result()), 0);
  EXPECT_FALSE(fs::exists(tmp / "stopped.csm"));

  ASSERT_TRUE(exporter.StartExport(tmp / "a", "missing", tmp / "m.csm", nullptr));
  ASSERT_TRUE(exporter.Wait());
  EXPECT_EQ(ExportExitCode(exporter.Result()), 2);

  CImportWorker importer;
  ASSERT_TRUE(importer.StartImport(tmp / "b", tmp / "s.csm", nullptr));
  ASSERT_TRUE(importer.Wait());
  EXPECT_EQ(importer.Result(), ImportResult::kDone);
  EXPECT_EQ(importer.Name(), "s");
  EXPECT_EQ(Tree(tmp.path() / "b"), Tree(tmp.path() / "a"));

  ASSERT_TRUE(importer.StartImport(tmp / "b", tmp / "none.csm", nullptr));
  ASSERT_TRUE(importer.Wait());
  EXPECT_EQ(importer.Result(), ImportResult::kCannotOpen);
  EXPECT_EQ(ImportExitCode(importer.Result()), 1);
}

}  // namespace
}  // namespace tessarook
