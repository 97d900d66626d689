// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The frame of tessarook-cli: global options, the command table, the common
// exit statuses, SCHEME/BACKUP resolution, messages and the terminal progress bar.
// Each group of commands lives in its own Cmd*.cpp; the table in Commands.cpp
// describes them all.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "backup/Prune.h"
#include "backup/Retention.h"
#include "library/SchemeLibrary.h"
#include "offsite/Offsite.h"
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
  bool json = false;  // --json: one JSON document on stdout, messages as JSON on stderr

  // The My Schemes folder: --schemes-dir, else dir_schemes from the settings file.
  std::string SchemesDir() const;
  // The deflate level of new Backups the settings file chose (the desktop
  // program's Settings), the normal one when it chose none.
  int CompressionLevel() const;
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

// What an argument or an option's value names: how help texts show it and
// what the shell completions offer for it.
enum class Kind {
  kText,        // anything (nothing offered)
  kNumber,      // a whole number
  kScheme,      // a Scheme name, or the path of a scheme file
  kSchemeName,  // a Scheme name in the My Schemes folder
  kBackup,      // a Backup of the Scheme given as the first argument
  kBackupPath,  // a source path in the Backup given as the second argument
  kPath,        // a file or folder on disk
  kFolder,      // a folder on disk
  kCsm,         // a Compressed Scheme file
  kWords,       // one of the words of the meta text, separated by "|"
  kCommand,     // a command's name
};

// One positional argument of a command.
struct ArgSpec {
  enum class Count { kOne, kOptional, kOneOrMore, kAny };
  std::string meta;  // "SCHEME", "PATH", "off|hourly|daily|weekly"
  Kind kind = Kind::kText;
  Count count = Count::kOne;
};

// One option of a command (or of the program).
struct OptionSpec {
  std::string name;   // "--to"
  std::string value;  // "DIR"; empty for an option that takes no value
  Kind kind = Kind::kText;
  std::string description;  // one line
  bool TakesValue() const { return !value.empty(); }
};

// A command as the table in Commands.cpp describes it. Help texts, the manual
// page's command section and the shell completions are all made from the table.
struct Command {
  std::string name;
  std::string topic;  // the heading it is listed under
  std::vector<ArgSpec> args;
  std::vector<OptionSpec> options;
  std::string summary;  // one line for the command list
  std::string help;     // paragraphs (separated by an empty line) for COMMAND --help
  int (*run)(const Context&, const Args&) = nullptr;

  // "backup SCHEME [BACKUP] [OPTION...]"
  std::string Synopsis() const;
  size_t MinArgs() const;
  size_t MaxArgs() const;  // SIZE_MAX for "any number"
  const OptionSpec* FindOption(const std::string& name) const;
};

// Every command, in the order they are listed.
const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);
// The program's own options (--schemes-dir, ...), which may also follow a command.
const std::vector<OptionSpec>& GlobalOptions();

// The commands' functions.
int RunNew(const Context&, const Args&);
int RunShow(const Context&, const Args&);
int RunAdd(const Context&, const Args&);
int RunAddFile(const Context&, const Args&);
int RunAddFolder(const Context&, const Args&);
int RunRemove(const Context&, const Args&);
int RunExclude(const Context&, const Args&);
int RunBackup(const Context&, const Args&);
int RunBackups(const Context&, const Args&);
int RunContents(const Context&, const Args&);
int RunRestore(const Context&, const Args&);
int RunExtract(const Context&, const Args&);
int RunVerify(const Context&, const Args&);
int RunDeleteBackup(const Context&, const Args&);
int RunRenameBackup(const Context&, const Args&);
int RunDuplicateBackup(const Context&, const Args&);
int RunPrune(const Context&, const Args&);
int RunSchedule(const Context&, const Args&);
int RunSchemes(const Context&, const Args&);
int RunDelete(const Context&, const Args&);
int RunRename(const Context&, const Args&);
int RunDuplicate(const Context&, const Args&);
int RunExport(const Context&, const Args&);
int RunImport(const Context&, const Args&);
int RunPush(const Context&, const Args&);
int RunRemoteBackups(const Context&, const Args&);
int RunPull(const Context&, const Args&);
int RunWatch(const Context&, const Args&);
int RunHelp(const Context&, const Args&);

// The program's help: the command list (--help), one command's (COMMAND --help).
std::string UsageText();
std::string CommandHelpText(const Command& command);
// Of `candidates`, the one nearest to the mistyped `word`, when one is near
// enough to be meant; else empty.
std::string Nearest(const std::string& word, const std::vector<std::string>& candidates);
// The paragraphs of a help text (separated by an empty line).
std::vector<std::string> Paragraphs(const std::string& text);
// `text` reflowed: paragraphs (separated by an empty line) are filled to `width`
// columns with `indent` blanks before each line; a paragraph whose lines start
// with two blanks stays as it is, indented.
std::string Reflow(const std::string& text, size_t indent, size_t width);
constexpr size_t kHelpWidth = 79;

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

// One Backup as a JSON object, the same wherever a Backup appears: {"name",
// "time" (ISO 8601), "size"}; with `reasons`, also "kept_by", the rules that
// keep it; with `reason`, also "reason", why it was passed over.
void WriteBackupJson(CJsonWriter& json, const BackupInfo& backup,
                     const std::vector<std::string>* reasons = nullptr,
                     const std::string* reason = nullptr);

// A REMOTE:PATH argument as rclone takes it; false (the reason on stderr)
// for an empty one, one rclone would take for an option, or one of several lines.
bool CheckRemote(const std::string& remote);
// Says once on stderr that copies at `remote` are stored unencrypted, unless
// it is `encrypted`.
void SayIfUnencrypted(const std::string& remote, bool encrypted);

// A push's outcome as one JSON object: "scheme", "remote", "ok" (and "error"),
// "scheme_sent", "bytes", "sent" (Backup objects), "not_sent" (name, reason),
// "pruned" (names).
void WritePushJson(CJsonWriter& json, const std::string& schemeFile, const std::string& remote,
                   const PushResult& result);

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
