// SPDX-License-Identifier: GPL-3.0-or-later
// Rules of the desktop program that are not windows: size texts, the status
// bar's progress and summary lines, placement fitting, the second-start channel.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "shell/InstanceChannel.h"
#include "shell/StatusTexts.h"
#include "shell/ThrottledProgress.h"
#include "shell/WindowPlacement.h"
#include "util/ProgressText.h"

namespace fs = std::filesystem;
using namespace tessarook;

TEST(StatusTexts, SizesReadAsPeopleReadThemAndExactlyInProperties) {
  EXPECT_EQ(FormatFileSize(0), "0 bytes");
  EXPECT_EQ(FormatFileSize(1), "1 byte");
  EXPECT_EQ(FormatFileSize(999), "999 bytes");
  EXPECT_EQ(FormatFileSize(1000), "1.0 kB");
  EXPECT_EQ(FormatFileSize(1472756553), "1.5 GB");  // the walk-through's Backup
  EXPECT_EQ(FormatFileSize(312400000), "312.4 MB");
  EXPECT_EQ(FormatFileSize(999960), "1.0 MB");  // rounds up into the next unit, not "1000.0 kB"
  EXPECT_EQ(FormatFileSize(UINT64_MAX), "18.4 EB");
  EXPECT_EQ(FormatExactBytes(1472756553), "1,472,756,553 bytes");
  EXPECT_EQ(FormatExactBytes(1), "1 byte");
  EXPECT_EQ(FormatExactBytes(999), "999 bytes");
  EXPECT_EQ(FormatCount(1000), "1,000");
  EXPECT_EQ(FormatCount(UINT64_MAX), "18,446,744,073,709,551,615");
}

TEST(StatusTexts, ByteProgressShowsBytesRateAndTimeLeftOnceKnown) {
  EXPECT_EQ(ByteProgressText(12, 40, false, 0, 0, -1), "12 of 40 files");
  EXPECT_EQ(ByteProgressText(0, 1, false, 0, 0, -1), "0 of 1 file");
  EXPECT_EQ(ByteProgressText(3, 9, true, 246000000, 1800000000, -1), "246.0 MB of 1.8 GB");
  EXPECT_EQ(ByteProgressText(3, 9, true, 246000000, 1800000000, 100e6),
            "246.0 MB of 1.8 GB, 100.0 MB/s, 0:16 left");
  // A file that grew past the total: nothing left, not a wrapped-around number.
  EXPECT_EQ(ByteProgressText(9, 9, true, 2000, 1000, 1000),
            "2.0 kB of 1.0 kB, 1.0 kB/s, 0:00 left");

  // The rate follows the last few seconds of the count.
  CRateMeter meter;
  meter.Add(0, 0);
  EXPECT_LT(meter.Rate(), 0);  // not known yet
  for (int64_t ms = 200; ms <= 10000; ms += 200) meter.Add(uint64_t(ms) * 1000, ms);  // 1 MB/s
  EXPECT_NEAR(meter.Rate(), 1e6, 1e3);
  for (int64_t ms = 10200; ms <= 20000; ms += 200)
    meter.Add(10000000 + uint64_t(ms - 10000) * 3000, ms);  // then 3 MB/s
  EXPECT_NEAR(meter.Rate(), 3e6, 3e3);
  meter.Add(5, 20200);  // started over
  EXPECT_LT(meter.Rate(), 0);
}

// The window hears the first count, the start, the end and the first byte
// count at once; counts in between only once the interval has passed, and
// then with the latest of both counts.
TEST(ThrottledProgress, BeginningsAndEndsAlwaysGoAndTheRestWaitsForTheInterval) {
  struct Seen : CThrottledProgress {
    explicit Seen(std::chrono::milliseconds interval) : CThrottledProgress(interval) {}
    std::vector<ProgressCounts> got;
    void Deliver(const ProgressCounts& counts) override { got.push_back(counts); }
  };
  Seen slow(std::chrono::hours(1));
  slow.OnProgress(0, 4);   // start
  slow.OnProgress(1, 4);   // too soon
  slow.OnBytes(10, 100);   // the first byte count
  slow.OnBytes(50, 100);   // too soon
  slow.OnProgress(2, 4);   // too soon
  slow.OnProgress(4, 4);   // end of the files, with the latest bytes
  slow.OnBytes(120, 100);  // a file grew: past the total is an end too
  ASSERT_EQ(slow.got.size(), 4u);
  EXPECT_EQ(slow.got[0].files, 0u);
  EXPECT_FALSE(slow.got[0].haveBytes);
  EXPECT_EQ(slow.got[1].files, 1u);
  EXPECT_TRUE(slow.got[1].haveBytes);
  EXPECT_EQ(slow.got[1].bytes, 10u);
  EXPECT_EQ(slow.got[2].files, 4u);
  EXPECT_EQ(slow.got[2].bytes, 50u);
  EXPECT_EQ(slow.got[3].bytes, 120u);
  EXPECT_EQ(slow.Bytes(), 120u);

  Seen fast(std::chrono::milliseconds(0));
  for (uint64_t i = 0; i <= 5; ++i) fast.OnBytes(i, 10);
  EXPECT_EQ(fast.got.size(), 6u);
}

