// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end tests of the Backups commands of tessarook-cli.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <regex>
#include <thread>

#include "BackupTestSupport.h"
#include "backup/BackupArchive.h"
#include "backup/BackupStore.h"

using namespace backup_test;

namespace {

class CliBackups : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Tool("new S").status, 0);
    schemes_ = dir_ / "schemes";
  }

  // Runs the CLI on the test's My Schemes folder; stderr goes to err_.
  RunResult Tool(const std::string& args) {
    return Shell(std::string(TESSAROOK_CLI) + " --schemes-dir " + Quote(dir_ / "schemes") + " " +
                 args + " 2>" + Quote(dir_ / "stderr.txt"));
  }
  std::string Err() { return ReadFile(dir_ / "stderr.txt"); }
  std::string BackupPath(const std::string& name) {
    return dir_ / ("schemes/S.tsbak.backups/" + name + ".zip");
  }

  TempDir dir_;
  std::string schemes_;
};

struct stat Stat(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st;
}

}  // namespace

TEST_F(CliBackups, BackupRestoreRoundTripKeepsBytesModesAndTimes) {
  const std::string src = dir_ / "src";
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
  WriteFile(src + "/docs/a.txt", text);
  WriteFile(src + "/docs/deeper/b.bin", std::string("\0\1\2\3binary", 10));
  WriteFile(src + "/run.sh", "#!/bin/sh\necho hi\n");
  WriteFile(src + "/empty", "");
  WriteFile(dir_ / "single.txt", "single file");
  chmod((src + "/run.sh").c_str(), 0755);
  chmod((src + "/docs/a.txt").c_str(), 0600);
  struct timespec t[2] = {{0, UTIME_OMIT}, {946684800, 500000000}};
  utimensat(AT_FDCWD, (src + "/docs/deeper/b.bin").c_str(), t, 0);
  ASSERT_EQ(Tool("add S " + Quote(src) + " " + Quote(dir_ / "single.txt")).status, 0);

  const RunResult backup = Tool("backup S first");
  ASSERT_EQ(backup.status, 0) << Err();
  EXPECT_EQ(backup.out, "first\t5\t" + std::to_string(fs::file_size(BackupPath("first"))) + "\n");
  ASSERT_TRUE(UnzipAccepts(BackupPath("first")));
  const RunResult py = PythonExtract(BackupPath("first"), dir_ / "py");
  ASSERT_EQ(py.status, 0);
  EXPECT_EQ(py.out, "0\n1\n2\n3\n4\nlist.txt\n");

  const RunResult contents = Tool("contents S first");
  ASSERT_EQ(contents.status, 0);
  const auto lines = Lines(contents.out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "0\t" + (dir_ / "single.txt"));
  // The manifest bytes, as Python read them, are the contents lines joined by CR LF.
  std::string manifest;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    manifest += (i ? "\r\n" : "") + line.replace(line.find('\t'), 1, ": ");
  }
  EXPECT_EQ(ReadFile(dir_ / "py/list.txt"), manifest);

  EXPECT_EQ(Tool("verify S first").out, "ok\t5\n");

  const RunResult restore = Tool("restore S first --to " + Quote(dir_ / "out"));
  ASSERT_EQ(restore.status, 0) << Err();
  EXPECT_EQ(Lines(restore.out).size(), 5u);
  for (const char* rel : {"docs/a.txt", "docs/deeper/b.bin", "run.sh", "empty"}) {
    const std::string from = src + "/" + rel;
    const std::string to = dir_ / ("out" + from);
    EXPECT_EQ(ReadFile(to), ReadFile(from)) << rel;
    EXPECT_EQ(Stat(to).st_mode, Stat(from).st_mode) << rel;
    EXPECT_EQ(Stat(to).st_mtim.tv_sec, Stat(from).st_mtim.tv_sec) << rel;
    EXPECT_EQ(Stat(to).st_mtim.tv_nsec / 100, Stat(from).st_mtim.tv_nsec / 100) << rel;
  }

  // Restoring chosen files to their own places, and extracting one elsewhere.
  WriteFile(src + "/run.sh", "overwritten");
  const RunResult one = Tool("restore S first " + Quote(src + "/run.sh"));
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.out, src + "/run.sh\n");
  EXPECT_EQ(ReadFile(src + "/run.sh"), "#!/bin/sh\necho hi\n");
  EXPECT_EQ(
      Tool("extract S first " + Quote(dir_ / "single.txt") + " " + Quote(dir_ / "x/y.txt")).status,
      0);
  EXPECT_EQ(ReadFile(dir_ / "x/y.txt"), "single file");
  EXPECT_EQ(Tool("restore S first /not/in/backup").status, 3);
  EXPECT_EQ(Tool("extract S first /not/in/backup " + Quote(dir_ / "z")).status, 3);
}

