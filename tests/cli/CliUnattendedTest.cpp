// SPDX-License-Identifier: GPL-3.0-or-later
// tessarook-cli for unattended use: prune, "latest", --json, the environment's
// My Schemes folder, notifications and the progress bar on a terminal.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "CliTestUtil.h"

namespace tessarook::clitest {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

class CliUnattended : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "src");
    WriteFile(dir_ / "src/a.txt", "alpha");
    ASSERT_EQ(Cli({"new", "S"}).status, 0);
    ASSERT_EQ(Cli({"add", "S", dir_ / "src"}).status, 0);
  }

  // Runs the CLI on the test's My Schemes folder, with `env` ("NAME=value ...",
  // shell-quoted by the caller) before it.
  Result Cli(std::vector<std::string> args, const std::string& env = "") {
    args.insert(args.begin(), {"--schemes-dir", dir_ / "schemes"});
    return RunCli(args, dir_.path(), env);
  }

  std::string BackupFile(const std::string& name) {
    return dir_ / ("schemes/S.tsbak.backups/" + name + ".zip");
  }
  // Backup names oldest first, as the listing sorts them by creation time.
  std::vector<std::string> ByTime() {
    std::vector<std::string> names;
    for (const std::string& line : SplitLines(Cli({"backups", "S", "--sort", "time"}).out))
      names.push_back(line.substr(0, line.find('\t')));
    return names;
  }
  void TakeBackups(const std::vector<std::string>& names) {
    for (const std::string& n : names) ASSERT_EQ(Cli({"backup", "S", n}).status, 0) << n;
  }

  // Python's json module reads `text`; its answer to `expr` (a Python
  // expression over the document `d`) is returned, or "ERROR ..." when the
  // text is not one JSON document.
  std::string Python(const std::string& text, const std::string& expr) {
    TempDir tmp;
    WriteFile(tmp / "doc", text);
    WriteFile(tmp / "q.py",
              "import json,sys\n"
              "try: d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
              "except Exception as e: print('ERROR', e); sys.exit()\n"
              "sys.stdout.buffer.write(repr(" +
                  expr + ").encode('utf-8'))\n");
    const std::string cmd = "python3 " + ShellQuote(tmp / "q.py") + " " + ShellQuote(tmp / "doc") +
                            " > " + ShellQuote(tmp / "out");
    if (std::system(cmd.c_str()) != 0) return "ERROR python";
    return ReadFile(tmp / "out");
  }

  TempDir dir_;
};

TEST_F(CliUnattended, PruneRefusesWithoutARuleOrWithABadCount) {
  TakeBackups({"one", "two"});
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"prune", "S"},
                                             {"prune", "S", "--dry-run"},
                                             {"prune", "S", "--keep-last", "0"},
                                             {"prune", "S", "--keep-daily", "-1"},
                                             {"prune", "S", "--keep-weekly", "2x"},
                                             {"prune", "S", "--keep-monthly="},
                                             {"prune", "S", "--keep-hourly", "99999999999"},
                                             {"backup", "S", "three", "--keep-last", "0"}}) {
    const Result r = Cli(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("tessarook-cli: "), std::string::npos);
  }
  EXPECT_TRUE(fs::exists(BackupFile("one")));
  EXPECT_TRUE(fs::exists(BackupFile("two")));
  EXPECT_FALSE(fs::exists(BackupFile("three")));  // refused before any work
  EXPECT_EQ(Cli({"prune", "Nope", "--keep-last", "1"}).status, 3);
}

