// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "exchange/CsmFormat.h"
#include "library/SchemeLibrary.h"
#include "scheme/SchemePaths.h"
#include "shell/Caption.h"
#include "shell/Messages.h"
#include "shell/NameCheck.h"
#include "shell/NewSchemeFile.h"
#include "shell/WindowPlacement.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("tessarook-shell-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string str() const { return path_.string(); }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

void Touch(const fs::path& p, const std::string& bytes = "x") { std::ofstream(p) << bytes; }

}  // namespace

TEST(Caption, PlaceholderAndTitlesHoldingTheSeparator) {
  EXPECT_EQ(MakeCaption("No Scheme"), "No Scheme - Tessarook Backup");
  EXPECT_EQ(MakeCaption("New Scheme"), "New Scheme - Tessarook Backup");
  // A title that itself holds " - " is kept whole and followed once.
  EXPECT_EQ(MakeCaption("Work - Photos"), "Work - Photos - Tessarook Backup");
  EXPECT_EQ(MakeCaption(""), " - Tessarook Backup");
}

TEST(Caption, DocumentTitleIsTheFileNameWithoutExtension) {
  EXPECT_EQ(DocumentTitleForPath("/home/u/My Schemes/Home.tsbak"), "Home");
  EXPECT_EQ(DocumentTitleForPath("/x/a.b.tsbak"), "a.b");
  EXPECT_EQ(DocumentTitleForPath("/x/Work - Photos.tsbak"), "Work - Photos");
  EXPECT_EQ(DocumentTitleForPath("/x/noext"), "noext");
  EXPECT_EQ(DocumentTitleForPath("/x.d/noext"), "noext");  // a dot in the folder is no extension
  EXPECT_EQ(DocumentTitleForPath("/x/.tsbak"), ".tsbak");
  EXPECT_EQ(DocumentTitleForPath("plain.tsbak"), "plain");
}

TEST(NameCheck, OrderOfTheRefusals) {
  TempDir dir;
  NameCheckContext ctx;
  ctx.mode = NAME_SCHEME;
  ctx.schemesDir = dir.str();
  EXPECT_EQ(CheckName("", ctx), NameVerdict::kEmpty);
  for (const char* bad : {"a\\b", "a/b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b"})
    EXPECT_EQ(CheckName(bad, ctx), NameVerdict::kForbiddenChars) << bad;
  // Blanks and dots are kept and allowed; bytes of 128 and above too.
  EXPECT_EQ(CheckName("   ", ctx), NameVerdict::kAccept);
  EXPECT_EQ(CheckName("a.b.", ctx), NameVerdict::kAccept);
  EXPECT_EQ(CheckName("\xC3\xA9t\xC3\xA9", ctx), NameVerdict::kAccept);
}

TEST(NameCheck, ControlCharactersAreRefusedWhereverNamesAreChecked) {
  TempDir dir;
  NameCheckContext ctx;
  ctx.mode = NAME_BACKUP;
  ctx.openSchemePath = (dir / "Home.tsbak").string();
  const std::string bad[] = {"a\nb", "tab\t", "\x01", "end\x1f", "del\x7f", std::string("a\0b", 3),
                             "cr\r"};
  for (const std::string& name : bad) {
    EXPECT_EQ(CheckName(name, ctx), NameVerdict::kForbiddenChars) << name;
    EXPECT_TRUE(HasForbiddenNameChar(name)) << name;
    EXPECT_FALSE(CSchemeLibrary::IsValidNewName(name)) << name;
    EXPECT_FALSE(IsCarriableName(name)) << name;
  }
  // The message names what the name holds; the nine characters' text first.
  EXPECT_EQ(InvalidNameText("a\nb"), msg::kInvalidNameControl);
  EXPECT_EQ(InvalidNameText("a/\nb"), msg::kInvalidName);
  EXPECT_EQ(InvalidNameReason("a\tb"),
            "The name cannot contain control characters such as tabs or line breaks.");
  for (const char* good : {"a b", "x\x80y", "\xC3\xA9t\xC3\xA9", "~!@#$%^&()"}) {
    EXPECT_EQ(CheckName(good, ctx), NameVerdict::kAccept) << good;
    EXPECT_TRUE(IsCarriableName(good)) << good;
  }
}

TEST(NameCheck, OriginalNameIsAcceptedBeforeAnyOtherTest) {
  TempDir dir;
  Touch(dir / "Home.tsbak");
  NameCheckContext ctx;
  ctx.mode = NAME_SCHEME;
  ctx.schemesDir = dir.str();
  ctx.originalName = "Home";
  EXPECT_EQ(CheckName("Home", ctx), NameVerdict::kAccept);
  // Names compare as paths do on this system: another letter case is another
  // name, which exists here only if a file of that name does.
  EXPECT_EQ(CheckName("HOME", ctx), NameVerdict::kAccept);
  Touch(dir / "HOME.tsbak");
  EXPECT_EQ(CheckName("HOME", ctx), NameVerdict::kAskOverwrite);
  // A forbidden original name is still accepted unchanged.
  ctx.originalName = "a|b";
  EXPECT_EQ(CheckName("a|b", ctx), NameVerdict::kAccept);
}

