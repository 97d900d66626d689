// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "util/WorkerThread.h"

namespace tessarook {
namespace {

using namespace std::chrono_literals;

template <typename Pred>
bool WaitFor(Pred done) {  // bounded
  for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(5ms);
  return done();
}

// Loops until asked to stop (or returns at once), counting live bodies.
class CTestWorker : public CWorkerThread {
 public:
  explicit CTestWorker(bool loop) : loop_(loop) {}
  ~CTestWorker() override { StopAndWait(); }
  std::atomic<int> runs{0}, alive{0};
  std::atomic<void*> seen{nullptr};

 protected:
  int Run() override {
    seen = GetParameter();
    ++alive;
    const int n = ++runs;
    while (loop_ && !IsStopRequested()) std::this_thread::sleep_for(1ms);
    --alive;
    return n;
  }

 private:
  const bool loop_;
};

TEST(WorkerThreadTest, ASecondStartIsRefusedWhileTheFirstRuns) {
  CTestWorker worker(true);
  int first = 1, second = 2;
  ASSERT_TRUE(worker.Start(&first, false));
  EXPECT_TRUE(worker.IsRunning());
  ASSERT_TRUE(WaitFor([&] { return worker.alive == 1; }));
  EXPECT_FALSE(worker.Start(&second, false));
  EXPECT_EQ(worker.GetParameter(), &first);
  EXPECT_EQ(worker.seen.load(), &first);

  worker.RequestStop(true);
  EXPECT_TRUE(worker.Wait());
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_FALSE(worker.IsStopRequested());  // cleared as the body ended
  EXPECT_FALSE(worker.HasThread());
  EXPECT_EQ(worker.runs.load(), 1);
  EXPECT_EQ(worker.GetExitCode(), 1);
}

TEST(WorkerThreadTest, ABodyThatReturnsAtOnceLeavesItIdleAndRestartable) {
  CTestWorker worker(false);
  for (int i = 1; i <= 50; ++i) {
    ASSERT_TRUE(worker.Start(nullptr, false)) << "start " << i;
    ASSERT_TRUE(WaitFor([&] { return !worker.HasThread(); }));
    EXPECT_FALSE(worker.IsRunning());  // never left "running" by a late write
  }
  EXPECT_EQ(worker.runs.load(), 50);
  EXPECT_EQ(worker.GetExitCode(), 50);
}

TEST(WorkerThreadTest, StopsAreCooperativeAndNeverLeakIntoTheNextRun) {
  CTestWorker worker(true);
  EXPECT_FALSE(worker.Terminate(3));  // idle
  worker.RequestStop(true);           // "Cancel" pressed after the last run ended
  ASSERT_TRUE(worker.Start(nullptr, false));
  ASSERT_TRUE(WaitFor([&] { return worker.alive == 1; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(worker.IsRunning());
  EXPECT_TRUE(worker.Terminate(3));
  EXPECT_EQ(worker.alive.load(), 0);
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_EQ(worker.GetExitCode(), 3);
  EXPECT_FALSE(worker.Wait());
}

TEST(WorkerThreadTest, DestroyingJoinsTheBodyAndSuspendedStartsWaitForResume) {
  auto worker = std::make_unique<CTestWorker>(true);
  std::atomic<int>* alive = &worker->alive;
  ASSERT_TRUE(worker->Start(nullptr, false));
  ASSERT_TRUE(WaitFor([&] { return *alive == 1; }));
  worker.reset();  // ASan reports a use after free should the body outlive it

  CTestWorker suspended(false);  // started suspended: nothing runs before Resume
  ASSERT_TRUE(suspended.Start(nullptr, true));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(suspended.runs.load(), 0);
  suspended.Resume();
  EXPECT_TRUE(WaitFor([&] { return suspended.runs == 1; }));
}

}  // namespace
}  // namespace tessarook
