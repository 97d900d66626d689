// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// File systems that share blocks between files (XFS with reflink, btrfs),
// made on loop images for a test, and a count of the bytes a file shares.

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BackupTestSupport.h"

namespace backup_test {

// A file system of the given kind ("xfs" or "btrfs") on a sparse image in a
// scratch folder, mounted through a loop device while the object lives.
// Needs root and loop devices; Error() says why there is none.
class LoopFs {
 public:
  explicit LoopFs(const std::string& kind) {
    const std::string image = dir_ / "fs.img";
    mount_ = dir_ / "mnt";
    fs::create_directories(mount_);
    const std::string mkfs = kind == "xfs" ? "mkfs.xfs -q -m reflink=1 " : "mkfs.btrfs -q ";
    if (geteuid() != 0) {
      error_ = "loop mounts need root";
    } else if (!HaveTool(kind == "xfs" ? "mkfs.xfs" : "mkfs.btrfs")) {
      error_ = "mkfs for " + kind + " is not installed";
    } else if (Shell("truncate -s 320M " + Quote(image)).status != 0 ||
               Shell(mkfs + Quote(image) + " >/dev/null 2>&1").status != 0) {
      error_ = "cannot make a " + kind + " image";
    } else if (Shell("mount -o loop " + Quote(image) + " " + Quote(mount_) + " 2>&1").status != 0) {
      error_ = "loop mounts are not allowed here";
    } else {
      mounted_ = true;
    }
  }
  ~LoopFs() {
    if (mounted_) Shell("umount " + Quote(mount_) + " 2>&1");
  }
  LoopFs(const LoopFs&) = delete;
  LoopFs& operator=(const LoopFs&) = delete;

  bool Ok() const { return mounted_; }
  const std::string& Error() const { return error_; }
  std::string operator/(const std::string& rel) const { return mount_ + "/" + rel; }

 private:
  TempDir dir_;
  std::string mount_;
  bool mounted_ = false;
  std::string error_;
};

// Bytes of the file that lie in extents shared with another file (after
// writing everything out).
inline uint64_t SharedBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  constexpr unsigned kExtents = 256;
  std::vector<char> buffer(sizeof(fiemap) + kExtents * sizeof(fiemap_extent));
  auto* map = reinterpret_cast<fiemap*>(buffer.data());
  uint64_t shared = 0;
  uint64_t start = 0;
  for (bool last = false; !last;) {
    std::fill(buffer.begin(), buffer.end(), 0);
    map->fm_start = start;
    map->fm_length = ~0ull - start;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = kExtents;
    if (ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0) break;
    for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
      const fiemap_extent& e = map->fm_extents[i];
      if (e.fe_flags & FIEMAP_EXTENT_SHARED) shared += e.fe_length;
      start = e.fe_logical + e.fe_length;
      if (e.fe_flags & FIEMAP_EXTENT_LAST) last = true;
    }
  }
  ::close(fd);
  return shared;
}

}  // namespace backup_test
