// SPDX-License-Identifier: GPL-3.0-or-later
// The command table and everything made from it: the help texts the program
// prints, the manual page and the completions the build made.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Cli.h"
#include "CliTestUtil.h"
#include "Generate.h"

namespace tessarook::clitest {
namespace {

using cli::ArgSpec;
using cli::Command;
using cli::Commands;
using cli::GlobalOptions;
using cli::OptionSpec;

// The lines of `text` wider than 79 columns (a line of 80 wraps on an
// 80-column terminal that puts the cursor after it).
std::vector<std::string> WideLines(const std::string& text) {
  std::vector<std::string> wide;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end - start > cli::kHelpWidth) wide.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return wide;
}

// How troff source writes an option name: "\-\-keep\-last".
std::string TroffName(const std::string& name) {
  std::string out;
  for (char c : name) out += c == '-' ? std::string("\\-") : std::string(1, c);
  return out;
}

TEST(CliTable, EveryHelpTextComesFromTheTableAndFitsTheTerminal) {
  TempDir tmp;
  const Result usage = RunCli({"--help"}, tmp.path());
  EXPECT_EQ(usage.status, 0);
  EXPECT_EQ(usage.out, cli::UsageText());
  EXPECT_EQ(RunCli({"help"}, tmp.path()).out, usage.out);
  EXPECT_EQ(WideLines(usage.out), std::vector<std::string>{});
  std::set<std::string> globals;
  for (const OptionSpec& o : GlobalOptions()) globals.insert(o.name);
  std::set<std::string> names;
  for (const Command& c : Commands()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(names.insert(c.name).second);
    EXPECT_NE(usage.out.find("\n  " + c.name + " "), std::string::npos);
    const Result help = RunCli({c.name, "--help"}, tmp.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, cli::CommandHelpText(c));
    EXPECT_EQ(RunCli({"help", c.name}, tmp.path()).out, help.out);
    EXPECT_EQ(WideLines(help.out), std::vector<std::string>{});
    EXPECT_FALSE(c.summary.empty());
    EXPECT_NE(c.run, nullptr);
    std::set<std::string> options;
    for (const OptionSpec& o : c.options) {
      EXPECT_EQ(o.name.rfind("--", 0), 0u) << o.name;
      EXPECT_TRUE(options.insert(o.name).second) << o.name;
      EXPECT_EQ(globals.count(o.name), 0u) << o.name;
      // One line, in the help's second column.
      EXPECT_FALSE(o.description.empty()) << o.name;
      EXPECT_EQ(o.description.find('\n'), std::string::npos) << o.name;
      EXPECT_LE(o.description.size(), cli::kHelpWidth - 24) << o.name;
      EXPECT_NE(help.out.find("  " + o.name), std::string::npos) << o.name;
    }
    // Only the last argument may repeat: completions count the ones before it.
    for (size_t i = 0; i + 1 < c.args.size(); ++i)
      EXPECT_TRUE(c.args[i].count == ArgSpec::Count::kOne ||
                  c.args[i].count == ArgSpec::Count::kOptional)
          << c.args[i].meta;
  }
  for (const OptionSpec& o : GlobalOptions()) EXPECT_FALSE(o.description.empty());

  // A mistyped name gets the nearest one, if one is near.
  std::vector<std::string> all(names.begin(), names.end());
  EXPECT_EQ(cli::Nearest("bakup", all), "backup");
  EXPECT_EQ(cli::Nearest("verfiy", all), "verify");
  EXPECT_EQ(cli::Nearest("restroe", all), "restore");
  EXPECT_EQ(cli::Nearest("exp", all), "export");
  EXPECT_EQ(cli::Nearest("dup", all), "");  // duplicate or duplicate-backup
  EXPECT_EQ(cli::Nearest("frobnicate", all), "");
  EXPECT_EQ(cli::Nearest("--keep-dayly", {"--keep-daily", "--keep-last"}), "--keep-daily");
  const Result typo = RunCli({"restroe", "S", "b"}, tmp.path());
  EXPECT_EQ(typo.status, 2);
  EXPECT_NE(typo.err.find("unknown command 'restroe'; did you mean 'restore'?"), std::string::npos);
}

TEST(CliTable, ManualPageAndCompletionsAreMadeFromTheTable) {
  const std::string build = TESSAROOK_BUILD_DIR;
  const std::string source = TESSAROOK_SOURCE_DIR;
  struct Made {
    std::string file, templ, data;
  };
  const std::vector<Made> made = {
      {build + "/man/tessarook-cli.1", build + "/man/tessarook-cli.1.in", cli::ManCommandSection()},
      {build + "/completion/tessarook-cli", source + "/completion/tessarook-cli.bash",
       cli::BashCompletionData()},
      {build + "/completion/_tessarook-cli", source + "/completion/tessarook-cli.zsh",
       cli::ZshCompletionData()},
      {build + "/completion/tessarook-cli.fish", source + "/completion/tessarook-cli.fish",
       cli::FishCompletionData()},
  };
  for (const Made& m : made) {
    SCOPED_TRACE(m.file);
    const std::string text = ReadFile(m.file);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text, cli::FillTemplate(ReadFile(m.templ), m.data));
    const bool man = m.file.find("/man/") != std::string::npos;
    // Every command and option is in it.
    for (const Command& c : Commands()) {
      EXPECT_NE(text.find(man ? "\\fB" + TroffName(c.name) + "\\fR" : " " + c.name),
                std::string::npos)
          << c.name;
      for (const OptionSpec& o : c.options)
        EXPECT_NE(text.find(man ? TroffName(o.name) : o.name.substr(2)), std::string::npos)
            << c.name << " " << o.name;
    }
    for (const OptionSpec& o : GlobalOptions())
      EXPECT_NE(text.find(man ? TroffName(o.name) : o.name.substr(2)), std::string::npos) << o.name;
  }
}

}  // namespace
}  // namespace tessarook::clitest
