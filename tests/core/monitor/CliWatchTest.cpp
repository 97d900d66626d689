// SPDX-License-Identifier: GPL-3.0-or-later
// tessarook-cli watch, end to end.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "../exchange/TestFiles.h"

namespace tessarook {
namespace {

using namespace tessarook::testing;
using namespace std::chrono_literals;

// Reads what the child printed until `want` shows up or the time is over.
std::string ReadUntil(int fd, const std::string& want, std::chrono::milliseconds limit) {
  std::string text;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (text.find(want) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[512];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

TEST(CliWatch, PrintsChangesUntilInterrupted) {
  if (!fs::exists(TESSAROOK_CLI)) GTEST_SKIP() << "tessarook-cli is not built";
  TempDir tmp;
  const std::string dir = tmp / "w";
  fs::create_directories(dir);
  int pipefd[2];
  ASSERT_EQ(::pipe(pipefd), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(pipefd[1], STDOUT_FILENO);
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    ::execl(TESSAROOK_CLI, TESSAROOK_CLI, "watch", dir.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipefd[1]);
  std::this_thread::sleep_for(700ms);
  WriteFile(dir + "/new.txt", "n");
  const std::string created = "created\t" + dir + "/new.txt\n";
  // The first line is the creation (a half-written file may add a "changed" line after it).
  EXPECT_EQ(ReadUntil(pipefd[0], created, 5000ms).substr(0, created.size()), created);
  fs::remove(dir + "/new.txt");
  const std::string deleted = "deleted\t" + dir + "/new.txt\n";
  const std::string rest = ReadUntil(pipefd[0], deleted, 5000ms);
  EXPECT_EQ(rest.substr(rest.size() - std::min(rest.size(), deleted.size())), deleted);
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(pipefd[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
}

TEST(CliWatch, MissingFolderFails) {
  if (!fs::exists(TESSAROOK_CLI)) GTEST_SKIP() << "tessarook-cli is not built";
  TempDir tmp;
  EXPECT_EQ(
      RunCommand(std::string(TESSAROOK_CLI) + " watch " + Quote(tmp / "none") + " 2>/dev/null"), 3);
}

}  // namespace
}  // namespace tessarook