TEST_F(CliUnattended, PruneDryRunDeletesNothingThenPruneDeletesTheSame) {
  TakeBackups({"b1", "b2", "b3", "b4"});
  const std::vector<std::string> order = ByTime();
  ASSERT_EQ(order.size(), 4u);
  const std::string expected = order[0] + "\n" + order[1] + "\n";

  const Result dry = Cli({"prune", "S", "--keep-last", "2", "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(dry.out, expected);
  for (const std::string& n : order) EXPECT_TRUE(fs::exists(BackupFile(n))) << n;

  const Result real = Cli({"prune", "S", "--keep-last=2"});
  EXPECT_EQ(real.status, 0) << real.err;
  EXPECT_EQ(real.out, expected);
  EXPECT_FALSE(fs::exists(BackupFile(order[0])));
  EXPECT_FALSE(fs::exists(BackupFile(order[1])));
  EXPECT_TRUE(fs::exists(BackupFile(order[2])));
  EXPECT_TRUE(fs::exists(BackupFile(order[3])));
  // Nothing more to do.
  EXPECT_EQ(Cli({"prune", "S", "--keep-last", "2"}).out, "");
}

TEST_F(CliUnattended, BackupPrunesOnlyOnceItsBackupIsWritten) {
  TakeBackups({"old1", "old2"});
  // A Backup that cannot be written (its file's place is taken by a folder) prunes nothing.
  fs::create_directories(BackupFile("blocked"));
  const Result failed = Cli({"backup", "S", "blocked", "--force", "--keep-last", "1"});
  EXPECT_EQ(failed.status, 3);
  EXPECT_TRUE(fs::exists(BackupFile("old1")));
  EXPECT_TRUE(fs::exists(BackupFile("old2")));
  fs::remove(BackupFile("blocked"));

  // One that skips a file was written: it prunes, and it stays itself.
  ASSERT_EQ(Cli({"add-file", "S", dir_ / "missing.txt"}).status, 0);
  const Result skipped = Cli({"backup", "S", "new", "--keep-last", "1"});
  EXPECT_EQ(skipped.status, 1) << skipped.err;
  EXPECT_EQ(SplitLines(skipped.out).size(), 1u);  // stdout: the Backup's line only
  EXPECT_EQ(skipped.out.rfind("new\t", 0), 0u);
  EXPECT_NE(skipped.err.find("deleted the old Backup old1"), std::string::npos);
  EXPECT_EQ(ByTime(), std::vector<std::string>{"new"});
}

TEST_F(CliUnattended, LatestIsTheNewestBackupUnlessOneHasThatName) {
  const Result none = Cli({"contents", "S", "latest"});
  EXPECT_EQ(none.status, 3);
  EXPECT_NE(none.err.find("no Backups"), std::string::npos);

  TakeBackups({"x", "y"});
  const std::string newest = ByTime().back();
  EXPECT_EQ(Cli({"contents", "S", "latest"}).out, Cli({"contents", "S", newest}).out);
  EXPECT_EQ(Cli({"verify", "S", "latest"}).out, "ok\t1\n");
  const Result extract = Cli({"extract", "S", "latest", dir_ / "src/a.txt", dir_ / "out.txt"});
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(ReadFile(dir_ / "out.txt"), "alpha");
  EXPECT_EQ(Cli({"duplicate-backup", "S", "latest", "copy"}).status, 0);
  EXPECT_TRUE(fs::exists(BackupFile("copy")));

  // "latest" as a real name wins, even though "copy" is newer.
  ASSERT_EQ(Cli({"rename-backup", "S", "x", "latest"}).status, 0);
  WriteFile(dir_ / "src/a.txt", "changed");
  ASSERT_EQ(Cli({"backup", "S", "newer"}).status, 0);
  EXPECT_EQ(Cli({"delete-backup", "S", "latest"}).status, 0);
  EXPECT_FALSE(fs::exists(BackupFile("latest")));
  EXPECT_TRUE(fs::exists(BackupFile("newer")));
  // Now "latest" is the newest again.
  EXPECT_EQ(Cli({"delete-backup", "S", "latest"}).status, 0);
  EXPECT_FALSE(fs::exists(BackupFile("newer")));
}

TEST_F(CliUnattended, JsonParsesAndKeepsPathsWithTabAndNewline) {
  const std::string odd = dir_ / "src/tab\there\nnew line \"q\" \\ \x01.txt";
  const std::string latin1 = dir_ / "src/M\xFCller.txt";  // not UTF-8
  WriteFile(odd, "odd");
  WriteFile(latin1, "l1");

  const Result backup = Cli({"backup", "S", "j", "--json"});
  ASSERT_EQ(backup.status, 0) << backup.err;
  EXPECT_EQ(SplitLines(backup.out).size(), 1u);
  EXPECT_EQ(Python(backup.out, "(d['backup']['name'], d['files'], d['backup']['size'] == " +
                                   std::to_string(fs::file_size(BackupFile("j"))) + ")"),
            "('j', 3, True)");
  // ISO 8601 local time with seconds and offset.
  EXPECT_EQ(
      Python(backup.out,
             "__import__('re').fullmatch(r'\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:"
             "\\d\\d', d['backup']['time']) is not None"),
      "True");

  const Result contents = Cli({"contents", "S", "j", "--json"});
  ASSERT_EQ(contents.status, 0);
  // Every path comes back byte for byte: the one holding TAB and newline as
  // its JSON string, the Latin-1 one through its hex bytes.
  std::vector<std::string> expected;
  for (const std::string& path : {dir_ / "src/a.txt", odd, latin1}) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : path) hex += {kHex[c >> 4], kHex[c & 0xF]};
    expected.push_back(hex);
  }
  std::sort(expected.begin(), expected.end());
  std::string list = "[";
  for (const std::string& h : expected) list += (list.size() > 1 ? ", '" : "'") + h + "'";
  list += "]";
  EXPECT_EQ(Python(contents.out,
                   "sorted((bytes.fromhex(f['path_hex']) if 'path_hex' in f else "
                   "f['path'].encode()).hex() for f in d['entries'])"),
            list);
  EXPECT_EQ(Python(contents.out, "[f['path'] for f in d['entries'] if 'path_hex' in f]"),
            "['" + dir_.path() + "/src/M\ufffdller.txt']");
  EXPECT_EQ(Python(contents.out, "([f['index'] for f in d['entries']], d['files'])"),
            "([0, 1, 2], 3)");

  // The other commands' documents.
  EXPECT_EQ(Python(Cli({"backups", "S", "--json"}).out, "[b['name'] for b in d['backups']]"),
            "['j']");
  EXPECT_EQ(Python(Cli({"verify", "S", "latest", "--json"}).out,
                   "(d['backup']['name'], d['ok'], d['files'], d['faults'])"),
            "('j', True, 3, [])");
  EXPECT_EQ(Python(Cli({"schemes", "--json"}).out, "[s['name'] for s in d['schemes']]"), "['S']");
  TakeBackups({"k"});
  const Result prune = Cli({"prune", "S", "--keep-last", "1", "--dry-run", "--json"});
  EXPECT_EQ(Python(prune.out,
                   "(d['dry_run'], [b['name'] for b in d['deleted']], "
                   "[(b['name'], b['kept_by']) for b in d['kept']])"),
            "(True, ['" + ByTime()[0] + "'], [('" + ByTime()[1] + "', ['last'])])");
  // The default stays the TAB format.
  EXPECT_EQ(Cli({"schemes"}).out, "S\n");
}

