// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The push that follows every Backup of a Scheme whose record names a remote
// (the window's Backups, tessarook-cli backup and so the timer's), and the
// remotes a user can pick from.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/SchemeRecord.h"
#include "offsite/Offsite.h"

namespace tessarook {

struct SchemePush {
  std::string remote;  // where it went
  PushResult result;
  PushEnd end = PushEnd::kNone;  // as the record notes it
  std::string reason;            // why it failed or was incomplete (one text)
  std::string recordError;       // the record could not be written: why
};

// How a push ended, as the record keeps it, with the reason in one text.
PushEnd PushEndOf(const PushResult& result, std::string& reason);

// Pushes the Scheme to the remote its record names, as "push" does (nothing
// deleted on the remote), and notes in the record when it started and how it
// ended. Nothing (no push) when the record names no remote. Call it after a
// Backup was written; it runs on the calling thread until rclone is done.
std::optional<SchemePush> PushToSchemeRemote(CSchemeRecords& records, const std::string& schemeFile,
                                             const PushOptions& options);

struct RemoteChoices {
  bool rcloneMissing = false;  // kRcloneMissingText says what to do
  std::string error;           // rclone ran, but could not list them: why
  std::vector<RcloneRemote> remotes;
  std::string listing;  // rclone's own list
  // Whether copies stored at "REMOTE:PATH" are encrypted (IsEncryptedIn).
  bool Encrypts(const std::string& remote) const { return IsEncryptedIn(remote, listing); }
};

// The remotes "rclone listremotes --long" names, in its order.
RemoteChoices ListRcloneRemotes();

// "name:path" split into the remote's name ("" for a local path) and the path.
void SplitRemote(const std::string& remote, std::string& name, std::string& path);

}  // namespace tessarook
