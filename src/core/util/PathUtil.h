// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tessarook {

// Path and folder helpers. All of them are safe to call from several threads
// at once: none changes the process's current directory or keeps global state.

// The folder of the running executable (from /proc/self/exe) with one trailing
// "/", followed by `name`. Falls back to the current directory when the
// executable's path cannot be read.
std::string MakeModulePath(std::string_view name);

// True unless the path begins with "/" (so the empty text is relative).
bool IsRelativePath(std::string_view path);

// True when the path names anything the file system can stat (files, folders,
// a symbolic link to an existing target).
bool FileExists(const std::string& path);

// True when the path names a folder (a symbolic link to a folder counts).
bool FolderExists(const std::string& path);

// Deletes the folder's contents (files, links and subfolders, deepest first),
// then the folder itself. A symbolic link is removed as a link; its target is
// never touched. What cannot be deleted stays (and so do the folders above
// it). Returns true when the folder is gone afterwards; callers may ignore it.
bool DeleteFolderTree(const std::string& folder);

// Creates `target` (an existing folder is fine) and copies the contents of
// `source` into it: regular files and links to regular files as files
// (replacing existing ones, keeping permission bits and last-write time),
// folders recursively. Links to folders are not followed; FIFOs, sockets and
// devices are skipped. A missing source leaves the target created and empty.
// Returns true when everything that was to be copied was copied.
bool CopyFolder(const std::string& target, const std::string& source);

// What a long copy is told and tells: a cancel flag it polls before each file
// and between chunks of a file (a file cut short is removed), and where the
// count of bytes copied goes, called after every chunk (on the copying thread).
struct CopyControl {
  const std::atomic<bool>* cancel = nullptr;
  std::function<void(uint64_t bytes)> copied;
  bool Cancelled() const { return cancel && cancel->load(); }
};

// CopyFolder under a control; false also when it was cancelled.
bool CopyFolder(const std::string& target, const std::string& source, const CopyControl& control);

// The bytes of the regular files below `folder` (links to files counted as
// their targets, as CopyFolder copies them); 0 for a missing folder.
uint64_t FolderDataBytes(const std::string& folder);

}  // namespace tessarook
