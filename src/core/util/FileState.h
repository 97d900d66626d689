// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/stat.h>

namespace tessarook {

// True when `now` shows the same file content as `before` may be trusted to:
// same size, same last-write time and same status-change time (to the
// nanosecond). The last-write time alone is not enough: tools that "keep the
// time" write a file and then give it back its old last-write time, but the
// status-change time moves with every write (and with a change of mode,
// owner or links, which then counts as a change too) and cannot be set back.
// Used to tell a file that changed while it was read.
inline bool SameFileState(const struct stat& before, const struct stat& now) {
  return now.st_size == before.st_size && now.st_mtim.tv_sec == before.st_mtim.tv_sec &&
         now.st_mtim.tv_nsec == before.st_mtim.tv_nsec &&
         now.st_ctim.tv_sec == before.st_ctim.tv_sec &&
         now.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
}

}  // namespace tessarook
