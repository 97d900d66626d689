#pragma once
// The frame of tessarook-cli: global options, the command table, the common
// exit statuses, SCHEME/BACKUP resolution, messages and the terminal progress bar.
// Each group of commands lives in its own Cmd*.cpp and registers itself with a
// static CommandRegistrar, so adding a command touches only its own file.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessarook::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitSkipped = 1,  // finished, but something was skipped (each named on stderr)
  kExitUsage = 2,
  kExitFailure = 3,
  kExitInterrupted = 130,
};

// Options of one command, as it declared them.
struct OptionSpec {
  std::string name;         // "--force"
  bool takesValue = false;  // "--to DIR"
};

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // name -> value ("" for flags)
  bool Has(const std::string& name) const { return options.count(name) != 0; }
  std::string Get(const std::string& name, const std::string& fallback = {}) const {
    auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
  }
};

// What every command gets besides its own arguments.
struct Context {
  std::string schemesDirOption;  // --schemes-dir, empty when not given
  std::string settingsFile;      // --settings; else the program's own (FindUserPlaces)
  bool quiet = false;

  // The My Schemes folder: --schemes-dir, else dir_schemes from the settings file.
  std::string SchemesDir() const;
  // A SCHEME argument: a Scheme name in the My Schemes folder, or, when it holds a
  // "/" or ends in ".tsbak", the path of a scheme file (made absolute).
  std::string SchemeFile(const std::string& arg) const;
  // True when a progress bar may be drawn on stderr.
  bool ShowProgress() const;
};

struct Command {
  std::string name;
  std::string synopsis;  // "backup SCHEME [BACKUP] [--force]"
  std::string summary;   // one line for the command list
  std::string help;      // longer text for COMMAND --help (may be empty)
  std::vector<OptionSpec> options;
  size_t minArgs = 0;
  size_t maxArgs = 0;  // SIZE_MAX for "any number"
  int (*run)(const Context&, const Args&) = nullptr;
};

struct CommandRegistrar {
  explicit CommandRegistrar(Command command);
};

const std::vector<Command>& Commands();

// A path argument made absolute against the current folder, without "." and
// ".." parts and without a trailing "/" (the root stays "/").
std::string AbsolutePath(const std::string& arg);

// "tessarook-cli: <text>" on stderr.
void Error(const std::string& text);

// Set by Ctrl+C; long commands poll it between files and clean up as "Cancel" does.
std::atomic<bool>& InterruptFlag();

// A one-line progress bar on stderr, drawn only when Context::ShowProgress().
// Redraws at most ~20 times a second; Finish() clears the line.
class ProgressBar {
 public:
  ProgressBar(const Context& ctx, std::string label);
  ~ProgressBar();
  void Update(uint64_t done, uint64_t total);
  void Finish();

 private:
  bool enabled_;
  std::string label_;
  int64_t lastDrawMs_ = -1;
  bool drawn_ = false;
};

}  // namespace tessarook::cli
