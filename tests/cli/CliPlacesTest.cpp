// SPDX-License-Identifier: GPL-3.0-or-later
// Where tessarook-cli looks when no --schemes-dir or --settings is given, and
// what it says when the My Schemes folder cannot be used.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "CliTestUtil.h"

namespace tessarook::clitest {
namespace {

namespace fs = std::filesystem;

// Runs `program` with a clean XDG environment below `home`; `extra` holds
// more NAME=value words for env(1), `prefix` a command to run it through.
Result RunAs(const std::string& program, const std::string& home, const std::string& extra,
             const std::vector<std::string>& args, const std::string& prefix = "") {
  return RunProgram(program, args, home,
                    prefix + " env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_RUNTIME_DIR HOME=" +
                        ShellQuote(home) + " " + extra);
}

std::string SettingsWith(const std::string& schemesDir) {
  return "<?xml version=\"1.0\" encoding=\"windows-1252\" ?>\n<settings><dir_schemes>" +
         schemesDir + "</dir_schemes></settings>\n";
}

TEST(CliPlaces, TheUsersOwnFoldersUnlessASettingsFileLiesBesideTheProgram) {
  TempDir home;
  // Nothing set up yet: the default My Schemes folder below the home folder, made on demand.
  Result r = RunAs(TESSAROOK_CLI, home.path(), "", {"new", "Home"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(home / ".local/share/tessarook/My Schemes/Home.tsbak"));
  EXPECT_EQ(RunAs(TESSAROOK_CLI, home.path(), "", {"schemes"}).out, "Home\n");

  // The desktop program's settings file in the config folder is read.
  fs::create_directories(home / "cfg/tessarook");
  WriteFile(home / "cfg/tessarook/settings.xml", SettingsWith(home / "elsewhere"));
  r = RunAs(TESSAROOK_CLI, home.path(), "XDG_CONFIG_HOME=" + ShellQuote(home / "cfg"),
            {"new", "Work"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(home / "elsewhere/Work.tsbak"));

  // Portable mode: a settings.xml beside the executable wins.
  fs::create_directories(home / "portable");
  const std::string program = home / "portable/tessarook-cli";
  fs::copy_file(TESSAROOK_CLI, program);
  WriteFile(home / "portable/settings.xml", "");
  r = RunAs(program, home.path(), "XDG_CONFIG_HOME=" + ShellQuote(home / "cfg"), {"new", "Stick"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(home / "portable/My Schemes/Stick.tsbak"));
  WriteFile(home / "portable/settings.xml", SettingsWith(home / "chosen"));
  ASSERT_EQ(RunAs(program, home.path(), "", {"new", "Chosen"}).status, 0);
  EXPECT_TRUE(fs::exists(home / "chosen/Chosen.tsbak"));
}

TEST(CliPlaces, AMySchemesFolderThatCannotBeUsedIsNamedWithTheCause) {
  TempDir tmp;
  fs::permissions(tmp.path(), fs::perms::all);  // the ordinary user below must reach it
  // A file stands where the folder would be made.
  WriteFile(tmp / "file", "x");
  Result r = RunAs(TESSAROOK_CLI, tmp.path(), "",
                   {"--schemes-dir", tmp / "file/My Schemes", "new", "Home"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "tessarook-cli: cannot create the My Schemes folder " +
                       (tmp / "file/My Schemes") + ": " + (tmp / "file") + ": not a directory\n");

  // Folders of another user, as in a root-owned installation. Root may write
  // anywhere, so as root the program runs as "nobody".
  fs::create_directories(tmp / "root-owned/My Schemes");
  const auto readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                        fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(tmp / "root-owned/My Schemes", readOnly);
  fs::permissions(tmp / "root-owned", readOnly);
  std::string asUser;
  if (geteuid() == 0) asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  r = RunAs(TESSAROOK_CLI, tmp.path(), "",
            {"--schemes-dir", tmp / "root-owned/My Schemes", "new", "Home"}, asUser);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "tessarook-cli: the My Schemes folder " + (tmp / "root-owned/My Schemes") +
                       " cannot be written: permission denied\n");
  r = RunAs(TESSAROOK_CLI, tmp.path(), "",
            {"--schemes-dir", tmp / "root-owned/Mine", "new", "Home"}, asUser);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "tessarook-cli: cannot create the My Schemes folder " +
                       (tmp / "root-owned/Mine") + ": permission denied\n");
  EXPECT_FALSE(fs::exists(tmp / "root-owned/Mine"));

  // The same for the other commands that change the folder.
  fs::permissions(tmp / "root-owned/My Schemes", fs::perms::owner_write, fs::perm_options::add);
  ASSERT_EQ(RunAs(TESSAROOK_CLI, tmp.path(), "",
                  {"--schemes-dir", tmp / "root-owned/My Schemes", "new", "Kept"})
                .status,
            0);
  ASSERT_EQ(RunAs(TESSAROOK_CLI, tmp.path(), "",
                  {"--schemes-dir", tmp / "root-owned/My Schemes", "export", "Kept", tmp / "k.csm"})
                .status,
            0);
  // Exported private to root; shared on purpose with the other user.
  fs::permissions(tmp / "k.csm", fs::perms::others_read, fs::perm_options::add);
  fs::permissions(tmp / "root-owned/My Schemes", readOnly);
  const std::string unwritable = "tessarook-cli: the My Schemes folder " +
                                 (tmp / "root-owned/My Schemes") +
                                 " cannot be written: permission denied\n";
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"import", "--force", tmp / "k.csm"},
        std::vector<std::string>{"rename", "Kept", "Other"},
        std::vector<std::string>{"delete", "Kept"}}) {
    std::vector<std::string> args = {"--schemes-dir", tmp / "root-owned/My Schemes"};
    args.insert(args.end(), command.begin(), command.end());
    r = RunAs(TESSAROOK_CLI, tmp.path(), "", args, asUser);
    EXPECT_EQ(r.status, 3) << command[0];
    EXPECT_EQ(r.err.substr(0, unwritable.size()), unwritable) << command[0];
  }
  fs::permissions(tmp / "root-owned", fs::perms::owner_all, fs::perm_options::add);
  fs::permissions(tmp / "root-owned/My Schemes", fs::perms::owner_all, fs::perm_options::add);
}

}  // namespace
}  // namespace tessarook::clitest