TEST(StatusTexts, SummarySaysWhatHappenedAndTheDetailsNameTheFiles) {
  OperationSummary backup;
  backup.what = "Backup \"Daily\"";
  backup.files = 1234;
  backup.bytes = 1472756553;
  backup.seconds = 42;
  EXPECT_EQ(SummaryText(backup), "Backup \"Daily\" finished: 1,234 files, 1.5 GB in 0:42.");
  EXPECT_FALSE(backup.HasDetails());
  backup.skipped = {{"/home/u/locked.db", "permission denied"}, {"/home/u/gone", ""}};
  backup.changed = {"/home/u/log.txt"};
  EXPECT_EQ(SummaryText(backup),
            "Backup \"Daily\" finished: 1,234 files, 1.5 GB in 0:42; 2 files skipped, 1 changed "
            "while read.");
  EXPECT_TRUE(backup.HasDetails());
  EXPECT_EQ(
      SummaryDetails(backup),
      (std::vector<std::string>{"Skipped: /home/u/locked.db (permission denied)",
                                "Skipped: /home/u/gone", "Changed while read: /home/u/log.txt"}));
  // A long list is cut, and says by how much.
  EXPECT_EQ(SummaryDetails(backup, 2),
            (std::vector<std::string>{"Skipped: /home/u/locked.db (permission denied)",
                                      "... and 2 more"}));

  OperationSummary one;
  one.what = "Import of \"trip\"";
  one.files = 1;
  EXPECT_EQ(SummaryText(one), "Import of \"trip\" finished: 1 file in 0:00.");
  one.outcome = OperationSummary::Outcome::kCancelled;
  EXPECT_EQ(SummaryText(one), "Import of \"trip\" was cancelled.");
  one.outcome = OperationSummary::Outcome::kFailed;
  one.error = "No space left on device";
  EXPECT_EQ(SummaryText(one), "Import of \"trip\" failed: No space left on device");

  // A restore says what became of its files.
  OperationSummary restore;
  restore.what = "Restore of \"Daily\"";
  restore.files = 8;
  restore.breakdown = "2 created, 1 replaced, 5 already identical";
  restore.bytes = 1500;
  restore.skipped.emplace_back("/home/u/ro.txt", "read-only");
  EXPECT_EQ(SummaryText(restore),
            "Restore of \"Daily\" finished: 8 files (2 created, 1 replaced, 5 already identical), "
            "1.5 kB in 0:00; 1 file skipped.");
}

TEST(WindowPlacementFit, ARestoredPlacementLiesWhollyInTheWorkArea) {
  CWindowPlacement saved;
  saved.x = 100;
  saved.y = 80;
  saved.width = 1920;  // saved at GDK_SCALE=1 on a larger display
  saved.height = 1360;
  const CWindowPlacement fitted = saved.FittedInto(0, 27, 1280, 997);  // panel on top
  EXPECT_EQ(fitted.x, 0);
  EXPECT_EQ(fitted.y, 27);
  EXPECT_EQ(fitted.width, 1280);
  EXPECT_EQ(fitted.height, 997);

  // Partly off the bottom-right: moved in, size kept.
  saved = CWindowPlacement{1000, 900, 640, 480, true};
  EXPECT_EQ(saved.FittedInto(0, 0, 1280, 1024), (CWindowPlacement{640, 544, 640, 480, true}));
  // Off to the left of a second display's area: moved in.
  saved = CWindowPlacement{-300, 10, 640, 480, false};
  EXPECT_EQ(saved.FittedInto(1280, 0, 1920, 1080), (CWindowPlacement{1280, 10, 640, 480, false}));
  // Inside already: unchanged. No area known: unchanged.
  saved = CWindowPlacement{30, 40, 640, 480, false};
  EXPECT_EQ(saved.FittedInto(0, 0, 1280, 1024), saved);
  EXPECT_EQ(saved.FittedInto(0, 0, 0, 0), saved);
}

