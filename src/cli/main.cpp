// SPDX-License-Identifier: GPL-3.0-or-later
// tessarook-cli: the command-line program over the Tessarook core.

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "Cli.h"
#include "settings/XmlSettingsDoc.h"

namespace tessarook::cli {

namespace {

std::vector<Command>& Table() {
  static std::vector<Command> table;
  return table;
}

// The signal that asked the running command to stop (0 for none).
volatile std::sig_atomic_t g_stopSignal = 0;

void OnInterrupt(int sig) {
  g_stopSignal = sig;
  InterruptFlag().store(true);
}

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void PrintUsage(std::ostream& out) {
  out << "Usage: tessarook-cli [--schemes-dir DIR] [--settings FILE] [--quiet] [--jobs N]\n"
         "                     COMMAND [ARGS...]\n"
         "       tessarook-cli --help | --version | COMMAND --help\n\n"
         "Commands:\n";
  // Commands register themselves in link order; list them by topic instead.
  static const char* const kOrder[] = {
      "new",     "show",          "add",           "add-file",         "add-folder", "remove",
      "exclude", "backup",        "backups",       "contents",         "restore",    "extract",
      "verify",  "delete-backup", "rename-backup", "duplicate-backup", "prune",      "schedule",
      "schemes", "delete",        "rename",        "duplicate",        "export",     "import",
      "watch"};
  auto rank = [](const std::string& name) {
    for (size_t i = 0; i < std::size(kOrder); ++i)
      if (name == kOrder[i]) return i;
    return std::size(kOrder);
  };
  std::vector<const Command*> listed;
  for (const Command& c : Commands()) listed.push_back(&c);
  std::stable_sort(listed.begin(), listed.end(), [&](const Command* a, const Command* b) {
    return rank(a->name) < rank(b->name);
  });
  for (const Command* command : listed) {
    const Command& c = *command;
    std::string head = "  " + c.synopsis;
    out << head;
    if (head.size() < 48)
      out << std::string(48 - head.size(), ' ');
    else
      out << "\n" << std::string(48, ' ');
    out << c.summary << "\n";
  }
  out << "\nExit status: 0 success, 1 something was skipped, 2 usage error, 3 failure,\n"
         "130 interrupted (129 by a closed terminal, 143 by SIGTERM).\n"
         "Environment: TESSAROOK_SCHEMES_DIR is the My Schemes folder when --schemes-dir is not "
         "given.\n"
         "--jobs N: backup, restore and verify use N workers (default: one per core).\n";
}

void PrintCommandHelp(const Command& c) {
  std::cout << "Usage: tessarook-cli [global options] " << c.synopsis << "\n\n"
            << c.summary << "\n";
  if (!c.help.empty()) std::cout << "\n" << c.help << "\n";
}

int Usage(const std::string& text) {
  Error(text);
  Error("try 'tessarook-cli --help'");
  return kExitUsage;
}

// Takes a global option at argv[i] (and its value); false when argv[i] is not
// one. On a missing value sets *failed.
bool TakeGlobalOption(int argc, char** argv, int& i, Context& ctx, int* failed) {
  const std::string a = argv[i];
  if (a == "--quiet" || a == "-q") {
    ctx.quiet = true;
  } else if (a == "--schemes-dir" || a == "--settings") {
    if (i + 1 >= argc) {
      *failed = Usage(a + " needs a value");
      return true;
    }
    (a == "--settings" ? ctx.settingsFile : ctx.schemesDirOption) = argv[++i];
  } else if (a == "--jobs" || a.rfind("--jobs=", 0) == 0) {
    std::string value;
    if (a == "--jobs") {
      if (i + 1 >= argc) {
        *failed = Usage(a + " needs a value");
        return true;
      }
      value = argv[++i];
    } else {
      value = a.substr(7);
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(value.c_str(), &end, 10);
    if (value.empty() || value[0] < '0' || value[0] > '9' || *end != '\0' || errno != 0 || n < 1 ||
        n > 256) {
      *failed = Usage("--jobs needs a number of workers from 1 to 256, not '" + value + "'");
      return true;
    }
    ctx.jobs = static_cast<unsigned>(n);
  } else if (a.rfind("--schemes-dir=", 0) == 0) {
    ctx.schemesDirOption = a.substr(14);
  } else if (a.rfind("--settings=", 0) == 0) {
    ctx.settingsFile = a.substr(11);
  } else {
    return false;
  }
  return true;
}

}  // namespace

CommandRegistrar::CommandRegistrar(Command command) { Table().push_back(std::move(command)); }

const std::vector<Command>& Commands() { return Table(); }

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

bool Context::ShowProgress() const { return !quiet && isatty(STDERR_FILENO); }

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

int main(int argc, char** argv) {
  using namespace tessarook::cli;
  Context ctx;
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      PrintUsage(std::cout);
      return kExitOk;
    }
    if (a == "--version") {
      std::cout << "tessarook-cli " << TESSAROOK_VERSION << "\n";
      return kExitOk;
    }
    int failed = kExitOk;
    if (TakeGlobalOption(argc, argv, i, ctx, &failed)) {
      if (failed != kExitOk) return failed;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option " + a);
    } else {
      break;
    }
  }
  if (i >= argc) return Usage("no command given");

