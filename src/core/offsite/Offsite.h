// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Off-site copies of a Scheme: its scheme file and finished Backups copied to
// a place rclone reaches ("REMOTE:PATH": another machine over SSH, a WebDAV
// or S3 store, an encrypting crypt remote over any of them), listed there and
// brought back.
//
// On the remote a Scheme looks as it does in the My Schemes folder:
//   PATH/NAME.tsbak                     the scheme file
//   PATH/NAME.tsbak.backups/B.zip       its Backups
//   PATH/.NAME.tsbak.push/...           uploads in progress (never listed)
// A Backup is uploaded into the hidden folder first and moved into place
// (a rename on the server) only once rclone has sent and checked it all, so
// the remote never lists a torn Backup. An upload an interruption left there
// is replaced by the next push. Nothing on the remote is deleted unless
// pruning is asked for.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "backup/BackupStore.h"
#include "backup/Prune.h"
#include "backup/Retention.h"
#include "offsite/Rclone.h"

namespace tessarook {

enum class OffsiteStatus {
  kDone,
  kNoRclone,   // rclone is not installed (kRcloneMissingText)
  kFailed,     // `error` says why (for the remote: rclone's own reason)
  kCancelled,  // the cancel flag was set; nothing half-written is listed anywhere
};

// "REMOTE:PATH" + "/" + `name`, without doubling a "/" (also for "REMOTE:").
std::string RemoteChild(const std::string& remote, const std::string& name);

// The Scheme name of a scheme file path: the file name without ".tsbak".
std::string SchemeNameOf(const std::string& schemeFile);

// Whether rclone encrypts what it stores at `remote`: true for a crypt remote
// ("name:" whose type in the user's rclone configuration is crypt, or an
// on-the-fly ":crypt,...:"). A local path is not encrypted.
bool IsEncryptedRemote(const std::string& rclone, const std::string& remote);

// The same, from the output of "rclone listremotes --long".
bool IsEncryptedIn(const std::string& remote, const std::string& listRemotesLong);

// One remote of the user's rclone configuration.
struct RcloneRemote {
  std::string name;  // without the ":"
  std::string type;  // "sftp", "webdav", "crypt", ...
};
// The remotes of the output of "rclone listremotes --long", in its order.
std::vector<RcloneRemote> ParseRemoteList(const std::string& listRemotesLong);

struct RemoteListing {
  OffsiteStatus status = OffsiteStatus::kFailed;
  std::string error;
  // The remote's Backups of the Scheme: name, time (the remote's modification
  // time; ns since 1970), size. `path` is the remote path. Sorted by time.
  std::vector<BackupInfo> backups;
  bool schemeFile = false;  // the remote holds the scheme file
};

// Lists the Scheme's Backups at `remote`. A remote without the Scheme lists
// none; a remote path that is a file, an unreachable or refusing remote fail.
RemoteListing ListRemoteBackups(const std::string& schemeFile, const std::string& remote,
                                const std::atomic<bool>* cancel = nullptr);

struct PushOptions {
  const std::atomic<bool>* cancel = nullptr;
  ByteProgress progress;  // bytes sent of bytes to send
  KeepPolicy prune;       // applied to the remote's Backups after the push when Any()
  // Told once, on the calling thread, whether the remote encrypts what it
  // stores: as soon as the upload has ended, from rclone's own log of it (a
  // crypt remote names itself there, even behind an alias), or through
  // IsEncryptedRemote where the log named no remote. May be empty.
  std::function<void(bool encrypted)> encryption;
};

struct PushResult {
  OffsiteStatus status = OffsiteStatus::kFailed;
  std::string error;
  std::vector<BackupInfo> sent;  // the local Backups now in place on the remote
  bool schemeSent = false;
  uint64_t bytes = 0;  // bytes sent
  // Local Backups not sent, and why (being written, a name rclone cannot take).
  std::vector<PassedBackup> leftOut;
  // Pruning: what was deleted on the remote, and what could not be.
  std::vector<BackupInfo> pruned;
  std::vector<PassedBackup> pruneFailed;
  std::string pruneRefused;  // why pruning was not done at all (nothing deleted)
};

// Copies the scheme file and every finished Backup that the remote lacks or
// holds with other content. rclone compares as it does for a copy (size and
// modification time, or a hash both sides have); where the remote keeps no
// modification times and the sizes agree, the last bytes are compared too
// (the ZIP's central directory, with every entry's CRC). Each Backup is read
// under its name's lock, so none is replaced or deleted while it travels;
// one being written is left out.
PushResult PushScheme(const std::string& schemeFile, const std::string& remote,
                      const PushOptions& options);

struct PullOptions {
  const std::atomic<bool>* cancel = nullptr;
  ByteProgress progress;
  bool replace = false;  // a local Backup of the name may be replaced
  unsigned jobs = 0;     // workers for the check
};

struct PullResult {
  enum class Status { kDone, kNoRclone, kFailed, kCancelled, kExists, kNotFound, kDamaged, kBusy };
  Status status = Status::kFailed;
  std::string error;
  bool schemeFetched = false;  // the scheme file was missing here and came too
  uint64_t bytes = 0;
  uint64_t files = 0;  // files the Backup holds
};

// Brings the Backup `name` of the Scheme back from `remote` into the Backups
// folder: under a hidden partial name first, checked as "verify" checks, and
// only then renamed into place, all under the name's lock. A damaged copy is
// removed and reported. When the scheme file itself is missing here (a lost
// disk), it is fetched too.
PullResult PullBackup(const std::string& schemeFile, const std::string& remote,
                      const std::string& name, const PullOptions& options);

}  // namespace tessarook
