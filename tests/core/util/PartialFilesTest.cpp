// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "DeadProcess.h"
#include "TempFolder.h"
#include "util/PartialFiles.h"

namespace tessarook {
namespace {

namespace fs = std::filesystem;
using test::DeadProcessId;
using test::TempFolder;
using test::WriteText;

TEST(PartialFilesTest, NamesOfPartialsAndOfFinishedFiles) {
  const std::string pid = std::to_string(getpid());
  for (const std::string& name :
       {".Mon.zip." + pid + ".partial", ".S.tsbak." + pid + ".tmp-a1B2c3",
        ".tessarook-" + pid + "-0.part", ".tessarook-copy-" + pid + "-12.part",
        ".tessarook-export-" + pid + "-9f3a.part", ".out.zip.part-" + pid}) {
    EXPECT_EQ(ParsePartialName(name).kind, PartialKind::kFile) << name;
    EXPECT_EQ(ParsePartialName(name).owner, getpid()) << name;
  }
  EXPECT_EQ(ParsePartialName(".tessarook-import-" + pid + "-0a").kind, PartialKind::kFolder);
  EXPECT_EQ(ParsePartialName(".a b.zip.lock").kind, PartialKind::kLock);
  // Finished files, and names that only look alike, are nobody's partials.
  for (const char* name :
       {"Mon.zip", ".Mon.zip", "S.tsbak", "Mon.zip.12.partial", ".Mon.zip.1x.partial",
        "..zip.12.partial", ".Mon.txt.12.partial", ".tessarook-12-x.part",
        ".tessarook-copy-12.part", ".tessarook-0-1.part", ".S.tsbak.12.tmp-abc", ".zip.lock",
        ".settings.xml.tmp-abcdef", ".tessarook-import-12"})
    EXPECT_FALSE(IsPartialName(name)) << name;
}

// Only partials whose writers are gone go: a partial someone holds locked,
// and one whose process may still write it, stay; links are not followed.
TEST(PartialFilesTest, RemovesThePartialsOfProcessesThatAreGone) {
  TempFolder tmp;
  auto path = [&](const std::string& name) { return tmp.Path(name); };
  const std::string dead = std::to_string(DeadProcessId());
  const std::string self = std::to_string(getpid());
  const std::string deadBackup = ".b.zip." + dead + ".partial";
  const std::string deadRestore = ".tessarook-" + dead + "-3.part";
  const std::string deadImport = ".tessarook-import-" + dead + "-ab";
  const std::string heldByDead = ".c.zip." + dead + ".partial";
  const std::string ours = ".d.zip." + self + ".partial";
  const std::string reused = ".e.zip." + self + ".partial";  // older than this process
  const std::string freeLock = ".f.zip.lock", heldLock = ".g.zip.lock";
  const std::string link = ".h.zip." + dead + ".partial";
  for (const std::string& name :
       {deadBackup, deadRestore, heldByDead, ours, reused, freeLock, std::string("b.zip")})
    WriteText(path(name), "x");
  fs::create_directories(path(deadImport + "/backups"));
  WriteText(path(deadImport + "/backups/m.zip"), "x");
  fs::create_directory(path("kept"));
  WriteText(path("kept/target"), "target");
  fs::create_symlink(path("kept/target"), path(link));
  const struct timespec old[2] = {{0, UTIME_OMIT}, {946684800, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path(reused).c_str(), old, 0), 0);
  const int held = OpenLockedPartial(path(heldByDead), false);
  const int lock = OpenLockedPartial(path(heldLock), true);
  ASSERT_GE(held, 0);
  ASSERT_GE(lock, 0);
  // A second writer cannot take a partial that is held.
  EXPECT_EQ(OpenLockedPartial(path(heldLock), false), -1);

  EXPECT_EQ(RemoveStalePartials(tmp.Path()), 5u);
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(tmp.Path())) left.insert(e.path().filename());
  EXPECT_EQ(left, (std::set<std::string>{"b.zip", "kept", heldByDead, ours, heldLock, link}));
  EXPECT_TRUE(fs::exists(path("kept/target")));
  ::close(held);
  ::close(lock);
  EXPECT_EQ(RemoveStalePartials(tmp.Path()), 2u);  // released: now they go too
  EXPECT_EQ(RemoveStalePartials(tmp.Path() + "/missing"), 0u);
}

}  // namespace
}  // namespace tessarook