namespace {

class RuntimeDir {
 public:
  RuntimeDir() {
    m_path = fs::temp_directory_path() /
             ("tessarook-run-" + std::to_string(getpid()) + "-" + std::to_string(s_counter++));
    fs::create_directories(m_path);
    fs::permissions(m_path, fs::perms::owner_all);
  }
  ~RuntimeDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  std::string Str() const { return m_path.string(); }

 private:
  static inline int s_counter = 0;
  fs::path m_path;
};

// Sends raw bytes to the socket and returns what comes back.
std::string SendRaw(const std::string& path, const std::string& bytes, bool closeWrite) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return "<no connection>";
  }
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += size_t(n);
  }
  if (closeWrite) shutdown(fd, SHUT_WR);
  std::string answer;
  char buffer[64];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, size_t(n));
  close(fd);
  return answer;
}

}  // namespace

TEST(InstanceChannel, MessagesCarryTheCommandLineAndRefuseAnythingMalformed) {
  const std::vector<std::string> args = {"/home/u/My Schemes/Home.tsbak", "", "/x/ä b.csm"};
  EXPECT_EQ(DecodeInstanceMessage(EncodeInstanceMessage(args)), args);
  EXPECT_EQ(DecodeInstanceMessage(EncodeInstanceMessage({})), std::vector<std::string>{});
  EXPECT_FALSE(DecodeInstanceMessage("hello"));
  EXPECT_FALSE(DecodeInstanceMessage(EncodeInstanceMessage(args) + "unterminated"));
  EXPECT_FALSE(DecodeInstanceMessage(EncodeInstanceMessage(std::vector<std::string>(33, "a"))));
  EXPECT_FALSE(DecodeInstanceMessage(EncodeInstanceMessage({std::string(70000, 'x')})));

  EXPECT_EQ(AbsoluteArgument("Home.tsbak", "/home/u"), "/home/u/Home.tsbak");
  EXPECT_EQ(AbsoluteArgument("/abs/Home.tsbak", "/home/u"), "/abs/Home.tsbak");
  EXPECT_EQ(AbsoluteArgument("", "/home/u"), "");
  EXPECT_EQ(InstanceSocketPath("/run/user/1000"),
            "/run/user/1000/tessarook-" + std::to_string(geteuid()) + ".sock");
}

TEST(InstanceChannel, TheRunningProgramHearsOnlyWholeMessagesOfItsUser) {
  RuntimeDir dir;
  const std::string path = InstanceSocketPath(dir.Str());
  std::mutex mutex;
  std::vector<std::vector<std::string>> received;
  CInstanceServer server;
  ASSERT_TRUE(server.Start(path, [&](std::vector<std::string> args) {
    std::lock_guard<std::mutex> lock(mutex);
    received.push_back(std::move(args));
  }));
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  EXPECT_TRUE(SendToRunningInstance(path, {"/a/Home.tsbak"}));
  EXPECT_TRUE(SendToRunningInstance(path, {}));
  // Malformed and oversized messages are dropped without an answer.
  EXPECT_EQ(SendRaw(path, "GET / HTTP/1.0\r\n\r\n", true), "");
  EXPECT_EQ(SendRaw(path, "tessarook-open 1\n" + std::string(70000, 'x') + '\0', true), "");
  // A client that never finishes its message is given up on (bounded time), and
  // the server goes on serving others afterwards.
  EXPECT_EQ(SendRaw(path, "tessarook-open 1\n/half", false), "");
  EXPECT_TRUE(SendToRunningInstance(path, {"/b/trip.csm"}));
  EXPECT_EQ(server.Refused(), 3u);
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(received,
              (std::vector<std::vector<std::string>>{{"/a/Home.tsbak"}, {}, {"/b/trip.csm"}}));
  }

  // A second server at the same place refuses while the first answers.
  CInstanceServer second;
  std::string why;
  EXPECT_FALSE(second.Start(path, {}, &why));
  EXPECT_FALSE(why.empty());
  server.Stop();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(SendToRunningInstance(path, {"/a"}));  // nobody there: the caller starts itself
}

TEST(InstanceChannel, ASocketLeftByACrashedRunIsReplacedButNothingElseIs) {
  RuntimeDir dir;
  const std::string path = InstanceSocketPath(dir.Str());
  {
    // A bound socket nobody listens at any more.
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
  }
  CInstanceServer server;
  EXPECT_TRUE(server.Start(path, {}));
  server.Stop();

  // A plain file in the way is not deleted.
  {
    FILE* f = fopen(path.c_str(), "w");
    fclose(f);
  }
  EXPECT_FALSE(server.Start(path, {}));
  EXPECT_TRUE(fs::is_regular_file(path));
  // A path too long for a socket is refused, not cut.
  EXPECT_FALSE(server.Start(dir.Str() + "/" + std::string(120, 'x'), {}));
}