TEST_F(CliBackups, BackupNamesExitStatusesAndSkippedFiles) {
  WriteFile(dir_ / "a.txt", "a");
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "a.txt") + " " + Quote(dir_ / "gone.txt")).status, 0);
  const RunResult skipped = Tool("backup S one");
  EXPECT_EQ(skipped.status, 1);
  EXPECT_EQ(skipped.out.substr(0, 6), "one\t1\t");
  EXPECT_NE(Err().find(dir_ / "gone.txt"), std::string::npos);

  EXPECT_EQ(Tool("backup S one").status, 3);  // exists
  EXPECT_NE(Err().find("already exists"), std::string::npos);
  EXPECT_EQ(Tool("backup S one --force").status, 1);
  EXPECT_EQ(Tool("backup S 'a/b'").status, 2);
  EXPECT_EQ(Tool("backup S 'x?'").status, 2);
  EXPECT_EQ(Tool("backup S \"$(printf 'x\\ty')\"").status, 2);
  EXPECT_NE(Err().find("control characters"), std::string::npos);
  EXPECT_EQ(Tool("backup NoSuchScheme").status, 3);

  const RunResult dflt = Tool("backup S");
  EXPECT_EQ(dflt.status, 1);
  EXPECT_TRUE(std::regex_match(
      dflt.out, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d\t1\t\\d+\n")))
      << dflt.out;
}

TEST_F(CliBackups, ListingRenamingDuplicatingDeleting) {
  WriteFile(dir_ / "a.txt", std::string(5000, 'a'));
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "a.txt")).status, 0);
  ASSERT_EQ(Tool("backup S small").status, 0);
  WriteFile(dir_ / "b.txt", "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb");
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "b.txt")).status, 0);
  ASSERT_EQ(Tool("backup S big").status, 0);

  const auto byName = Lines(Tool("backups S --sort name").out);
  ASSERT_EQ(byName.size(), 2u);
  EXPECT_TRUE(
      std::regex_match(byName[0], std::regex("big\t\\d\\d\\.\\d\\d\\.\\d{4}, \\d\\d:\\d\\d\t\\d+")))
      << byName[0];
  EXPECT_EQ(Lines(Tool("backups S --sort size").out)[0].substr(0, 6), "small\t");
  EXPECT_EQ(Tool("backups S --sort colour").status, 2);

  EXPECT_EQ(Tool("rename-backup S small big").status, 3);  // exists, no --force
  EXPECT_EQ(Tool("rename-backup S small tiny").status, 0);
  EXPECT_EQ(Tool("duplicate-backup S tiny copy").status, 0);
  EXPECT_EQ(ReadFile(BackupPath("copy")), ReadFile(BackupPath("tiny")));
  EXPECT_EQ(Tool("rename-backup S missing other").status, 3);
  EXPECT_EQ(Tool("rename-backup S copy big --force").status, 0);
  EXPECT_EQ(Lines(Tool("backups S --sort name").out).size(), 2u);  // big, tiny
  EXPECT_EQ(Tool("delete-backup S tiny").status, 0);
  EXPECT_EQ(Tool("delete-backup S tiny").status, 3);
  EXPECT_EQ(Tool("delete-backup S ../S").status, 2);
  EXPECT_EQ(Lines(Tool("backups S").out).size(), 1u);
}

TEST_F(CliBackups, DamagedBackupsAreReported) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += std::to_string(i) + " bottles\n";
  WriteFile(dir_ / "a.txt", text);
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "a.txt")).status, 0);
  ASSERT_EQ(Tool("backup S good").status, 0);
  std::string bytes = ReadFile(BackupPath("good"));
  bytes[150] ^= 0x01;  // inside entry 0's compressed data
  WriteFile(BackupPath("flipped"), bytes);
  const RunResult verify = Tool("verify S flipped");
  EXPECT_EQ(verify.status, 3);
  EXPECT_EQ(verify.out.substr(0, 6 + (dir_ / "a.txt").size()), "bad\t0\t" + (dir_ / "a.txt"));

  WriteFile(BackupPath("text"), "not a zip");
  EXPECT_EQ(Tool("verify S text").status, 3);
  // A file that is there but is no ZIP is named as such, not as missing.
  for (const char* command : {"contents S text", "restore S text"}) {
    EXPECT_EQ(Tool(command).status, 3) << command;
    EXPECT_NE(Err().find("not a readable Backup: " + BackupPath("text")), std::string::npos)
        << Err();
    EXPECT_EQ(Err().find("doesn't exist"), std::string::npos) << Err();
  }
  EXPECT_EQ(Tool("contents S absent").status, 3);
  EXPECT_NE(Err().find("The Backup file doesn't exist"), std::string::npos);
  Shell("cd " + Quote(dir_.str()) + " && echo x > 0 && zip -q " + Quote(BackupPath("nolist")) +
        " 0");
  EXPECT_EQ(Tool("contents S nolist").status, 3);
  EXPECT_NE(Err().find("The Backup appears to be damaged or incomplete"), std::string::npos);
  EXPECT_EQ(Tool("restore S nolist --to " + Quote(dir_ / "o")).status, 3);
}

