#include <gtest/gtest.h>
#include <sys/stat.h>

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
  std::string SchemeBytes(const std::string& name) {
    return ReadFile(schemes_ + "/" + name + ".tsbak");
  }

  TempDir tmp_;
  std::string schemes_ = tmp_ / "My Schemes";
};

TEST_F(CliSchemes, NewWritesTheEmptySchemeAndCreatesTheFolder) {
  ASSERT_FALSE(fs::exists(schemes_));
  Result r = Cli({"new", "Empty"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(SchemeBytes("Empty"), std::string(8, '\0'));

  // An existing Scheme is refused and kept.
  ASSERT_EQ(Cli({"add-file", "Empty", "/kept"}).status, 0);
  const std::string withEntry = SchemeBytes("Empty");
  r = Cli({"new", "Empty"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err.rfind("tessarook-cli: A Scheme with such name already exists", 0), 0u) << r.err;
  EXPECT_EQ(SchemeBytes("Empty"), withEntry);

  // --force (before or after the name) replaces it and deletes its Backups folder.
  const std::string backups = schemes_ + "/Empty.tsbak.backups";
  fs::create_directories(backups + "/sub");
  WriteFile(backups + "/old.zip", "PK");
  r = Cli({"new", "--force", "Empty"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(SchemeBytes("Empty"), std::string(8, '\0'));
  EXPECT_FALSE(fs::exists(backups));
  EXPECT_EQ(Cli({"new", "Empty", "--force"}).status, 0);
}

TEST_F(CliSchemes, NewRefusesBadNames) {
  for (const char* name : {"a:b", "a\\b", "x|y", "q?", ""}) {
    Result r = Cli({"new", name});
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_EQ(r.err.rfind("tessarook-cli: ", 0), 0u) << r.err;
  }
  EXPECT_NE(Cli({"new", "a*b"}).err.find("cannot contain"), std::string::npos);
  EXPECT_FALSE(fs::exists(schemes_));
}

TEST_F(CliSchemes, AddWritesTheFileLayouts) {
  ASSERT_EQ(Cli({"new", "One"}).status, 0);
  ASSERT_EQ(Cli({"add-file", "One", "/a.txt"}).status, 0);
  EXPECT_EQ(SchemeBytes("One"), U32(1) + "\x06/a.txt" + U32(0));

  const std::string longPath = "/" + std::string(299, 'L');
  ASSERT_EQ(Cli({"new", "Long"}).status, 0);
  ASSERT_EQ(Cli({"add-folder", "Long", longPath}).status, 0);
  const std::string bytes = SchemeBytes("Long");
  ASSERT_EQ(bytes.size(), 4u + 4 + 3 + 300 + 4);
  EXPECT_EQ(bytes.substr(8, 3), "\xFF\x2C\x01");
  EXPECT_EQ(bytes.substr(11, 300), longPath);
}

TEST_F(CliSchemes, AddChoosesTheKindAndShowListsInOrder) {
  ASSERT_EQ(Cli({"new", "S"}).status, 0);
  fs::create_directories(tmp_ / "docs");
  WriteFile(tmp_ / "note.txt", "n");
  // Relative paths are made absolute from the current folder; a missing path is a file.
  Result r = Cli({"add", "S", "note.txt", "docs/", "./missing", "docs"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Cli({"show", "S"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "file\t" + (tmp_ / "note.txt") + "\nfile\t" + (tmp_ / "missing") + "\nfolder\t" +
                       (tmp_ / "docs") + "\t\n");
  // The kind can be forced; the two lists are independent.
  ASSERT_EQ(Cli({"add-file", "S", tmp_ / "docs"}).status, 0);
  ASSERT_EQ(Cli({"add-folder", "S", "note.txt"}).status, 0);
  r = Cli({"show", "S"});
  EXPECT_EQ(r.out, "file\t" + (tmp_ / "note.txt") + "\nfile\t" + (tmp_ / "missing") + "\nfile\t" +
                       (tmp_ / "docs") + "\nfolder\t" + (tmp_ / "docs") + "\t\nfolder\t" +
                       (tmp_ / "note.txt") + "\t\n");
}

TEST_F(CliSchemes, AddTakesALinkAsItsTarget) {
  ASSERT_EQ(Cli({"new", "S"}).status, 0);
  fs::create_directories(tmp_ / "real");
  fs::create_directory_symlink(tmp_ / "real", tmp_ / "link");
  ASSERT_EQ(Cli({"add", "S", "link"}).status, 0);
  EXPECT_EQ(Cli({"show", "S"}).out, "folder\t" + fs::canonical(tmp_ / "real").string() + "\t\n");
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
  // The stored bytes hold the list as normalised.
  const std::string bytes = ReadFile(schemes_ + "/S.tsbak");
  EXPECT_NE(bytes.find(U32(4) + "\x03txt\x02.o\x04tmp \x02-x"), std::string::npos);
  // No extensions: the folder excludes nothing again.
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
      EXPECT_EQ(r.out, "");
    }
    // Nothing was written over the damaged file.
    EXPECT_EQ(SchemeBytes("Bad"), std::string(n, '\0'));
  }
  WriteFile(schemes_ + "/Huge.tsbak", U32(1) + std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 7) +
                                          std::string("\x01\0\0\0\x01\0\0\0", 8));
  EXPECT_EQ(Cli({"show", "Huge"}).err, "tessarook-cli: Failed to open document.\n");

  Result r = Cli({"show", "Nope"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "tessarook-cli: " + schemes_ + "/Nope.tsbak was not found.\n");
  // A zero-length file is an empty Scheme.
  WriteFile(schemes_ + "/Zero.tsbak", "");
  r = Cli({"show", "Zero"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST_F(CliSchemes, SchemeArgumentMayBeAPath) {
  const std::string elsewhere = tmp_ / "elsewhere";
  fs::create_directories(elsewhere);
  WriteFile(elsewhere + "/Mine.tsbak", std::string(8, '\0'));
  ASSERT_EQ(RunCli({"add-file", "elsewhere/Mine.tsbak", "/p"}, tmp_.path()).status, 0);
  EXPECT_EQ(RunCli({"show", "Mine.tsbak"}, elsewhere).out, "file\t/p\n");
  EXPECT_FALSE(fs::exists(schemes_));
}

TEST(CliFrame, UsageErrorsAndHelp) {
  TempDir tmp;
  const std::string dir = tmp / "s";
  struct Case {
    Args args;
    int status;
  };
  const Case cases[] = {
      {{}, 2},
      {{"frobnicate"}, 2},
      {{"--bogus", "show", "x"}, 2},
      {{"--schemes-dir"}, 2},
      {{"--schemes-dir", dir, "show"}, 2},
      {{"--schemes-dir", dir, "show", "a", "b"}, 2},
      {{"--schemes-dir", dir, "new", "x", "--forse"}, 2},
      {{"--schemes-dir", dir, "new", "x", "--force=yes"}, 2},
  };
  for (const Case& c : cases) {
    Result r = RunCli(c.args, tmp.path());
    EXPECT_EQ(r.status, c.status) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.err.rfind("tessarook-cli: ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(fs::exists(dir));

  Result r = RunCli({"--help"}, tmp.path());
  EXPECT_EQ(r.status, 0);
  for (const char* cmd : {"new", "show", "add", "add-file", "add-folder", "remove", "exclude"}) {
    EXPECT_NE(r.out.find("\n  " + std::string(cmd) + " "), std::string::npos) << cmd;
    Result h = RunCli({cmd, "--help"}, tmp.path());
    EXPECT_EQ(h.status, 0) << cmd;
    EXPECT_EQ(h.out.rfind("Usage: tessarook-cli [global options] " + std::string(cmd) + " ", 0), 0u)
        << h.out;
  }
}

TEST(CliFrame, MySchemesFolderFromOptionsOrSettings) {
  TempDir tmp;
  // Program options may also follow the command.
  const std::string a = tmp / "a";
  ASSERT_EQ(RunCli({"new", "X", "--schemes-dir", a}, tmp.path()).status, 0);
  EXPECT_TRUE(fs::exists(a + "/X.tsbak"));

  const std::string b = tmp / "b";
  WriteFile(tmp / "settings.xml",
            "<?xml version=\"1.0\" encoding=\"windows-1252\" ?>\n<settings>\n"
            "<dir_schemes>" +
                b + "</dir_schemes>\n</settings>\n");
  ASSERT_EQ(RunCli({"--settings", tmp / "settings.xml", "new", "Y"}, tmp.path()).status, 0);
  EXPECT_TRUE(fs::exists(b + "/Y.tsbak"));
  Result r = RunCli({"show", "Y", "--settings=" + (tmp / "settings.xml")}, tmp.path());
  EXPECT_EQ(r.status, 0) << r.err;
  // --schemes-dir wins over the settings file.
  r = RunCli({"--settings", tmp / "settings.xml", "--schemes-dir", a, "show", "Y"}, tmp.path());
  EXPECT_EQ(r.status, 3);
}

TEST(CliFrame, OutputThatCannotBeWrittenIsAFailure) {
  TempDir tmp;
  WriteFile(tmp / "S.tsbak", U32(1) + "\x02/a" + U32(0));
  const std::string cmd = std::string("'") + TESSAROOK_CLI + "' show '" + (tmp / "S.tsbak") +
                          "' >/dev/full 2>/dev/null";
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 3);
}

}  // namespace
}  // namespace tessarook::clitest
