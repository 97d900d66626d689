#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "../util/TempFolder.h"
#include "settings/Settings.h"
#include "util/PathUtil.h"

namespace tessarook {
namespace {

using test::ReadText;
using test::TempFolder;
using test::WriteText;

// A settings file holding the given elements below <settings>.
std::string SettingsXml(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"windows-1252\" ?>\n<settings>" + body + "</settings>\n";
}

void ExpectDefaults(const CSettings& s) {
  EXPECT_EQ(s.dir_schemes, MakeModulePath("My Schemes"));
  EXPECT_TRUE(s.autorefresh);
  EXPECT_FALSE(s.minimize_to_tray);
  EXPECT_FALSE(s.zip_absolute);
  EXPECT_EQ(s.files_view, 0);
  EXPECT_EQ(s.files_sorting, 1);
  EXPECT_EQ(s.backups_view, 1);
  EXPECT_EQ(s.backups_sorting, 2);
}

TEST(SettingsTest, PathAndDefaults) {
  EXPECT_EQ(CSettings().GetSettingsPath(), MakeModulePath("settings.xml"));
  EXPECT_TRUE(CSettings().dir_schemes.empty());
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(CSettings("rel.xml").GetSettingsPath(), cwd + "/rel.xml");

  CSettings s("/nonexistent-folder/settings.xml");
  s.files_view = 3;
  s.SetDefaults();
  ExpectDefaults(s);
}

TEST(SettingsTest, AMissingOrBrokenFileGivesDefaults) {
  TempFolder tmp;
  CSettings missing(tmp.Path("settings.xml"));
  EXPECT_TRUE(missing.Load());
  ExpectDefaults(missing);

  WriteText(tmp.Path("broken.xml"), "<settings><autorefresh>0</autorefresh>");
  CSettings broken(tmp.Path("broken.xml"));
  EXPECT_TRUE(broken.Load());
  ExpectDefaults(broken);
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
  EXPECT_TRUE(s.Load());
  EXPECT_EQ(s.dir_schemes, "Backups Here");  // not resolved against anything
  EXPECT_TRUE(s.autorefresh);                // empty element: default
  EXPECT_FALSE(s.minimize_to_tray);          // only "1" is true
  EXPECT_TRUE(s.zip_absolute);
  EXPECT_EQ(s.files_view, 2);
  EXPECT_EQ(s.files_sorting, -7);
  EXPECT_EQ(s.backups_view, 1);  // wrong letter case: not found
  EXPECT_EQ(s.backups_sorting, 0);

  for (const char* notTrue : {"01", "&#x20;1", "yes", "1&#x20;", "0", "&#x31;1"}) {
    WriteText(tmp.Path("b.xml"),
              SettingsXml(std::string("<autorefresh>") + notTrue + "</autorefresh>"));
    CSettings b(tmp.Path("b.xml"));
    b.Load();
    EXPECT_FALSE(b.autorefresh) << notTrue;
  }
}

TEST(SettingsTest, SaveWritesTheEightElementsInOrder) {
  TempFolder tmp;
  const std::string path = tmp.Path("settings.xml");
  WriteText(path,
            SettingsXml("<extra>kept?</extra><!-- a comment --><autorefresh>0</autorefresh>"));
  CSettings s(path);
  s.Load();
  EXPECT_FALSE(s.autorefresh);
  s.dir_schemes = "/home/u/My Schemes";
  s.files_view = -2147483647 - 1;
  ASSERT_TRUE(s.Save());
  EXPECT_EQ(ReadText(path),
            "<?xml version=\"1.0\" encoding=\"windows-1252\" ?>\n"
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
}

TEST(SettingsTest, RoundTripIsExact) {
  TempFolder tmp;
  CSettings out(tmp.Path("settings.xml"));
  out.SetDefaults();
  out.dir_schemes = " /data/\xC3\xA9t\xC3\xA9  \xC3\x81rchive & <old> ";
  out.autorefresh = false;
  out.minimize_to_tray = true;
  out.zip_absolute = true;
  out.files_view = 3;
  out.files_sorting = 2;
  out.backups_view = 0;
  out.backups_sorting = 3;
  ASSERT_TRUE(out.Save());

  CSettings in(tmp.Path("settings.xml"));
  ASSERT_TRUE(in.Load());
  EXPECT_EQ(in.dir_schemes, out.dir_schemes);
  EXPECT_EQ(in.autorefresh, out.autorefresh);
  EXPECT_EQ(in.minimize_to_tray, out.minimize_to_tray);
  EXPECT_EQ(in.zip_absolute, out.zip_absolute);
  EXPECT_EQ(in.files_view, out.files_view);
  EXPECT_EQ(in.files_sorting, out.files_sorting);
  EXPECT_EQ(in.backups_view, out.backups_view);
  EXPECT_EQ(in.backups_sorting, out.backups_sorting);
}

TEST(SettingsTest, AnotherXmlReaderSeesTheSameValues) {
  if (std::system("python3 -c 'import xml.etree.ElementTree' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3 is not available";
  }
  TempFolder tmp;
  CSettings s(tmp.Path("settings.xml"));
  s.SetDefaults();
  s.dir_schemes = "  /srv/a  b & <c> \"d\" 'e'\tf ";
  s.minimize_to_tray = true;
  s.backups_sorting = -3;
  ASSERT_TRUE(s.Save());

  const std::string script = tmp.Path("read.py");
  WriteText(script,
            "import sys, xml.etree.ElementTree as ET\n"
            "root = ET.parse(sys.argv[1]).getroot()\n"
            "out = open(sys.argv[2], 'w', encoding='utf-8', newline='')\n"
            "out.write(root.tag + '\\n')\n"
            "for e in root: out.write(e.tag + '=' + repr(e.text) + '\\n')\n");
  const std::string cmd =
      "python3 '" + script + "' '" + tmp.Path("settings.xml") + "' '" + tmp.Path("seen.txt") + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(ReadText(tmp.Path("seen.txt")),
            "settings\n"
            "dir_schemes='  /srv/a  b & <c> \"d\" \\'e\\'\\tf '\n"
            "autorefresh='1'\n"
            "minimize_to_tray='1'\n"
            "zip_absolute='0'\n"
            "files_view='0'\n"
            "files_sorting='1'\n"
            "backups_view='1'\n"
            "backups_sorting='-3'\n");
}

TEST(SettingsTest, AFailedSaveKeepsTheOldFile) {
  TempFolder tmp;
  CSettings nowhere(tmp.Path("missing/settings.xml"));
  nowhere.SetDefaults();
  EXPECT_FALSE(nowhere.Save());

  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  const std::string path = tmp.Path("settings.xml");
  WriteText(path, SettingsXml("<files_view>2</files_view>"));
  ::chmod(tmp.Path().c_str(), 0500);
  CSettings s(path);
  s.Load();
  s.files_view = 3;
  EXPECT_FALSE(s.Save());
  ::chmod(tmp.Path().c_str(), 0700);
  CSettings again(path);
  again.Load();
  EXPECT_EQ(again.files_view, 2);
}

}  // namespace
}  // namespace tessarook