TEST_F(CliBackups, InterruptRemovesThePartialBackup) {
  // Enough compressible data that deflating it takes a moment.
  std::string text;
  for (int i = 0; text.size() < (24u << 20); ++i) text += std::to_string(i * 2654435761u) + ",";
  for (int i = 0; i < 4; ++i) WriteFile(dir_ / ("big/" + std::to_string(i)), text);
  ASSERT_EQ(Tool("add-folder S " + Quote(dir_ / "big")).status, 0);
  const std::string schemes = dir_ / "schemes";
  const char* argv[] = {TESSAROOK_CLI, "--schemes-dir", schemes.c_str(), "--quiet", "backup",
                        "S",           "cut",           nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, TESSAROOK_CLI, &actions, nullptr, const_cast<char**>(argv), environ),
            0);
  posix_spawn_file_actions_destroy(&actions);
  // Wait until the Backup is being written (its partial file is there), then
  // interrupt while it is still going.
  const std::string partial =
      dir_ / ("schemes/S.tsbak.backups/.cut.zip." + std::to_string(pid) + ".partial");
  for (int i = 0; i < 2000 && !fs::exists(partial) && !fs::exists(BackupPath("cut")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 0) GTEST_SKIP() << "the Backup finished before the interrupt";
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_FALSE(fs::exists(BackupPath("cut")));
  EXPECT_FALSE(fs::exists(partial));
}

TEST_F(CliBackups, RestoreSkipsProtectedFilesAndWritesIntoLockedFolders) {
  // Permission checks are what is tested, so the restore runs as an ordinary
  // user: the superuser passes every check.
  const bool root = geteuid() == 0;
  const uid_t user = root ? 65534 : geteuid();
  const gid_t group = root ? 65534 : getegid();
  const std::string asUser = root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  if (root && Shell("setpriv --reuid=65534 --regid=65534 --clear-groups true").status != 0)
    GTEST_SKIP() << "cannot run as an ordinary user";

  const std::string locked = dir_ / "locked";
  for (const char* name : {"locked/w.txt", "ro.txt", "free.txt"})
    WriteFile(dir_ / name, "backed up");
  ASSERT_EQ(Tool("add-file S " + Quote(locked + "/w.txt") + " " + Quote(dir_ / "ro.txt") + " " +
                 Quote(dir_ / "free.txt"))
                .status,
            0);
  ASSERT_EQ(Tool("backup S b").status, 0) << Err();
  for (const char* name : {"locked/w.txt", "ro.txt", "free.txt"}) {
    WriteFile(dir_ / name, "changed");
    ASSERT_EQ(chown((dir_ / name).c_str(), user, group), 0);
  }
  ASSERT_EQ(chmod((dir_ / "ro.txt").c_str(), 0444), 0);
  ASSERT_EQ(chmod(locked.c_str(), 0555), 0);  // no room for a temporary file here
  ASSERT_EQ(chown(dir_.str().c_str(), user, group), 0);
  if (root) Shell("chown -R 65534:65534 " + Quote(schemes_));

  const RunResult r = Shell(asUser + TESSAROOK_CLI + " --schemes-dir " + Quote(schemes_) +
                            " restore S b 2>" + Quote(dir_ / "stderr.txt"));
  chmod(locked.c_str(), 0755);
  EXPECT_EQ(r.status, 1) << Err();
  EXPECT_EQ(ReadFile(locked + "/w.txt"), "backed up");
  EXPECT_EQ(ReadFile(dir_ / "free.txt"), "backed up");
  EXPECT_EQ(ReadFile(dir_ / "ro.txt"), "changed");
  EXPECT_NE(Err().find(dir_ / "ro.txt"), std::string::npos) << Err();
  const auto restored = Lines(r.out);
  EXPECT_EQ(restored.size(), 2u);
  EXPECT_EQ(std::count(restored.begin(), restored.end(), dir_ / "ro.txt"), 0);
}

TEST_F(CliBackups, WindowsBackupRestoresOnlyIntoAFolder) {
  {
    fs::create_directories(fs::path(BackupPath("win")).parent_path());
    tessarook::CBackupArchive archive;
    ASSERT_TRUE(archive.Create(BackupPath("win")));
    ASSERT_TRUE(archive.AddFromMemory("notes", 5, "0"));
    const std::string list = "0: C:\\Users\\x\\notes.txt";
    ASSERT_TRUE(archive.AddFromMemory(list.data(), list.size(), "list.txt"));
    ASSERT_EQ(archive.Close(), 0);
  }
  EXPECT_EQ(Tool("restore S win").status, 3);
  EXPECT_NE(Err().find("--to"), std::string::npos) << Err();
  const RunResult to = Tool("restore S win --to " + Quote(dir_ / "out"));
  EXPECT_EQ(to.status, 0) << Err();
  EXPECT_EQ(to.out, "C:\\Users\\x\\notes.txt\n");
  EXPECT_EQ(ReadFile(dir_ / "out/C/Users/x/notes.txt"), "notes");
}

