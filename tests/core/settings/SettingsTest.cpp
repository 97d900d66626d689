// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "../util/TempFolder.h"
#include "settings/Settings.h"
#include "settings/UserPlaces.h"
#include "util/PathUtil.h"

namespace tessarook {
namespace {

using test::ReadText;
using test::TempFolder;
using test::WriteText;
namespace fs = std::filesystem;

std::string SettingsXml(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"windows-1252\" ?>\n<settings>" + body + "</settings>\n";
}

auto Fields(const CSettings& s) {
  return std::tie(s.dir_schemes, s.autorefresh, s.minimize_to_tray, s.zip_absolute, s.files_view,
                  s.files_sorting, s.backups_view, s.backups_sorting);
}

TEST(SettingsTest, AMissingOrBrokenFileGivesTheDefaults) {
  // Both programs find the file by the one rule.
  EXPECT_EQ(CSettings().GetSettingsPath(), FindUserPlaces().settingsFile);
  EXPECT_EQ(CSettings("rel.xml").GetSettingsPath(),
            std::filesystem::current_path().string() + "/rel.xml");
  TempFolder tmp;
  WriteText(tmp.Path("broken.xml"), "<settings><autorefresh>0</autorefresh>");
  for (const char* name : {"missing.xml", "broken.xml"}) {
    CSettings s(tmp.Path(name));
    EXPECT_TRUE(s.Load());
    EXPECT_EQ(Fields(s),
              std::make_tuple(CSettings::DefaultSchemesDir(), true, false, false, 0, 1, 1, 2))
        << name;
    s.files_view = 3;
    s.dir_schemes = "x";
    s.SetDefaults();
    EXPECT_EQ(s.files_view, 0);
    EXPECT_EQ(s.dir_schemes, CSettings::DefaultSchemesDir());
  }
}

TEST(SettingsTest, EachKeyFallsBackOnItsOwn) {
  TempFolder tmp;
  WriteText(tmp.Path("s.xml"), SettingsXml("<dir_schemes>Backups Here</dir_schemes>"
                                           "<autorefresh></autorefresh>"
                                           "<minimize_to_tray>true</minimize_to_tray>"
                                           "<zip_absolute>1</zip_absolute>"
                                           "<files_view>2abc</files_view>"
                                           "<files_sorting> -7</files_sorting>"
                                           "<BackupsView>3</BackupsView>"
                                           "<backups_sorting>x</backups_sorting>"));
  CSettings s(tmp.Path("s.xml"));
  s.Load();
  // A bare folder name is used as it stands; empty = default; only "1" is true;
  // integers as atol reads them; another letter case is not the key.
  EXPECT_EQ(Fields(s),
            std::make_tuple(std::string("Backups Here"), true, false, true, 2, -7, 1, 0));

  for (const char* notTrue : {"01", "&#x20;1", "yes", "1&#x20;", "0"}) {
    WriteText(tmp.Path("b.xml"),
              SettingsXml(std::string("<autorefresh>") + notTrue + "</autorefresh>"));
    CSettings b(tmp.Path("b.xml"));
    b.Load();
    EXPECT_FALSE(b.autorefresh) << notTrue;
  }
}

TEST(SettingsTest, SaveWritesTheEightElementsInOrderAndReadsBackExactly) {
  TempFolder tmp;
  const std::string path = tmp.Path("settings.xml");
  WriteText(path,
            SettingsXml("<extra>dropped</extra><!-- a comment --><autorefresh>0</autorefresh>"));
  CSettings s(path);
  s.Load();
  s.dir_schemes = "/home/u/My Schemes";
  s.files_view = INT32_MIN;
  ASSERT_TRUE(s.Save());
  EXPECT_EQ(ReadText(path),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
            "<settings>\n"
            "    <dir_schemes>/home/u/My Schemes</dir_schemes>\n"
            "    <autorefresh>0</autorefresh>\n"
            "    <minimize_to_tray>0</minimize_to_tray>\n"
            "    <zip_absolute>0</zip_absolute>\n"
            "    <files_view>-2147483648</files_view>\n"
            "    <files_sorting>1</files_sorting>\n"
            "    <backups_view>1</backups_view>\n"
            "    <backups_sorting>2</backups_sorting>\n"
            "</settings>\n");

  // A compression level other than the normal one is a ninth element; the
  // file reads it back, and values out of range read as normal.
  s.compression_level = CSettings::kFasterCompression;
  ASSERT_TRUE(s.Save());
  EXPECT_NE(ReadText(path).find("    <backups_sorting>2</backups_sorting>\n"
                                "    <compression_level>1</compression_level>\n</settings>"),
            std::string::npos);
  for (const char* level : {"1", "9", "0", "10", "-3", "fast"}) {
    WriteText(tmp.Path("l.xml"),
              SettingsXml(std::string("<compression_level>") + level + "</compression_level>"));
    CSettings l(tmp.Path("l.xml"));
    l.Load();
    EXPECT_EQ(l.compression_level, level == std::string("1")   ? 1
                                   : level == std::string("9") ? 9
                                                               : CSettings::kNormalCompression)
        << level;
  }
  EXPECT_EQ(CSettings::CompressionChoice(2), CSettings::kFasterCompression);
  EXPECT_EQ(CSettings::CompressionChoice(7), CSettings::kNormalCompression);
  EXPECT_EQ(CSettings::CompressionChoice(8), CSettings::kSmallerCompression);

  s.dir_schemes = " /data/\xC3\xA9t\xC3\xA9  \xC3\x81rchive & <old> ";
  s.minimize_to_tray = s.zip_absolute = true;
  s.files_view = 3;
  s.files_sorting = 2;
  s.backups_view = 0;
  s.backups_sorting = 3;
  ASSERT_TRUE(s.Save());
  CSettings back(path);
  back.Load();
  EXPECT_EQ(Fields(back), Fields(s));
  EXPECT_EQ(back.compression_level, CSettings::kFasterCompression);
}

TEST(SettingsTest, AnotherXmlReaderSeesTheSameValues) {
  if (std::system("python3 -c 'import xml.etree.ElementTree' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3 is not available";
  }
  TempFolder tmp;
  CSettings s(tmp.Path("settings.xml"));
  s.SetDefaults();
  s.dir_schemes = "  /srv/Sicherungen-\xC3\xA4\xC3\xB6  b & <c> \"d\" 'e'\tf ";
  s.minimize_to_tray = true;
  s.backups_sorting = -3;
  ASSERT_TRUE(s.Save());
  WriteText(tmp.Path("read.py"),
            "import sys, xml.etree.ElementTree as ET\n"
            "root = ET.parse(sys.argv[1]).getroot()\n"
            "with open(sys.argv[2], 'w', encoding='utf-8', newline='') as out:\n"
            "  out.write(root.tag + '\\n')\n"
            "  for e in root: out.write(e.tag + '=' + repr(e.text) + '\\n')\n");
  const std::string cmd = "python3 '" + tmp.Path("read.py") + "' '" + tmp.Path("settings.xml") +
                          "' '" + tmp.Path("seen.txt") + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(ReadText(tmp.Path("seen.txt")),
            "settings\n"
            "dir_schemes='  /srv/Sicherungen-\xC3\xA4\xC3\xB6  b & <c> \"d\" \\'e\\'\\tf '\n"
            "autorefresh='1'\nminimize_to_tray='1'\nzip_absolute='0'\nfiles_view='0'\n"
            "files_sorting='1'\nbackups_view='1'\nbackups_sorting='-3'\n");
}

TEST(SettingsTest, FilesOfOlderVersionsReadByTheirDeclaration) {
  TempFolder tmp;
  const std::string path = tmp.Path("settings.xml");
  const std::string utf8 = "/srv/Sicherungen-\xC3\xA4\xC3\xB6 \xE2\x82\xAC";
  struct Case {
    const char* what;
    std::string bytes;
    std::string expected;
  };
  const Case cases[] = {
      // Older versions wrote UTF-8 under a windows-1252 declaration: kept as it is.
      {"utf-8 bytes", SettingsXml("<dir_schemes>" + utf8 + "</dir_schemes>"), utf8},
      // Bytes that are no UTF-8 are what the declaration says, 0x80 being the euro sign.
      {"windows-1252 bytes",
       SettingsXml("<dir_schemes>/srv/Sicherungen-\xE4\xF6 \x80</dir_schemes>"), utf8},
      {"single quotes, other case",
       "<?xml version='1.0' encoding='Windows-1252'?><settings><dir_schemes>\xC4 \x81"
       "</dir_schemes></settings>",
       "\xC3\x84 \xC2\x81"},  // 0x81 has no character of its own: U+0081
      // Under any other declaration the bytes stay as they are.
      {"no declaration", "<settings><dir_schemes>/srv/\xE4\xF6</dir_schemes></settings>",
       "/srv/\xE4\xF6"},
  };
  for (const Case& c : cases) {
    WriteText(path, c.bytes);
    CSettings s(path);
    s.Load();
    EXPECT_EQ(s.dir_schemes, c.expected) << c.what;
    ASSERT_TRUE(s.Save());
    CSettings back(path);
    back.Load();
    EXPECT_EQ(back.dir_schemes, c.expected) << c.what;
    EXPECT_EQ(ReadText(path).rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<settings>", 0),
              0u);
  }
}

TEST(SettingsTest, AFailedSaveIsReportedAndLeavesNoTemporaryFile) {
  TempFolder tmp;
  CSettings nowhere(tmp.Path("missing/settings.xml"));
  nowhere.SetDefaults();
  EXPECT_FALSE(nowhere.Save());
  fs::create_directory(tmp.Path("settings.xml"));  // cannot be replaced by a file
  CSettings blocked(tmp.Path("settings.xml"));
  blocked.SetDefaults();
  EXPECT_FALSE(blocked.Save());
  EXPECT_TRUE(fs::is_empty(tmp.Path("settings.xml")));
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace tessarook
