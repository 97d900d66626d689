// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/RunProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace tessarook {

namespace {

constexpr size_t kMaxOutput = 1 << 20;

void CloseBoth(int fds[2]) {
  for (int i = 0; i < 2; ++i)
    if (fds[i] >= 0) close(fds[i]);
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& input) {
  ProgramRun run;
  if (argv.empty()) return run;
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    CloseBoth(in);
    CloseBoth(out);
    CloseBoth(err);
    return run;
  }
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&files, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&files, err[1], STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &files, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    return run;
  }
  run.started = true;
  // A program that stops reading its input must not kill this one.
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  size_t written = 0;
  int inFd = in[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  int outFd = out[0], errFd = err[0];
  while (outFd >= 0 || errFd >= 0 || inFd >= 0) {
    struct pollfd fds[3];
    nfds_t n = 0;
    if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
    if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
    if (poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (nfds_t i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == inFd) {
        const ssize_t w = write(inFd, input.data() + written, input.size() - written);
        if (w > 0) written += size_t(w);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 || written == input.size()) {
          close(inFd);
          inFd = -1;
        }
        continue;
      }
      char buffer[4096];
      const ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
      if (r < 0 && errno == EINTR) continue;
      std::string& into = fds[i].fd == outFd ? run.out : run.err;
      if (r > 0) {
        if (into.size() < kMaxOutput) into.append(buffer, size_t(r));
        continue;
      }
      close(fds[i].fd);
      (fds[i].fd == outFd ? outFd : errFd) = -1;
    }
  }
  if (inFd >= 0) close(inFd);
  if (outFd >= 0) close(outFd);
  if (errFd >= 0) close(errFd);
  sigaction(SIGPIPE, &old, nullptr);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace tessarook
