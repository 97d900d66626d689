// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "files/FolderMonitors.h"

namespace tessarook {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class FolderMonitorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("tessarook-monitors-" + std::to_string(getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "a");
    fs::create_directories(m_dir / "b");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  std::string Folder(const std::string& name) const { return (m_dir / name).string() + "/"; }

  fs::path m_dir;
};

TEST_F(FolderMonitorsTest, OneWatcherPerFolder) {
  CFolderMonitors monitors;
  std::atomic<int> calls{0};
  auto poster = [&calls] { ++calls; };
  EXPECT_TRUE(monitors.Watch(Folder("a"), poster));
  EXPECT_FALSE(monitors.Watch(Folder("a"), poster));
  EXPECT_FALSE(monitors.Watch(Folder("a"), poster));
  EXPECT_TRUE(monitors.Watch(Folder("b"), poster));
  EXPECT_FALSE(monitors.Watch("", poster));
  // A folder that cannot be watched stays listed and is not tried again.
  EXPECT_TRUE(monitors.Watch(Folder("missing"), poster));
  EXPECT_FALSE(monitors.Watch(Folder("missing"), poster));
  EXPECT_EQ(monitors.Count(), 3u);
  EXPECT_TRUE(monitors.IsWatched(Folder("b")));

  monitors.StopAll();
  EXPECT_EQ(monitors.Count(), 0u);
  EXPECT_FALSE(monitors.IsWatched(Folder("a")));
  // After stopping, the folder may be watched again.
  EXPECT_TRUE(monitors.Watch(Folder("a"), poster));
}

TEST_F(FolderMonitorsTest, ChangeReachesThePosterUntilStopped) {
  CFolderMonitors monitors;
  std::atomic<int> calls{0};
  monitors.Watch(Folder("a"), [&calls] { ++calls; });
  std::this_thread::sleep_for(300ms);  // let the watcher take its first listing
  std::ofstream(m_dir / "a" / "new.txt") << "x";
  for (int i = 0; i < 100 && calls == 0; ++i) std::this_thread::sleep_for(50ms);
  EXPECT_GT(calls.load(), 0);

  monitors.StopAll();
  const int afterStop = calls.load();
  std::ofstream(m_dir / "a" / "later.txt") << "y";
  std::this_thread::sleep_for(800ms);
  EXPECT_EQ(calls.load(), afterStop);
}

}  // namespace
}  // namespace tessarook
