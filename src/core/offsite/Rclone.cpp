// SPDX-License-Identifier: GPL-3.0-or-later
#include "offsite/Rclone.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "util/JsonReader.h"

namespace tessarook {

namespace {

constexpr size_t kMaxOutput = size_t{64} << 20;
constexpr size_t kMaxLine = size_t{1} << 20;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// "2026/01/02 03:04:05 Failed to copy: x" -> "Failed to copy: x"
std::string WithoutTimestamp(const std::string& line) {
  if (line.size() > 20 && line[4] == '/' && line[7] == '/' && line[10] == ' ' && line[13] == ':' &&
      line[16] == ':' && line[19] == ' ')
    return line.substr(20);
  return line;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

std::string FindRclone() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/rclone";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

std::vector<std::string> RcloneResult::Objects(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const RcloneEvent& e : events)
    if (!e.object.empty() && e.message.compare(0, prefix.size(), prefix) == 0)
      out.push_back(e.object);
  return out;
}

std::string RemoteKindOf(const RcloneEvent& event) {
  // "*sftp.Fs", "*crypt.Object": the package is the kind of remote.
  const std::string& type = event.type;
  const size_t dot = type.find('.');
  if (type.size() < 2 || type[0] != '*' || dot == std::string::npos) return {};
  std::string kind = type.substr(1, dot - 1);
  if (kind == "local") return {};
  return kind;
}

void TakeRcloneLogLine(const std::string& line, RcloneResult& result,
                       const ByteProgress& progress) {
  if (line.empty()) return;
  CJsonValue json;
  if (line[0] != '{' || !json.Parse(line) || !json.IsObject()) {
    // Not a log record: rclone's last words ("Failed to copy: ...") are
    // printed this way, and they are the best reason there is.
    // Notices ("NOTICE: Config file ... not found") are no reasons.
    const std::string text = WithoutTimestamp(line);
    if (text.compare(0, 7, "NOTICE:") != 0 && text.compare(0, 5, "INFO ") != 0 &&
        text.compare(0, 6, "DEBUG ") != 0)
      result.reason = text;
    return;
  }
  if (const CJsonValue* stats = json.Find("stats"); stats && stats->IsObject()) {
    result.transfers = stats->IntOf("transfers", result.transfers);
    if (progress) {
      const int64_t done = stats->IntOf("bytes");
      const int64_t total = stats->IntOf("totalBytes");
      progress(done > 0 ? static_cast<uint64_t>(done) : 0,
               total > 0 ? static_cast<uint64_t>(total) : 0);
    }
    return;
  }
  RcloneEvent event{json.TextOf("level"), json.TextOf("msg"), json.TextOf("object"),
                    json.TextOf("objectType")};
  if (event.level == "error" || event.level == "critical" || event.level == "fatal") {
    // Errors about one object name it; the last error is kept, unless rclone
    // still says its last words after it.
    result.reason = event.object.empty() || event.object == "<nil>"
                        ? event.message
                        : event.object + ": " + event.message;
  }
  if (!event.object.empty()) result.events.push_back(std::move(event));
}

CRcloneProcess::~CRcloneProcess() {
  if (m_pid > 0) Stop();
  CloseFd(m_in);
  CloseFd(m_out);
  CloseFd(m_err);
}

bool CRcloneProcess::Start(const std::string& program, const std::vector<std::string>& args,
                           std::string input, std::string* error) {
  std::vector<std::string> all;
  all.push_back(program);
  all.insert(all.end(), args.begin(), args.end());
  all.push_back("--use-json-log");
  if (std::find(args.begin(), args.end(), "-vv") == args.end()) all.push_back("-v");
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Standard input is a socket, so that writing to a child that has gone
  // away fails with EPIPE instead of raising SIGPIPE in this program.
  int in[2], out[2], err[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
    if (error) *error = std::string("cannot run rclone: ") + std::strerror(errno);
    return false;
  }
  if (::pipe2(out, O_CLOEXEC) != 0) {
    const int e = errno;
    ::close(in[0]), ::close(in[1]);
    if (error) *error = std::string("cannot run rclone: ") + std::strerror(e);
    return false;
  }
  if (::pipe2(err, O_CLOEXEC) != 0) {
    const int e = errno;
    ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
    if (error) *error = std::string("cannot run rclone: ") + std::strerror(e);
    return false;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int e = errno;
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    if (error) *error = std::string("cannot run rclone: ") + std::strerror(e);
    return false;
  }
  if (pid == 0) {
    // The child: only async-signal-safe calls until exec.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    // Nothing else of this program's (lock files, archives) goes with it.
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_DFL;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) ::sigaction(sig, &sa, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  m_pid = pid;
  m_in = in[1];
  m_out = out[0];
  m_err = err[0];
  m_input = std::move(input);
  m_inputDone = 0;
  if (m_input.empty() && !m_held) CloseFd(m_in);
  return true;
}

bool CRcloneProcess::StartHeld(const std::string& program, const std::vector<std::string>& args,
                               std::string* error) {
  m_held = true;
  return Start(program, args, {}, error);
}

void CRcloneProcess::Feed(std::string input) {
  m_held = false;
  m_input = std::move(input);
  m_inputDone = 0;
  // Sent at once as far as the socket takes it: the child may act before
  // anyone waits for it.
  SendInput();
}

void CRcloneProcess::SendInput() {
  if (m_in < 0) return;
  const ssize_t w = m_inputDone < m_input.size()
                        ? ::send(m_in, m_input.data() + m_inputDone, m_input.size() - m_inputDone,
                                 MSG_NOSIGNAL | MSG_DONTWAIT)
                        : 0;
  if (w > 0) m_inputDone += static_cast<size_t>(w);
  if ((w < 0 && errno != EAGAIN && errno != EINTR) || m_inputDone >= m_input.size()) CloseFd(m_in);
}

void CRcloneProcess::Stop() {
  if (m_pid <= 0) return;
  ::kill(m_pid, SIGTERM);
  const int64_t deadline = NowMs() + 5000;
  int status = 0;
  while (::waitpid(m_pid, &status, WNOHANG) == 0) {
    if (NowMs() > deadline) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &status, 0);
      break;
    }
    ::usleep(20000);
  }
  m_pid = -1;
}

RcloneResult CRcloneProcess::Wait(const std::atomic<bool>* cancel, const ByteProgress& progress,
                                  const EventSink& events) {
  RcloneResult result;
  if (m_pid <= 0) {
    result.reason = "rclone was not started";
    return result;
  }
  std::string errLine;
  char buffer[65536];
  while (m_out >= 0 || m_err >= 0) {
    if (cancel && cancel->load()) {
      Stop();
      CloseFd(m_in);
      CloseFd(m_out);
      CloseFd(m_err);
      result.status = RcloneResult::Status::kCancelled;
      result.reason = "interrupted";
      return result;
    }
    struct pollfd fds[3];
    nfds_t n = 0;
    int* owners[3];
    if (m_in >= 0 && !m_held) {
      fds[n] = {m_in, POLLOUT, 0};
      owners[n++] = &m_in;
    }
    if (m_out >= 0) {
      fds[n] = {m_out, POLLIN, 0};
      owners[n++] = &m_out;
    }
    if (m_err >= 0) {
      fds[n] = {m_err, POLLIN, 0};
      owners[n++] = &m_err;
    }
    const int ready = ::poll(fds, n, 200);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      int& fd = *owners[i];
      if (&fd == &m_in) {
        SendInput();
        continue;
      }
      const ssize_t r = ::read(fd, buffer, sizeof buffer);
      if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (r <= 0) {
        CloseFd(fd);
        continue;
      }
      if (&fd == &m_out) {
        if (result.out.size() < kMaxOutput)
          result.out.append(buffer,
                            std::min(static_cast<size_t>(r), kMaxOutput - result.out.size()));
        continue;
      }
      for (ssize_t k = 0; k < r; ++k) {
        if (buffer[k] == '\n') {
          const size_t known = result.events.size();
          TakeRcloneLogLine(errLine, result, progress);
          if (events && result.events.size() > known) events(result.events.back());
          errLine.clear();
        } else if (errLine.size() < kMaxLine) {
          errLine += buffer[k];
        }
      }
    }
  }
  if (!errLine.empty()) TakeRcloneLogLine(errLine, result, progress);
  CloseFd(m_in);
  int status = 0;
  while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_pid = -1;
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
    if (result.exitCode == 0) {
      result.status = RcloneResult::Status::kDone;
      return result;
    }
    if (result.exitCode == 127 && result.reason.empty()) result.reason = "rclone could not be run";
  } else if (WIFSIGNALED(status)) {
    if (cancel && cancel->load()) {
      result.status = RcloneResult::Status::kCancelled;
      result.reason = "interrupted";
      return result;
    }
    result.reason = std::string("rclone was ended by signal ") + strsignal(WTERMSIG(status));
  }
  if (result.reason.empty())
    result.reason = "rclone ended with exit status " + std::to_string(result.exitCode);
  result.status = RcloneResult::Status::kFailed;
  return result;
}

RcloneResult RunRclone(const std::string& program, const std::vector<std::string>& args,
                       const std::string& input, const std::atomic<bool>* cancel,
                       const ByteProgress& progress, const EventSink& events) {
  CRcloneProcess process;
  std::string error;
  if (!process.Start(program, args, input, &error)) {
    RcloneResult result;
    result.reason = error;
    return result;
  }
  return process.Wait(cancel, progress, events);
}

}  // namespace tessarook
