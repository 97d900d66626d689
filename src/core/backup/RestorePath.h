#pragma once

#include <string>
#include <string_view>

namespace tessarook {

// Whether restore takes a manifest path: "" when it does, otherwise why not.
// `belowFolder` is true when files go below a chosen folder rather than to
// their source paths. Restore planning and verification both ask this, so a
// Backup that verifies restores every file it lists.
std::string RestoreRefusal(std::string_view sourcePath, bool belowFolder);

// True when the path could be restored in at least one of the two ways.
bool CanRestoreSomewhere(std::string_view sourcePath);

}  // namespace tessarook