TEST_F(CliUnattended, EveryJsonDocumentUsesEachKeyForOneThingAndErrorsComeAsJson) {
  TakeBackups({"b1"});
  const std::string to = dir_ / "to";
  const std::string csm = dir_ / "S.csm";
  std::vector<Result> docs = {
      Cli({"backup", "S", "b2", "--json", "--keep-last", "1"}),
      Cli({"backups", "S", "--json"}),
      Cli({"contents", "S", "latest", "--json"}),
      Cli({"verify", "S", "b2", "--json"}),
      Cli({"restore", "S", "b2", "--to", to, "--json"}),
      Cli({"restore", "S", "b2", "--to", to, "--dry-run", "--json"}),
      Cli({"schemes", "--json"}),
      Cli({"prune", "S", "--keep-last", "1", "--json"}),
      Cli({"export", "S", csm, "--json"}),
      Cli({"import", csm, "--force", "--json"}),
  };
  std::string all = "[";
  for (const Result& r : docs) {
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(SplitLines(r.out).size(), 1u) << r.out;
    all += (all.size() > 1 ? "," : "") + r.out;
  }
  all += "]";
  // Each key holds one kind of value in every document (null aside); a
  // Backup is always the same object, "scheme" always the scheme file. Then
  // what each document says. (One Python run: each start costs.)
  const std::string source = dir_ / "src/a.txt";
  EXPECT_EQ(Python(all,
                   "[(lambda kinds: sorted(k for k, v in kinds.items() if len(v) > 1))("
                   "(lambda walk, kinds: (walk(walk, d, kinds), kinds)[1])("
                   "lambda walk, x, kinds: [(kinds.setdefault(k, set()).add(type(v).__name__) "
                   "if v is not None else None, walk(walk, v, kinds)) for k, v in x.items()] "
                   "if isinstance(x, dict) else [walk(walk, v, kinds) for v in x] "
                   "if isinstance(x, list) else None, {})), "
                   "sorted(set(tuple(sorted(x['backup'])) for x in d if 'backup' in x)), "
                   "sorted(set(x['scheme'].endswith('/S.tsbak') for x in d if 'scheme' in x)), "
                   "(d[0]['backup']['name'], d[0]['files'], [b['name'] for b in d[0]['pruned']], "
                   "d[0]['parent']['name'], type(d[0]['reused']).__name__), "
                   "(d[4]['to'], d[4]['files'], d[4]['created'], d[4]['replaced'], d[4]['same'], "
                   "[(f['path'], f['destination']) for f in d[4]['restored']], d[4]['failed']), "
                   "(d[5]['dry_run'], [(f['action'], f['index']) for f in d[5]['plan']]), "
                   "(d[8]['name'], d[8]['file'], d[8]['records'] > 0, d[8]['size']), "
                   "(d[9]['name'], d[9]['skipped'])]"),
            "[[], [('name', 'size', 'time')], [True], ('b2', 1, ['b1'], 'b1', 'int'), ('" + to +
                "', 1, 1, 0, 0, [('" + source + "', '" + to + source + "')], []), " +
                "(True, [('same', 0)]), ('S', '" + csm + "', True, " +
                std::to_string(fs::file_size(csm)) + "), ('S', [])]");
  EXPECT_EQ(ReadFile(to + source), "alpha");

  // extract BACKUP PATH - writes the bytes themselves to stdout.
  const Result extracted = Cli({"extract", "S", "b2", source, "-"});
  EXPECT_EQ(extracted.status, 0);
  EXPECT_EQ(extracted.out, "alpha");

  // With --json, what went wrong is one JSON object on stderr, usage errors too.
  const Result typo = Cli({"backups", "S", "--sort", "size", "--jsn"});  // plain text
  EXPECT_EQ(typo.status, 2);
  EXPECT_NE(typo.err.find("unknown option --jsn; did you mean '--json'?"), std::string::npos);
  std::string errors = "[";
  for (const auto& [args, status] : std::vector<std::pair<std::vector<std::string>, int>>{
           {{"contents", "S", "nope", "--json"}, 3},
           {{"restore", "S", "b2", "/not/there", "--to", to, "--json"}, 3},
           {{"backups", "S", "--sort", "sideways", "--json"}, 2},
           {{"bakups", "S", "--json"}, 2}}) {
    const Result r = Cli(args);
    EXPECT_EQ(r.status, status) << args[0];
    EXPECT_EQ(SplitLines(r.err).size(), 1u) << r.err;
    errors += (errors.size() > 1 ? "," : "") + r.err;
    // A restore that named a missing path says so in its document too.
    if (args[0] == "restore") all = r.out;
  }
  EXPECT_EQ(Python(errors + "]",
                   "([(e['exit_status'], e['message'] == e['messages'][-1]) for e in d], "
                   "d[3]['message'])"),
            "([(3, True), (3, True), (2, True), (2, True)], "
            "\"unknown command 'bakups'; did you mean 'backups'?\")");
  EXPECT_EQ(Python(all, "d['missing']"), "['/not/there']");
}

