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

 protected:
  int Run() override {
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
  ASSERT_TRUE(worker.Start());
  EXPECT_TRUE(worker.IsRunning());
  ASSERT_TRUE(WaitFor([&] { return worker.alive == 1; }));
  EXPECT_FALSE(worker.Start());
  EXPECT_FALSE(worker.IsStopRequested());

  worker.RequestStop();
  EXPECT_TRUE(worker.Wait());
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_EQ(worker.runs.load(), 1);
  EXPECT_EQ(worker.alive.load(), 0);
}

TEST(WorkerThreadTest, ABodyThatReturnsAtOnceLeavesItIdleAndRestartable) {
  CTestWorker worker(false);
  for (int i = 1; i <= 50; ++i) {
    ASSERT_TRUE(worker.Start()) << "start " << i;
    ASSERT_TRUE(WaitFor([&] { return !worker.IsRunning(); }));
  }
  EXPECT_TRUE(worker.Wait());
  EXPECT_FALSE(worker.IsRunning());  // never left "running" by a late write
  EXPECT_EQ(worker.runs.load(), 50);
}

TEST(WorkerThreadTest, StopsAreCooperativeAndNeverLeakIntoTheNextRun) {
  CTestWorker worker(true);
  EXPECT_FALSE(worker.StopAndWait());  // idle
  worker.RequestStop();                // "Cancel" pressed before any run
  for (int run = 1; run <= 2; ++run) {
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.alive == 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(worker.IsRunning()) << "run " << run;
    EXPECT_TRUE(worker.StopAndWait());
    EXPECT_EQ(worker.alive.load(), 0);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.Wait());
    worker.RequestStop();  // "Cancel" pressed after the run ended
  }
  EXPECT_EQ(worker.runs.load(), 2);
}

TEST(WorkerThreadTest, DestroyingJoinsTheBodyAndHeldStartsRunOnlyWhenWaitedFor) {
  auto worker = std::make_unique<CTestWorker>(true);
  std::atomic<int>* alive = &worker->alive;
  ASSERT_TRUE(worker->Start());
  ASSERT_TRUE(WaitFor([&] { return *alive == 1; }));
  worker.reset();  // ASan reports a use after free should the body outlive it

  CTestWorker held(false);
  ASSERT_TRUE(held.Start(true));
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(held.IsRunning());
  EXPECT_EQ(held.runs.load(), 0);
  EXPECT_TRUE(held.Wait());
  EXPECT_EQ(held.runs.load(), 1);
  ASSERT_TRUE(held.Start(true));
  EXPECT_TRUE(held.StopAndWait());  // stopped before it began: the body never runs
  EXPECT_EQ(held.runs.load(), 1);
  EXPECT_FALSE(held.IsRunning());
}

}  // namespace
}  // namespace tessarook
