// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "TestFiles.h"
#include "exchange/RawFile.h"
#include "util/FileBytes.h"

namespace tessarook {
namespace {

using namespace tessarook::testing;

// The copy takes the kernel's way when both sides stand on a page boundary and
// goes through its buffer otherwise; every combination must give the same bytes,
// across several buffer fills and with the buffer reused from one call to the next.
TEST(CopyBytes, EveryAlignmentOfSourceAndTargetGivesTheSameBytes) {
  TempDir tmp;
  const std::string data = RandomBytes((3 << 20) + 3 * 4096 + 5, 7);
  WriteFile(tmp / "source", data);
  CRawFile source;
  ASSERT_TRUE(source.OpenRead(tmp / "source"));
  std::vector<char> buffer;
  const uint64_t length = (5 << 19) + 3;  // 2.5 MiB and a little
  for (uint64_t from : {0ull, 4096ull, 13ull}) {
    for (size_t prefix : {0ul, 4096ul, 7ul}) {
      SCOPED_TRACE("source at " + std::to_string(from) + ", target at " + std::to_string(prefix));
      CRawFile target;
      ASSERT_TRUE(target.CreateTruncate(tmp / "target"));
      const std::string head(prefix, 'h');
      ASSERT_TRUE(target.WriteAll(head.data(), head.size()));
      uint64_t offset = from;
      const CopyOutcome c = CopyBytes(source.Fd(), &offset, target.Fd(), length, buffer);
      EXPECT_EQ(c.status, CopyOutcome::kOk);
      EXPECT_EQ(c.copied, length);
      EXPECT_EQ(offset, from + length);
      ASSERT_TRUE(target.Close());
      EXPECT_TRUE(ReadFile(tmp / "target") == head + data.substr(from, length));
    }
  }
}

TEST(CopyBytes, EndsAtTheSourcesEndAndTellsReadFromWriteFaults) {
  TempDir tmp;
  const std::string data = RandomBytes((1 << 20) + 100, 8);
  WriteFile(tmp / "source", data);
  CRawFile source;
  ASSERT_TRUE(source.OpenRead(tmp / "source"));
  std::vector<char> buffer;

  // Without an offset the source's own position is used and advanced; asking for
  // more than is left copies what is left.
  ASSERT_EQ(::lseek(source.Fd(), 50, SEEK_SET), 50);
  CRawFile target;
  ASSERT_TRUE(target.CreateTruncate(tmp / "target"));
  const CopyOutcome rest = CopyBytes(source.Fd(), nullptr, target.Fd(), 1ull << 30, buffer);
  EXPECT_EQ(rest.status, CopyOutcome::kOk);
  EXPECT_EQ(rest.copied, data.size() - 50);
  EXPECT_EQ(::lseek(source.Fd(), 0, SEEK_CUR), static_cast<off_t>(data.size()));
  ASSERT_TRUE(target.Close());
  EXPECT_TRUE(ReadFile(tmp / "target") == data.substr(50));

  // A target that cannot be written, and a source that cannot be read.
  const int readOnly = ::open((tmp / "target").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(readOnly, 0);
  uint64_t offset = 0;
  EXPECT_EQ(CopyBytes(source.Fd(), &offset, readOnly, 4096, buffer).status,
            CopyOutcome::kWriteError);
  offset = 13;
  EXPECT_EQ(CopyBytes(source.Fd(), &offset, readOnly, 4096, buffer).status,
            CopyOutcome::kWriteError);
  const int folder = ::open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  CRawFile out;
  ASSERT_TRUE(out.CreateTruncate(tmp / "out"));
  offset = 0;
  EXPECT_EQ(CopyBytes(folder, &offset, out.Fd(), 4096, buffer).status, CopyOutcome::kReadError);
  ::close(folder);
  ::close(readOnly);
}

// Exact reads: the bytes asked for, or false with errno 0 when the file ends
// first (keeping what was there) and errno set when it cannot be read.
TEST(ReadAllAt, ReadsExactlyOrTellsTheEndFromAFault) {
  TempDir tmp;
  const std::string data = RandomBytes((1 << 20) + 77, 9);
  WriteFile(tmp / "source", data);
  CRawFile source;
  ASSERT_TRUE(source.OpenRead(tmp / "source"));
  ASSERT_EQ(::lseek(source.Fd(), 5, SEEK_SET), 5);
  std::string got(data.size() - 1000, '\0');
  ASSERT_TRUE(ReadAllAt(source.Fd(), got.data(), got.size(), 1000));
  EXPECT_TRUE(got == data.substr(1000));
  EXPECT_EQ(::lseek(source.Fd(), 0, SEEK_CUR), 5);  // the position stays
  EXPECT_TRUE(ReadAllAt(source.Fd(), nullptr, 0, data.size() + 10));

  got.assign(101, '#');
  errno = EINVAL;
  EXPECT_FALSE(ReadAllAt(source.Fd(), got.data(), got.size(), data.size() - 100));
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(got.substr(0, 100), data.substr(data.size() - 100));
  EXPECT_FALSE(source.ReadAt(got.data(), 1, data.size()));

  const int folder = ::open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  EXPECT_FALSE(ReadAllAt(folder, got.data(), 1, 0));
  EXPECT_EQ(errno, EISDIR);
  ::close(folder);
}

}  // namespace
}  // namespace tessarook