namespace {

// A tessarook-cli run in the background with its stderr on a pipe.
struct Background {
  pid_t pid = -1;
  int err = -1;  // read end of the child's stderr

  Background(const std::string& schemes, std::vector<std::string> args) {
    std::vector<std::string> all = {TESSAROOK_CLI, "--schemes-dir", schemes, "--quiet"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    if (posix_spawn(&pid, TESSAROOK_CLI, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    err = fds[0];
  }
  ~Background() {
    if (err >= 0) close(err);
    if (pid > 0) Wait();
  }
  // Reads stderr until `text` has appeared (true) or the pipe closed (false).
  bool ReadUntil(const std::string& text) {
    char buf[512];
    while (seen.find(text) == std::string::npos) {
      const ssize_t n = read(err, buf, sizeof buf);
      if (n <= 0) return false;
      seen.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  // The exit status, or 1000 + the signal that killed it.
  int Wait() {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  }
  std::string seen;
};

}  // namespace

// While a Backup of a name is being written elsewhere, a second one of that
// name is refused; with --force it waits for the first, then replaces it.
TEST_F(CliBackups, ABackupOfANameBeingWrittenIsRefusedOrWaitedFor) {
  WriteFile(dir_ / "a.txt", "a");
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "a.txt")).status, 0);
  tessarook::CBackupNameLock other;
  ASSERT_EQ(other.Acquire(BackupPath("one"), false, nullptr),
            tessarook::CBackupNameLock::Outcome::kHeld);
  EXPECT_EQ(Tool("backup S one").status, 3);
  EXPECT_NE(Err().find("being written"), std::string::npos) << Err();
  EXPECT_FALSE(fs::exists(BackupPath("one")));

  Background forced(dir_ / "schemes", {"backup", "S", "one", "--force"});
  ASSERT_GT(forced.pid, 0);
  ASSERT_TRUE(forced.ReadUntil("waiting")) << forced.seen;
  EXPECT_FALSE(fs::exists(BackupPath("one")));
  other.Release();
  EXPECT_EQ(forced.Wait(), 0) << forced.seen;
  EXPECT_TRUE(UnzipAccepts(BackupPath("one")));
  EXPECT_EQ(Lines(Tool("backups S").out).size(), 1u);
}

// Closing the terminal (SIGHUP) and SIGTERM stop a command as Ctrl+C does,
// cleaning up, with the conventional status 128 + the signal.
TEST_F(CliBackups, HangupAndTerminateCancelLikeAnInterrupt) {
  WriteFile(dir_ / "a.txt", "a");
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "a.txt")).status, 0);
  tessarook::CBackupNameLock other;  // keeps the command waiting, ready for the signal
  ASSERT_EQ(other.Acquire(BackupPath("one"), false, nullptr),
            tessarook::CBackupNameLock::Outcome::kHeld);
  for (int sig : {SIGHUP, SIGTERM, SIGINT}) {
    Background run(dir_ / "schemes", {"backup", "S", "one", "--force"});
    ASSERT_GT(run.pid, 0);
    ASSERT_TRUE(run.ReadUntil("waiting")) << run.seen;
    kill(run.pid, sig);
    EXPECT_EQ(run.Wait(), 128 + sig) << "signal " << sig;
    run.ReadUntil("\n\n");  // the rest of stderr, up to its end
    EXPECT_NE(run.seen.find("interrupted"), std::string::npos) << run.seen;
  }
  other.Release();
  EXPECT_TRUE(fs::is_empty(dir_ / "schemes/S.tsbak.backups"));
}

// A file-size limit makes the write fail like a full disk: a clear message,
// exit 3, no partial file, and the Backup it was to replace is kept.
TEST_F(CliBackups, AFileSizeLimitFailsTheBackupCleanly) {
  std::string noise(3 << 20, '\0');
  std::mt19937 rng(11);
  for (char& c : noise) c = static_cast<char>(rng());
  WriteFile(dir_ / "noise.bin", noise);
  WriteFile(dir_ / "small.txt", "small");
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "small.txt")).status, 0);
  ASSERT_EQ(Tool("backup S kept").status, 0);
  const std::string kept = ReadFile(BackupPath("kept"));
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "noise.bin")).status, 0);
  const RunResult limited =
      Shell("prlimit --fsize=1048576 -- " + std::string(TESSAROOK_CLI) + " --schemes-dir " +
            Quote(dir_ / "schemes") + " backup S kept --force 2>" + Quote(dir_ / "stderr.txt"));
  EXPECT_EQ(limited.status, 3);
  EXPECT_NE(Err().find("could not be written"), std::string::npos) << Err();
  EXPECT_NE(Err().find("File too large"), std::string::npos) << Err();
  EXPECT_EQ(ReadFile(BackupPath("kept")), kept);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir_ / "schemes/S.tsbak.backups"))
    left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"kept.zip"});
}

