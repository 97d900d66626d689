// SPDX-License-Identifier: GPL-3.0-or-later
// The JSON writer and the ISO 8601 times of the machine-readable output.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "TempFolder.h"
#include "util/IsoTime.h"
#include "util/Json.h"

namespace tessarook {
namespace {

// Python's own JSON reader as the judge: the document's string values, each
// printed as the hex of its UTF-8 bytes, one per line ("ERROR" if it does not parse).
std::string PythonStrings(const std::string& document) {
  test::TempFolder dir;
  test::WriteText(dir.Path("doc.json"), document);
  const std::string script =
      "import json,sys\n"
      "def walk(v):\n"
      "  if isinstance(v, dict):\n"
      "    for k in v: walk(v[k])\n"
      "  elif isinstance(v, list):\n"
      "    for x in v: walk(x)\n"
      "  elif isinstance(v, str): print(v.encode('utf-8').hex())\n"
      "try: walk(json.load(open(sys.argv[1], encoding='utf-8')))\n"
      "except Exception: print('ERROR')\n";
  test::WriteText(dir.Path("walk.py"), script);
  const std::string cmd = "python3 '" + dir.Path("walk.py") + "' '" + dir.Path("doc.json") + "'";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += {kHex[c >> 4], kHex[c & 0xF]};
  return out;
}

TEST(JsonTest, StringsSurviveAnotherJsonReader) {
  const std::string tricky[] = {"plain",
                                "/home/a/tab\there/new\nline",
                                std::string("nul\0and\x01\x1f\x7f end", 14),
                                "quote\" backslash\\ slash/ cr\r bs\b ff\f",
                                "Gr\xC3\xBC\xC3\x9F"
                                "e \xE2\x82\xAC \xF0\x9F\x98\x80",  // ü ß € and an emoji
                                ""};
  CJsonWriter w;
  w.BeginObject().Key("list").BeginArray();
  std::string expected;
  for (const std::string& s : tricky) {
    w.String(s);
    expected += Hex(s) + "\n";
  }
  w.EndArray().Key("tab\tkey").String("v").EndObject();
  expected += Hex("v") + "\n";
  EXPECT_EQ(PythonStrings(w.Text()), expected) << w.Text();

  EXPECT_EQ(JsonQuote("a\tb\nc\x01"), "\"a\\tb\\nc\\u0001\"");
  EXPECT_EQ(JsonQuote("\x7f"), "\"\\u007f\"");
}

TEST(JsonTest, InvalidUtf8IsReplacedAndItsBytesKept) {
  // A lone continuation byte, a truncated sequence, an overlong "/", a
  // surrogate, a code point above U+10FFFF, and a Latin-1 "ü".
  const std::string bad[] = {"a\x80z",       "a\xE2\x82",        "\xC0\xAF",
                             "\xED\xA0\x80", "\xF4\x90\x80\x80", "M\xFCller"};
  const std::string replaced[] = {"a\xEF\xBF\xBDz",
                                  "a\xEF\xBF\xBD\xEF\xBF\xBD",
                                  "\xEF\xBF\xBD\xEF\xBF\xBD",
                                  "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
                                  "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
                                  "M\xEF\xBF\xBDller"};
  for (size_t i = 0; i < std::size(bad); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(IsValidUtf8(bad[i]));
    EXPECT_EQ(JsonQuote(bad[i]), "\"" + replaced[i] + "\"");
    CJsonWriter w;
    w.BeginObject().Bytes("path", bad[i]).EndObject();
    EXPECT_EQ(w.Text(),
              "{\"path\":\"" + replaced[i] + "\",\"path_hex\":\"" + Hex(bad[i]) + "\"}\n");
  }
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF ok \xC2\x80"));
  CJsonWriter w;
  w.BeginObject().Bytes("path", "/fine").EndObject();
  EXPECT_EQ(w.Text(), "{\"path\":\"/fine\"}\n");
}

TEST(JsonTest, WriterPlacesCommasInNestedContainers) {
  CJsonWriter w;
  w.BeginObject()
      .Key("n")
      .Number(int64_t{-5})
      .Key("big")
      .Number(uint64_t{18446744073709551615u})
      .Key("list")
      .BeginArray()
      .BeginObject()
      .Key("ok")
      .Bool(true)
      .EndObject()
      .BeginArray()
      .EndArray()
      .Null()
      .Bool(false)
      .EndArray()
      .Key("empty")
      .BeginObject()
      .EndObject()
      .EndObject();
  EXPECT_EQ(w.Text(),
            "{\"n\":-5,\"big\":18446744073709551615,\"list\":[{\"ok\":true},[],null,false],"
            "\"empty\":{}}\n");
}

TEST(JsonTest, IsoLocalTimeHasSecondsAndTheOffset) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  auto zone = [](const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  };
  const int64_t s = 1000000000LL;
  zone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(IsoLocalTime(1796781600 * s), "2026-12-09T03:00:00+01:00");
  EXPECT_EQ(IsoLocalTime(1781409599 * s + 999999999), "2026-06-14T05:59:59+02:00");
  zone("UTC0");
  EXPECT_EQ(IsoLocalTime(0), "1970-01-01T00:00:00+00:00");
  EXPECT_EQ(IsoLocalTime(-1), "1969-12-31T23:59:59+00:00");  // rounded towards the past
  zone("EST5");
  EXPECT_EQ(IsoLocalTime(0), "1969-12-31T19:00:00-05:00");
  zone("IST-5:30");
  EXPECT_EQ(IsoLocalTime(0), "1970-01-01T05:30:00+05:30");
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace tessarook
