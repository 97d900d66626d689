// SPDX-License-Identifier: GPL-3.0-or-later
// Off-site copies against real servers on the loopback address: rclone's own
// SFTP and WebDAV servers (user and password), a crypt remote over WebDAV,
// and the faults a remote can have: a server killed in the middle of an
// upload, a full disk, a wrong password, a path that is a file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CliTestUtil.h"
#include "backup/BackupArchive.h"

extern char** environ;

namespace tessarook::clitest {
namespace {

namespace fs = std::filesystem;

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

// One `rclone serve sftp|webdav` on 127.0.0.1, on a free port of its choice.
class Server {
 public:
  Server(const std::string& kind, const std::string& root, const std::string& cacheDir,
         const std::string& logFile)
      : kind_(kind) {
    const std::string rclone = FindOnPath("rclone");
    std::vector<std::string> args = {rclone,        "serve",  kind,         root,     "--addr",
                                     "127.0.0.1:0", "--user", "u",          "--pass", "p",
                                     "--cache-dir", cacheDir, "--log-file", logFile};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The SFTP server makes its host keys once in the cache folder, which
    // outlives the test; one server at a time does so.
    fs::create_directories(cacheDir);
    const int lock = ::open((cacheDir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0) ::flock(lock, LOCK_EX);
    struct Unlock {
      int fd;
      ~Unlock() {
        if (fd >= 0) ::close(fd);
      }
    } unlock{lock};
    if (posix_spawn(&pid_, rclone.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return;
    // The log names the port once the server listens.
    const std::string marker = kind == "sftp" ? "listening on 127.0.0.1:" : "http://127.0.0.1:";
    for (int i = 0; i < 600 && port_.empty(); ++i) {
      const std::string log = ReadFile(logFile);
      const size_t at = log.find(marker);
      if (at != std::string::npos) {
        size_t end = at + marker.size();
        while (end < log.size() && std::isdigit(static_cast<unsigned char>(log[end]))) ++end;
        if (end > at + marker.size())
          port_ = log.substr(at + marker.size(), end - at - marker.size());
      }
      if (port_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Server() { Kill(); }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  bool Up() const { return pid_ > 0 && !port_.empty(); }
  // The remote's section of an rclone configuration.
  std::string Config(const std::string& name, const std::string& obscuredPass) const {
    if (kind_ == "sftp")
      return "[" + name + "]\ntype = sftp\nhost = 127.0.0.1\nport = " + port_ +
             "\nuser = u\npass = " + obscuredPass + "\n";
    return "[" + name + "]\ntype = webdav\nurl = http://127.0.0.1:" + port_ +
           "/\nvendor = other\nuser = u\npass = " + obscuredPass + "\n";
  }

 private:
  std::string kind_;
  pid_t pid_ = -1;
  std::string port_;
};

class CliOffsite : public ::testing::Test {
 protected:
  void SetUp() override {
    rclone_ = FindOnPath("rclone");
    if (rclone_.empty()) GTEST_SKIP() << "rclone is not installed (Debian package rclone)";
    fs::create_directories(dir_ / "src/sub");
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + " of the plain text\n";
    WriteFile(dir_ / "src/a.txt", text);
    std::string noise(300000, '\0');
    std::mt19937 rnd(7);
    for (char& c : noise) c = static_cast<char>(rnd());
    WriteFile(dir_ / "src/sub/noise.bin", noise);
    ASSERT_EQ(Cli({"new", "S"}).status, 0);
    ASSERT_EQ(Cli({"add", "S", dir_ / "src"}).status, 0);
    ASSERT_EQ(Cli({"backup", "S", "b1"}).status, 0);
    pass_ = RunProgram(rclone_, {"obscure", "p"}, dir_.path(), "").out;
    while (!pass_.empty() && pass_.back() == '\n') pass_.pop_back();
  }

  std::string ServerRoot(const std::string& kind) {
    const std::string root = dir_ / ("served-" + kind + std::to_string(servers_.size()));
    fs::create_directories(root);
    return root;
  }
  Server& Start(const std::string& kind, const std::string& root) {
    servers_.push_back(
        std::make_unique<Server>(kind, root, TESSAROOK_TEST_RCLONE_CACHE,
                                 dir_ / ("server" + std::to_string(servers_.size()) + ".log")));
    EXPECT_TRUE(servers_.back()->Up()) << ReadFile(dir_ / "server0.log");
    return *servers_.back();
  }
  // Writes the rclone configuration the CLI runs with.
  void Configure(const std::string& text) { WriteFile(dir_ / "rclone.conf", text); }

  Result Cli(std::vector<std::string> args, const std::string& extraEnv = "") {
    args.insert(args.begin(), {"--schemes-dir", dir_ / "schemes"});
    // The Schemes' records (schemes.records) go into the test's folder too.
    const std::string env = "XDG_CONFIG_HOME=" + ShellQuote(dir_ / "cfg") +
                            " RCLONE_CONFIG=" + ShellQuote(dir_ / "rclone.conf") +
                            " RCLONE_RETRIES=1 RCLONE_LOW_LEVEL_RETRIES=1 RCLONE_CONTIMEOUT=5s " +
                            extraEnv;
    return RunCli(args, dir_.path(), env);
  }

  std::string LocalBackup(const std::string& name) {
    return ReadFile(dir_ / ("schemes/S.tsbak.backups/" + name + ".zip"));
  }

  // Every file below `root`: relative path -> bytes.
  static std::vector<std::pair<std::string, std::string>> Files(const std::string& root) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
      if (e.is_regular_file())
        out.emplace_back(fs::relative(e.path(), root).string(), ReadFile(e.path().string()));
    return out;
  }

  // Fetches b1 into an empty My Schemes folder (a lost disk) and restores it
  // elsewhere: the files come back byte for byte.
  void PullAndRestore(const std::string& remote) {
    fs::rename(dir_ / "schemes", dir_ / ("schemes-before-" + std::to_string(pulls_++)));
    const Result pulled = Cli({"pull", "S", remote, "b1"});
    ASSERT_EQ(pulled.status, 0) << pulled.err;
    EXPECT_EQ(pulled.out, "b1\n");
    EXPECT_TRUE(Contains(pulled.err, "fetched too")) << pulled.err;
    EXPECT_TRUE(fs::exists(dir_ / "schemes/S.tsbak"));
    // Nothing but the Backup itself is left in the Backups folder.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / "schemes/S.tsbak.backups"))
      names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"b1.zip"});
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "schemes/S.tsbak.backups/b1.zip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string to = dir_ / ("restored" + std::to_string(pulls_));
    const Result restored = Cli({"restore", "S", "b1", "--to", to});
    ASSERT_EQ(restored.status, 0) << restored.err;
    for (const char* f : {"src/a.txt", "src/sub/noise.bin"})
      EXPECT_EQ(ReadFile(to + dir_.path() + "/" + f), ReadFile(dir_ / f)) << f;
  }

  TempDir dir_;
  std::string rclone_;
  std::string pass_;
  std::vector<std::unique_ptr<Server>> servers_;
  int pulls_ = 0;
};

TEST_F(CliOffsite, PushSecondPushPullAndRestoreOverSftpAndWebdav) {
  const std::string sftpRoot = ServerRoot("sftp");
  const std::string davRoot = ServerRoot("webdav");
  Server& sftp = Start("sftp", sftpRoot);
  Server& dav = Start("webdav", davRoot);
  Configure(sftp.Config("s", pass_) + dav.Config("w", pass_));
  const std::string backup = LocalBackup("b1");
  // A Backup only the remote has is never deleted by a push.
  fs::create_directories(sftpRoot + "/nas/S.tsbak.backups");
  WriteFile(sftpRoot + "/nas/S.tsbak.backups/old.zip", "kept");

  for (const auto& [remote, root] :
       {std::pair{"s:nas", sftpRoot + "/nas"}, std::pair{"w:dav/nas", davRoot + "/dav/nas"}}) {
    SCOPED_TRACE(remote);
    const Result first = Cli({"push", "S", remote});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "b1\t" + std::to_string(backup.size()) + "\n");
    EXPECT_EQ(ReadFile(root + "/S.tsbak.backups/b1.zip"), backup);
    EXPECT_EQ(ReadFile(root + "/S.tsbak"), ReadFile(dir_ / "schemes/S.tsbak"));
    EXPECT_TRUE(Contains(first.err, "unencrypted")) << first.err;

    const Result second = Cli({"push", "S", remote, "--json"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(Contains(second.out, "\"sent\":[]")) << second.out;
    EXPECT_TRUE(Contains(second.out, "\"scheme_sent\":false")) << second.out;

    const Result listed = Cli({"remote-backups", "S", remote});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(Contains(listed.out, "b1\t")) << listed.out;
    EXPECT_TRUE(Contains(listed.out, "\t" + std::to_string(backup.size()) + "\n")) << listed.out;
  }
  EXPECT_EQ(ReadFile(sftpRoot + "/nas/S.tsbak.backups/old.zip"), "kept");

  // A Backup taken again under the same name is sent again, also when its
  // size is the same (the time it was taken differs). Of two taken the same
  // way (--reread), the second has the first one's size, once the files have
  // settled: a Backup records the identity of a file only when its last
  // change lies kSettledNs before it.
  for (const char* f : {"src/a.txt", "src/sub/noise.bin"}) {
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / f).c_str(), &st), 0);
    const std::chrono::nanoseconds changed(int64_t(st.st_ctim.tv_sec) * 1000000000 +
                                           st.st_ctim.tv_nsec);
    std::this_thread::sleep_until(
        std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(changed)) +
        std::chrono::nanoseconds(kSettledNs) + std::chrono::milliseconds(100));
  }
  ASSERT_EQ(Cli({"backup", "S", "b1", "--force", "--reread"}).status, 0);
  ASSERT_EQ(Cli({"push", "S", "w:dav/nas"}).status, 0);
  const std::string first = LocalBackup("b1");
  ASSERT_EQ(ReadFile(davRoot + "/dav/nas/S.tsbak.backups/b1.zip"), first);
  ASSERT_EQ(Cli({"backup", "S", "b1", "--force", "--reread"}).status, 0);
  const std::string retaken = LocalBackup("b1");
  ASSERT_EQ(retaken.size(), first.size());
  ASSERT_NE(retaken, first);
  const Result again = Cli({"push", "S", "w:dav/nas"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, "b1\t" + std::to_string(retaken.size()) + "\n");
  EXPECT_EQ(ReadFile(davRoot + "/dav/nas/S.tsbak.backups/b1.zip"), retaken);

  // So is a scheme file changed without changing its size.
  fs::create_directories(dir_ / "srd");
  ASSERT_EQ(Cli({"remove", "S", dir_ / "src"}).status, 0);
  ASSERT_EQ(Cli({"add-folder", "S", dir_ / "srd"}).status, 0);
  const std::string scheme = ReadFile(dir_ / "schemes/S.tsbak");
  ASSERT_NE(ReadFile(davRoot + "/dav/nas/S.tsbak"), scheme);
  ASSERT_EQ(ReadFile(davRoot + "/dav/nas/S.tsbak").size(), scheme.size());
  ASSERT_EQ(Cli({"push", "S", "w:dav/nas"}).status, 0);
  EXPECT_EQ(ReadFile(davRoot + "/dav/nas/S.tsbak"), scheme);
  ASSERT_EQ(Cli({"remove", "S", dir_ / "srd"}).status, 0);
  ASSERT_EQ(Cli({"add-folder", "S", dir_ / "src"}).status, 0);
  // And one that grew replaces the one there (whole: by way of its waiting
  // folder), on a remote that keeps times too.
  fs::create_directories(dir_ / "another folder");
  ASSERT_EQ(Cli({"add-folder", "S", dir_ / "another folder"}).status, 0);
  const Result grown = Cli({"push", "S", "s:nas", "--json"});
  ASSERT_EQ(grown.status, 0) << grown.err;
  EXPECT_TRUE(Contains(grown.out, "\"scheme_sent\":true")) << grown.out;
  EXPECT_EQ(ReadFile(sftpRoot + "/nas/S.tsbak"), ReadFile(dir_ / "schemes/S.tsbak"));
  EXPECT_FALSE(fs::exists(sftpRoot + "/nas/.S.tsbak.push/scheme/S.tsbak"));
  ASSERT_EQ(Cli({"remove", "S", dir_ / "another folder"}).status, 0);

  // An existing Backup is replaced only with --force.
  const Result refused = Cli({"pull", "S", "s:nas", "b1"});
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(LocalBackup("b1"), retaken);

  PullAndRestore("s:nas");
  PullAndRestore("w:dav/nas");
}

TEST_F(CliOffsite, CryptOverWebdavStoresNoNameAndNoByteInTheClear) {
  const std::string root = ServerRoot("webdav");
  Server& dav = Start("webdav", root);
  const std::string secret = RunProgram(rclone_, {"obscure", "a long secret"}, dir_.path(), "").out;
  Configure(dav.Config("w", pass_) + "[c]\ntype = crypt\nremote = w:vault\npassword = " + secret +
            "\n[a]\ntype = alias\nremote = c:aliased\n");
  const Result pushed = Cli({"push", "S", "c:offsite"});
  ASSERT_EQ(pushed.status, 0) << pushed.err;
  EXPECT_FALSE(Contains(pushed.err, "unencrypted")) << pushed.err;

  const std::string backup = LocalBackup("b1");
  const std::string scheme = ReadFile(dir_ / "schemes/S.tsbak");
  const auto stored = Files(root);
  ASSERT_FALSE(stored.empty());
  for (const auto& [name, bytes] : stored) {
    for (const char* clear : {"S.tsbak", "b1", ".zip", "backups", "offsite", ".push"})
      EXPECT_FALSE(Contains(name, clear)) << name;
    // Any 32 bytes of the Backup, of the scheme file and of the files in it.
    for (size_t at = 0; at + 32 <= backup.size(); at += 997)
      ASSERT_FALSE(Contains(bytes, backup.substr(at, 32)))
          << name << " holds Backup bytes at " << at;
    EXPECT_FALSE(Contains(bytes, "of the plain text")) << name;
    EXPECT_FALSE(Contains(bytes, scheme)) << name;
  }
  EXPECT_EQ(Cli({"push", "S", "c:offsite"}).out, "");
  PullAndRestore("c:offsite");
  // A remote that only names the crypt remote stores as it does.
  const Result aliased = Cli({"push", "S", "a:"});
  ASSERT_EQ(aliased.status, 0) << aliased.err;
  EXPECT_FALSE(Contains(aliased.err, "unencrypted")) << aliased.err;
  for (const auto& [name, bytes] : Files(root)) EXPECT_FALSE(Contains(name, "S.tsbak")) << name;
}

TEST_F(CliOffsite, PruneOnlyWhenAskedAndOnlyByTimesTheRemoteKeepsDamagedPullsAreRefused) {
  const std::string sftpRoot = ServerRoot("sftp");
  const std::string davRoot = ServerRoot("webdav");
  Server& sftp = Start("sftp", sftpRoot);
  Server& dav = Start("webdav", davRoot);
  Configure(sftp.Config("s", pass_) + dav.Config("w", pass_));
  ASSERT_EQ(Cli({"backup", "S", "b2"}).status, 0);
  ASSERT_EQ(Cli({"backup", "S", "b3"}).status, 0);
  const auto now = fs::file_time_type::clock::now();
  for (int i = 1; i <= 3; ++i)
    fs::last_write_time(dir_ / ("schemes/S.tsbak.backups/b" + std::to_string(i) + ".zip"),
                        now - std::chrono::hours(24 * (4 - i)));

  EXPECT_EQ(Cli({"push", "S", "s:nas", "--keep-last", "1"}).status, 2);
  EXPECT_EQ(Cli({"push", "S", "s:nas", "--prune"}).status, 2);
  ASSERT_EQ(Cli({"push", "S", "w:nas"}).status, 0);
  const Result pruned = Cli({"push", "S", "s:nas", "--prune", "--keep-last", "2"});
  ASSERT_EQ(pruned.status, 0) << pruned.err;
  EXPECT_TRUE(Contains(pruned.err, "deleted the remote Backup b1")) << pruned.err;
  EXPECT_FALSE(fs::exists(sftpRoot + "/nas/S.tsbak.backups/b1.zip"));
  EXPECT_TRUE(fs::exists(sftpRoot + "/nas/S.tsbak.backups/b2.zip"));
  EXPECT_TRUE(fs::exists(sftpRoot + "/nas/S.tsbak.backups/b3.zip"));
  EXPECT_FALSE(LocalBackup("b1").empty());
  // Where the remote keeps no times, the times there say nothing: no pruning.
  const Result refused = Cli({"push", "S", "w:nas", "--prune", "--keep-last", "1"});
  EXPECT_EQ(refused.status, 3);
  EXPECT_TRUE(Contains(refused.err, "no modification times")) << refused.err;
  for (const char* b : {"b1", "b2", "b3"})
    EXPECT_TRUE(fs::exists(davRoot + "/nas/S.tsbak.backups/" + std::string(b) + ".zip")) << b;

  // "latest" is the newest on the remote.
  ASSERT_EQ(Cli({"delete-backup", "S", "b3"}).status, 0);
  const Result latest = Cli({"pull", "S", "s:nas", "latest"});
  ASSERT_EQ(latest.status, 0) << latest.err;
  EXPECT_EQ(latest.out, "b3\n");

  // A damaged Backup on the remote is fetched, found damaged and not kept.
  std::string damaged = ReadFile(sftpRoot + "/nas/S.tsbak.backups/b2.zip");
  for (size_t at = 100; at < damaged.size() / 2; at += 500) damaged[at] = ~damaged[at];
  WriteFile(dir_ / "bad.zip", damaged);
  ASSERT_EQ(RunProgram(rclone_, {"copyto", dir_ / "bad.zip", "s:nas/S.tsbak.backups/bad.zip"},
                       dir_.path(), "RCLONE_CONFIG=" + ShellQuote(dir_ / "rclone.conf"))
                .status,
            0);
  const Result bad = Cli({"pull", "S", "s:nas", "bad"});
  EXPECT_EQ(bad.status, 3);
  EXPECT_TRUE(Contains(bad.err, "damaged")) << bad.err;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_ / "schemes/S.tsbak.backups"))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"b1.zip", "b2.zip", "b3.zip"}));
}