TEST_F(CliUnattended, MySchemesFolderFromTheEnvironmentUnlessTheOptionSaysOtherwise) {
  const std::string other = dir_ / "other";
  fs::create_directories(other);
  WriteFile(other + "/Elsewhere.tsbak", std::string(8, '\0'));
  const std::string env = "TESSAROOK_SCHEMES_DIR=" + ShellQuote(other);
  // No settings file to fall back on: HOME and XDG_CONFIG_HOME point into the test's folder.
  const Result fromEnv = RunCli({"schemes"}, dir_.path(),
                                "HOME=" + ShellQuote(dir_.path()) +
                                    " XDG_CONFIG_HOME=" + ShellQuote(dir_ / "cfg") + " " + env);
  EXPECT_EQ(fromEnv.status, 0) << fromEnv.err;
  EXPECT_EQ(fromEnv.out, "Elsewhere\n");
  // Cli() passes --schemes-dir: the option wins.
  EXPECT_EQ(Cli({"schemes"}, env).out, "S\n");
}

TEST_F(CliUnattended, NotifyTellsTheDesktopAboutTroubleOnly) {
  // A stand-in for notify-send that writes down its arguments.
  const std::string bin = dir_ / "bin";
  fs::create_directories(bin);
  WriteFile(bin + "/notify-send", "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done >> " +
                                      ShellQuote(dir_ / "notes") + "\necho >> " +
                                      ShellQuote(dir_ / "notes") +
                                      "\necho 'no session bus' >&2\nexit 1\n");
  chmod((bin + "/notify-send").c_str(), 0755);
  const std::string withNotify = "PATH=" + ShellQuote(bin) + ":\"$PATH\"";

  EXPECT_EQ(Cli({"backup", "S", "fine", "--notify"}, withNotify).status, 0);
  EXPECT_FALSE(fs::exists(dir_ / "notes"));

  const Result failed = Cli({"backup", "S", "fine", "--notify"}, withNotify);  // exists already
  EXPECT_EQ(failed.status, 3);
  const std::string note = ReadFile(dir_ / "notes");
  EXPECT_NE(note.find("--urgency=critical|"), std::string::npos) << note;
  EXPECT_NE(note.find("the Backup of S failed|"), std::string::npos) << note;
  EXPECT_NE(note.find("A Backup with such name already exists"), std::string::npos) << note;
  // notify-send's own complaint is not the user's business.
  EXPECT_EQ(failed.err.find("no session bus"), std::string::npos);

  fs::remove(dir_ / "notes");
  ASSERT_EQ(Cli({"add-file", "S", dir_ / "missing.txt"}).status, 0);
  EXPECT_EQ(Cli({"backup", "S", "partial", "--notify"}, withNotify).status, 1);
  EXPECT_NE(ReadFile(dir_ / "notes").find("not completely|"), std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "notes").find("missing.txt"), std::string::npos);

  // Without any notify-send the Backup ends as it would have, with nothing more said.
  const Result plain = Cli({"backup", "S", "partial"});
  const Result bare = Cli({"backup", "S", "partial", "--notify"}, "PATH=/nonexistent");
  EXPECT_EQ(bare.status, plain.status);
  EXPECT_EQ(bare.err, plain.err);
}

