// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/SchemePush.h"

#include <chrono>

namespace tessarook {

PushEnd PushEndOf(const PushResult& result, std::string& reason) {
  reason.clear();
  switch (result.status) {
    case OffsiteStatus::kDone:
      for (const PassedBackup& p : result.leftOut)
        reason += (reason.empty() ? "not sent: " : "; ") + p.backup.name + ": " + p.reason;
      return result.leftOut.empty() ? PushEnd::kOk : PushEnd::kIncomplete;
    case OffsiteStatus::kCancelled:
      reason = "interrupted";
      return PushEnd::kInterrupted;
    case OffsiteStatus::kNoRclone:
    case OffsiteStatus::kFailed:
      break;
  }
  reason = result.error;
  return PushEnd::kFailed;
}

std::optional<SchemePush> PushToSchemeRemote(CSchemeRecords& records, const std::string& schemeFile,
                                             const PushOptions& options) {
  const std::string remote = records.Get(schemeFile).remote;
  if (remote.empty()) return std::nullopt;
  SchemePush push;
  push.remote = remote;
  // Nanoseconds: a Backup taken in the same second as the push began is
  // still older than it.
  const int64_t started = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
  push.result = PushScheme(schemeFile, remote, options);
  push.end = PushEndOf(push.result, push.reason);
  NotePushEnd(records, schemeFile, remote, started, push.end, push.reason, &push.recordError);
  return push;
}

RemoteChoices ListRcloneRemotes() {
  RemoteChoices choices;
  const std::string rclone = FindRclone();
  if (rclone.empty()) {
    choices.rcloneMissing = true;
    return choices;
  }
  const RcloneResult listed = RunRclone(rclone, {"listremotes", "--long"});
  if (!listed.Ok()) {
    choices.error = listed.reason.empty() ? "rclone listremotes failed" : listed.reason;
    return choices;
  }
  choices.listing = listed.out;
  choices.remotes = ParseRemoteList(listed.out);
  return choices;
}

void SplitRemote(const std::string& remote, std::string& name, std::string& path) {
  // ":type,option=value:path" names its remote on the fly: up to the second ":".
  const size_t colon = remote.find(':', remote.rfind(':', 0) == 0 ? 1 : 0);
  const size_t slash = remote.find('/');
  if (colon == std::string::npos || (slash != std::string::npos && slash < colon)) {
    name.clear();
    path = remote;
    return;
  }
  name = remote.substr(0, colon);
  path = remote.substr(colon + 1);
}

}  // namespace tessarook
