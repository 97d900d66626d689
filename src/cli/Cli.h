// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The frame of tessarook-cli: global options, the command table, the common
// exit statuses, SCHEME/BACKUP resolution, messages and the terminal progress bar.
// Each group of commands lives in its own Cmd*.cpp and registers itself with a
// static CommandRegistrar, so adding a command touches only its own file.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "backup/Prune.h"
#include "backup/Retention.h"
#include "library/SchemeLibrary.h"
#include "util/Json.h"
#include "util/ProgressText.h"

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
  unsigned jobs = 0;  // --jobs: workers for backup, restore and verify; 0 = one per core

  // The My Schemes folder: --schemes-dir, else dir_schemes from the settings file.
  std::string SchemesDir() const;
  // A SCHEME argument: a Scheme name in the My Schemes folder, or, when it holds a
  // "/" or ends in ".tsbak", the path of a scheme file (made absolute).
  std::string SchemeFile(const std::string& arg) const;
  // True when a progress bar may be drawn on stderr.
  bool ShowProgress() const;
  // The settings file in use: --settings, else the program's own.
  std::string SettingsFileInUse() const;
  // The per-user file of the Schemes' schedules, keep rules and last Backups.
  std::string RecordsFile() const;
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

// A one-line progress bar on stderr, drawn only when Context::ShowProgress():
// files done, and once the operation reports them, bytes done of total, the
// rate and the time left. Redraws at most 10 times a second; Finish() clears
// the line. May be fed from any thread.
class ProgressBar {
 public:
  ProgressBar(const Context& ctx, std::string label);
  ~ProgressBar();
  void Update(uint64_t done, uint64_t total);       // files
  void UpdateBytes(uint64_t done, uint64_t total);  // bytes of file data
  void Finish();

 private:
  void DrawLocked(int64_t nowMs);

  bool enabled_;
  std::mutex mutex_;
  CProgressLine line_;
  bool drawn_ = false;
};

// Before a command destroys something: on a terminal (standard input is one)
// asks `question` on stderr and reads the answer; true for "y" or "yes".
// Without a terminal, or with --yes, true at once, so scripts work unchanged.
bool Confirm(const Args& args, const std::string& question);

// "N Backup(s)" for the Backups of the scheme file (the *.zip files in its
// Backups folder).
std::string BackupCountText(const std::string& schemeFile);

// The --keep-last/-hourly/-daily/-weekly/-monthly options of prune and backup.
std::vector<OptionSpec> KeepOptions();
// Reads them into `policy`; kExitUsage (with the reason on stderr) when a
// value is not a positive whole number.
int ParseKeepPolicy(const Args& args, KeepPolicy& policy);

// Prunes the Scheme's Backups (PruneBackups) and names on stderr what it
// left alone and why. The exit status: kExitOk, kExitSkipped when a Backup it
// meant to delete was passed over, kExitFailure when one could not be deleted.
int PruneAndReport(const CBackupStore& store, const KeepPolicy& policy, const PruneOptions& options,
                   PruneOutcome& outcome);

// One Backup as a JSON object: {"name", "time" (ISO 8601), "size"}; with
// `reasons`, also the rules that keep it.
void WriteBackupJson(CJsonWriter& json, const BackupInfo& backup,
                     const std::vector<std::string>* reasons = nullptr);

// The My Schemes folder with what carries a Scheme's record and timer through
// its rename, duplicate and delete (see SchemeFollower).
CSchemeLibrary FollowingLibrary(const Context& ctx);
// After a done rename, duplicate or delete: true when the record and timer
// followed; else names what went wrong on stderr.
bool ScheduleFollowed(const CSchemeLibrary& lib);

// Shows a desktop notification through notify-send when there is one; says
// nothing and changes nothing when there is no notify-send or no desktop
// session. Waits a few seconds at most.
void NotifyDesktop(const std::string& summary, const std::string& body, bool critical);

// Keeps a copy of the messages written to std::cerr while it lives (they still
// reach stderr), so they can be passed on, e.g. to a notification.
class MessageCapture {
 public:
  MessageCapture();
  ~MessageCapture();
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;
  // The captured lines without the "tessarook-cli: " prefix; the last `max` lines.
  std::vector<std::string> Lines(size_t max) const;

 private:
  class Tee;
  Tee* tee_;
};

}  // namespace tessarook::cli
