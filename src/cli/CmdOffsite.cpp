// SPDX-License-Identifier: GPL-3.0-or-later
// Off-site copies through rclone: push, remote-backups, pull.

#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "offsite/Offsite.h"
#include "scheme/SchemePaths.h"
#include "shell/NameCheck.h"
#include "util/IsoTime.h"

namespace tessarook::cli {

bool CheckRemote(const std::string& remote) {
  if (!remote.empty() && remote[0] != '-' && remote.find('\n') == std::string::npos) return true;
  Error("not a remote: '" + remote + "': give it as REMOTE:PATH (see 'rclone listremotes')");
  return false;
}

void SayIfUnencrypted(const std::string& remote, bool encrypted) {
  if (!encrypted)
    Error("note: " + remote +
          " is not an rclone crypt remote, so the copies will be stored there unencrypted");
}

namespace {

int StatusFor(OffsiteStatus status) {
  switch (status) {
    case OffsiteStatus::kDone:
      return kExitOk;
    case OffsiteStatus::kCancelled:
      return kExitInterrupted;
    default:
      return kExitFailure;
  }
}

class BytesBar {
 public:
  BytesBar(const Context& ctx, std::string label) : m_bar(ctx, std::move(label)) {}
  // Called on the command's own thread, for each statistics line of rclone.
  ByteProgress Sink() {
    return [this](uint64_t done, uint64_t total) { m_bar.UpdateBytes(done, total); };
  }
  void Finish() { m_bar.Finish(); }

