// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <string>

namespace tessarook {

// What the program makes to hold copies of the user's files is private to the
// user, whatever the umask: Backups, partial Backups, the lock files beside
// them, Compressed Schemes, exported ZIP archives, preview copies, and the
// scheme files and Backups folders of the My Schemes folder. Files are made
// 0600 and folders 0700. A file written to replace an existing one keeps that
// one's mode instead: a user who shares a Backup on purpose (chmod) keeps it
// shared when it is taken again under the same name.
inline constexpr mode_t kPrivateFileMode = 0600;
inline constexpr mode_t kPrivateFolderMode = 0700;

// Makes the folder with mode 0700 (exactly: the umask is not applied). True
// when a folder is there afterwards, made now or before (an existing folder
// keeps its mode); false with errno set otherwise.
bool MakePrivateFolder(const std::string& path);

// As MakePrivateFolder, making the missing folders above it too, each 0700.
bool MakePrivateFolders(const std::string& path);

// The permission bits a file written to replace `path` gets: those of the
// file there now (not following a symbolic link), or 0600 when there is none.
mode_t ModeForReplacing(const std::string& path);

}  // namespace tessarook
