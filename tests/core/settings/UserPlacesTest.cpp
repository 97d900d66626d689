// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include "../util/TempFolder.h"
#include "settings/Settings.h"
#include "settings/UserPlaces.h"

namespace tessarook {
namespace {

using test::ReadText;
using test::TempFolder;
using test::WriteText;
namespace fs = std::filesystem;

// An environment made up by the test.
EnvLookup Env(std::map<std::string, std::string> vars) {
  return [vars = std::move(vars)](const char* name) -> const char* {
    auto it = vars.find(name);
    return it == vars.end() ? nullptr : it->second.c_str();
  };
}

// Sets (or, with nullopt, unsets) a variable of this process for one test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(UserPlacesTest, XdgFoldersWithTheirDefaultsAndIgnoredValues) {
  TempFolder program;
  TempFolder runtime;
  // Nothing but HOME: the XDG defaults below it.
  SUserPlaces p = FindUserPlaces(program.Path(), Env({{"HOME", "/home/ann/"}}));
  EXPECT_FALSE(p.portable);
  EXPECT_EQ(p.settingsFile, "/home/ann/.config/tessarook/settings.xml");
  EXPECT_EQ(p.defaultSchemesDir, "/home/ann/.local/share/tessarook/My Schemes");
  EXPECT_EQ(p.configDir, "/home/ann/.config/tessarook");
  EXPECT_EQ(p.profileFile, "/home/ann/.config/tessarook/profile.conf");
  EXPECT_EQ(p.lockDir, "/home/ann/.config/tessarook") << "no runtime folder: the config folder";

  // Absolute values win; the runtime folder takes the lock.
  p = FindUserPlaces(program.Path(), Env({{"HOME", "/home/ann"},
                                          {"XDG_CONFIG_HOME", "/cfg"},
                                          {"XDG_DATA_HOME", "/data/"},
                                          {"XDG_RUNTIME_DIR", runtime.Path()}}));
  EXPECT_EQ(p.settingsFile, "/cfg/tessarook/settings.xml");
  EXPECT_EQ(p.defaultSchemesDir, "/data/tessarook/My Schemes");
  EXPECT_EQ(p.lockDir, runtime.Path());

  // Empty or relative values are ignored, and so is a runtime folder that is not there.
  p = FindUserPlaces(program.Path(), Env({{"HOME", "/home/ann"},
                                          {"XDG_CONFIG_HOME", ""},
                                          {"XDG_DATA_HOME", "data"},
                                          {"XDG_RUNTIME_DIR", runtime.Path("gone")}}));
  EXPECT_EQ(p.settingsFile, "/home/ann/.config/tessarook/settings.xml");
  EXPECT_EQ(p.defaultSchemesDir, "/home/ann/.local/share/tessarook/My Schemes");
  EXPECT_EQ(p.lockDir, "/home/ann/.config/tessarook");

  // A relative HOME is no home: the account's own folder is used instead.
  p = FindUserPlaces(program.Path(), Env({{"HOME", "tmp/x"}}));
  EXPECT_EQ(p.settingsFile.rfind("/", 0), 0u) << p.settingsFile;
  EXPECT_EQ(p.settingsFile.find("tmp/x"), std::string::npos) << p.settingsFile;
}

TEST(UserPlacesTest, ASettingsFileBesideTheProgramMeansPortableMode) {
  TempFolder program;
  const auto env = Env({{"HOME", "/home/ann"}, {"XDG_CONFIG_HOME", "/cfg"}});
  // A folder of that name is not a settings file.
  fs::create_directory(program.Path("settings.xml"));
  EXPECT_FALSE(FindUserPlaces(program.Path(), env).portable);
  fs::remove(program.Path("settings.xml"));

  WriteText(program.Path("settings.xml"), "");
  const SUserPlaces p = FindUserPlaces(program.Path() + "/", env);
  EXPECT_TRUE(p.portable);
  EXPECT_EQ(p.settingsFile, program.Path("settings.xml"));
  EXPECT_EQ(p.defaultSchemesDir, program.Path("My Schemes"));
  // The profile stays per user.
  EXPECT_EQ(p.profileFile, "/cfg/tessarook/profile.conf");
}

TEST(UserPlacesTest, ProgramSettingsLiveBelowTheUsersHomeAndSaveMakesTheFolder) {
  // The test program has no settings.xml beside it, so the per-user place is used.
  TempFolder home;
  ScopedEnv h("HOME", home.Path());
  ScopedEnv c("XDG_CONFIG_HOME", std::nullopt);
  ScopedEnv d("XDG_DATA_HOME", home.Path("data"));
  CSettings settings;
  ASSERT_EQ(settings.GetSettingsPath(), home.Path(".config/tessarook/settings.xml"));
  EXPECT_TRUE(settings.Load());
  EXPECT_EQ(settings.dir_schemes, home.Path("data/tessarook/My Schemes"));
  EXPECT_EQ(CSettings::DefaultSchemesDir(), settings.dir_schemes);
  EXPECT_FALSE(fs::exists(home.Path(".config"))) << "loading creates nothing";

  ASSERT_TRUE(settings.Save());
  EXPECT_NE(ReadText(settings.GetSettingsPath()).find("<dir_schemes>"), std::string::npos);
  struct stat st;
  ASSERT_EQ(stat(home.Path(".config/tessarook").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A file given by name is used as it is; its folder is not made.
  CSettings named(home.Path("none/settings.xml"));
  EXPECT_FALSE(named.Save());
  EXPECT_FALSE(fs::exists(home.Path("none")));
}

TEST(UserPlacesTest, FoldersAreMadeOrTheRealCauseIsNamed) {
  TempFolder tmp;
  std::string error;
  const std::string deep = tmp.Path("a/b/My Schemes");
  ASSERT_TRUE(PrepareSchemesFolder(deep, &error)) << error;
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_TRUE(PrepareSchemesFolder(deep, &error)) << "an existing folder is fine";

  // A file where a folder goes.
  WriteText(tmp.Path("file"), "x");
  EXPECT_FALSE(PrepareSchemesFolder(tmp.Path("file/My Schemes"), &error));
  EXPECT_EQ(error, "cannot create the My Schemes folder " + tmp.Path("file/My Schemes") + ": " +
                       tmp.Path("file") + ": not a directory");
  EXPECT_FALSE(CreateFolderPath(tmp.Path("file"), 0700, &error));
  EXPECT_EQ(error, "cannot create the folder " + tmp.Path("file") + ": not a directory");
  EXPECT_FALSE(PrepareSchemesFolder("", &error));

  if (geteuid() == 0) GTEST_SKIP() << "root may write into any folder";
  // A folder the user may not write to: missing, or there but read-only.
  fs::create_directory(tmp.Path("locked"));
  fs::create_directory(tmp.Path("locked/My Schemes"));
  chmod(tmp.Path("locked/My Schemes").c_str(), 0555);
  chmod(tmp.Path("locked").c_str(), 0555);
  EXPECT_FALSE(PrepareSchemesFolder(tmp.Path("locked/New"), &error));
  EXPECT_EQ(error, "cannot create the My Schemes folder " + tmp.Path("locked/New") +
                       ": permission denied");
  EXPECT_FALSE(PrepareSchemesFolder(tmp.Path("locked/My Schemes"), &error));
  EXPECT_EQ(error, "the My Schemes folder " + tmp.Path("locked/My Schemes") +
                       " cannot be written: permission denied");
  chmod(tmp.Path("locked").c_str(), 0755);
  chmod(tmp.Path("locked/My Schemes").c_str(), 0755);
}

}  // namespace
}  // namespace tessarook
