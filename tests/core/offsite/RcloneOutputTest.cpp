// SPDX-License-Identifier: GPL-3.0-or-later
// Reading what rclone prints: JSON documents, log lines, remote names.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "library/SchemePush.h"
#include "offsite/Offsite.h"
#include "offsite/Rclone.h"
#include "util/JsonReader.h"

namespace tessarook {
namespace {

TEST(JsonReader, ReadsRcloneListingsAndRefusesMalformedOrDeepText) {
  CJsonValue v;
  ASSERT_TRUE(
      v.Parse(R"j([{"Path":"b\u00e9 1.zip","Name":"b\u00e9 1.zip","Size":5000000000,)j"
              R"j("ModTime":"2026-12-10T00:57:48Z","IsDir":false,"x":[1,-2.5e3,null,{}]}])j"));
  ASSERT_TRUE(v.IsArray());
  ASSERT_EQ(v.Items().size(), 1u);
  const CJsonValue& e = v.Items()[0];
  EXPECT_EQ(e.TextOf("Name"), "b\xC3\xA9 1.zip");
  EXPECT_EQ(e.IntOf("Size"), 5000000000);
  EXPECT_FALSE(e.Find("IsDir")->Bool(true));
  EXPECT_EQ(e.Find("x")->Items()[1].Int(), -2500);
  EXPECT_EQ(e.IntOf("Name", 7), 7);  // a string is no number
  EXPECT_EQ(e.TextOf("missing", "none"), "none");
  ASSERT_TRUE(v.Parse(R"j({"s":"\ud83d\ude00\"\\\/\n"})j"));
  EXPECT_EQ(v.TextOf("s"), "\xF0\x9F\x98\x80\"\\/\n");

  for (const char* bad : {"", "[", "{\"a\":}", "[1,]", "{\"a\" 1}", "\"\\ud800\"", "\"a\nb\"",
                          "[1] 2", "tru", "-", "1.", "{\"a\":1,}", "\"\\x\""}) {
    EXPECT_FALSE(v.Parse(bad)) << bad;
    EXPECT_EQ(v.GetType(), CJsonValue::Type::kNull) << bad;
  }
  EXPECT_TRUE(v.Parse(std::string(60, '[') + std::string(60, ']')));
  EXPECT_FALSE(v.Parse(std::string(100000, '[') + std::string(100000, ']')));
}

TEST(RcloneLog, TakesProgressEventsAndTheLastReason) {
  RcloneResult r;
  std::vector<std::pair<uint64_t, uint64_t>> seen;
  const ByteProgress progress = [&](uint64_t d, uint64_t t) { seen.emplace_back(d, t); };
  for (
      const char* line :
      {R"j({"level":"info","msg":"Copied (new)","object":"S.tsbak.backups/b1.zip"})j",
       R"j({"level":"warning","msg":"\nTransferred: ...","stats":{"bytes":300,"totalBytes":900,"transfers":1}})j",
       R"j({"level":"error","msg":"Failed to copy: no space left on device","object":"S.tsbak.backups/b2.zip"})j",
       "2026/12/10 01:01:50 NOTICE: Config file \"x\" not found - using defaults", "not json {"}) {
    TakeRcloneLogLine(line, r, progress);
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(uint64_t{300}, uint64_t{900}));
  EXPECT_EQ(r.transfers, 1);
  EXPECT_EQ(r.Objects("Copied"), std::vector<std::string>{"S.tsbak.backups/b1.zip"});
  EXPECT_EQ(r.reason, "not json {");
  TakeRcloneLogLine("2026/12/10 01:01:50 Failed to copy: directory not found", r, progress);
  EXPECT_EQ(r.reason, "Failed to copy: directory not found");
  RcloneResult e;
  TakeRcloneLogLine(
      R"j({"level":"error","msg":"Failed to copy: no space left on device","object":"b2.zip"})j", e,
      {});
  EXPECT_EQ(e.reason, "b2.zip: Failed to copy: no space left on device");
}

TEST(RcloneLog, DebugLinesNameTheKindOfRemoteAndGiveNoReason) {
  RcloneResult r;
  for (
      const char* line :
      {"2026/12/10 09:51:29 DEBUG : Setting --config \"/x/rclone.conf\" from environment",
       R"j({"level":"debug","msg":"Waiting for checks to finish","object":"Encrypted drive 'c:nas'","objectType":"*crypt.Fs"})j",
       R"j({"level":"debug","msg":"Waiting for checks to finish","object":"webdav root 'nas'","objectType":"*webdav.Fs"})j",
       R"j({"level":"info","msg":"Copied (new)","object":"b1.zip","objectType":"*local.Object"})j",
       R"j({"level":"info","msg":"Moved (server-side)","object":"b1.zip","objectType":"*sftp.Object"})j",
       R"j({"level":"debug","msg":"5 go routines active","object":"x"})j"})
    TakeRcloneLogLine(line, r, {});
  EXPECT_EQ(r.reason, "");
  std::vector<std::string> kinds;
  for (const RcloneEvent& e : r.events) kinds.push_back(RemoteKindOf(e));
  EXPECT_EQ(kinds, (std::vector<std::string>{"crypt", "webdav", "", "sftp", ""}));
  EXPECT_EQ(RemoteKindOf({"info", "m", "o", "crypt"}), "");  // not a Go type
  EXPECT_EQ(RemoteKindOf({"info", "m", "o", "*"}), "");
}

TEST(RemoteNames, ChildPathsAndWhichRemotesEncrypt) {
  EXPECT_EQ(RemoteChild("nas:", "S.tsbak"), "nas:S.tsbak");
  EXPECT_EQ(RemoteChild("nas:dir", "S.tsbak"), "nas:dir/S.tsbak");
  EXPECT_EQ(RemoteChild("nas:dir/", "S.tsbak"), "nas:dir/S.tsbak");
  EXPECT_EQ(SchemeNameOf("/a/b/My S.tsbak"), "My S");

  const std::string remotes = "box:     drive\nsafe:    crypt\nsafer:   crypt\r\nsafe2:   sftp\n";
  EXPECT_TRUE(IsEncryptedIn("safe:backups", remotes));
  EXPECT_TRUE(IsEncryptedIn("safer:", remotes));
  EXPECT_TRUE(IsEncryptedIn("safe,password2=x:b", remotes));
  EXPECT_FALSE(IsEncryptedIn("safe2:b", remotes));
  EXPECT_FALSE(IsEncryptedIn("box:b", remotes));
  EXPECT_FALSE(IsEncryptedIn("unknown:b", remotes));
  EXPECT_FALSE(IsEncryptedIn("/mnt/nas/b:c", remotes));  // a local path
  EXPECT_TRUE(IsEncryptedIn(":crypt,remote=box\\:x:b", ""));
  EXPECT_FALSE(IsEncryptedIn(":sftp,host=h:b", ""));

  // The remotes a Scheme's remote is picked from, and a remote split into
  // the choice and the folder the dialog show.
  const std::vector<RcloneRemote> listed = ParseRemoteList(remotes + ":odd\nno colon\nbare:\n");
  ASSERT_EQ(listed.size(), 5u);
  EXPECT_EQ(listed[1].name, "safe");
  EXPECT_EQ(listed[1].type, "crypt");
  EXPECT_EQ(listed[2].type, "crypt");  // no CR kept
  EXPECT_EQ(listed[4].name, "bare");
  EXPECT_EQ(listed[4].type, "");
  std::string name, path;
  for (const auto& [remote, wantName, wantPath] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"nas:backups/home", "nas", "backups/home"},
           {"nas:", "nas", ""},
           {"/mnt/disk/b:c", "", "/mnt/disk/b:c"},
           {"relative", "", "relative"},
           {":sftp,host=h:b/c", ":sftp,host=h", "b/c"}}) {
    SplitRemote(remote, name, path);
    EXPECT_EQ(name, wantName) << remote;
    EXPECT_EQ(path, wantPath) << remote;
  }
}

}  // namespace
}  // namespace tessarook
