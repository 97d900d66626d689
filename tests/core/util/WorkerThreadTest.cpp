#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "util/WorkerThread.h"

namespace tessarook {
namespace {

using namespace std::chrono_literals;

// Waits (bounded) until `done` holds.
template <typename Pred>
bool WaitFor(Pred done) {
  for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(5ms);
  return done();
}

// Runs until asked to stop, recording the parameter it was started with.
class CLoopWorker : public CWorkerThread {
 public:
  ~CLoopWorker() override { StopAndWait(); }
  std::atomic<bool> started{false};
  std::atomic<void*> seen{nullptr};
  std::atomic<int> runs{0};

 protected:
  int Run() override {
    seen = GetParameter();
    ++runs;
    started = true;
    while (!IsStopRequested()) std::this_thread::sleep_for(1ms);
    return 7;
  }
};

class CQuickWorker : public CWorkerThread {
 public:
  ~CQuickWorker() override { StopAndWait(); }
  std::atomic<int> runs{0};

 protected:
  int Run() override { return ++runs; }
};

TEST(WorkerThreadTest, ASecondStartIsRefusedWhileTheFirstRuns) {
  CLoopWorker worker;
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_EQ(worker.GetParameter(), nullptr);
  int first = 1;
  int second = 2;
  ASSERT_TRUE(worker.Start(&first, false));
  EXPECT_TRUE(worker.IsRunning());
  ASSERT_TRUE(WaitFor([&] { return worker.started.load(); }));
  EXPECT_FALSE(worker.Start(&second, false));
  EXPECT_EQ(worker.GetParameter(), &first);
  EXPECT_EQ(worker.seen.load(), &first);
  EXPECT_TRUE(worker.IsRunning());
  EXPECT_TRUE(worker.HasThread());

  worker.RequestStop(true);
  EXPECT_TRUE(worker.IsStopRequested());
  EXPECT_TRUE(worker.Wait());
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_FALSE(worker.IsStopRequested());  // cleared as the body ended
  EXPECT_FALSE(worker.HasThread());
  EXPECT_EQ(worker.GetExitCode(), 7);
  EXPECT_EQ(worker.runs.load(), 1);
}

TEST(WorkerThreadTest, ABodyThatReturnsAtOnceLeavesItIdleAndRestartable) {
  CQuickWorker worker;
  for (int i = 1; i <= 50; ++i) {
    ASSERT_TRUE(worker.Start(nullptr, false)) << "start " << i;
    ASSERT_TRUE(WaitFor([&] { return !worker.IsRunning(); }));
    EXPECT_TRUE(WaitFor([&] { return !worker.HasThread(); }));
  }
  EXPECT_TRUE(worker.Wait());
  EXPECT_EQ(worker.runs.load(), 50);
  EXPECT_EQ(worker.GetExitCode(), 50);
}

TEST(WorkerThreadTest, AStaleStopRequestDoesNotCancelTheNextRun) {
  CLoopWorker worker;
  worker.RequestStop(true);  // e.g. "Cancel" pressed just after the last run ended
  ASSERT_TRUE(worker.Start(nullptr, false));
  ASSERT_TRUE(WaitFor([&] { return worker.started.load(); }));
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(worker.IsRunning());
  EXPECT_TRUE(worker.StopAndWait());
}

TEST(WorkerThreadTest, TerminateStopsCooperativelyAndIsFalseWhenIdle) {
  CLoopWorker worker;
  EXPECT_FALSE(worker.Terminate(3));
  ASSERT_TRUE(worker.Start(nullptr, false));
  ASSERT_TRUE(WaitFor([&] { return worker.started.load(); }));
  EXPECT_TRUE(worker.Terminate(3));
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_FALSE(worker.HasThread());
  EXPECT_EQ(worker.GetExitCode(), 3);
  EXPECT_FALSE(worker.Terminate(4));
  EXPECT_FALSE(worker.Wait());
}

TEST(WorkerThreadTest, ASuspendedStartWaitsForResume) {
  CQuickWorker worker;
  ASSERT_TRUE(worker.Start(nullptr, true));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(worker.runs.load(), 0);
  EXPECT_TRUE(worker.IsRunning());
  worker.Resume();
  EXPECT_TRUE(WaitFor([&] { return worker.runs.load() == 1; }));
  EXPECT_TRUE(worker.Wait());
}

TEST(WorkerThreadTest, DestroyingARunningWorkerStopsAndJoinsIt) {
  std::atomic<int> alive{0};
  struct CTracked : CWorkerThread {
    explicit CTracked(std::atomic<int>& counter) : counter_(counter) {}
    ~CTracked() override { StopAndWait(); }
    int Run() override {
      ++counter_;
      while (!IsStopRequested()) std::this_thread::sleep_for(1ms);
      --counter_;
      return 0;
    }
    std::atomic<int>& counter_;
  };
  {
    CTracked worker(alive);
    ASSERT_TRUE(worker.Start(nullptr, false));
    ASSERT_TRUE(WaitFor([&] { return alive.load() == 1; }));
  }
  EXPECT_EQ(alive.load(), 0);  // the body had ended before the object went

  // The base class alone also joins: its own Run returns at once.
  {
    CWorkerThread plain;
    EXPECT_TRUE(plain.Start(nullptr, false));
  }
}

}  // namespace
}  // namespace tessarook