TEST_F(CliUnattended, ProgressBarOnATerminalOnly) {
  // script(1) gives the program a terminal; the bar goes to it, stdout keeps
  // the one record. A dumb terminal, --json and a pipe get no bar.
  WriteFile(dir_ / "src/b.bin", std::string(3 << 20, 'b'));
  TempDir capture;
  auto onTerminal = [&](const std::string& term, const std::string& name,
                        const std::string& more = "") {
    const std::string inner = "TERM=" + term + " " + ShellQuote(TESSAROOK_CLI) + " --schemes-dir " +
                              ShellQuote(dir_ / "schemes") + " backup S " + name + more + " > " +
                              ShellQuote(capture / "out");
    const std::string cmd = "script -qec " + ShellQuote(inner) + " /dev/null > " +
                            ShellQuote(capture / "tty") + " 2>&1 < /dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << term;
    return ReadFile(capture / "tty");
  };
  const std::string tty = onTerminal("xterm", "tty");
  EXPECT_NE(tty.find("\rBackup ["), std::string::npos) << tty;
  EXPECT_NE(tty.find("/2"), std::string::npos) << tty;
  EXPECT_NE(tty.find("\r\033[K"), std::string::npos);  // the line is cleared at the end
  EXPECT_EQ(ReadFile(capture / "out").rfind("tty\t2\t", 0), 0u);
  for (const auto& [term, more] :
       {std::pair<std::string, std::string>{"dumb", ""}, {"xterm", " --json"}}) {
    const std::string plain = onTerminal(term, "plain-" + term, more);
    EXPECT_EQ(plain.find_first_of("\r\033"), std::string::npos) << term << more << plain;
  }

  const Result quiet = Cli({"--quiet", "backup", "S", "piped"});
  EXPECT_EQ(quiet.err, "");
}

}  // namespace
}  // namespace tessarook::clitest
