// SPDX-License-Identifier: GPL-3.0-or-later
// The byte-counting progress line: sizes, rate, time left and throttling,
// driven by a clock the test sets.

#include <gtest/gtest.h>

#include <string>

#include "util/ProgressText.h"

namespace tessarook {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

TEST(ProgressTextTest, SizesAndDurations) {
  EXPECT_EQ(FormatSize(0), "0 B");
  EXPECT_EQ(FormatSize(1023), "1023 B");
  EXPECT_EQ(FormatSize(1024), "1.0 KiB");
  EXPECT_EQ(FormatSize(1536), "1.5 KiB");
  EXPECT_EQ(FormatSize(102297), "99.9 KiB");
  EXPECT_EQ(FormatSize(102349), "100 KiB");  // 99.95 rounds up: not "100.0 KiB"
  EXPECT_EQ(FormatSize(102400), "100 KiB");
  EXPECT_EQ(FormatSize(1048575), "1.0 MiB");  // not "1024 KiB"
  EXPECT_EQ(FormatSize(312 * kMiB), "312 MiB");
  EXPECT_EQ(FormatSize(4096 * kMiB), "4.0 GiB");
  EXPECT_EQ(FormatSize(UINT64_MAX), "16.0 EiB");
  EXPECT_EQ(FormatRate(85.3 * kMiB), "85.3 MiB/s");
  EXPECT_EQ(FormatRate(0), "0 B/s");

  EXPECT_EQ(FormatDuration(0), "0:00");
  EXPECT_EQ(FormatDuration(0.2), "0:01");
  EXPECT_EQ(FormatDuration(59.5), "1:00");
  EXPECT_EQ(FormatDuration(754), "12:34");
  EXPECT_EQ(FormatDuration(3600), "1:00:00");
  EXPECT_EQ(FormatDuration(-3), "0:00");
}

TEST(ProgressTextTest, RedrawsAtMostTenTimesASecond) {
  CProgressLine line("Backup");
  int draws = 0;
  for (int64_t ms = 0; ms < 1000; ++ms) {
    line.SetBytes(static_cast<uint64_t>(ms) * kMiB, 1000 * kMiB, ms);
    if (line.RedrawDue(ms)) ++draws;
  }
  EXPECT_EQ(draws, 10);
  EXPECT_TRUE(line.RedrawDue(1000));
  EXPECT_FALSE(line.RedrawDue(1099));
  EXPECT_TRUE(line.RedrawDue(1100));
}

TEST(ProgressTextTest, BytesMoveInsideOneLargeFile) {
  // One 1 GiB file: the file count stays 0/1 while the bytes, the bar, the
  // rate and the time left move.
  CProgressLine line("Backup");
  const uint64_t total = 1024 * kMiB;
  line.SetFiles(0, 1);
  line.SetBytes(0, total, 0);
  EXPECT_EQ(line.Rate(), -1);
  EXPECT_EQ(line.Text(80), "Backup [....................] 0/1 files, 0 B/1.0 GiB");

  line.SetBytes(100 * kMiB, total, 1000);
  EXPECT_DOUBLE_EQ(line.Rate(), 100.0 * kMiB);
  EXPECT_EQ(line.Text(80),
            "Backup [#...................] 0/1 files, 100 MiB/1.0 GiB, 100 MiB/s, 0:10 left");
  for (int64_t ms = 1200; ms <= 10000; ms += 200)
    line.SetBytes(static_cast<uint64_t>(ms) / 10 * kMiB, total, ms);  // still 100 MiB/s
  line.SetBytes(1001 * kMiB, total, 10005);
  const std::string text = line.Text(80);
  EXPECT_EQ(text,
            "Backup [###################.] 0/1 files, 1001 MiB/1.0 GiB, 100 MiB/s, 0:01 left");

  // The rate follows the last few seconds: a stall shows within them.
  line.SetBytes(1001 * kMiB, total, 16000);
  EXPECT_LT(line.Rate(), 20.0 * kMiB);
  line.SetFiles(1, 1);
  line.SetBytes(total + 5, total, 16100);  // the file grew while it was read
  EXPECT_NE(line.Text(80).find("[####################] 1/1 files"), std::string::npos);
}

TEST(ProgressTextTest, FitsTheTerminalWidth) {
  CProgressLine files("Verify");
  files.SetFiles(12, 3003);
  EXPECT_EQ(files.Text(80), "Verify [....................] 12/3003");  // no bytes reported

  CProgressLine line("Backup");
  line.SetFiles(3003, 3003);
  line.SetBytes(0, 1023 * kMiB, 0);
  line.SetBytes(1023 * kMiB, 1023 * kMiB, 1000);
  const std::string full = line.Text(200);
  EXPECT_EQ(full,
            "Backup [####################] 3003/3003 files, 1023 MiB/1023 MiB, 1023 MiB/s, 0:00 "
            "left");
  for (size_t width : {70u, 60u, 40u, 20u}) {
    SCOPED_TRACE(width);
    const std::string text = line.Text(width);
    EXPECT_LE(text.size(), width);
    EXPECT_EQ(text.rfind("Backup", 0), 0u);
  }
  EXPECT_EQ(line.Text(70), "Backup 3003/3003 files, 1023 MiB/1023 MiB, 1023 MiB/s, 0:00 left");
  EXPECT_EQ(line.Text(60), "Backup 3003/3003 files, 1023 MiB/1023 MiB, 1023 MiB/s");
  EXPECT_EQ(line.Text(30), "Backup [#####] 3003/3003 files");
  EXPECT_EQ(line.Text(5), "Backu");
}

}  // namespace
}  // namespace tessarook