TEST_F(CliOffsite, CtrlCOrAServerKilledInAnUploadLeaveNoTornBackupAndTheNextPushCompletesIt) {
  const std::string root = ServerRoot("sftp");
  std::string big(6 << 20, '\0');
  std::mt19937 rnd(11);
  for (char& c : big) c = static_cast<char>(rnd());
  WriteFile(dir_ / "src/big.bin", big);
  ASSERT_EQ(Cli({"backup", "S", "b2"}).status, 0);
  const std::string backup = LocalBackup("b2");
  const std::string staged = root + "/nas/.S.tsbak.push/b2.zip";
  // Waits until part of the Backup has arrived.
  const auto partlySent = [&] {
    for (int i = 0; i < 400; ++i) {
      std::error_code ec;
      if (fs::file_size(staged, ec) > 0 && !ec) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  };
  {
    Server& server = Start("sftp", root);
    Configure(server.Config("s", pass_));
    // Ctrl+C: the push stops as interrupted, the remote lists nothing of it.
    Result pushed;
    const std::string pidFile = dir_ / "push.pid";
    std::thread push([&] {
      pushed = Cli({"push", "S", "s:nas"},
                   "RCLONE_BWLIMIT=1M sh -c 'echo $$ >" + pidFile + "; exec \"$0\" \"$@\"'");
    });
    partlySent();
    ::kill(std::stoi("0" + ReadFile(pidFile)), SIGINT);
    push.join();
    EXPECT_EQ(pushed.status, 130) << pushed.err;
    EXPECT_EQ(Cli({"remote-backups", "S", "s:nas"}).out, "");

    // The server killed once part of the Backup has arrived.
    fs::remove(staged);
    std::thread again([&] { pushed = Cli({"push", "S", "s:nas"}, "RCLONE_BWLIMIT=1M"); });
    partlySent();
    server.Kill();
    again.join();
    EXPECT_EQ(pushed.status, 3) << pushed.err;
    ASSERT_TRUE(fs::exists(staged));
    EXPECT_LT(fs::file_size(staged), backup.size());
  }
  EXPECT_FALSE(fs::exists(root + "/nas/S.tsbak.backups/b2.zip"));
  EXPECT_EQ(LocalBackup("b2"), backup);
  // The scheme file travels beside the Backups. Where the remote had none, it
  // goes straight to its name, so a killed server may leave the start of it
  // (never other bytes); the push that completes the Backup makes it whole.
  const std::string scheme = ReadFile(dir_ / "schemes/S.tsbak");
  if (fs::exists(root + "/nas/S.tsbak")) {
    const std::string there = ReadFile(root + "/nas/S.tsbak");
    EXPECT_EQ(scheme.compare(0, there.size(), there), 0) << there;
  }

  Server& again = Start("sftp", root);
  Configure(again.Config("s", pass_));
  const Result listed = Cli({"remote-backups", "S", "s:nas"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_FALSE(Contains(listed.out, "b2")) << listed.out;
  const Result completed = Cli({"push", "S", "s:nas"});
  ASSERT_EQ(completed.status, 0) << completed.err;
  EXPECT_EQ(ReadFile(root + "/nas/S.tsbak.backups/b2.zip"), backup);
  EXPECT_EQ(ReadFile(root + "/nas/S.tsbak"), scheme);
  EXPECT_FALSE(fs::exists(root + "/nas/.S.tsbak.push/b2.zip"));
  EXPECT_FALSE(fs::exists(root + "/nas/.S.tsbak.push/scheme/S.tsbak"));
}

TEST_F(CliOffsite, FullRemoteWrongPasswordFileAsPathAndNoRcloneLoseNothing) {
  const std::string backup = LocalBackup("b1");
  const std::string root = ServerRoot("sftp");
  Server& server = Start("sftp", root);
  WriteFile(root + "/afile", "not a folder");

  // A wrong password: rclone's reason, exit status 3, nothing anywhere.
  Configure(server.Config("s", RunProgram(rclone_, {"obscure", "wrong"}, dir_.path(), "").out));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"push", "S", "s:nas"},
                                               {"remote-backups", "S", "s:nas"},
                                               {"pull", "S", "s:nas", "b1", "--force"}}) {
    const Result r = Cli(args);
    EXPECT_EQ(r.status, 3) << args[0];
    EXPECT_TRUE(Contains(r.err, "authenticate")) << args[0] << ": " << r.err;
  }
  EXPECT_FALSE(fs::exists(root + "/nas"));

  // A path that is a file: refused, the file untouched.
  Configure(server.Config("s", pass_));
  const Result onFile = Cli({"push", "S", "s:afile"});
  EXPECT_EQ(onFile.status, 3);
  EXPECT_TRUE(Contains(onFile.err, "not a directory")) << onFile.err;
  const Result listFile = Cli({"remote-backups", "S", "s:afile"});
  EXPECT_EQ(listFile.status, 3);
  EXPECT_TRUE(Contains(listFile.err, "is a file")) << listFile.err;
  EXPECT_EQ(ReadFile(root + "/afile"), "not a folder");

  // No rclone: the package is named.
  fs::create_directories(dir_ / "empty-bin");
  const Result noRclone = Cli({"push", "S", "s:nas"}, "PATH=" + ShellQuote(dir_ / "empty-bin"));
  EXPECT_EQ(noRclone.status, 3);
  EXPECT_TRUE(Contains(noRclone.err, "Debian package rclone")) << noRclone.err;

  // A full remote: the upload fails, the remote lists no Backup.
  const std::string full = dir_ / "full";
  fs::create_directories(full);
  if (::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=256k") != 0) {
    std::cerr << "[  SKIPPED ] the full-remote case: a tmpfs cannot be mounted here\n";
  } else {
    struct Unmount {
      std::string path;
      ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{full};
    {
      Server& small = Start("sftp", full);
      Configure(small.Config("s", pass_));
      const Result r = Cli({"push", "S", "s:nas"});
      EXPECT_EQ(r.status, 3);
      EXPECT_TRUE(Contains(r.err, "space")) << r.err;
      EXPECT_FALSE(fs::exists(full + "/nas/S.tsbak.backups/b1.zip"));
      const Result listed = Cli({"remote-backups", "S", "s:nas"});
      EXPECT_EQ(listed.status, 0) << listed.err;
      EXPECT_EQ(listed.out, "");
      servers_.back()->Kill();
    }
  }
  EXPECT_EQ(LocalBackup("b1"), backup);
  EXPECT_EQ(Cli({"verify", "S", "b1"}).status, 0);
}

// A Scheme with a remote: every Backup ends with a push there, noted in the
// record; a remote that fails leaves the Backup, its exit status and the
// earlier copies as they are, and the record says the copy is behind.
TEST_F(CliOffsite, BackupPushesToTheSchemesRemoteAndAFailingRemoteLeavesTheBackup) {
  const std::string root = ServerRoot("webdav");
  Server& dav = Start("webdav", root);
  Configure(dav.Config("w", pass_));
  const auto line = [](const std::string& out, const std::string& key) {
    const size_t at = out.find("\n" + key + "\t");
    return at == std::string::npos ? std::string()
                                   : out.substr(at + 1, out.find('\n', at + 1) - at - 1);
  };

  EXPECT_EQ(Cli({"schedule", "S", "--remote", "w:nas", "--no-remote"}).status, 2);
  EXPECT_EQ(Cli({"schedule", "S", "--remote", "-x"}).status, 2);
  const Result chosen = Cli({"schedule", "S", "--remote", "w:nas"});
  ASSERT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_TRUE(Contains(chosen.err, "unencrypted")) << chosen.err;
  EXPECT_EQ(line(chosen.out, "remote"), "remote\tw:nas");
  EXPECT_EQ(line(chosen.out, "push"), "push\t-\tnone\tbehind") << "b1 was never copied";

  const Result taken = Cli({"backup", "S", "b2"});
  ASSERT_EQ(taken.status, 0) << taken.err;
  EXPECT_TRUE(Contains(taken.err, "copied to w:nas: 2 Backup(s) sent")) << taken.err;
  EXPECT_FALSE(Contains(taken.err, "unencrypted")) << "said once, when it was chosen";
  for (const char* b : {"b1", "b2"})
    EXPECT_EQ(ReadFile(root + "/nas/S.tsbak.backups/" + std::string(b) + ".zip"), LocalBackup(b));
  EXPECT_EQ(ReadFile(root + "/nas/S.tsbak"), ReadFile(dir_ / "schemes/S.tsbak"));
  const std::string pushed = line(Cli({"schedule", "S"}).out, "push");
  EXPECT_TRUE(Contains(pushed, "\tok\tcurrent")) << pushed;

  // --json: one document, the push in it.
  const Result json = Cli({"backup", "S", "b3", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_TRUE(Contains(json.out, "\"push\":{\"scheme\":")) << json.out;
  EXPECT_TRUE(Contains(json.out, "\"ok\":true")) << json.out;
  EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 1) << json.out;
  EXPECT_EQ(ReadFile(root + "/nas/S.tsbak.backups/b3.zip"), LocalBackup("b3"));

  // The remote gone: the Backup is taken and good, its exit status is the
  // Backup's, and the record says the copy failed and is behind.
  dav.Kill();
  const Result failed = Cli({"backup", "S", "b4"});
  EXPECT_EQ(failed.status, 0) << failed.err;
  EXPECT_EQ(failed.out.rfind("b4\t", 0), 0u) << failed.out;
  EXPECT_TRUE(Contains(failed.err, "the Backup was taken, but its copy to w:nas failed: "))
      << failed.err;
  EXPECT_EQ(Cli({"verify", "S", "b4"}).status, 0);
  const Result record = Cli({"schedule", "S"});
  EXPECT_TRUE(Contains(line(record.out, "last"), "\tb4\t")) << record.out;
  EXPECT_TRUE(Contains(line(record.out, "last"), "\tok\t")) << record.out;
  EXPECT_TRUE(Contains(line(record.out, "push"), "\tfailed\tbehind\t")) << record.out;
  const Result failedJson = Cli({"backup", "S", "b5", "--json"});
  EXPECT_EQ(failedJson.status, 0);
  EXPECT_TRUE(Contains(failedJson.out, "\"ok\":false")) << failedJson.out;
  EXPECT_TRUE(Contains(failedJson.err, "its copy to w:nas failed")) << failedJson.err;
  EXPECT_EQ(ReadFile(root + "/nas/S.tsbak.backups/b1.zip"), LocalBackup("b1"));

  // Renamed, the Scheme keeps its remote but counts as not copied; without
  // a remote, a Backup pushes nothing.
  ASSERT_EQ(Cli({"rename", "S", "T"}).status, 0);
  const Result renamed = Cli({"schedule", "T"});
  EXPECT_EQ(line(renamed.out, "remote"), "remote\tw:nas");
  EXPECT_EQ(line(renamed.out, "push"), "push\t-\tnone\tbehind");
  ASSERT_EQ(Cli({"schedule", "T", "--no-remote"}).status, 0);
  const Result plain = Cli({"backup", "T", "b6"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_FALSE(Contains(plain.err, "w:nas")) << plain.err;
}

// With --json, what push, pull and remote-backups say when they fail is the
// one JSON object on stderr every command writes.
TEST_F(CliOffsite, JsonErrorsOfTheRemoteCommandsAreOneObjectOnStderr) {
  Configure("[dead]\ntype = webdav\nurl = http://127.0.0.1:1/\nvendor = other\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"push", "S", "dead:x", "--json"},
        {"remote-backups", "S", "dead:x", "--json"},
        {"pull", "S", "dead:x", "b1", "--json", "--force"}}) {
    const Result r = Cli(args);
    EXPECT_EQ(r.status, 3) << args[0];
    EXPECT_EQ(r.err.rfind("{\"exit_status\":3,\"message\":", 0), 0u) << args[0] << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args[0] << ": " << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 3), "]}\n") << args[0] << ": " << r.err;
    EXPECT_FALSE(Contains(r.err, "tessarook-cli: ")) << args[0] << ": " << r.err;
  }
}

}  // namespace
}  // namespace tessarook::clitest
