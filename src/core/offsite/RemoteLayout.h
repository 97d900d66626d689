// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What push, listing and pull share: the names a Scheme has on a remote
// (PATH/NAME.tsbak, PATH/NAME.tsbak.backups/ and, while a push is under way,
// PATH/.NAME.tsbak.push/) and the way a local path is given to rclone.

#include <cstdint>
#include <string>

namespace tessarook {

inline constexpr int64_t kNsPerSecond = 1000000000;

inline constexpr const char* kSchemeExt = ".tsbak";
inline constexpr const char* kBackupsExt = ".tsbak.backups";
inline constexpr const char* kStagingSuffix = ".tsbak.push";

// The path rclone takes for a local file or folder: absolute, so that a ":"
// in it never reads as a remote's name.
std::string LocalForRclone(const std::string& path);

}  // namespace tessarook