 private:
  ProgressBar m_bar;
};

}  // namespace

void WritePushJson(CJsonWriter& json, const std::string& schemeFile, const std::string& remote,
                   const PushResult& result) {
  json.BeginObject().Bytes("scheme", schemeFile).Bytes("remote", remote);
  json.Key("ok").Bool(result.status == OffsiteStatus::kDone);
  if (result.status != OffsiteStatus::kDone) json.Bytes("error", result.error);
  json.Key("scheme_sent").Bool(result.schemeSent).Key("bytes").Number(result.bytes);
  json.Key("sent").BeginArray();
  for (const BackupInfo& b : result.sent) WriteBackupJson(json, b);
  json.EndArray().Key("not_sent").BeginArray();
  for (const PassedBackup& p : result.leftOut)
    json.BeginObject().Bytes("name", p.backup.name).Bytes("reason", p.reason).EndObject();
  json.EndArray().Key("pruned").BeginArray();
  for (const BackupInfo& b : result.pruned) json.BeginObject().Bytes("name", b.name).EndObject();
  json.EndArray().EndObject();
}

int RunPush(const Context& ctx, const Args& args) {
  PushOptions options;
  if (const int status = ParseKeepPolicy(args, options.prune); status != kExitOk) return status;
  if (args.Has("--prune") && !options.prune.Any()) {
    Error(
        "--prune needs the keep rules: --keep-last, --keep-hourly, --keep-daily, "
        "--keep-weekly or --keep-monthly");
    return kExitUsage;
  }
  if (!args.Has("--prune") && options.prune.Any()) {
    Error("the --keep-... rules prune the remote's Backups only with --prune");
    return kExitUsage;
  }
  const std::string& remote = args.positional[1];
  if (!CheckRemote(remote)) return kExitUsage;
  const std::string schemeFile = ctx.SchemeFile(args.positional[0]);
  options.encryption = [&remote](bool encrypted) { SayIfUnencrypted(remote, encrypted); };
  options.cancel = &InterruptFlag();
  BytesBar bar(ctx, "Push");
  options.progress = bar.Sink();
  const PushResult result = PushScheme(schemeFile, remote, options);
  bar.Finish();
  for (const PassedBackup& p : result.leftOut)
    Error("not sent: the Backup " + p.backup.name + ": " + p.reason);
  if (result.status == OffsiteStatus::kCancelled) {
    Error("interrupted; the remote lists nothing half-sent");
    return kExitInterrupted;
  }
  int status = StatusFor(result.status);
  if (result.status != OffsiteStatus::kDone)
    Error("the push to " + remote + " failed: " + result.error);
  if (!result.pruneRefused.empty()) {
    Error(result.pruneRefused);
    if (status == kExitOk) status = kExitFailure;
  }
  for (const PassedBackup& p : result.pruneFailed) {
    Error("could not delete the remote Backup " + p.backup.name + ": " + p.reason);
    if (status == kExitOk) status = kExitFailure;
  }
  if (!ctx.quiet)
    for (const BackupInfo& b : result.pruned) Error("deleted the remote Backup " + b.name);
  if (status == kExitOk && !result.leftOut.empty()) status = kExitSkipped;

  if (args.Has("--json")) {
    CJsonWriter json;
    WritePushJson(json, schemeFile, remote, result);
    std::cout << json.Text();
  } else {
    for (const BackupInfo& b : result.sent) std::cout << b.name << "\t" << b.size << "\n";
  }
  return status;
}

int RunRemoteBackups(const Context& ctx, const Args& args) {
  const std::string& remote = args.positional[1];
  if (!CheckRemote(remote)) return kExitUsage;
  const std::string schemeFile = ctx.SchemeFile(args.positional[0]);
  const RemoteListing listing = ListRemoteBackups(schemeFile, remote, &InterruptFlag());
  if (listing.status != OffsiteStatus::kDone) {
    if (listing.status == OffsiteStatus::kCancelled)
      Error("interrupted");
    else
      Error("the Backups at " + remote + " could not be listed: " + listing.error);
    return StatusFor(listing.status);
  }
  if (args.Has("--json")) {
    CJsonWriter json;
    json.BeginObject().Bytes("scheme", SchemeNameOf(schemeFile)).Bytes("remote", remote);
    json.Key("scheme_file").Bool(listing.schemeFile).Key("backups").BeginArray();
    for (const BackupInfo& b : listing.backups) WriteBackupJson(json, b);
    std::cout << json.EndArray().EndObject().Text();
    return kExitOk;
  }
  for (const BackupInfo& b : listing.backups)
    std::cout << b.name << "\t" << BackupTimeText(b) << "\t" << b.size << "\n";
  return kExitOk;
}

int RunPull(const Context& ctx, const Args& args) {
  const std::string& remote = args.positional[1];
  std::string name = args.positional[2];
  if (!CheckRemote(remote)) return kExitUsage;
  const std::string schemeFile = ctx.SchemeFile(args.positional[0]);
  if (name == "latest") {
    // The newest Backup on the remote, unless one is named so.
    const RemoteListing listing = ListRemoteBackups(schemeFile, remote, &InterruptFlag());
    if (listing.status != OffsiteStatus::kDone) {
      Error(listing.status == OffsiteStatus::kCancelled
                ? "interrupted"
                : "the Backups at " + remote + " could not be listed: " + listing.error);
      return StatusFor(listing.status);
    }
    bool named = false;
    for (const BackupInfo& b : listing.backups) named = named || b.name == name;
    if (!named) {
      const BackupInfo* newest = NewestBackup(listing.backups);
      if (!newest) {
        Error("there are no Backups of the Scheme at " + remote + ", so there is no latest one");
        return kExitFailure;
      }
      name = newest->name;
    }
  }
  if (name.empty() || HasForbiddenNameChar(name)) {
    Error(name.empty() ? "the Backup name is empty" : std::string(InvalidNameReason(name)));
    return kExitUsage;
  }
  PullOptions options;
  options.cancel = &InterruptFlag();
  options.replace = args.Has("--force");
  options.jobs = ctx.jobs;
  BytesBar bar(ctx, "Pull");
  options.progress = bar.Sink();
  const PullResult result = PullBackup(schemeFile, remote, name, options);
  bar.Finish();
  using Status = PullResult::Status;
  switch (result.status) {
    case Status::kDone:
      break;
    case Status::kCancelled:
      Error("interrupted; nothing half-fetched was kept");
      return kExitInterrupted;
    case Status::kExists:
      Error(result.error + " (use --force to replace it)");
      return kExitFailure;
    default:
      Error(result.error);
      return kExitFailure;
  }
  if (result.schemeFetched && !ctx.quiet)
    Error("the scheme file was missing here and was fetched too: " + schemeFile);
  if (args.Has("--json")) {
    CJsonWriter json;
    json.BeginObject().Bytes("scheme", schemeFile).Bytes("remote", remote).Bytes("backup", name);
    json.Key("files").Number(result.files).Key("bytes").Number(result.bytes);
    json.Key("scheme_fetched").Bool(result.schemeFetched).EndObject();
    std::cout << json.Text();
  } else {
    std::cout << name << "\n";
  }
  return kExitOk;
}

}  // namespace tessarook::cli
