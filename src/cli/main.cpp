// tessarook-cli: the command-line program over the Tessarook core.

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "Cli.h"

namespace tessarook::cli {

namespace {

std::vector<Command>& Table() {
  static std::vector<Command> table;
  return table;
}

void OnInterrupt(int) { InterruptFlag().store(true); }

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void PrintUsage(std::ostream& out) {
  out << "Usage: tessarook-cli [--schemes-dir DIR] [--settings FILE] [--quiet] COMMAND [ARGS...]\n"
         "       tessarook-cli --help | --version | COMMAND --help\n\n"
         "Commands:\n";
  for (const Command& c : Commands()) {
    std::string head = "  " + c.synopsis;
    out << head;
    if (head.size() < 48)
      out << std::string(48 - head.size(), ' ');
    else
      out << "\n" << std::string(48, ' ');
    out << c.summary << "\n";
  }
  out << "\nExit status: 0 success, 1 something was skipped, 2 usage error, 3 failure,\n"
         "130 interrupted.\n";
}

void PrintCommandHelp(const Command& c) {
  std::cout << "Usage: tessarook-cli [global options] " << c.synopsis << "\n\n" << c.summary << "\n";
  if (!c.help.empty()) std::cout << "\n" << c.help << "\n";
}

int Usage(const std::string& text) {
  Error(text);
  std::cerr << "Try 'tessarook-cli --help'.\n";
  return kExitUsage;
}

}  // namespace

CommandRegistrar::CommandRegistrar(Command command) { Table().push_back(std::move(command)); }

const std::vector<Command>& Commands() { return Table(); }

void Error(const std::string& text) { std::cerr << "tessarook-cli: " << text << std::endl; }

std::atomic<bool>& InterruptFlag() {
  static std::atomic<bool> flag{false};
  return flag;
}

bool Context::ShowProgress() const { return !quiet && isatty(STDERR_FILENO); }

std::string Context::SchemeFile(const std::string& arg) const {
  const bool isPath = arg.find('/') != std::string::npos ||
                      (arg.size() >= 6 && arg.compare(arg.size() - 6, 6, ".tsbak") == 0);
  if (isPath) return std::filesystem::absolute(arg).lexically_normal().string();
  std::string dir = SchemesDir();
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + arg + ".tsbak";
}

ProgressBar::ProgressBar(const Context& ctx, std::string label)
    : enabled_(ctx.ShowProgress()), label_(std::move(label)) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(uint64_t done, uint64_t total) {
  if (!enabled_) return;
  const int64_t now = NowMs();
  if (done < total && lastDrawMs_ >= 0 && now - lastDrawMs_ < 50) return;
  lastDrawMs_ = now;
  const int width = 30;
  const double frac = total ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
  const int filled = static_cast<int>(frac * width);
  std::string bar(filled, '#');
  bar.append(width - filled, '.');
  std::fprintf(stderr, "\r%s [%s] %llu/%llu", label_.c_str(), bar.c_str(),
               static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Finish() {
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
    if (a == "--quiet" || a == "-q") {
      ctx.quiet = true;
    } else if (a == "--schemes-dir" || a == "--settings") {
      if (i + 1 >= argc) return Usage(a + " needs a value");
      (a == "--settings" ? ctx.settingsFile : ctx.schemesDirOption) = argv[++i];
    } else if (a.rfind("--schemes-dir=", 0) == 0) {
      ctx.schemesDirOption = a.substr(14);
    } else if (a.rfind("--settings=", 0) == 0) {
      ctx.settingsFile = a.substr(11);
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
    if (!endOfOptions && a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string value;
      const size_t eq = a.find('=');
      const bool inlineValue = eq != std::string::npos;
      if (inlineValue) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
      }
      const OptionSpec* spec = nullptr;
      for (const OptionSpec& o : cmd->options)
        if (o.name == a) spec = &o;
      if (!spec) return Usage(name + ": unknown option " + a);
      if (spec->takesValue && !inlineValue) {
        if (i + 1 >= argc) return Usage(name + ": " + a + " needs a value");
        value = argv[++i];
      } else if (!spec->takesValue && inlineValue) {
        return Usage(name + ": " + a + " takes no value");
      }
      args.options[a] = value;
      continue;
    }
    args.positional.push_back(a);
  }
  if (args.positional.size() < cmd->minArgs || args.positional.size() > cmd->maxArgs)
    return Usage("usage: tessarook-cli " + cmd->synopsis);

  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnInterrupt;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  return cmd->run(ctx, args);
}
