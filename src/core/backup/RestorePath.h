// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tessarook {

// "C:\..." or "\\server\share\...": a path recorded by a Backup made on Windows.
bool IsWindowsPath(std::string_view path);

// The place of a source path below a target folder, as components: "/a/b"
// gives a, b; "C:\a\b" gives C, a, b; "\\srv\share\a" gives UNC, srv, share,
// a. Returns why the path cannot be restored safely, or "". `belowFolder`
// only chooses the wording of a ".." refusal: such a path is never taken.
std::string RestorePlace(std::string_view sourcePath, bool belowFolder,
                         std::vector<std::string>& parts);

// Whether restore takes a manifest path: "" when it does, otherwise why not.
// `belowFolder` is true when files go below a chosen folder rather than to
// their source paths (a Windows path can go only below a folder). Restore
// planning and verification both ask this, so a Backup that verifies
// restores every file it lists.
std::string RestoreRefusal(std::string_view sourcePath, bool belowFolder);

// True when the path could be restored in at least one of the two ways.
bool CanRestoreSomewhere(std::string_view sourcePath);

// Why a Windows path is not restored to its source path.
inline constexpr const char* kNeedsFolderText =
    "made on Windows: it can be restored only into a folder";

}  // namespace tessarook
