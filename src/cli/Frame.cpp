// SPDX-License-Identifier: GPL-3.0-or-later
// What every command shares: messages, the interrupt flag, questions and the
// terminal progress bar.

#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "Cli.h"
#include "backup/BackupStore.h"

namespace tessarook::cli {

namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void Error(const std::string& text) { std::cerr << "tessarook-cli: " << text << std::endl; }

std::atomic<bool>& InterruptFlag() {
  static std::atomic<bool> flag{false};
  return flag;
}

bool Confirm(const Args& args, const std::string& question) {
  if (args.Has("--yes") || !isatty(STDIN_FILENO)) return true;
  std::cerr << "tessarook-cli: " << question << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return answer == "y" || answer == "yes";
}

std::string BackupCountText(const std::string& schemeFile) {
  const size_t n = CBackupStore(schemeFile).List().size();
  return std::to_string(n) + (n == 1 ? " Backup" : " Backups");
}

bool Context::ShowProgress() const {
  // The bar redraws its line with a carriage return and an escape sequence,
  // which a dumb terminal shows as they are.
  const char* term = std::getenv("TERM");
  return !quiet && !json && isatty(STDERR_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
}

ProgressBar::ProgressBar(const Context& ctx, std::string label)
    : enabled_(ctx.ShowProgress()), line_(std::move(label)) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(uint64_t done, uint64_t total) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  line_.SetFiles(done, total);
  DrawLocked(NowMs());
}

void ProgressBar::UpdateBytes(uint64_t done, uint64_t total) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t now = NowMs();
  line_.SetBytes(done, total, now);
  DrawLocked(now);
}

void ProgressBar::DrawLocked(int64_t nowMs) {
  if (!line_.RedrawDue(nowMs)) return;
  // One column less than the terminal has: writing the last one would wrap.
  struct winsize ws {};
  const size_t columns =
      ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? ws.ws_col : 80;
  std::fprintf(stderr, "\r%s\033[K", line_.Text(columns - 1).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!drawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace tessarook::cli
