// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What push, listing and pull share: the names a Scheme has on a remote,
// laid out as on this machine (PATH/NAME.tsbak and PATH/NAME.tsbak.backups/
// with NAME.zip in it) plus, while a push is under way, PATH/.NAME.tsbak.push/;
// and the way a local path is given to rclone.

#include <cstdint>
#include <string>
#include <string_view>

#include "scheme/SchemePaths.h"

namespace tessarook {

inline constexpr int64_t kNsPerSecond = 1000000000;

// Appended to "." and the scheme file's name for the hidden folder a push's
// uploads wait in.
inline constexpr std::string_view kStagingSuffix = ".push";

// "NAME.tsbak", "NAME.zip": a scheme file's and a Backup's file name.
std::string SchemeFileName(std::string_view name);
std::string BackupFileName(std::string_view name);

// REMOTE/NAME.tsbak, and its Backups folder beside it (its path with
// ".backups" appended, as here).
std::string RemoteSchemeFile(const std::string& remote, std::string_view name);
std::string RemoteBackupsFolder(const std::string& remote, std::string_view name);

// The path rclone takes for a local file or folder: absolute, so that a ":"
// in it never reads as a remote's name.
std::string LocalForRclone(const std::string& path);

}  // namespace tessarook
