// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace tessarook {

// Where a Scheme and its Backups live. A Scheme named N in the My Schemes
// folder D is the file D/N.tsbak; its Backups are in D/N.tsbak.backups, the
// Backup named B is D/N.tsbak.backups/B.zip.

inline constexpr std::string_view kSchemeExtension = ".tsbak";
inline constexpr std::string_view kBackupsSuffix = ".backups";
inline constexpr std::string_view kBackupExtension = ".zip";

// My Schemes folder + "/" (only when it does not end in one) + name + ".tsbak".
std::string SchemeFilePath(std::string_view schemesDir, std::string_view name);

// The scheme file's path with ".backups" appended.
std::string BackupsFolderFor(std::string_view schemeFile);

// Backups folder + "/" + name + ".zip"; the name is used as given.
std::string BackupFilePath(std::string_view backupsFolder, std::string_view name);

// True when the name holds a character no Scheme or Backup name may hold:
// one of the nine \ / : * ? " < > |, or a control character (0x00 to 0x1F
// and 0x7F), which would turn into a line break, a tab or nothing at all in
// listings, scripts and file dialogs.
bool HasForbiddenNameChar(std::string_view name);

// True when the name holds a control character (a subset of the above).
bool HasControlChar(std::string_view name);

}  // namespace tessarook
