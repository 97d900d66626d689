// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications for unattended Backups, and the copy of the messages
// they carry.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <streambuf>

#include "Cli.h"

extern char** environ;

namespace tessarook::cli {

namespace {

constexpr int kNotifyWaitMs = 5000;  // a stuck notification service must not hold the Backup up

}  // namespace

void NotifyDesktop(const std::string& summary, const std::string& body, bool critical) {
  // notify-send's own complaints (no session bus, no notification service)
  // are no concern of the Backup: its output goes nowhere.
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string urgency = critical ? "--urgency=critical" : "--urgency=normal";
  std::string app = "--app-name=Tessarook";
  std::string icon = "--icon=tessarook";
  std::string title = summary;
  std::string text = body;
  char name[] = "notify-send";
  char* argv[] = {name,         app.data(),  urgency.data(), icon.data(),
                  title.data(), text.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, name, &files, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&files);
  if (rc != 0) return;  // no notify-send: nothing to do
  for (int waited = 0;; waited += 20) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return;
    if (waited >= kNotifyWaitMs) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return;
    }
    const struct timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

// Passes everything on to the stream buffer it replaced and keeps a copy.
class MessageCapture::Tee : public std::streambuf {
 public:
  explicit Tee(std::streambuf* target) : target_(target) {}
  std::streambuf* target() const { return target_; }
  const std::string& copy() const { return copy_; }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char ch = static_cast<char>(c);
    Keep(&ch, 1);
    return target_->sputc(ch);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    Keep(s, static_cast<size_t>(n));
    return target_->sputn(s, n);
  }
  int sync() override { return target_->pubsync(); }

 private:
  void Keep(const char* s, size_t n) {
    copy_.append(s, n);
    // Only the last messages matter; a run that skips thousands of files must
    // not grow this without bound.
    constexpr size_t kMax = 64 * 1024;
    if (copy_.size() > 2 * kMax) copy_.erase(0, copy_.size() - kMax);
  }

  std::streambuf* target_;
  std::string copy_;
};

MessageCapture::MessageCapture() : tee_(new Tee(std::cerr.rdbuf())) { std::cerr.rdbuf(tee_); }

MessageCapture::~MessageCapture() {
  std::cerr.rdbuf(tee_->target());
  delete tee_;
}

std::vector<std::string> MessageCapture::Lines(size_t max) const {
  static const std::string kPrefix = "tessarook-cli: ";
  std::vector<std::string> lines;
  const std::string& text = tee_->copy();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.rfind(kPrefix, 0) == 0) line.erase(0, kPrefix.size());
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  if (lines.size() > max) lines.erase(lines.begin(), lines.end() - static_cast<ptrdiff_t>(max));
  return lines;
}

}  // namespace tessarook::cli
