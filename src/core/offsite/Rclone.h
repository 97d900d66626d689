// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Running rclone, the program that carries Backups to and from other machines
// and cloud stores. The program speaks no network protocol itself: rclone is
// run as a child process with an argument vector (never through a shell),
// with the user's own rclone configuration, and its JSON log is read for
// progress, for what it did and for its reasons when it fails.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessarook {

// The rclone program to run: the first executable "rclone" in PATH. Empty
// when there is none.
std::string FindRclone();

// What to tell a user who has no rclone.
inline constexpr const char* kRcloneMissingText =
    "off-site copies need rclone, which is not installed: install the Debian package rclone "
    "(sudo apt install rclone)";

// Called with bytes done and bytes in all, as rclone's statistics report them.
using ByteProgress = std::function<void(uint64_t done, uint64_t total)>;

struct RcloneEvent;
// Called with each line of rclone's log that names an object, as it comes.
using EventSink = std::function<void(const RcloneEvent&)>;

// One line of rclone's log that names an object, e.g. {"Copied (new)", "a/b.zip"}.
struct RcloneEvent {
  std::string level;  // "info", "error", ...
  std::string message;
  std::string object;
  std::string type;  // the object's Go type: "*local.Object", "*crypt.Fs", ...
};

// The kind of remote an event's object belongs to ("crypt", "sftp",
// "webdav"); empty for the local file system and for an event without a type.
std::string RemoteKindOf(const RcloneEvent& event);

struct RcloneResult {
  enum class Status {
    kDone,       // exit status 0
    kFailed,     // could not be started, or ended with another status; `reason` says why
    kCancelled,  // stopped through the cancel flag
  };
  Status status = Status::kFailed;
  int exitCode = -1;   // rclone's exit status (3: folder not found, 4: file not found)
  std::string out;     // standard output (at most 64 MiB are kept)
  std::string reason;  // rclone's own words for the failure
  std::vector<RcloneEvent> events;
  int64_t transfers = -1;  // files transferred, as the last statistics said (-1: none came)
  bool Ok() const { return status == Status::kDone; }
  // True when rclone ended because the folder or file it was given does not exist.
  bool NotFound() const { return status == Status::kFailed && (exitCode == 3 || exitCode == 4); }
  // The objects of the events whose message starts with `prefix`.
  std::vector<std::string> Objects(const std::string& prefix) const;
};

// One running rclone. Its standard error is read as rclone's JSON log, so
// every run is given "--use-json-log -v" after the caller's arguments (no
// "-v" where the caller asks for the debug lines with "-vv").
// The child gets its own process group (a Ctrl+C in the terminal reaches the
// program, which stops the child itself) and is ended when the thread that
// started it ends (PR_SET_PDEATHSIG): a killed program leaves no rclone behind.
class CRcloneProcess {
 public:
  CRcloneProcess() = default;
  ~CRcloneProcess();  // a child still running is stopped and reaped
  CRcloneProcess(const CRcloneProcess&) = delete;
  CRcloneProcess& operator=(const CRcloneProcess&) = delete;

  // Starts `program` with `args`; `input` is written to its standard input,
  // which is then closed. False (with `error`) when it could not be started.
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string input,
             std::string* error);
  // Starts it with its standard input held open and empty until Feed: an
  // rclone given "--files-from-raw -" waits there, before it acts, so it can
  // be started ahead of time while another run decides what it is to do.
  bool StartHeld(const std::string& program, const std::vector<std::string>& args,
                 std::string* error);
  // The input of a run started held; standard input is closed after it.
  // As much as the socket takes is sent at once, the rest while it is waited for.
  void Feed(std::string input);

  // Reads its output until it ends. Polls `cancel` (may be null) a few times
  // a second; when set, the child is stopped (SIGTERM, then SIGKILL after a
  // few seconds) and the result is kCancelled. `progress` (may be empty) is
  // called on this thread for every statistics line, `events` (may be empty)
  // for every line that names an object, while rclone still runs.
  RcloneResult Wait(const std::atomic<bool>* cancel, const ByteProgress& progress,
                    const EventSink& events = {});

 private:
  void Stop();
  void SendInput();  // the next part of the input, without blocking
  pid_t m_pid = -1;
  int m_in = -1, m_out = -1, m_err = -1;
  std::string m_input;
  size_t m_inputDone = 0;
  bool m_held = false;
  std::string m_startError;
};

// Starts and waits in one go.
RcloneResult RunRclone(const std::string& program, const std::vector<std::string>& args,
                       const std::string& input = {}, const std::atomic<bool>* cancel = nullptr,
                       const ByteProgress& progress = {}, const EventSink& events = {});

// Takes one line of rclone's standard error into `result`: statistics go to
// `progress`, errors to `reason`, lines naming an object to `events`.
// Exposed for tests.
void TakeRcloneLogLine(const std::string& line, RcloneResult& result, const ByteProgress& progress);

}  // namespace tessarook
