// SPDX-License-Identifier: GPL-3.0-or-later
// tessarook-cli: the command-line program over the Tessarook core.

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "Cli.h"
#include "settings/XmlSettingsDoc.h"

namespace tessarook::cli {

namespace {

// The signal that asked the running command to stop (0 for none).
volatile std::sig_atomic_t g_stopSignal = 0;

void OnInterrupt(int sig) {
  g_stopSignal = sig;
  InterruptFlag().store(true);
}

// With --json, what the program says on stderr is kept here and written at
// the end as one JSON object.
std::ostringstream* g_jsonMessages = nullptr;

int Usage(const std::string& text) {
  Error(text);
  if (!g_jsonMessages) Error("try 'tessarook-cli --help'");
  return kExitUsage;
}

// "; did you mean 'X'?" when one of `names` is near `word`.
std::string Guess(const std::string& word, const std::vector<std::string>& names) {
  const std::string near = Nearest(word, names);
  return near.empty() ? std::string() : "; did you mean '" + near + "'?";
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

namespace {

// What a step of the command line returns when the program goes on; any
// other value is the exit status it ends with.
constexpr int kGoOn = -1;

// Takes the program's own options before the command, leaving `i` at the
// command; --help and --version are answered here.
int ParseGlobalOptions(int argc, char** argv, int& i, Context& ctx) {
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << UsageText();
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
      std::vector<std::string> names;
      for (const OptionSpec& o : GlobalOptions()) names.push_back(o.name);
      return Usage("unknown option " + a + Guess(a, names));
    } else {
      break;
    }
  }
  if (i >= argc) return Usage("no command given");
  return kGoOn;
}

// Takes the command's options (and the program's own, which may follow the
// command too) and its arguments, from argv[i] on; the command's --help is
// answered here.
int ParseCommandArgs(int argc, char** argv, int i, const Command& cmd, const std::string& name,
                     Context& ctx, Args& args) {
  bool endOfOptions = false;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (!endOfOptions && a == "--") {
      endOfOptions = true;
      continue;
    }
    if (!endOfOptions && (a == "--help" || a == "-h")) {
      std::cout << CommandHelpText(cmd);
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
      const OptionSpec* option = cmd.FindOption(a);
      if (!option) {
        std::vector<std::string> names;
        for (const OptionSpec& o : cmd.options) names.push_back(o.name);
        for (const OptionSpec& o : GlobalOptions()) names.push_back(o.name);
        return Usage(name + ": unknown option " + a + Guess(a, names));
      }
      if (option->TakesValue() && !inlineValue) {
        if (i + 1 >= argc) return Usage(name + ": " + a + " needs a value");
        value = argv[++i];
      } else if (!option->TakesValue() && inlineValue) {
        return Usage(name + ": " + a + " takes no value");
      }
      args.options[a] = value;
      continue;
    }
    args.positional.push_back(a);
  }
  if (args.positional.size() < cmd.MinArgs() || args.positional.size() > cmd.MaxArgs())
    return Usage("usage: tessarook-cli " + cmd.Synopsis());
  return kGoOn;
}

// A settings file named on the command line must be there and readable: a
// silent default would put Backups somewhere the user did not mean.
bool SettingsFileReadable(const Context& ctx) {
  if (ctx.settingsFile.empty()) return true;
  tessarook::CXmlSettingsDoc doc;
  struct stat st {};
  const std::string settings = AbsolutePath(ctx.settingsFile);
  if (::stat(settings.c_str(), &st) != 0) {
    Error("the settings file " + ctx.settingsFile + " cannot be read: " + std::strerror(errno));
    return false;
  }
  if (!doc.LoadFromFile(settings)) {
    Error("the settings file " + ctx.settingsFile + " is damaged or not a settings file");
    return false;
  }
  return true;
}

// Ctrl+C, SIGTERM and a closed terminal (SIGHUP) all stop a command as the
// desktop program's "Cancel" does: it cleans up and ends with 128 + the
// signal's number (130 for Ctrl+C), as programs killed by it would.
void CatchStopSignals() {
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
}

int Run(int argc, char** argv, Context& ctx) {
  int i = 1;
  if (const int status = ParseGlobalOptions(argc, argv, i, ctx); status != kGoOn) return status;
  const std::string name = argv[i++];
  const Command* cmd = FindCommand(name);
  if (!cmd) {
    std::vector<std::string> names;
    for (const Command& c : Commands()) names.push_back(c.name);
    return Usage("unknown command '" + name + "'" + Guess(name, names));
  }
  Args args;
  if (const int status = ParseCommandArgs(argc, argv, i, *cmd, name, ctx, args); status != kGoOn)
    return status;
  ctx.json = args.Has("--json");
  if (!SettingsFileReadable(ctx)) return kExitFailure;
  CatchStopSignals();
  int status = cmd->run(ctx, args);
  if (status == kExitInterrupted && g_stopSignal != 0) status = 128 + g_stopSignal;
  return status;
}

// True when --json stands among the arguments (before a "--").
bool JsonAsked(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return false;
    if (std::strcmp(argv[i], "--json") == 0) return true;
  }
  return false;
}

// The messages kept while --json was in force as one JSON object on stderr:
// {"exit_status": N, "message": the last message, "messages": [all of them]}.
void WriteJsonMessages(const std::string& text, int status) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  static const std::string kPrefix = "tessarook-cli: ";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(kPrefix, 0) == 0) line.erase(0, kPrefix.size());
    if (!line.empty()) lines.push_back(line);
  }
  if (lines.empty() && status == kExitOk) return;
  tessarook::CJsonWriter json;
  json.BeginObject().Key("exit_status").Number(status);
  json.Bytes("message", lines.empty() ? std::string() : lines.back());
  json.Key("messages").BeginArray();
  for (const std::string& line : lines) json.String(line);
  std::cerr << json.EndArray().EndObject().Text() << std::flush;
}

}  // namespace

}  // namespace tessarook::cli

int main(int argc, char** argv) {
  using namespace tessarook::cli;
  Context ctx;
  std::ostringstream kept;
  std::streambuf* stderrBuffer = nullptr;
  if (JsonAsked(argc, argv)) {
    g_jsonMessages = &kept;
    stderrBuffer = std::cerr.rdbuf(kept.rdbuf());
  }
  int status = Run(argc, argv, ctx);
  // Output that never reached its destination (a full disk, a closed pipe) is a failure.
  std::cout.flush();
  if (!std::cout || std::fflush(stdout) != 0) {
    Error("could not write the output");
    if (status == kExitOk || status == kExitSkipped) status = kExitFailure;
  }
  if (g_jsonMessages) {
    std::cerr.rdbuf(stderrBuffer);
    WriteJsonMessages(kept.str(), status);
  }
  return status;
}
