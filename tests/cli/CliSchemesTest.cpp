// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>

#include "CliTestUtil.h"

namespace tessarook::clitest {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::string U32(uint32_t v) {
  std::string b;
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
  return b;
}

// A My Schemes folder of its own for every test.
class CliSchemes : public ::testing::Test {
 protected:
  Result Cli(Args args) {
    args.insert(args.begin(), {"--schemes-dir", schemes_});
    return RunCli(args, tmp_.path());
  }
  std::string Bytes(const std::string& name) { return ReadFile(schemes_ + "/" + name + ".tsbak"); }

  TempDir tmp_;
  std::string schemes_ = tmp_ / "My Schemes";
};

TEST_F(CliSchemes, NewWritesTheEmptySchemeAndRefusesToOverwrite) {
  Result r = Cli({"new", "Empty"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Bytes("Empty"), std::string(8, '\0'));  // the folder was created too

  ASSERT_EQ(Cli({"add-file", "Empty", "/kept"}).status, 0);
  const std::string withEntry = Bytes("Empty");
  r = Cli({"new", "Empty"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err.rfind("tessarook-cli: A Scheme with such name already exists", 0), 0u) << r.err;
  EXPECT_EQ(Bytes("Empty"), withEntry);

  // --force replaces it and deletes its Backups folder.
  const std::string backups = schemes_ + "/Empty.tsbak.backups";
  fs::create_directories(backups + "/sub");
  WriteFile(backups + "/old.zip", "PK");
  EXPECT_EQ(Cli({"new", "Empty", "--force"}).status, 0);
  EXPECT_EQ(Bytes("Empty"), std::string(8, '\0'));
  EXPECT_FALSE(fs::exists(backups));

  for (const char* name : {"a:b", "a\\b", "x|y", "q?", ""}) {
    r = Cli({"new", name});
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_EQ(r.err.rfind("tessarook-cli: ", 0), 0u) << r.err;
  }
}

TEST_F(CliSchemes, FileLayoutsAndShow) {
  ASSERT_EQ(Cli({"new", "S"}).status, 0);
  ASSERT_EQ(Cli({"add-file", "S", "/a.txt"}).status, 0);
  EXPECT_EQ(Bytes("S"), U32(1) + "\x06/a.txt" + U32(0));
  const std::string longPath = "/" + std::string(299, 'L');
  ASSERT_EQ(Cli({"add-folder", "S", longPath}).status, 0);
  EXPECT_EQ(Bytes("S").substr(11), U32(1) + "\xFF\x2C\x01" + longPath + U32(0));

  fs::create_directories(tmp_ / "docs/real");
  fs::create_directory_symlink(tmp_ / "docs/real", tmp_ / "link");
  WriteFile(tmp_ / "note.txt", "n");
  // Relative paths are made absolute; a missing path is a file; a link is its target.
  ASSERT_EQ(Cli({"add", "S", "note.txt", "docs/", "./missing", "docs", "link", "/a.txt"}).status,
            0);
  Result r = Cli({"show", "S"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "file\t/a.txt\nfile\t" + (tmp_ / "note.txt") + "\nfile\t" + (tmp_ / "missing") +
                       "\nfolder\t" + longPath + "\t\nfolder\t" + (tmp_ / "docs") + "\t\nfolder\t" +
                       fs::canonical(tmp_ / "docs/real").string() + "\t\n");
}

TEST_F(CliSchemes, RemoveAndExclude) {
  ASSERT_EQ(Cli({"new", "S"}).status, 0);
  fs::create_directories(tmp_ / "src");
  ASSERT_EQ(Cli({"add", "S", "/f1", "/f2", "src", "/f3"}).status, 0);
  ASSERT_EQ(Cli({"add-folder", "S", "/f2"}).status, 0);
  // Both kinds go; the others keep their order. A path not listed is named, exit 1.
  Result r = Cli({"remove", "S", "/f2", "/nothing"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tessarook-cli: not in the Scheme: /nothing\n");
  const std::string src = tmp_ / "src";
  EXPECT_EQ(Cli({"show", "S"}).out, "file\t/f1\nfile\t/f3\nfolder\t" + src + "\t\n");

  r = Cli({"exclude", "S", "src", "txt", ".TXT", "..o", "*.c", " ", "tmp ", "--", "-x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Cli({"show", "S"}).out, "file\t/f1\nfile\t/f3\nfolder\t" + src + "\ttxt,.o,tmp ,-x\n");
  EXPECT_NE(Bytes("S").find(U32(4) + "\x03txt\x02.o\x04tmp \x02-x"), std::string::npos);
  ASSERT_EQ(Cli({"exclude", "S", src}).status, 0);
  EXPECT_EQ(Cli({"show", "S"}).out, "file\t/f1\nfile\t/f3\nfolder\t" + src + "\t\n");

  r = Cli({"exclude", "S", "/f1", "txt"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "tessarook-cli: not a folder of the Scheme: /f1\n");
}

TEST_F(CliSchemes, DamagedAndMissingSchemesFailWithTheirMessage) {
  fs::create_directories(schemes_);
  for (size_t n = 1; n <= 3; ++n) {
    WriteFile(schemes_ + "/Bad.tsbak", std::string(n, '\0'));
    for (const Args& args : {Args{"show", "Bad"}, Args{"add", "Bad", "/x"},
                             Args{"remove", "Bad", "/x"}, Args{"exclude", "Bad", "/x"}}) {
      Result r = Cli(args);
      EXPECT_EQ(r.status, 3) << args[0];
      EXPECT_EQ(r.err, "tessarook-cli: Unexpected file format.\n");
    }
    EXPECT_EQ(Bytes("Bad"), std::string(n, '\0'));  // nothing written over it
  }
  WriteFile(schemes_ + "/Huge.tsbak",
            U32(1) + std::string(7, '\xFF') + std::string("\x01\0\0\0\x01\0\0\0", 8));
  EXPECT_EQ(Cli({"show", "Huge"}).err, "tessarook-cli: Failed to open document.\n");
  Result r = Cli({"show", "Nope"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "tessarook-cli: " + schemes_ + "/Nope.tsbak was not found.\n");
}

TEST(CliFrame, UsageErrorsAndHelp) {
  TempDir tmp;
  const std::string dir = tmp / "s";
  for (const Args& args :
       {Args{}, Args{"frobnicate"}, Args{"--bogus", "show", "x"}, Args{"--schemes-dir"},
        Args{"--schemes-dir", dir, "show"}, Args{"--schemes-dir", dir, "show", "a", "b"},
        Args{"--schemes-dir", dir, "new", "x", "--forse"}}) {
    Result r = RunCli(args, tmp.path());
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(r.err.rfind("tessarook-cli: ", 0), 0u) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir));
  const Result r = RunCli({"--help"}, tmp.path());
  EXPECT_EQ(r.status, 0);
  for (const std::string cmd :
       {"new", "show", "add", "add-file", "add-folder", "remove", "exclude"}) {
    EXPECT_NE(r.out.find("\n  " + cmd + " "), std::string::npos) << cmd;
    const Result h = RunCli({cmd, "--help"}, tmp.path());
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.out.rfind("Usage: tessarook-cli [global options] " + cmd + " ", 0), 0u) << h.out;
  }
}

TEST(CliFrame, MySchemesFolderSchemePathsAndOutputErrors) {
  TempDir tmp;
  // Program options may follow the command.
  ASSERT_EQ(RunCli({"new", "X", "--schemes-dir", tmp / "a"}, tmp.path()).status, 0);
  EXPECT_TRUE(fs::exists(tmp / "a/X.tsbak"));
  WriteFile(tmp / "settings.xml", "<?xml version=\"1.0\" encoding=\"windows-1252\" ?>\n<settings>" +
                                      ("<dir_schemes>" + (tmp / "b") + "</dir_schemes>") +
                                      "</settings>\n");
  ASSERT_EQ(RunCli({"--settings", tmp / "settings.xml", "new", "Y"}, tmp.path()).status, 0);
  EXPECT_TRUE(fs::exists(tmp / "b/Y.tsbak"));
  // --schemes-dir wins over the settings file.
  EXPECT_EQ(RunCli({"show", "Y", "--settings", tmp / "settings.xml", "--schemes-dir=a"}, tmp.path())
                .status,
            3);
  // A SCHEME holding "/" or ending in .tsbak is a path.
  ASSERT_EQ(RunCli({"add-file", "b/Y.tsbak", "/p"}, tmp.path()).status, 0);
  EXPECT_EQ(RunCli({"show", "Y.tsbak"}, tmp / "b").out, "file\t/p\n");
  // Output that cannot be written is a failure.
  const std::string cmd =
      ShellQuote(TESSAROOK_CLI) + " show " + ShellQuote(tmp / "b/Y.tsbak") + " >/dev/full 2>&1";
  const int raw = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 3);
}

}  // namespace
}  // namespace tessarook::clitest
