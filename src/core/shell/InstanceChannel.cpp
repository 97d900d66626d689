// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/InstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "settings/UserPlaces.h"
#include "util/OpenBeneath.h"

namespace tessarook {

namespace {

constexpr std::string_view kMagic = "tessarook-open 1\n";
constexpr std::string_view kTaken = "ok\n";

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until the deadline. False on time-out or error.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, MillisecondsLeft(deadline));
    if (rc < 0 && errno == EINTR) continue;
    return rc > 0 && (p.revents & (events | POLLHUP));
  }
}

bool WriteAllBy(int fd, std::string_view data, Clock::time_point deadline) {
  while (!data.empty()) {
    if (!WaitFor(fd, POLLOUT, deadline)) return false;
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Reads until the peer stops sending, at most `limit` bytes (one more tells
// that there was too much). False on time-out or error.
bool ReadToEnd(int fd, size_t limit, Clock::time_point deadline, std::string& out) {
  char buffer[4096];
  while (out.size() <= limit) {
    if (!WaitFor(fd, POLLIN, deadline)) return false;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    if (n == 0) return true;
    out.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

int Connect(const std::string& path) {
  sockaddr_un address;
  if (!MakeAddress(path, address)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string InstanceSocketPath(const std::string& lockDir) {
  return JoinPath(lockDir, "tessarook-" + std::to_string(::geteuid()) + ".sock");
}

std::string EncodeInstanceMessage(const std::vector<std::string>& args) {
  std::string message(kMagic);
  for (const std::string& arg : args) {
    message += arg;
    message += '\0';
  }
  return message;
}

std::optional<std::vector<std::string>> DecodeInstanceMessage(std::string_view message) {
  if (message.size() > kMaxInstanceMessageBytes || message.substr(0, kMagic.size()) != kMagic)
    return std::nullopt;
  message.remove_prefix(kMagic.size());
  std::vector<std::string> args;
  while (!message.empty()) {
    const size_t end = message.find('\0');
    if (end == std::string_view::npos || args.size() == kMaxInstanceArgs) return std::nullopt;
    args.emplace_back(message.substr(0, end));
    message.remove_prefix(end + 1);
  }
  return args;
}

std::string AbsoluteArgument(const std::string& arg, const std::string& workingDir) {
  if (arg.empty() || arg.front() == '/' || workingDir.empty()) return arg;
  return JoinPath(workingDir, arg);
}

bool SendToRunningInstance(const std::string& socketPath, const std::vector<std::string>& args) {
  const std::string message = EncodeInstanceMessage(args);
  if (message.size() > kMaxInstanceMessageBytes) return false;
  const int fd = Connect(socketPath);
  if (fd < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kInstanceTimeoutMs);
  std::string answer;
  const bool ok = WriteAllBy(fd, message, deadline) && ::shutdown(fd, SHUT_WR) == 0 &&
                  ReadToEnd(fd, kTaken.size(), deadline, answer) && answer == kTaken;
  ::close(fd);
  return ok;
}

bool CInstanceServer::Start(const std::string& socketPath, Handler handler, std::string* error) {
  Stop();
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  sockaddr_un address;
  if (!MakeAddress(socketPath, address)) return fail("the socket path is too long");
  // A socket someone still answers at belongs to a running program: not ours to take.
  if (const int other = Connect(socketPath); other >= 0) {
    ::close(other);
    return fail("another program listens there");
  }
  struct stat st;
  if (::lstat(socketPath.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return fail("something else is in the way");
    ::unlink(socketPath.c_str());  // left by a program that ended without removing it
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return fail(ErrnoText(errno));
  // Made 0600 from the start: no moment in which another user could connect.
  const mode_t old = ::umask(0177);
  const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int bindErrno = errno;
  ::umask(old);
  if (bound != 0 || ::listen(fd, 8) != 0) {
    const int why = bound != 0 ? bindErrno : errno;
    ::close(fd);
    return fail(ErrnoText(why));
  }
  if (::pipe2(m_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    const int why = errno;
    ::close(fd);
    ::unlink(socketPath.c_str());
    return fail(ErrnoText(why));
  }
  m_path = socketPath;
  m_handler = std::move(handler);
  m_listenFd = fd;
  m_thread = std::thread(&CInstanceServer::ThreadMain, this);
  return true;
}

void CInstanceServer::Stop() {
  if (m_listenFd < 0) return;
  const char wake = 1;
  (void)!::write(m_wakeFds[1], &wake, 1);
  if (m_thread.joinable()) m_thread.join();
  ::close(m_listenFd);
  ::close(m_wakeFds[0]);
  ::close(m_wakeFds[1]);
  m_listenFd = -1;
  m_wakeFds[0] = m_wakeFds[1] = -1;
  // Only the socket this server made: a later program may have replaced it.
  struct stat st;
  if (::lstat(m_path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(m_path.c_str());
}

// The server's own thread.
void CInstanceServer::ThreadMain() {
  for (;;) {
    pollfd p[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
    const int rc = ::poll(p, 2, -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents) return;
    if (!(p[0].revents & POLLIN)) continue;
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    Serve(fd);
    ::close(fd);
  }
}

// One connection, on the server's thread: one message within the limits.
void CInstanceServer::Serve(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::geteuid()) {
    ++m_refused;
    return;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(kInstanceTimeoutMs);
  std::string message;
  if (!ReadToEnd(fd, kMaxInstanceMessageBytes, deadline, message)) {
    ++m_refused;
    return;
  }
  std::optional<std::vector<std::string>> args = DecodeInstanceMessage(message);
  if (!args) {
    ++m_refused;
    return;
  }
  if (m_handler) m_handler(std::move(*args));
  WriteAllBy(fd, kTaken, deadline);
}

}  // namespace tessarook
