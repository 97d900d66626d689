// SPDX-License-Identifier: GPL-3.0-or-later
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "DeadProcess.h"
#include "TempFolder.h"
#include "scheme/Scheme.h"
#include "settings/Settings.h"
#include "util/AtomicFile.h"
#include "util/PartialFiles.h"

namespace tessarook {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::TempFolder;
using test::WriteText;

int CountEntries(const std::string& folder) {
  return static_cast<int>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(AtomicFileTest, ReplacesTheFileKeepsItsModeAndLeavesNoTemporary) {
  TempFolder tmp;
  const std::string path = tmp.Path("settings.xml");
  EXPECT_TRUE(WriteFileAtomic(path, "first"));
  ::chmod(path.c_str(), 0640);
  EXPECT_TRUE(WriteFileAtomic(path, std::string("sec\0ond", 7)));
  EXPECT_EQ(ReadText(path), std::string("sec\0ond", 7));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(CountEntries(tmp.Path()), 1);

  fs::create_directory(tmp.Path("real"));  // through a link: the link stays
  fs::create_symlink(tmp.Path("real/target"), tmp.Path("link"));
  EXPECT_TRUE(WriteFileAtomic(tmp.Path("link"), "via link"));
  EXPECT_TRUE(fs::is_symlink(tmp.Path("link")));
  EXPECT_EQ(ReadText(tmp.Path("real/target")), "via link");
}

TEST(AtomicFileTest, AFailedOrAbandonedWriteKeepsTheOldFile) {
  TempFolder tmp;
  const std::string path = tmp.Path("data");
  WriteText(path, "good data");
  fs::create_directory(tmp.Path("folder"));
  EXPECT_FALSE(WriteFileAtomic(tmp.Path("folder"), "x"));  // the rename fails
  EXPECT_FALSE(WriteFileAtomic(tmp.Path("missing/data"), "x"));
  EXPECT_TRUE(fs::is_empty(tmp.Path("folder")));
  {
    CAtomicFile out;
    ASSERT_TRUE(out.Open(path));
    EXPECT_TRUE(out.Write("new content"));
    EXPECT_TRUE(fs::exists(out.TempPath()));
  }  // dropped without Commit
  EXPECT_EQ(ReadText(path), "good data");
  EXPECT_EQ(CountEntries(tmp.Path()), 2);

  CAtomicFile out;
  ASSERT_TRUE(out.Open(path));
  EXPECT_TRUE(out.Write("new"));
  EXPECT_TRUE(out.Commit());
  EXPECT_FALSE(out.Write("late"));
  EXPECT_EQ(ReadText(path), "new");
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

// A file nobody may write is not replaced, even by root (who could); the
// scheme file and settings saves report it. A file that is replaced keeps its
// owner, group and mode.
TEST(AtomicFileTest, ReadOnlyFilesAreRefusedAndReplacedFilesKeepTheirOwner) {
  TempFolder tmp;
  const std::string path = tmp.Path("locked.txt");
  WriteText(path, "keep me");
  ::chmod(path.c_str(), 0444);
  errno = 0;
  EXPECT_FALSE(WriteFileAtomic(path, "replaced"));
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(ReadText(path), "keep me");
  EXPECT_EQ(CountEntries(tmp.Path()), 1);

  const std::string schemeFile = tmp.Path("S.tsbak");
  ASSERT_EQ(CScheme().Save(schemeFile), SchemeError::kOk);
  ::chmod(schemeFile.c_str(), 0444);
  CScheme scheme;
  scheme.AddFileEntry("/some/file");
  EXPECT_EQ(scheme.Save(schemeFile), SchemeError::kAccessDenied);
  EXPECT_EQ(fs::file_size(schemeFile), 8u);  // still the empty Scheme

  CSettings settings(tmp.Path("settings.xml"));
  settings.SetDefaults();
  ASSERT_TRUE(settings.Save());
  ::chmod(tmp.Path("settings.xml").c_str(), 0400);
  const std::string saved = ReadText(tmp.Path("settings.xml"));
  settings.autorefresh = !settings.autorefresh;
  EXPECT_FALSE(settings.Save());
  EXPECT_EQ(ReadText(tmp.Path("settings.xml")), saved);

  if (geteuid() != 0) GTEST_SKIP() << "giving files away needs root";
  const std::string owned = tmp.Path("owned.txt");
  WriteText(owned, "theirs");
  ASSERT_EQ(::chown(owned.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(owned.c_str(), 0640), 0);
  EXPECT_TRUE(WriteFileAtomic(owned, "still theirs"));
  EXPECT_EQ(ReadText(owned), "still theirs");
  EXPECT_EQ(StatOf(owned).st_uid, 65534u);
  EXPECT_EQ(StatOf(owned).st_gid, 65534u);
  EXPECT_EQ(StatOf(owned).st_mode & 07777, 0640u);

  // An ordinary user may not replace a file it may not write, though the
  // folder lets it create files; it may replace its own writable file.
  ASSERT_EQ(::chown(tmp.Path().c_str(), 65534, 65534), 0);
  const std::string own = tmp.Path("own.txt");
  WriteText(own, "mine");
  ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(owned.c_str(), 0444), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0)
      _exit(2);
    const bool refused = !WriteFileAtomic(owned, "x") && !WriteFileAtomic(path, "x");
    const bool allowed = WriteFileAtomic(own, "mine, saved");
    _exit(refused && allowed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadText(owned), "still theirs");
  EXPECT_EQ(ReadText(own), "mine, saved");
  EXPECT_EQ(StatOf(own).st_uid, 65534u);
}

// The temporary file names its process and is held locked while written; one
// a killed save left behind goes at the next save in that folder.
TEST(AtomicFileTest, TemporariesAreHeldAndStaleOnesGoAtTheNextSave) {
  TempFolder tmp;
  const std::string path = tmp.Path("settings.xml");
  const std::string stale =
      tmp.Path(".settings.xml." + std::to_string(test::DeadProcessId()) + ".tmp-Ab12Cd");
  WriteText(stale, "half a save");
  CAtomicFile out;
  ASSERT_TRUE(out.Open(path));
  EXPECT_FALSE(fs::exists(stale));
  const std::string temp = fs::path(out.TempPath()).filename();
  EXPECT_EQ(ParsePartialName(temp).owner, getpid()) << temp;
  EXPECT_EQ(OpenLockedPartial(out.TempPath(), false), -1);  // held by the writer
  EXPECT_TRUE(out.Write("<settings/>"));
  EXPECT_TRUE(out.Commit());
  EXPECT_EQ(CountEntries(tmp.Path()), 1);
}

}  // namespace
}  // namespace tessarook