TEST(NameCheck, SchemeModeAsksWhenAnythingExistsAtTheSchemePath) {
  TempDir dir;
  NameCheckContext ctx;
  ctx.mode = NAME_SCHEME;
  ctx.schemesDir = dir.str() + "/";  // a trailing separator gets no second one
  EXPECT_EQ(NameTargetPath("Home", ctx), dir.str() + "/Home.tsbak");
  EXPECT_EQ(CheckName("Home", ctx), NameVerdict::kAccept);
  Touch(dir / "Home.tsbak");
  EXPECT_EQ(CheckName("Home", ctx), NameVerdict::kAskOverwrite);
  fs::create_directory(dir / "Dir.tsbak");  // a folder counts too
  EXPECT_EQ(CheckName("Dir", ctx), NameVerdict::kAskOverwrite);
  fs::create_symlink(dir / "missing", dir / "Dangling.tsbak");  // so does a dangling link
  EXPECT_EQ(CheckName("Dangling", ctx), NameVerdict::kAskOverwrite);
}

TEST(NameCheck, BackupModeLooksInTheOpenSchemesBackupsFolder) {
  TempDir dir;
  NameCheckContext ctx;
  ctx.mode = NAME_BACKUP;
  ctx.openSchemePath = (dir / "Home.tsbak").string();
  fs::create_directory(dir / "Home.tsbak.backups");
  Touch(dir / "Home.tsbak.backups" / "Monday.zip");
  Touch(dir / "Monday.tsbak");  // a Scheme of that name does not matter here
  EXPECT_EQ(CheckName("Monday", ctx), NameVerdict::kAskOverwrite);
  EXPECT_EQ(CheckName("Tuesday", ctx), NameVerdict::kAccept);
  EXPECT_EQ(CheckName("Tue/sday", ctx), NameVerdict::kForbiddenChars);
  // No open Scheme: nothing to overwrite, and no relative path is probed.
  ctx.openSchemePath.clear();
  EXPECT_EQ(NameTargetPath("Monday", ctx), "");
  EXPECT_EQ(CheckName("Monday", ctx), NameVerdict::kAccept);
}

TEST(NameCheck, OtherModesSkipTheExistenceTest) {
  TempDir dir;
  Touch(dir / "Home.tsbak");
  NameCheckContext ctx;
  ctx.mode = 7;
  ctx.schemesDir = dir.str();
  EXPECT_EQ(CheckName("Home", ctx), NameVerdict::kAccept);
  EXPECT_EQ(CheckName("", ctx), NameVerdict::kEmpty);
}

TEST(WindowPlacement, RoundTripAndRefusals) {
  CWindowPlacement p;
  p.x = -20;
  p.y = 35;
  p.width = 900;
  p.height = 700;
  p.maximised = true;
  const auto back = CWindowPlacement::FromText(p.ToText());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, p);

  for (const char* bad :
       {"", "v1", "v1 1 2 3 4", "v1 1 2 3 4 0 9", "v2 1 2 3 4 0", "v1 1 2 0 4 0", "v1 1 2 3 -4 0",
        "v1 1 2 3 4 2", "v1 1  2 3 4 0", "v1 1 2 3 4 0 ", "v1 a 2 3 4 0", "v1 1 2 3 4x 0",
        "v1 1 2 3 99999999999999999999 0", "v1 1 2 100001 4 0", "v1 -100001 2 3 4 0",
        "v1 +1 2 3 4 0", "\x01\x02\x03\x04"})
    EXPECT_FALSE(CWindowPlacement::FromText(bad).has_value()) << '"' << bad << '"';
  EXPECT_TRUE(CWindowPlacement::FromText("v1 -100000 100000 100000 1 0").has_value());
}

TEST(NewSchemeFile, RemovesTheOldBackupsAndLeavesTheSchemeFileForTheSave) {
  TempDir dir;
  const std::string schemes = (dir / "My Schemes").string();
  // A missing My Schemes folder is created.
  EXPECT_EQ(PrepareNewSchemeFile(schemes, "Home"), schemes + "/Home.tsbak");
  EXPECT_TRUE(fs::is_directory(schemes));

  Touch(fs::path(schemes) / "Home.tsbak", "old scheme");
  fs::create_directories(fs::path(schemes) / "Home.tsbak.backups" / "deep");
  Touch(fs::path(schemes) / "Home.tsbak.backups" / "Mon.zip");
  Touch(fs::path(schemes) / "Other.tsbak.backups");
  // A link inside the Backups folder goes, its target stays.
  Touch(dir / "keep.txt");
  fs::create_symlink(dir / "keep.txt", fs::path(schemes) / "Home.tsbak.backups" / "link");

  EXPECT_EQ(PrepareNewSchemeFile(schemes, "Home"), schemes + "/Home.tsbak");
  EXPECT_FALSE(fs::exists(fs::path(schemes) / "Home.tsbak.backups"));
  EXPECT_TRUE(fs::exists(fs::path(schemes) / "Home.tsbak"));
  EXPECT_TRUE(fs::exists(fs::path(schemes) / "Other.tsbak.backups"));
  EXPECT_TRUE(fs::exists(dir / "keep.txt"));
}

TEST(NewSchemeFile, UsableSchemesFolder) {
  TempDir dir;
  Touch(dir / "file");
  EXPECT_TRUE(IsUsableSchemesFolder(dir.str()));
  EXPECT_TRUE(IsUsableSchemesFolder(dir.str() + "/"));
  EXPECT_FALSE(IsUsableSchemesFolder(""));
  EXPECT_FALSE(IsUsableSchemesFolder((dir / "file").string()));
  EXPECT_FALSE(IsUsableSchemesFolder((dir / "missing").string()));
  // Relative names are taken from the current folder and kept as typed.
  const fs::path old = fs::current_path();
  fs::create_directory(dir / "sub");
  fs::current_path(dir.str());
  EXPECT_TRUE(IsUsableSchemesFolder("sub"));
  EXPECT_FALSE(IsUsableSchemesFolder("file"));
  fs::current_path(old);
}
