// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../util/TempFolder.h"
#include "settings/Settings.h"
#include "settings/XmlSettingsDoc.h"

namespace tessarook {
namespace {

using test::TempFolder;
using test::WriteText;

TEST(XmlSettingsDocTest, NothingWorksBeforeTheDocumentIsReady) {
  CXmlSettingsDoc doc;
  doc.SetValue("settings.a", "1");
  EXPECT_EQ(doc.GetValue("settings.a"), "");
  EXPECT_FALSE(doc.HasPath("settings"));
  EXPECT_FALSE(doc.RemovePath("settings.a"));
  TempFolder tmp;
  EXPECT_FALSE(doc.SaveToFile(tmp.Path("x.xml")));
}

TEST(XmlSettingsDocTest, SetValueBuildsChainsAndRemovePathUnlinks) {
  CXmlSettingsDoc doc;
  ASSERT_TRUE(doc.CreateNew());
  EXPECT_FALSE(doc.CreateNew());
  doc.SetValue("settings.a", "1");
  doc.SetValue("settings.b", "2");
  doc.SetValue("settings.group.c", "3");
  doc.SetValue("settings.a", "4");  // replaced: moves to the end
  EXPECT_EQ(doc.ToText(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
            "<settings>\n"
            "    <b>2</b>\n"
            "    <group>\n"
            "        <c>3</c>\n"
            "    </group>\n"
            "    <a>4</a>\n"
            "</settings>\n");
  EXPECT_EQ(doc.GetValue("settings.group.c"), "3");
  EXPECT_EQ(doc.GetValue("Settings.a"), "");  // letter case matters
  EXPECT_EQ(doc.GetValue("settings..a"), "");

  EXPECT_FALSE(doc.RemovePath("other.a"));
  EXPECT_TRUE(doc.RemovePath("settings.missing"));
  EXPECT_TRUE(doc.RemovePath("settings.group"));
  EXPECT_FALSE(doc.HasPath("settings.group.c"));
  EXPECT_TRUE(doc.HasPath("settings.a"));
}

TEST(XmlSettingsDocTest, OnlyElementsAndTheirTextAreRead) {
  CXmlSettingsDoc doc;
  ASSERT_TRUE(
      doc.LoadFromText("<!--settings--><settings>a<a>x</a><b><!--note-->text</b><c/>"
                       "<d>  lots   of  blanks </d><e>&#x41;&amp;&lt;</e></settings>"));
  EXPECT_EQ(doc.GetValue("settings.a"), "x");
  EXPECT_EQ(doc.GetValue("settings.b"), "text");
  EXPECT_EQ(doc.GetValue("settings.c"), "");
  EXPECT_EQ(doc.GetValue("settings.d"), "  lots   of  blanks ");  // read as written
  EXPECT_EQ(doc.GetValue("settings.e"), "A&<");
}

TEST(XmlSettingsDocTest, WrittenValuesReadBackExactly) {
  for (const std::string value : {
           "  leading, trailing and  double blanks  ",
           "tab\there\nnewline\r",
           "markup <a> & \"quotes\" 'apos'",
           "&#x41; is not a reference here",
           "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x81 \xC3\x81",  // UTF-8, incl. byte 0x81
           "\xFF\xFE raw bytes",
       }) {
    CXmlSettingsDoc doc;
    ASSERT_TRUE(doc.CreateNew());
    doc.SetValue("settings.dir_schemes", value);
    CXmlSettingsDoc back;
    ASSERT_TRUE(back.LoadFromText(doc.ToText())) << doc.ToText();
    EXPECT_EQ(back.GetValue("settings.dir_schemes"), value) << doc.ToText();
  }
}

TEST(XmlSettingsDocTest, MalformedOrHostileInputIsRefused) {
  CXmlSettingsDoc doc;
  ASSERT_TRUE(doc.LoadFromText("<settings><a>1</a></settings>"));
  EXPECT_FALSE(doc.LoadFromText("<settings><a>1</a>"));
  EXPECT_EQ(doc.GetValue("settings.a"), "");  // nothing of the old document left
  EXPECT_FALSE(doc.LoadFromText(std::string("\0<a/>", 5)));
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "<a>";
  EXPECT_FALSE(doc.LoadFromText(deep));
  deep.resize(3 * 1990);  // just below the markup limit: parsed, refused as unclosed
  EXPECT_FALSE(doc.LoadFromText(deep));
  EXPECT_FALSE(doc.LoadFromText("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xF0"));

  TempFolder tmp;
  WriteText(tmp.Path("ok.xml"), "<settings>\r\n<a>1</a>\r\n</settings>\r\n");
  EXPECT_TRUE(doc.LoadFromFile(tmp.Path("ok.xml")));
  EXPECT_EQ(doc.GetValue("settings.a"), "1");
  EXPECT_FALSE(doc.LoadFromFile(tmp.Path()));
  ASSERT_EQ(::mkfifo(tmp.Path("fifo.xml").c_str(), 0600), 0);
  EXPECT_FALSE(doc.LoadFromFile(tmp.Path("fifo.xml")));  // must not block
  WriteText(tmp.Path("huge.xml"),
            "<settings>" + std::string(CXmlSettingsDoc::kMaxFileSize, ' ') + "</settings>");
  EXPECT_FALSE(doc.LoadFromFile(tmp.Path("huge.xml")));
}

TEST(XmlSettingsDocTest, ManyAttributesAreRefusedBeforeParsing) {
  // One element holding a mebibyte of attributes: the library checks each new
  // attribute against all earlier ones, which takes minutes.
  std::string hostile = "<settings";
  for (int i = 0; hostile.size() < CXmlSettingsDoc::kMaxFileSize - 16; ++i)
    hostile += " a" + std::to_string(i) + "=''";
  hostile += "/>";
  CXmlSettingsDoc doc;
  EXPECT_FALSE(doc.LoadFromText(hostile));
  // Files as people edit them stay readable: a few attributes, and markup
  // characters inside comments, text and quoted values.
  const std::string edited =
      "<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\"?>\n"
      "<!-- ===== a = b = c ==== <x y=z> -->\n"
      "<settings note=\"a=b\" other='c=d' third=\"x\">\n"
      "  <dir_schemes kind=\"folder\">/srv/a=b=c=d=e=f=g=h=i=j=k</dir_schemes>\n"
      "  <![CDATA[ = = = = = = = = = ]]>\n"
      "</settings>\n";
  ASSERT_TRUE(doc.LoadFromText(edited));
  EXPECT_EQ(doc.GetValue("settings.dir_schemes"), "/srv/a=b=c=d=e=f=g=h=i=j=k");
  // Markup that is no tag holds no attributes, however many "=" it has: a
  // document type declaration is kept as an unknown node, and the document
  // reads. Markup that is no tag and no declaration is not XML.
  ASSERT_TRUE(doc.LoadFromText("<!DOCTYPE settings " + std::string(100, '=') +
                               ">\n<settings><autorefresh>1"
                               "</autorefresh></settings>"));
  EXPECT_EQ(doc.GetValue("settings.autorefresh"), "1");
  EXPECT_FALSE(doc.LoadFromText("<" + std::string(100, '=') + "/>\n<settings/>"));
}

TEST(XmlSettingsDocTest, BlanksInValuesAreKeptAsWritten) {
  CXmlSettingsDoc doc;
  ASSERT_TRUE(
      doc.LoadFromText("<settings><zip_absolute> 1 </zip_absolute><dir_schemes>/a  b</dir_schemes>"
                       "<autorefresh>\n0\n</autorefresh></settings>"));
  EXPECT_EQ(doc.GetValue("settings.zip_absolute"), " 1 ");
  EXPECT_EQ(doc.GetValue("settings.dir_schemes"), "/a  b");
  EXPECT_EQ(doc.GetValue("settings.autorefresh"), "\n0\n");

  // Read through the settings store: a 1 with blanks is not "1".
  TempFolder tmp;
  WriteText(tmp.Path("settings.xml"),
            "<settings><zip_absolute> 1 </zip_absolute><dir_schemes>/a  b</dir_schemes>"
            "</settings>");
  CSettings settings(tmp.Path("settings.xml"));
  settings.Load();
  EXPECT_FALSE(settings.zip_absolute);
  EXPECT_EQ(settings.dir_schemes, "/a  b");
}

}  // namespace
}  // namespace tessarook