TEST_F(CliBackups, DamagedManifestShowsAndRestoresWhatIsReadableAndFails) {
  for (int i = 0; i < 40; ++i)
    WriteFile(dir_ / ("src/file" + std::to_string(i)), "data " + std::to_string(i));
  ASSERT_EQ(Tool("add-folder S " + Quote(dir_ / "src")).status, 0);
  ASSERT_EQ(Tool("backup S good").status, 0);
  const std::string good = ReadFile(BackupPath("good"));
  const size_t local = good.find("list.txt") - 30;
  const size_t central = good.find("list.txt", local + 38) - 46;
  const size_t dataStart = local + 30 + 8;

  std::vector<std::pair<std::string, std::string>> variants;
  std::string bytes = good;
  bytes[local + 1] ^= 0x40;  // the manifest's local header signature
  variants.emplace_back("header", bytes);
  bytes = good;
  bytes[central + 16] ^= 0x01;  // the manifest's recorded CRC
  variants.emplace_back("crc", bytes);
  bytes = good;
  for (size_t i = dataStart + 40; i < central - 30 && i < dataStart + 80; ++i) bytes[i] = '\xff';
  variants.emplace_back("inflate", bytes);

  for (const auto& [name, data] : variants) {
    WriteFile(BackupPath(name), data);
    EXPECT_EQ(Tool("verify S " + name).status, 3) << name;
    const RunResult contents = Tool("contents S " + name);
    EXPECT_EQ(contents.status, 3) << name;
    EXPECT_NE(Err().find("The Backup appears to be damaged or incomplete"), std::string::npos)
        << name;
    fs::remove_all(dir_ / "out");
    const RunResult restore = Tool("restore S " + name + " --to " + Quote(dir_ / "out"));
    EXPECT_EQ(restore.status, 3) << name;
    EXPECT_NE(Err().find("The Backup appears to be damaged or incomplete"), std::string::npos)
        << name;
    // What was listed is what was restored.
    EXPECT_EQ(Lines(restore.out).size(), Lines(contents.out).size()) << name;
    if (name == "crc") {
      EXPECT_EQ(Lines(contents.out).size(), 40u);
    }
  }
}

// Renaming, duplicating and deleting take the lock of every Backup name they
// create, replace or remove: a name being written is refused, and --force
// waits for the writer, then replaces what it wrote.
TEST_F(CliBackups, RenameDuplicateAndDeleteRespectANameBeingWritten) {
  using tessarook::CBackupNameLock;
  WriteFile(dir_ / "a.txt", "a");
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "a.txt")).status, 0);
  ASSERT_EQ(Tool("backup S KEEP").status, 0);
  const std::string keep = ReadFile(BackupPath("KEEP"));
  CBackupNameLock writer;  // "backup S Y --force" writing Y at the moment
  ASSERT_EQ(writer.Acquire(BackupPath("Y"), false, nullptr), CBackupNameLock::Outcome::kHeld);
  for (const char* command : {"rename-backup", "duplicate-backup"}) {
    SCOPED_TRACE(command);
    EXPECT_EQ(Tool(std::string(command) + " S KEEP Y").status, 3);
    EXPECT_NE(Err().find("being written"), std::string::npos) << Err();
    EXPECT_FALSE(fs::exists(BackupPath("Y")));
    EXPECT_EQ(ReadFile(BackupPath("KEEP")), keep);
  }
  CBackupNameLock deleting;
  ASSERT_EQ(deleting.Acquire(BackupPath("KEEP"), false, nullptr), CBackupNameLock::Outcome::kHeld);
  EXPECT_EQ(Tool("delete-backup S KEEP").status, 3);
  EXPECT_NE(Err().find("being written"), std::string::npos) << Err();
  EXPECT_TRUE(fs::exists(BackupPath("KEEP")));
  deleting.Release();

  // --force waits; the Backup being written lands, then KEEP replaces it.
  Background forced(dir_ / "schemes", {"rename-backup", "S", "KEEP", "Y", "--force"});
  ASSERT_GT(forced.pid, 0);
  ASSERT_TRUE(forced.ReadUntil("waiting")) << forced.seen;
  EXPECT_TRUE(fs::exists(BackupPath("KEEP")));
  WriteFile(BackupPath("Y"), "the Backup that was being written");
  writer.Release();
  EXPECT_EQ(forced.Wait(), 0) << forced.seen;
  EXPECT_EQ(ReadFile(BackupPath("Y")), keep);
  EXPECT_FALSE(fs::exists(BackupPath("KEEP")));
}