  const std::string name = argv[i++];
  const Command* cmd = nullptr;
  for (const Command& c : Commands())
    if (c.name == name) cmd = &c;
  if (!cmd) return Usage("unknown command '" + name + "'");

  Args args;
  bool endOfOptions = false;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (!endOfOptions && a == "--") {
      endOfOptions = true;
      continue;
    }
    if (!endOfOptions && (a == "--help" || a == "-h")) {
      PrintCommandHelp(*cmd);
      return kExitOk;
    }
    if (!endOfOptions && (a == "-q" || a.rfind("--", 0) == 0)) {
      // The program's own options may follow the command too.
      int failed = kExitOk;
      if (TakeGlobalOption(argc, argv, i, ctx, &failed)) {
        if (failed != kExitOk) return failed;
        continue;
      }
    }
    if (!endOfOptions && a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string value;
      const size_t eq = a.find('=');
      const bool inlineValue = eq != std::string::npos;
      if (inlineValue) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
      }
      const OptionSpec* option = nullptr;
      for (const OptionSpec& o : cmd->options)
        if (o.name == a) option = &o;
      if (!option) return Usage(name + ": unknown option " + a);
      if (option->takesValue && !inlineValue) {
        if (i + 1 >= argc) return Usage(name + ": " + a + " needs a value");
        value = argv[++i];
      } else if (!option->takesValue && inlineValue) {
        return Usage(name + ": " + a + " takes no value");
      }
      args.options[a] = value;
      continue;
    }
    args.positional.push_back(a);
  }
  if (args.positional.size() < cmd->minArgs || args.positional.size() > cmd->maxArgs)
    return Usage("usage: tessarook-cli " + cmd->synopsis);

  // A settings file named on the command line must be there and readable: a
  // silent default would put Backups somewhere the user did not mean.
  if (!ctx.settingsFile.empty()) {
    tessarook::CXmlSettingsDoc doc;
    struct stat st {};
    const std::string settings = AbsolutePath(ctx.settingsFile);
    if (::stat(settings.c_str(), &st) != 0) {
      Error("the settings file " + ctx.settingsFile + " cannot be read: " + std::strerror(errno));
      return kExitFailure;
    }
    if (!doc.LoadFromFile(settings)) {
      Error("the settings file " + ctx.settingsFile + " is damaged or not a settings file");
      return kExitFailure;
    }
  }

  // Ctrl+C, SIGTERM and a closed terminal (SIGHUP) all stop a command as the
  // desktop program's "Cancel" does: it cleans up and ends with 128 + the
  // signal's number (130 for Ctrl+C), as programs killed by it would.
  InterruptFlag();  // made before any handler may touch it
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnInterrupt;
  // A second signal ends the program at once, should a command not be polling.
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  // Past a file-size limit a write then fails with EFBIG and goes the way of
  // any failed write (message, partial output removed), instead of the
  // signal killing the program without a word.
  signal(SIGXFSZ, SIG_IGN);

  int status = cmd->run(ctx, args);
  if (status == kExitInterrupted && g_stopSignal != 0) status = 128 + g_stopSignal;
  // Output that never reached its destination (a full disk, a closed pipe) is a failure.
  std::cout.flush();
  if (!std::cout || std::fflush(stdout) != 0) {
    Error("could not write the output");
    if (status == kExitOk || status == kExitSkipped) status = kExitFailure;
  }
  return status;
}
