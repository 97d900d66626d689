// SPDX-License-Identifier: GPL-3.0-or-later
// The table of tessarook-cli's commands and options. Everything the program
// says about its command line (--help, COMMAND --help, help COMMAND, the
// manual page's command section, the bash, zsh and fish completions) is made
// from it: a new command or option is one entry here.
//
// Help paragraphs are separated by an empty line and reflowed to the width of
// the terminal text; a paragraph whose lines start with two blanks is kept as
// it stands.

#include <cstdint>

#include "Cli.h"

namespace tessarook::cli {

namespace {

using Count = ArgSpec::Count;

const ArgSpec kSchemeArg{"SCHEME", Kind::kScheme};
const ArgSpec kBackupArg{"BACKUP", Kind::kBackup};

const OptionSpec kJson{"--json", "", Kind::kText,
                       "print one JSON document instead (see the manual page)"};
const OptionSpec kForceName{"--force", "", Kind::kText,
                            "replace an existing NEW, waiting for one being written"};
const OptionSpec kYes{"--yes", "", Kind::kText, "do not ask on a terminal"};

const char kSchemeArgHelp[] =
    "SCHEME is a Scheme name in the My Schemes folder, or the path of a scheme file when it "
    "holds a \"/\" or ends in \".tsbak\".";

const char kRemoteHelp[] =
    "REMOTE:PATH is a remote of your rclone configuration ('rclone config' makes one, "
    "'rclone listremotes' lists them) and a folder on it. The Scheme is kept there as in the "
    "My Schemes folder: PATH/NAME.tsbak and PATH/NAME.tsbak.backups/. rclone must be "
    "installed (Debian package rclone). A remote that cannot be reached or refuses ends with "
    "exit status 3 and rclone's own reason; nothing is deleted.";
const ArgSpec kRemoteArg{"REMOTE:PATH", Kind::kText};

std::vector<OptionSpec> With(std::vector<OptionSpec> options, const std::vector<OptionSpec>& more) {
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

std::vector<Command> MakeTable() {
  const std::string schemeArg = kSchemeArgHelp;
  return {
      // ---- Schemes
      {"new",
       "Schemes",
       {{"NAME", Kind::kText}},
       {{"--force", "", Kind::kText, "replace an existing Scheme and delete its Backups"}, kYes},
       "create an empty Scheme",
       "Writes the empty Scheme NAME.tsbak, creating the My Schemes folder when it is "
       "missing. An existing Scheme of that name is refused unless --force is given; --force "
       "replaces it and deletes its Backups folder. On a terminal it asks first, naming how "
       "many Backups go; --yes answers for you. Without a terminal it does not ask. Nothing is "
       "changed while a Backup of the Scheme is being written.\n\n"
       "NAME may not contain any of \\ / : * ? \" < > |",
       RunNew},
      {"show",
       "Schemes",
       {kSchemeArg},
       {},
       "list a Scheme's files and folders",
       schemeArg +
           "\n\nPrints one line per entry, fields separated by a TAB: \"file\" and the path for "
           "each file entry, then \"folder\", the path and the excluded extensions separated by "
           "commas for each folder entry.",
       RunShow},
      {"add",
       "Schemes",
       {kSchemeArg, {"PATH", Kind::kPath, Count::kOneOrMore}},
       {},
       "add files and folders to a Scheme",
       schemeArg +
           "\n\nEach PATH is made absolute; a symbolic link stands for its target. An existing "
           "folder becomes a folder entry, anything else a file entry. Paths the Scheme already "
           "lists are left as they are.",
       RunAdd},
      {"add-file",
       "Schemes",
       {kSchemeArg, {"PATH", Kind::kPath, Count::kOneOrMore}},
       {},
       "add file entries to a Scheme",
       schemeArg + "\n\nAs add, but every PATH becomes a file entry, whatever it names.",
       RunAddFile},
      {"add-folder",
       "Schemes",
       {kSchemeArg, {"PATH", Kind::kFolder, Count::kOneOrMore}},
       {},
       "add folder entries to a Scheme",
       schemeArg + "\n\nAs add, but every PATH becomes a folder entry, whatever it names.",
       RunAddFolder},
      {"remove",
       "Schemes",
       {kSchemeArg, {"PATH", Kind::kPath, Count::kOneOrMore}},
       {},
       "remove files and folders from a Scheme",
       schemeArg +
           "\n\nRemoves the file entry and the folder entry of each PATH (as given, or made "
           "absolute). A PATH the Scheme does not list is named on stderr and the exit status "
           "is 1.",
       RunRemove},
      {"exclude",
       "Schemes",
       {kSchemeArg, {"FOLDER", Kind::kFolder}, {"EXT", Kind::kText, Count::kAny}},
       {},
       "set the extensions a folder leaves out",
       schemeArg +
           "\n\nReplaces the excluded extensions of the folder entry FOLDER with EXT... (none: "
           "exclude nothing). As in the folder properties dialog: one leading \".\" is dropped, "
           "extensions holding \\ / : * ? \" < > | or only blanks are dropped, and of extensions "
           "equal but for letter case the first is kept.\n\n"
           "  tessarook-cli exclude Work ~/src tmp .o",
       RunExclude},

      // ---- Backups
      {"backup",
       "Backups",
       {kSchemeArg, {"BACKUP", Kind::kBackup, Count::kOptional}},
       With({{"--force", "", Kind::kText, "replace an existing Backup of that name"},
             {"--reread", "", Kind::kText, "read every file again, copying nothing"},
             {"--level", "N", Kind::kNumber, "compression from 1 (fastest) to 9 (smallest)"},
             {"--notify", "", Kind::kText, "also report trouble as a desktop notification"},
             kJson},
            KeepOptions()),
       "take a Backup of a Scheme",
       "Prints BACKUP<TAB>FILES<TAB>BYTES (FILES stored; BYTES, the Backup's size). The "
       "default name is the local time as YYYY-MM-DD hh.mm.ss.\n\n"
       "A file unchanged since the newest Backup of the Scheme was taken (same device, inode, "
       "size, last-write and status-change time) is not read again: its compressed entry is "
       "copied from that Backup, sharing its blocks on file systems that can (XFS with "
       "reflink, btrfs). Every Backup is still one whole ZIP file on its own. --reread reads "
       "and compresses every file, copying nothing.\n\n"
       "--level N compresses the files read at level 1 (fastest) to 9 (smallest); without it "
       "the level is the one chosen in the desktop program's Settings (faster 1, normal 6, "
       "smaller 9), normal when none was chosen. Copied entries keep the form they had.\n\n"
       "Files that cannot be read are "
       "skipped, and files that changed while they were read are stored as read; each is named "
       "on stderr (exit status 1). --force replaces a Backup of that name, waiting first for "
       "one being written at the moment.\n\n"
       "With --keep-last, --keep-hourly, --keep-daily, --keep-weekly or --keep-monthly, old "
       "Backups are pruned as \"prune\" does once the Backup has been written (also when files "
       "were skipped; never after a failure or an interruption); the new Backup is always "
       "kept. Without any of them, the keep rules stored by \"schedule\" apply. How the "
       "Backup ended is noted in the Scheme's record (\"schedule SCHEME\" shows it).\n\n"
       "--notify sends the notification through notify-send, when there is one; it is meant "
       "for Backups no one watches.",
       RunBackup},
      {"backups",
       "Backups",
       {kSchemeArg},
       {{"--sort", "name|time|size", Kind::kWords, "the order of the list (default: time)"}, kJson},
       "list a Scheme's Backups",
       "Prints NAME<TAB>TIME<TAB>SIZE per Backup, sorted by time unless --sort says otherwise. The "
       "time is when the Backup was taken, "
       "which it records inside; one that does not counts as taken when its file was created. "
       "TIME is shown as the desktop program shows it; in JSON it is ISO 8601 with seconds "
       "and offset.",
       RunBackups},
      {"contents",
       "Backups",
       {kSchemeArg, kBackupArg},
       {kJson},
       "list a Backup's files: INDEX<TAB>PATH",
       "BACKUP \"latest\" is the newest Backup (unless one is named so), here and in every "
       "command that reads a Backup.\n\n"
       "A damaged list prints the files it could name, says what is wrong on stderr and exits "
       "with status 3.",
       RunContents},
      {"restore",
       "Backups",
       {kSchemeArg, kBackupArg, {"PATH", Kind::kBackupPath, Count::kAny}},
       {{"--to", "DIR", Kind::kFolder, "restore below DIR instead of to the source paths"},
        {"--dry-run", "", Kind::kText, "change nothing; print what would happen to each file"},
        kJson},
       "restore a Backup's files to their places",
       "With --to DIR each file goes to DIR followed by its source path (so /home/a/x lands in "
       "DIR/home/a/x); nothing is written outside DIR and symbolic links inside it are not "
       "followed. Paths of a Backup made on Windows need --to: C:\\a\\x goes to DIR/C/a/x, "
       "\\\\server\\share\\x to DIR/UNC/server/share/x.\n\n"
       "Every file is checked (size and CRC) in a temporary file beside it before it replaces "
       "anything. A file that already holds the Backup's data is left untouched. An existing "
       "file keeps its owner, group and mode; it is replaced by renaming the checked file over "
       "it, or rewritten in place where its identity matters (hard links, a symbolic link's "
       "target, a file of another user). One that is read-only or not writable is skipped "
       "(exit status 1).\n\n"
       "Prints each restored file's source path, then on stderr how many files were created, "
       "replaced, already identical and not restored. Damaged data in the Backup, and a "
       "damaged list (the files it could name are restored), end with exit status 3.\n\n"
       "--dry-run prints one line per file instead: create<TAB>PATH, "
       "replace<TAB>PATH<TAB>REASON (size: the sizes differ; time: same size, another "
       "last-write time; content: same size and time, other bytes) or same<TAB>PATH.",
       RunRestore},
      {"extract",
       "Backups",
       {kSchemeArg, kBackupArg, {"PATH", Kind::kBackupPath}, {"DEST", Kind::kPath}},
       {},
       "restore one file to DEST (- for stdout)",
       "DEST is a file path; a file there is replaced without question. With DEST \"-\" the "
       "file's bytes go to standard output; should they prove damaged at the end, the exit "
       "status is 3.",
       RunExtract},
      {"verify",
       "Backups",
       {kSchemeArg, kBackupArg},
       {kJson},
       "check every file of a Backup and its list",
       "Prints ok<TAB>FILES, or bad<TAB>INDEX<TAB>PATH<TAB>REASON per fault (exit status 3): "
       "damaged data or list, missing or stray entries, paths no restore takes, entries "
       "sharing data.",
       RunVerify},
      {"delete-backup",
       "Backups",
       {kSchemeArg, kBackupArg},
       {},
       "delete a Backup",
       "A Backup being written under the name at the moment is not deleted (exit status 3).",
       RunDeleteBackup},
      {"rename-backup",
       "Backups",
       {kSchemeArg, {"OLD", Kind::kBackup}, {"NEW", Kind::kText}},
       {kForceName},
       "rename a Backup",
       "Refuses an existing NEW, and a name a Backup is being written under at the moment; "
       "--force replaces NEW, waiting first for a Backup being written under it.",
       RunRenameBackup},
      {"duplicate-backup",
       "Backups",
       {kSchemeArg, {"OLD", Kind::kBackup}, {"NEW", Kind::kText}},
       {kForceName},
       "copy a Backup under a new name",
       "Refuses an existing NEW, and a name a Backup is being written under at the moment; "
       "--force replaces NEW, waiting first for a Backup being written under it.",
       RunDuplicateBackup},
      {"prune",
       "Backups",
       {kSchemeArg},
       With(KeepOptions(),
            {{"--dry-run", "", Kind::kText, "delete nothing; print the names that would go"},
             kJson}),
       "delete the Backups that no --keep rule keeps",
       "A Backup stays when any rule keeps it; at least one rule is needed. --keep-last N "
       "keeps the N newest Backups; --keep-hourly, --keep-daily, --keep-weekly and "
       "--keep-monthly N keep the newest Backup of each of the N most recent hours, days, "
       "weeks (Monday to Sunday) or months, in local time, that have Backups. The time is the "
       "time the Backup was taken, as \"backups\" lists it.\n\n"
       "Only Backups are pruned: a .zip file that does not open as a Backup is named and left "
       "alone, and a Backup dated in the future is named, kept and not counted by any rule. "
       "Each Backup is deleted under its name's lock, and only when it is still the file that "
       "was judged: one being written, or replaced since, is named and left alone (exit status "
       "1). One already gone is not a failure.\n\n"
       "Prints the name of each deleted Backup.",
       RunPrune},
      {"schedule",
       "Backups",
       {kSchemeArg, {"off|hourly|daily|weekly", Kind::kWords, Count::kOptional}},
       With(KeepOptions(),
            {{"--no-keep", "", Kind::kText, "remove the stored keep rules (keep every Backup)"},
             {"--remote", "REMOTE:PATH", Kind::kText,
              "push the Scheme there after every Backup (rclone)"},
             {"--no-remote", "", Kind::kText, "push after Backups no more"}}),
       "show or set when the Scheme is backed up by itself, its keep rules and remote",
       "With a period, sets up the Scheme's timer: the systemd user timer "
       "tessarook-backup@NAME.timer with the period in a drop-in file, or, where no systemd "
       "user manager runs, a line in the user's crontab with the program's full path; \"off\" "
       "removes it.\n\n"
       "--keep-last, --keep-hourly, --keep-daily, --keep-weekly and --keep-monthly N store the "
       "keep rules that every Backup of the Scheme applies afterwards (as \"prune\" does) when "
       "\"backup\" is given no rules of its own; --no-keep removes them. The desktop "
       "program's Schedule dialog reads and writes the same record, schemes.records beside "
       "settings.xml. Renaming, duplicating or deleting a Scheme carries or removes its record "
       "and timer.\n\n"
       "--remote REMOTE:PATH (as \"push\" takes it) makes every Backup of the Scheme, by "
       "\"backup\", the timer or the desktop program, end with a push there; a remote that is "
       "not an rclone crypt remote is named once as storing the copies unencrypted. A failed "
       "push leaves the Backup and its exit status as they are: it is said on stderr, noted in "
       "the record and, with backup --notify, sent as a notification. --no-remote stops the "
       "pushes. A renamed or duplicated Scheme keeps its remote, but counts as not copied yet.\n\n"
       "Prints the record, one line each, the value after a TAB: scheme, schedule, timer "
       "(kind, unit, enabled), next, keep, last (name, time, how it ended, files, skipped "
       "files), remote, and push (time, how it ended: ok, incomplete, failed or interrupted, "
       "and why; \"behind\" when the remote lacks the newest Backup).",
       RunSchedule},

      // ---- The My Schemes folder
      {"schemes",
       "My Schemes folder and Compressed Schemes",
       {},
       {kJson},
       "list the Schemes of the My Schemes folder",
       "Prints one Scheme name per line, ascending.",
       RunSchemes},
      {"delete",
       "My Schemes folder and Compressed Schemes",
       {{"NAME", Kind::kSchemeName}},
       {kYes},
       "delete a Scheme with its Backups folder",
       "On a terminal it asks first, naming how many Backups go; --yes answers for you. "
       "Without a terminal it does not ask. Nothing is deleted while a Backup of the Scheme is "
       "being written.",
       RunDelete},
      {"rename",
       "My Schemes folder and Compressed Schemes",
       {{"OLD", Kind::kSchemeName}, {"NEW", Kind::kText}},
       {{"--force", "", Kind::kText, "replace an existing Scheme NEW and its Backups folder"}},
       "rename a Scheme with its Backups folder",
       "Refuses to replace an existing Scheme NEW unless --force is given.",
       RunRename},
      {"duplicate",
       "My Schemes folder and Compressed Schemes",
       {{"OLD", Kind::kSchemeName}, {"NEW", Kind::kText}},
       {{"--force", "", Kind::kText, "replace an existing Scheme NEW and its Backups folder"}},
       "copy a Scheme with its Backups folder",
       "Refuses to replace an existing Scheme NEW unless --force is given.",
       RunDuplicate},
      {"export",
       "My Schemes folder and Compressed Schemes",
       {{"NAME", Kind::kSchemeName}, {"FILE.csm", Kind::kCsm}},
       {{"--force", "", Kind::kText, "replace an existing FILE.csm"}, kJson},
       "write a Scheme with its Backups to FILE.csm",
       "Prints FILE<TAB>RECORDS<TAB>BYTES. Ctrl+C stops the export and leaves no file.",
       RunExport},
      {"import",
       "My Schemes folder and Compressed Schemes",
       {{"FILE.csm", Kind::kCsm}},
       {{"--force", "", Kind::kText, "replace an existing Scheme of that name"}, kJson},
       "recreate a Scheme with its Backups",
       "Prints the Scheme's name. With --force, carried Backups replace those of the same "
       "name. A damaged file changes nothing. Ctrl+C stops the import and leaves the My "
       "Schemes folder as it was.",
       RunImport},
      {"watch",
       "My Schemes folder and Compressed Schemes",
       {{"DIR", Kind::kFolder}},
       {},
       "print a folder's changes until interrupted",
       "Prints created|deleted|changed<TAB>PATH for each change found, as the desktop "
       "program's change monitor sees it. Runs until Ctrl+C (exit status 130); exit status 3 "
       "when the folder cannot be watched or goes away.",
       RunWatch},
      // ---- Copies on another machine
      {"push",
       "Copies on another machine (rclone)",
       {kSchemeArg, kRemoteArg},
       With({{"--prune", "", Kind::kText, "apply the --keep rules to the remote's Backups"}, kJson},
            KeepOptions()),
       "copy the scheme file and the Backups a remote lacks",
       std::string(kRemoteHelp) +
           "\n\nSends every finished Backup the remote lacks or holds with other content (same "
           "size and time, or else the same last bytes, count as the same), each under its "
           "name's lock, so none being written goes. Each goes first to the hidden folder "
           "PATH/.NAME.tsbak.push/ and is moved into place only when it arrived whole, so the "
           "remote never lists a torn Backup; what an interrupted push left there is replaced "
           "by the next one. Prints NAME<TAB>BYTES per Backup sent.\n\n"
           "Nothing on the remote is deleted unless --prune is given: then the --keep-... rules "
           "(as \"prune\" takes them) are applied to the remote's Backups by their times there; "
           "a remote that keeps no modification times is not pruned.\n\n"
           "A remote that is not an rclone crypt remote stores the copies unencrypted; push "
           "says so. --json prints one JSON document: sent, not_sent and pruned.",
       RunPush},
      {"remote-backups",
       "Copies on another machine (rclone)",
       {kSchemeArg, kRemoteArg},
       {kJson},
       "list the Scheme's Backups on a remote",
       std::string(kRemoteHelp) +
           "\n\nPrints NAME<TAB>TIME<TAB>SIZE, TIME being the Backup's modification time on "
           "the remote, as the desktop program shows times. The Scheme need not exist here.",
       RunRemoteBackups},
      {"pull",
       "Copies on another machine (rclone)",
       {kSchemeArg, kRemoteArg, {"BACKUP", Kind::kText}},
       {{"--force", "", Kind::kText, "replace an existing Backup of that name"}, kJson},
       "bring a Backup back from a remote into the Backups folder",
       std::string(kRemoteHelp) +
           "\n\nThe Backup is fetched under a hidden name, checked as \"verify\" checks it, "
           "and only then listed; a damaged one is removed again (exit status 3). BACKUP "
           "\"latest\" is the newest one on the remote (by its time there). An existing Backup "
           "of the name is replaced only with --force. When the scheme file itself is missing "
           "(a lost disk), it is fetched too. Prints the Backup's name.",
       RunPull},
      {"help",
       "Help",
       {{"COMMAND", Kind::kCommand, Count::kOptional}},
       {},
       "show the commands, or one command's help",
       "The same text as --help and COMMAND --help.",
       RunHelp},
  };
}

}  // namespace

std::vector<OptionSpec> KeepOptions() {
  const char* const rules[][2] = {{"--keep-last", "keep the N newest Backups"},
                                  {"--keep-hourly", "keep the newest Backup of N hours"},
                                  {"--keep-daily", "keep the newest Backup of N days"},
                                  {"--keep-weekly", "keep the newest Backup of N weeks"},
                                  {"--keep-monthly", "keep the newest Backup of N months"}};
  std::vector<OptionSpec> out;
  for (const auto& rule : rules) out.push_back({rule[0], "N", Kind::kNumber, rule[1]});
  return out;
}

const std::vector<OptionSpec>& GlobalOptions() {
  static const std::vector<OptionSpec> options = {
      {"--schemes-dir", "DIR", Kind::kFolder, "the My Schemes folder"},
      {"--settings", "FILE", Kind::kPath, "read the My Schemes folder from this settings file"},
      {"--quiet", "", Kind::kText, "no progress bar and no restore summary (also -q)"},
      {"--jobs", "N", Kind::kNumber, "workers for backup, restore and verify (1 to 256)"},
      {"--help", "", Kind::kText, "the list of commands, or with a command its help"},
      {"--version", "", Kind::kText, "the program's version"},
  };
  return options;
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> table = MakeTable();
  return table;
}

const Command* FindCommand(const std::string& name) {
  for (const Command& c : Commands())
    if (c.name == name) return &c;
  return nullptr;
}

std::string Command::Synopsis() const {
  std::string text = name;
  for (const ArgSpec& a : args) {
    const bool optional = a.count == Count::kOptional || a.count == Count::kAny;
    const bool many = a.count == Count::kOneOrMore || a.count == Count::kAny;
    text += " " + std::string(optional ? "[" : "") + a.meta + (many ? "..." : "") +
            (optional ? "]" : "");
  }
  if (!options.empty()) text += " [OPTION...]";
  return text;
}

size_t Command::MinArgs() const {
  size_t n = 0;
  for (const ArgSpec& a : args)
    if (a.count == Count::kOne || a.count == Count::kOneOrMore) ++n;
  return n;
}

size_t Command::MaxArgs() const {
  size_t n = 0;
  for (const ArgSpec& a : args) {
    if (a.count == Count::kOneOrMore || a.count == Count::kAny) return SIZE_MAX;
    ++n;
  }
  return n;
}

const OptionSpec* Command::FindOption(const std::string& option) const {
  for (const OptionSpec& o : options)
    if (o.name == option) return &o;
  return nullptr;
}

}  // namespace tessarook::cli
