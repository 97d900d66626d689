// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a second start of the desktop program reaches the one that runs: a
// Unix-domain socket in the user's runtime folder. The second start sends its
// command line and ends; the running program brings its window to the front
// and opens what it was given. Only the same user's processes are heard, a
// message is read to a fixed limit and within a time limit, and anything
// malformed is dropped.

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tessarook {

// The socket beside the single-instance lock in `lockDir`.
std::string InstanceSocketPath(const std::string& lockDir);

// The message for a command line (absolute paths, see AbsoluteArgument), and
// back. Decoding refuses anything that is not a whole, well-formed message
// within the limits.
std::string EncodeInstanceMessage(const std::vector<std::string>& args);
std::optional<std::vector<std::string>> DecodeInstanceMessage(std::string_view message);

// A command-line argument as the running program must see it: a relative path
// is taken against `workingDir` (the second start's folder).
std::string AbsoluteArgument(const std::string& arg, const std::string& workingDir);

inline constexpr size_t kMaxInstanceMessageBytes = 64 * 1024;
inline constexpr size_t kMaxInstanceArgs = 32;
inline constexpr int kInstanceTimeoutMs = 2000;

// Sends a command line to the running program at `socketPath` and waits for
// its answer (bounded). True when it was taken.
bool SendToRunningInstance(const std::string& socketPath, const std::vector<std::string>& args);

// The running program's end: listens at a socket that only its user may use
// (mode 0600), on a thread of its own. Each command line received is passed
// to the handler on that thread; the handler must only queue work for the
// window thread.
class CInstanceServer {
 public:
  using Handler = std::function<void(std::vector<std::string> args)>;

  CInstanceServer() = default;
  ~CInstanceServer() { Stop(); }
  CInstanceServer(const CInstanceServer&) = delete;
  CInstanceServer& operator=(const CInstanceServer&) = delete;

  // Listens at `socketPath`, replacing a socket that nobody answers at (left
  // by a program that crashed). False, with `error` set, when it cannot.
  bool Start(const std::string& socketPath, Handler handler, std::string* error = nullptr);
  // Stops listening, waits for the thread and removes the socket.
  void Stop();
  bool IsListening() const { return m_listenFd >= 0; }
  // How many messages were refused (wrong user, too long, malformed, too slow).
  unsigned Refused() const { return m_refused.load(); }

 private:
  void ThreadMain();
  void Serve(int fd);

  std::string m_path;
  Handler m_handler;
  int m_listenFd = -1;
  int m_wakeFds[2] = {-1, -1};
  std::thread m_thread;
  std::atomic<unsigned> m_refused{0};
};

}  // namespace tessarook