// Prune deletes only Backups, and only under each name's lock: a Backup being
// written is left alone and named; a .zip that is not a Backup is never
// deleted (nor counted by a rule).
TEST_F(CliBackups, PruneLeavesNamesBeingWrittenAndFilesThatAreNotBackups) {
  using tessarook::CBackupNameLock;
  WriteFile(dir_ / "a.txt", "a");
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "a.txt")).status, 0);
  WriteFile(BackupPath("junk"), "not a zip at all");
  ASSERT_EQ(Shell("cd " + Quote(dir_.str()) + " && zip -q " + Quote(BackupPath("plain")) + " a.txt")
                .status,
            0);
  for (const char* name : {"b1", "b2", "b3"})
    ASSERT_EQ(Tool(std::string("backup S ") + name).status, 0);
  CBackupNameLock writer;  // "backup S b1 --force" writing b1 at the moment
  ASSERT_EQ(writer.Acquire(BackupPath("b1"), false, nullptr), CBackupNameLock::Outcome::kHeld);
  const RunResult pruned = Tool("prune S --keep-last 1");
  EXPECT_EQ(pruned.status, 1) << Err();
  EXPECT_EQ(pruned.out, "b2\n");
  const std::string err = Err();
  EXPECT_NE(err.find("b1 alone"), std::string::npos) << err;
  EXPECT_NE(err.find("junk.zip"), std::string::npos) << err;
  EXPECT_NE(err.find("plain.zip"), std::string::npos) << err;
  for (const char* name : {"junk", "plain", "b1", "b3"})
    EXPECT_TRUE(fs::exists(BackupPath(name))) << name;
  EXPECT_FALSE(fs::exists(BackupPath("b2")));
  writer.Release();
  EXPECT_EQ(Tool("prune S --keep-last 1").out, "b1\n");
  EXPECT_TRUE(fs::exists(BackupPath("junk")));
}

namespace {

// Every file and folder below `root` with a mode other than 0600 (files) or
// 0700 (folders), as "path mode" lines.
std::string NotPrivate(const std::string& root) {
  std::string out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const mode_t mode = Stat(e.path().string()).st_mode & 07777;
    if (mode != (e.is_directory() ? 0700u : 0600u))
      out += e.path().string() + " " + std::to_string(mode) + "\n";
  }
  return out;
}

}  // namespace

// Whatever the umask, what the program makes under the My Schemes folder and
// where it exports is the user's alone; a Backup the user shared on purpose
// stays shared when it is taken again.
TEST_F(CliBackups, EverythingMadeIsPrivateWhateverTheUmask) {
  WriteFile(dir_ / "a.txt", "a");
  for (const char* mask : {"022", "000"}) {
    SCOPED_TRACE(mask);
    const std::string schemes = dir_ / (std::string("m") + mask + "/My Schemes");
    const std::string other = dir_ / (std::string("o") + mask + "/My Schemes");
    auto tool = [&](const std::string& where, const std::string& args) {
      return Shell("umask " + std::string(mask) + " && " + TESSAROOK_CLI + " --schemes-dir " +
                   Quote(where) + " " + args + " 2>&1");
    };
    ASSERT_EQ(tool(schemes, "new S").status, 0);
    ASSERT_EQ(tool(schemes, "add-file S " + Quote(dir_ / "a.txt")).status, 0);
    ASSERT_EQ(tool(schemes, "backup S one").status, 0);
    ASSERT_EQ(tool(schemes, "duplicate-backup S one two").status, 0);
    ASSERT_EQ(tool(schemes, "duplicate S T").status, 0);
    const std::string csm = dir_ / (std::string("x") + mask + ".csm");
    ASSERT_EQ(tool(schemes, "export S " + Quote(csm)).status, 0);
    EXPECT_EQ(Stat(csm).st_mode & 07777, 0600u);
    ASSERT_EQ(tool(other, "import " + Quote(csm)).status, 0);
    ASSERT_EQ(tool(schemes, "restore S one --to " + Quote(dir_ / "ignored")).status, 0);
    EXPECT_EQ(NotPrivate(schemes), "");
    EXPECT_EQ(NotPrivate(other), "");
    // Shared on purpose: replaced, it keeps the mode.
    ASSERT_EQ(chmod((schemes + "/S.tsbak.backups/one.zip").c_str(), 0640), 0);
    ASSERT_EQ(tool(schemes, "backup S one --force").status, 0);
    EXPECT_EQ(Stat(schemes + "/S.tsbak.backups/one.zip").st_mode & 07777, 0640u);
  }
}

// A restore over existing files: one already identical is left untouched, a
// plain file is replaced by a new file renamed over it (so a kill never
// leaves it torn) with its own mode, a file with several hard links and a
// link's target are rewritten in place. --dry-run says beforehand what will
// happen and changes nothing; the end says how many of each.
TEST_F(CliBackups, RestoreReplacesWholeFilesAndLeavesIdenticalOnesAlone) {
  const std::string src = dir_ / "src";
  for (const char* name : {"same", "plain", "linked", "target", "grown", "stamped"})
    WriteFile(src + "/" + name, std::string("data of ") + name);
  ASSERT_EQ(Tool("add-folder S " + Quote(src)).status, 0);
  ASSERT_EQ(Tool("backup S b").status, 0);
  WriteFile(src + "/plain", "data of PLAIN");  // same size, new time
  WriteFile(src + "/grown", "data of grown, longer");
  WriteFile(src + "/linked", "data of LINKED");
  ASSERT_EQ(link((src + "/linked").c_str(), (dir_ / "second-name").c_str()), 0);
  WriteFile(src + "/target", "data of TARGET");
  ASSERT_EQ(rename((src + "/target").c_str(), (dir_ / "real-target").c_str()), 0);
  ASSERT_EQ(symlink((dir_ / "real-target").c_str(), (src + "/target").c_str()), 0);
  {  // other bytes, the same size and the same last-write time
    const struct stat before = Stat(src + "/stamped");
    WriteFile(src + "/stamped", "data of STAMPED");
    const struct timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, (src + "/stamped").c_str(), times, 0), 0);
  }
  ASSERT_EQ(chmod((src + "/plain").c_str(), 0640), 0);
  const struct stat same = Stat(src + "/same"), plain = Stat(src + "/plain"),
                    linked = Stat(src + "/linked");

  const RunResult dry = Tool("restore S b --dry-run");
  EXPECT_EQ(dry.status, 0) << Err();
  for (const std::string& line :
       {"same\t" + src + "/same\n", "replace\t" + src + "/plain\ttime\n",
        "replace\t" + src + "/grown\tsize\n", "replace\t" + src + "/stamped\tcontent\n",
        "replace\t" + src + "/linked\ttime\n"})
    EXPECT_NE(dry.out.find(line), std::string::npos) << line << dry.out;
  EXPECT_EQ(ReadFile(src + "/plain"), "data of PLAIN");

  const RunResult restored = Tool("restore S b");
  EXPECT_EQ(restored.status, 0) << Err();
  EXPECT_NE(Err().find("restored: 5 replaced, 1 already identical"), std::string::npos) << Err();
  for (const char* name : {"same", "plain", "linked", "grown", "stamped"})
    EXPECT_EQ(ReadFile(src + "/" + name), std::string("data of ") + name) << name;
  EXPECT_EQ(ReadFile(dir_ / "real-target"), "data of target");
  EXPECT_TRUE(fs::is_symlink(src + "/target"));
  EXPECT_EQ(ReadFile(dir_ / "second-name"), "data of linked");
  EXPECT_EQ(Stat(src + "/same").st_ino, same.st_ino);
  EXPECT_EQ(Stat(src + "/same").st_ctim.tv_nsec, same.st_ctim.tv_nsec);  // not touched
  EXPECT_NE(Stat(src + "/plain").st_ino, plain.st_ino);                  // a new file...
  EXPECT_EQ(Stat(src + "/plain").st_mode & 07777, 0640u);                // ...with the old mode
  EXPECT_EQ(Stat(src + "/linked").st_ino, linked.st_ino);                // in place
  EXPECT_EQ(Lines(Tool("restore S b --dry-run").out).size(), 6u);
  EXPECT_EQ(Tool("restore S b --dry-run").out.find("replace"), std::string::npos);
}

// A CRC mismatch met while restoring is damage of the Backup: named as such,
// exit status 3, never counted as a skipped file.
TEST_F(CliBackups, DamagedDataMetByARestoreFailsIt) {
  std::string text;
  for (unsigned i = 0; text.size() < 5000; ++i) text += std::to_string(i * 2654435761u % 99991);
  WriteFile(dir_ / "a.txt", text);
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "a.txt")).status, 0);
  ASSERT_EQ(Tool("backup S b").status, 0);
  std::string bytes = ReadFile(BackupPath("b"));
  bytes[300] ^= 0x10;  // inside the data of entry 0, past its header
  WriteFile(BackupPath("b"), bytes);
  const RunResult r = Tool("restore S b --to " + Quote(dir_ / "out"));
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(Err().find("damaged"), std::string::npos) << Err();
  EXPECT_FALSE(fs::exists(dir_ / ("out" + (dir_ / "a.txt"))));
}

// On a terminal, deleting a Scheme and overwriting it with a new one ask
// first, naming how many Backups go; --yes and a script (no terminal) do not.
TEST_F(CliBackups, DestroyingASchemeAsksOnATerminal) {
  WriteFile(dir_ / "a.txt", "a");
  ASSERT_EQ(Tool("add-file S " + Quote(dir_ / "a.txt")).status, 0);
  ASSERT_EQ(Tool("backup S one").status, 0);
  ASSERT_EQ(Tool("backup S two").status, 0);
  auto onTerminal = [&](const std::string& answer, const std::string& args) {
    return Shell(
        "printf " + Quote(answer + "\\n") + " | script -qec " +
        Quote(std::string(TESSAROOK_CLI) + " --schemes-dir " + Quote(schemes_) + " " + args) +
        " /dev/null 2>&1");
  };
  RunResult r = onTerminal("n", "delete S");
  EXPECT_NE(r.out.find("delete the Scheme \"S\" and its 2 Backups?"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("nothing was deleted"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(BackupPath("one")));
  r = onTerminal("n", "new S --force");
  EXPECT_NE(r.out.find("delete its 2 Backups?"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(BackupPath("two")));
  r = onTerminal("y", "new S --force");
  EXPECT_FALSE(fs::exists(BackupPath("two")));
  ASSERT_EQ(Tool("backup S three").status, 3);  // the new Scheme lists nothing
  r = onTerminal("", "delete S --yes");
  EXPECT_EQ(r.out.find("[y/N]"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(schemes_ + "/S.tsbak"));
  ASSERT_EQ(Tool("new S").status, 0);
  EXPECT_EQ(Tool("delete S").status, 0);  // no terminal: as before

  // A settings file named on the command line must be there and readable.
  WriteFile(dir_ / "bad.xml", "<not settings");
  for (const std::string& settings : {dir_ / "missing.xml", dir_ / "bad.xml"}) {
    EXPECT_EQ(Shell(std::string(TESSAROOK_CLI) + " --settings " + Quote(settings) +
                    " schemes 2>/dev/null")
                  .status,
              3)
        << settings;
  }
}

// Through the command line: a second Backup copies what did not change
// (--json says from where and how many), --reread copies nothing, and a
// Backup keeps the time it was taken when it is duplicated or carried in a
// Compressed Scheme: the listing and "latest" go by that time, not by when
// the file was made.
TEST_F(CliBackups, ReuseRereadAndTheTakenTime) {
  const std::string src = dir_ / "src";
  for (int i = 0; i < 5; ++i)
    WriteFile(src + "/f" + std::to_string(i) + ".txt", std::string(2000 + i, 'a' + i));
  ASSERT_EQ(Tool("add S " + Quote(src)).status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(3300));  // the files settle

  const RunResult one = Tool("backup S one --json");
  ASSERT_EQ(one.status, 0) << Err();
  EXPECT_NE(one.out.find("\"parent\":null,\"reused\":0,"), std::string::npos) << one.out;
  const RunResult two = Tool("backup S two --json");
  ASSERT_EQ(two.status, 0) << Err();
  EXPECT_NE(two.out.find("\"parent\":{\"name\":\"one\","), std::string::npos) << two.out;
  EXPECT_NE(two.out.find("},\"reused\":5,"), std::string::npos) << two.out;
  const RunResult three = Tool("backup S three --reread --json");
  ASSERT_EQ(three.status, 0) << Err();
  EXPECT_NE(three.out.find("\"parent\":null,\"reused\":0,"), std::string::npos) << three.out;
  EXPECT_EQ(Tool("verify S two").out, "ok\t5\n");
  const std::string to = dir_ / "restored";
  ASSERT_EQ(Tool("restore S two --to " + Quote(to)).status, 0) << Err();
  for (int i = 0; i < 5; ++i) {
    const std::string f = src + "/f" + std::to_string(i) + ".txt";
    EXPECT_EQ(ReadFile(to + f), ReadFile(f)) << f;
  }

  // A copy of the oldest Backup is the newest file, but keeps its time.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(Tool("duplicate-backup S one copy").status, 0) << Err();
  auto timeOf = [](const std::string& listing, const std::string& name) {
    for (const std::string& line : Lines(listing))
      if (line.rfind(name + "\t", 0) == 0) return line.substr(name.size() + 1);
    return std::string("missing");
  };
  const RunResult list = Tool("backups S --sort time");
  EXPECT_EQ(timeOf(list.out, "copy"), timeOf(list.out, "one"));
  EXPECT_EQ(Lines(list.out).back().substr(0, 6), "three\t") << list.out;
  EXPECT_NE(Tool("verify S latest --json").out.find("\"backup\":{\"name\":\"three\""),
            std::string::npos);

  // Carried to another My Schemes folder in a Compressed Scheme: the same times.
  ASSERT_EQ(Tool("export S " + Quote(dir_ / "s.csm")).status, 0) << Err();
  const RunResult json = Tool("backups S --json");
  const RunResult imported =
      Shell(std::string(TESSAROOK_CLI) + " --schemes-dir " + Quote(dir_ / "elsewhere") +
            " import " + Quote(dir_ / "s.csm") + " && " + TESSAROOK_CLI + " --schemes-dir " +
            Quote(dir_ / "elsewhere") + " backups S --json");
  ASSERT_EQ(imported.status, 0);
  EXPECT_EQ(imported.out.substr(imported.out.find("\"backups\"")),
            json.out.substr(json.out.find("\"backups\"")));
}
