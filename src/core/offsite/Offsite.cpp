// SPDX-License-Identifier: GPL-3.0-or-later
#include "offsite/Offsite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "backup/BackupVerifier.h"
#include "scheme/Scheme.h"
#include "util/AtomicFile.h"
#include "util/FileBytes.h"
#include "util/JsonReader.h"
#include "util/OpenBeneath.h"
#include "util/PartialFiles.h"
#include "util/PrivateFiles.h"

namespace tessarook {

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
// How much of a Backup's end is compared when sizes agree but times do not:
// the ZIP's central directory (every entry's name, size and CRC) and its end
// record lie there.
constexpr uint64_t kTailBytes = uint64_t{1} << 20;
// A remote whose modification times are coarser than this keeps none worth
// judging Backups by (rclone says 100 years for "not kept").
constexpr int64_t kCoarsestUsefulPrecision = int64_t{3600} * kNsPerSecond;

constexpr const char* kSchemeExt = ".tsbak";
constexpr const char* kBackupsExt = ".tsbak.backups";
constexpr const char* kStagingSuffix = ".tsbak.push";

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool ParseDigits(const std::string& s, size_t pos, size_t count, int& out) {
  if (pos + count > s.size()) return false;
  out = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

// rclone's times: "2026-12-10T00:57:48Z", "2026-12-10T00:57:48.123456789+01:00".
bool ParseRcloneTime(const std::string& s, int64_t& ns) {
  struct tm tm {};
  int year, month, day, hour, minute, second;
  if (!ParseDigits(s, 0, 4, year) || s.size() < 19 || s[4] != '-' || !ParseDigits(s, 5, 2, month) ||
      s[7] != '-' || !ParseDigits(s, 8, 2, day) || (s[10] != 'T' && s[10] != ' ') ||
      !ParseDigits(s, 11, 2, hour) || s[13] != ':' || !ParseDigits(s, 14, 2, minute) ||
      s[16] != ':' || !ParseDigits(s, 17, 2, second))
    return false;
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  size_t pos = 19;
  int64_t fraction = 0;
  if (pos < s.size() && s[pos] == '.') {
    int64_t scale = kNsPerSecond;
    for (++pos; pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++pos) {
      scale /= 10;
      fraction += (s[pos] - '0') * scale;
    }
  }
  int64_t offset = 0;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    int oh, om;
    if (!ParseDigits(s, pos + 1, 2, oh) || pos + 3 >= s.size() || !ParseDigits(s, pos + 4, 2, om))
      return false;
    offset = (s[pos] == '+' ? 1 : -1) * (oh * 3600 + om * 60);
  } else if (pos >= s.size() || s[pos] != 'Z') {
    return false;
  }
  ns = (static_cast<int64_t>(timegm(&tm)) - offset) * kNsPerSecond + fraction;
  return true;
}

struct RemoteEntry {
  std::string name;
  uint64_t size = 0;
  int64_t time = 0;
  bool isDir = false;
};

enum class ListOutcome { kListed, kMissing, kFailed, kCancelled };

// Reads rclone lsjson's output.
bool ParseListing(const std::string& out, std::vector<RemoteEntry>& entries) {
  CJsonValue json;
  if (!json.Parse(out) || !json.IsArray()) return false;
  for (const CJsonValue& item : json.Items()) {
    if (!item.IsObject()) continue;
    RemoteEntry e;
    e.name = item.TextOf("Name");
    const int64_t size = item.IntOf("Size", -1);
    e.size = size > 0 ? static_cast<uint64_t>(size) : 0;
    const CJsonValue* dir = item.Find("IsDir");
    e.isDir = dir && dir->Bool();
    if (!ParseRcloneTime(item.TextOf("ModTime"), e.time)) e.time = 0;
    if (!e.name.empty()) entries.push_back(std::move(e));
  }
  return true;
}

ListOutcome FinishListing(const RcloneResult& r, std::vector<RemoteEntry>& entries,
                          std::string& error) {
  if (r.status == RcloneResult::Status::kCancelled) return ListOutcome::kCancelled;
  if (r.NotFound()) return ListOutcome::kMissing;
  if (!r.Ok()) {
    error = r.reason;
    return ListOutcome::kFailed;
  }
  if (!ParseListing(r.out, entries)) {
    error = "rclone's listing could not be read";
    return ListOutcome::kFailed;
  }
  return ListOutcome::kListed;
}

std::vector<std::string> ListArgs(const std::string& path) { return {"lsjson", path}; }

// The path rclone takes for a local folder: absolute, so that a ":" in it
// never reads as a remote's name.
std::string LocalForRclone(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd)) return std::string(cwd) + "/" + path;
  return "./" + path;
}

// The last `count` bytes of the local file; false when they cannot be read.
bool ReadLocalTail(const std::string& path, uint64_t size, uint64_t count, std::string& out) {
  const CFileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.IsOpen()) return false;
  out.assign(count, '\0');
  return ReadAllAt(file.Get(), out.data(), count, size - count);
}

// True when the remote file ends in the same bytes as the local one (sizes
// are known to agree). A remote that cannot be read counts as different.
bool SameTail(const std::string& rclone, const std::string& remoteFile,
              const std::string& localFile, uint64_t size, const std::atomic<bool>* cancel) {
  const uint64_t count = std::min(size, kTailBytes);
  if (count == 0) return true;
  std::string local;
  if (!ReadLocalTail(localFile, size, count, local)) return false;
  const RcloneResult r =
      RunRclone(rclone, {"cat", "--tail", std::to_string(count), remoteFile}, {}, cancel);
  return r.Ok() && r.out == local;
}

// A Backup on its way: the lock on its name is held while it is read.
struct Outgoing {
  BackupInfo info;
  std::unique_ptr<CBackupNameLock> lock;
};

std::string ListLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

}  // namespace

std::string RemoteChild(const std::string& remote, const std::string& name) {
  if (remote.empty()) return name;
  const char last = remote.back();
  return last == '/' || last == ':' ? remote + name : remote + "/" + name;
}

std::string SchemeNameOf(const std::string& schemeFile) {
  std::string name = schemeFile.substr(schemeFile.rfind('/') + 1);
  const std::string ext = kSchemeExt;
  if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
    name.resize(name.size() - ext.size());
  return name;
}

namespace {

// The remote's name in "name:path" or "name,option=value:path"; empty for a
// local path. `onTheFly` is set for ":type,...:path", and the name is then
// the type.
std::string RemoteNameOf(const std::string& remote, bool& onTheFly) {
  onTheFly = false;
  const size_t colon = remote.find(':');
  const size_t slash = remote.find('/');
  if (colon == std::string::npos || (slash != std::string::npos && slash < colon)) return {};
  if (colon == 0) {
    onTheFly = true;
    return remote.substr(1, remote.find_first_of(",:", 1) - 1);
  }
  std::string name = remote.substr(0, colon);
  const size_t comma = name.find(',');
  if (comma != std::string::npos) name.resize(comma);
  return name;
}

}  // namespace

std::vector<RcloneRemote> ParseRemoteList(const std::string& listRemotesLong) {
  std::vector<RcloneRemote> out;
  size_t pos = 0;
  while (pos < listRemotesLong.size() && out.size() < 10000) {
    size_t end = listRemotesLong.find('\n', pos);
    if (end == std::string::npos) end = listRemotesLong.size();
    const std::string line = listRemotesLong.substr(pos, end - pos);
    pos = end + 1;
    // "name:   type"
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos) continue;
    RcloneRemote r;
    r.name = line.substr(0, colon);
    const size_t type = line.find_first_not_of(" \t", colon + 1);
    if (type != std::string::npos) r.type = line.substr(type);
    r.type.erase(r.type.find_last_not_of(" \t\r") + 1);
    out.push_back(std::move(r));
  }
  return out;
}

bool IsEncryptedIn(const std::string& remote, const std::string& listRemotesLong) {
  bool onTheFly = false;
  const std::string name = RemoteNameOf(remote, onTheFly);
  if (name.empty()) return false;
  if (onTheFly) return name == "crypt";
  for (const RcloneRemote& r : ParseRemoteList(listRemotesLong))
    if (r.name == name) return r.type == "crypt";
  return false;
}

bool IsEncryptedRemote(const std::string& rclone, const std::string& remote) {
  bool onTheFly = false;
  if (RemoteNameOf(remote, onTheFly).empty() || onTheFly)
    return IsEncryptedIn(remote, std::string());
  return IsEncryptedIn(remote, RunRclone(rclone, {"listremotes", "--long"}).out);
}

namespace {

// Lists the remote's Backups folder and scheme file at once (two rclone
// runs side by side).
struct RemoteState {
  ListOutcome backups = ListOutcome::kFailed;
  std::vector<RemoteEntry> backupEntries;
  ListOutcome scheme = ListOutcome::kFailed;
  std::vector<RemoteEntry> schemeEntries;
  std::string error;
};

RemoteState ReadRemoteState(const std::string& rclone, const std::string& remote,
                            const std::string& name, const std::atomic<bool>* cancel) {
  RemoteState state;
  CRcloneProcess backups, scheme;
  std::string error;
  const bool bothStarted =
      backups.Start(rclone, ListArgs(RemoteChild(remote, name + kBackupsExt)), {}, &error) &&
      scheme.Start(rclone, ListArgs(RemoteChild(remote, name + kSchemeExt)), {}, &error);
  if (!bothStarted) {
    state.error = error;
    return state;
  }
  state.backups = FinishListing(backups.Wait(cancel, {}), state.backupEntries, state.error);
  std::string schemeError;
  state.scheme = FinishListing(scheme.Wait(cancel, {}), state.schemeEntries, schemeError);
  if (state.error.empty()) state.error = schemeError;
  return state;
}

// Why a remote without the Scheme's folder has none: the path may be a file.
bool RemotePathIsFile(const std::string& rclone, const std::string& remote,
                      const std::atomic<bool>* cancel) {
  const RcloneResult r = RunRclone(rclone, {"lsjson", "--stat", remote}, {}, cancel);
  if (!r.Ok()) return false;
  CJsonValue json;
  if (!json.Parse(r.out) || !json.IsObject()) return false;
  const CJsonValue* dir = json.Find("IsDir");
  return dir && !dir->Bool();
}

std::vector<BackupInfo> BackupsOf(const std::string& remote, const std::string& name,
                                  const std::vector<RemoteEntry>& entries) {
  std::vector<BackupInfo> out;
  const std::string folder = RemoteChild(remote, name + kBackupsExt);
  for (const RemoteEntry& e : entries) {
    if (e.isDir || e.name.size() <= 4 || e.name.compare(e.name.size() - 4, 4, ".zip") != 0 ||
        IsPartialName(e.name))
      continue;
    BackupInfo b;
    b.name = e.name.substr(0, e.name.size() - 4);
    b.path = RemoteChild(folder, e.name);
    b.creationTime = e.time;
    b.size = e.size;
    out.push_back(std::move(b));
  }
  SortBackups(out, BackupSort::kTime);
  return out;
}

OffsiteStatus StatusOf(ListOutcome outcome) {
  switch (outcome) {
    case ListOutcome::kCancelled:
      return OffsiteStatus::kCancelled;
    case ListOutcome::kFailed:
      return OffsiteStatus::kFailed;
    default:
      return OffsiteStatus::kDone;
  }
}

}  // namespace

RemoteListing ListRemoteBackups(const std::string& schemeFile, const std::string& remote,
                                const std::atomic<bool>* cancel) {
  RemoteListing listing;
  const std::string rclone = FindRclone();
  if (rclone.empty()) {
    listing.status = OffsiteStatus::kNoRclone;
    listing.error = kRcloneMissingText;
    return listing;
  }
  const std::string name = SchemeNameOf(schemeFile);
  RemoteState state = ReadRemoteState(rclone, remote, name, cancel);
  for (ListOutcome o : {state.backups, state.scheme}) {
    if (o == ListOutcome::kCancelled || o == ListOutcome::kFailed) {
      listing.status = StatusOf(o);
      listing.error = o == ListOutcome::kCancelled ? "interrupted" : state.error;
      return listing;
    }
  }
  if (state.backups == ListOutcome::kMissing && state.scheme == ListOutcome::kMissing &&
      RemotePathIsFile(rclone, remote, cancel)) {
    listing.error = remote + " is a file, not a folder";
    return listing;
  }
  listing.backups = BackupsOf(remote, name, state.backupEntries);
  listing.schemeFile = state.scheme == ListOutcome::kListed && !state.schemeEntries.empty();
  listing.status = OffsiteStatus::kDone;
  return listing;
}

namespace {

void PruneRemote(const std::string& rclone, const std::string& remote, const std::string& name,
                 const KeepPolicy& policy, const std::atomic<bool>* cancel, PushResult& result) {
  const RemoteListing listing = ListRemoteBackups(name + kSchemeExt, remote, cancel);
  if (listing.status != OffsiteStatus::kDone) {
    result.pruneRefused =
        "the remote's Backups could not be listed (" + listing.error + "); nothing was pruned";
    return;
  }
  const int64_t now = NowNs();
  std::vector<BackupInfo> judged;
  for (const BackupInfo& b : listing.backups)
    if (b.creationTime <= now) judged.push_back(b);  // one dated in the future stays
  const RetentionPlan plan = PlanRetention(judged, policy);
  if (plan.remove.empty()) return;
  std::vector<std::string> files;
  for (const BackupInfo& b : plan.remove) files.push_back(b.name + ".zip");
  const RcloneResult r = RunRclone(rclone,
                                   {"delete", RemoteChild(remote, name + kBackupsExt),
                                    "--files-from-raw", "-", "--max-depth", "1"},
                                   ListLines(files), cancel);
  const std::vector<std::string> deleted = r.Objects("Deleted");
  for (const BackupInfo& b : plan.remove) {
    if (std::find(deleted.begin(), deleted.end(), b.name + ".zip") != deleted.end())
      result.pruned.push_back(b);
    else
      result.pruneFailed.push_back({b, r.Ok() ? "rclone did not delete it" : r.reason});
  }
}

}  // namespace

PushResult PushScheme(const std::string& schemeFileArg, const std::string& remote,
                      const PushOptions& options) {
  PushResult result;
  const std::string rclone = FindRclone();
  if (rclone.empty()) {
    result.status = OffsiteStatus::kNoRclone;
    result.error = kRcloneMissingText;
    return result;
  }
  const std::string schemeFile = LocalForRclone(schemeFileArg);
  struct stat st {};
  if (::stat(schemeFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    result.error = "no such Scheme: " + schemeFile;
    return result;
  }
  const std::string name = SchemeNameOf(schemeFile);
  if (name.find_first_of("\r\n") != std::string::npos) {
    result.error = "the Scheme's name holds a line break, which rclone cannot be given";
    return result;
  }
  const std::string folder = FolderOf(schemeFile);
  const CBackupStore store(schemeFile);
  const std::string remoteBackups = RemoteChild(remote, name + kBackupsExt);
  const std::string staging = RemoteChild(remote, "." + name + kStagingSuffix);
  const std::string schemeEntry = name + kSchemeExt;

  // Every finished Backup, each held under its name's lock until the push
  // is over: none is replaced or deleted while rclone reads it.
  std::map<std::string, Outgoing> local;  // by path relative to `folder`
  for (BackupInfo& b : store.List()) {
    if (b.name.find_first_of("\r\n") != std::string::npos) {
      result.leftOut.push_back({b, "its name holds a line break, which rclone cannot be given"});
      continue;
    }
    auto lock = std::make_unique<CBackupNameLock>();
    std::string lockError;
    const auto locked = lock->Acquire(b.path, false, options.cancel, &lockError);
    if (locked == CBackupNameLock::Outcome::kBusy) {
      result.leftOut.push_back({b, "a Backup of this name is being written"});
      continue;
    }
    if (locked != CBackupNameLock::Outcome::kHeld) {
      result.leftOut.push_back({b, lockError});
      continue;
    }
    BackupInfo now;
    if (!store.GetInfo(b.name, now)) continue;  // deleted meanwhile
    const std::string relative = name + kBackupsExt + "/" + now.name + ".zip";
    local[relative] = {std::move(now), std::move(lock)};
  }
  // One rclone run sends the scheme file and the Backups that the remote
  // lacks or holds otherwise into the hidden folder (--compare-dest: rclone's
  // own comparison with what is in place; --no-check-dest: whatever an
  // interrupted push left in the hidden folder is overwritten). One run makes
  // the remote folders: two runs making the same folders at once are refused
  // by servers that lock a folder while it is made (WebDAV answers "423
  // Locked"). Beside it, rclone says whether the remote is encrypted, and the
  // run that moves the Backups into place starts too: it waits for the list
  // of what arrived whole (--files-from-raw on its standard input) before it
  // acts.
  std::vector<std::string> files{schemeEntry};
  for (const auto& [relative, o] : local) files.push_back(relative);
  const bool anyBackup = !local.empty();
  const bool askKind = static_cast<bool>(options.encryption);
  CRcloneProcess kinds, copy, moveBackups;
  std::string error;
  if ((askKind && !kinds.Start(rclone, {"listremotes", "--long"}, {}, &error)) ||
      !copy.Start(rclone,
                  {"copy", folder, staging, "--compare-dest", remote, "--no-check-dest",
                   "--files-from-raw", "-", "--stats", "500ms"},
                  ListLines(files), &error) ||
      (anyBackup &&
       !moveBackups.StartHeld(rclone,
                              {"move", RemoteChild(staging, name + kBackupsExt), remoteBackups,
                               "--files-from-raw", "-", "--ignore-times"},
                              &error))) {
    result.error = error;
    return result;
  }
  if (askKind) options.encryption(IsEncryptedIn(remote, kinds.Wait(options.cancel, {}).out));

  // What has arrived whole is moved into place as soon as it has: the scheme
  // file while the Backups are still on their way, the Backups once every
  // file listed has arrived, while the run that sent them still ends. The
  // folders the scheme file needs exist by then (it lies in one of them), so
  // its run makes none.
  CRcloneProcess schemeMove;
  bool schemeMoving = false;
  std::string schemeError;
  std::vector<std::string> arrived, backupFiles;
  bool backupsFed = false;
  const auto feedMove = [&](const std::vector<std::string>& whole) {
    backupsFed = true;
    for (const std::string& c : whole)
      if (c != schemeEntry)
        backupFiles.push_back(c.substr(name.size() + std::strlen(kBackupsExt) + 1));
    if (!backupFiles.empty()) moveBackups.Feed(ListLines(backupFiles));
  };
  const EventSink onArrival = [&](const RcloneEvent& e) {
    if (e.message.compare(0, 6, "Copied") != 0) return;
    if (std::find(arrived.begin(), arrived.end(), e.object) == arrived.end())
      arrived.push_back(e.object);
    if (!schemeMoving && e.object == schemeEntry)
      schemeMoving = schemeMove.Start(rclone,
                                      {"moveto", RemoteChild(staging, schemeEntry),
                                       RemoteChild(remote, schemeEntry), "--ignore-times"},
                                      {}, &schemeError);
    if (!backupsFed && arrived.size() == files.size()) feedMove(arrived);
  };
  const RcloneResult sent = copy.Wait(options.cancel, options.progress, onArrival);
  const auto schemeMoved = [&] {
    if (!schemeMoving) return;
    schemeMoving = false;
    const RcloneResult moved = schemeMove.Wait(options.cancel, {});
    result.schemeSent = moved.Ok();
    if (!moved.Ok()) schemeError = moved.reason;
  };
  // The Backups now in place; the move's reason when it failed.
  const auto backupsMoved = [&]() -> std::string {
    if (backupFiles.empty()) return {};
    const RcloneResult moved = moveBackups.Wait(options.cancel, {});
    const std::vector<std::string> done = moved.Objects("Moved");
    for (const std::string& file : backupFiles) {
      if (!moved.Ok() && std::find(done.begin(), done.end(), file) == done.end()) continue;
      const Outgoing& o = local.at(name + kBackupsExt + "/" + file);
      result.sent.push_back(o.info);
      result.bytes += o.info.size;
    }
    backupFiles.clear();
    return moved.Ok() ? std::string() : moved.reason;
  };
  const auto cancelled = [&] {
    if (!options.cancel || !options.cancel->load()) return false;
    result.status = OffsiteStatus::kCancelled;
    result.error = "interrupted";
    return true;
  };
  if (cancelled()) return result;
  const auto failed = [&](const RcloneResult& r) {
    // What this run left in the hidden folder is of no use: free the space
    // (a full remote) as far as the remote lets us.
    schemeMoved();
    backupsMoved();
    RunRclone(rclone, {"purge", staging});
    result.error = r.reason;
    return result;
  };
  if (!sent.Ok()) return failed(sent);
  std::vector<std::string> copied = sent.Objects("Copied");
  if (sent.transfers >= 0 && static_cast<size_t>(sent.transfers) != copied.size()) {
    RcloneResult unreadable = sent;
    unreadable.reason = "rclone's log does not say which files it sent";
    return failed(unreadable);
  }
  const auto wasCopied = [&](const std::string& relative) {
    return std::find(copied.begin(), copied.end(), relative) != copied.end();
  };

  // What rclone judged the same needs a second look only where its judgement
  // may miss a change. The scheme file is compared whole (it is small): its
  // size may stay and its time be too coarse. A remote that keeps no
  // modification times compares Backups by size alone, and a Backup taken
  // again under its name may have the same size: their last bytes tell. The
  // remote's kind of times is asked for only then, or for pruning.
  bool anyBackupLeft = false;
  for (const auto& [relative, o] : local) anyBackupLeft = anyBackupLeft || !wasCopied(relative);
  const bool schemeLeft = !wasCopied(schemeEntry);
  CRcloneProcess features, schemeThere;
  if (((anyBackupLeft || options.prune.Any()) &&
       !features.Start(rclone, {"backend", "features", remote}, {}, &error)) ||
      (schemeLeft &&
       !schemeThere.Start(rclone, {"cat", RemoteChild(remote, schemeEntry)}, {}, &error))) {
    result.error = error;
    return result;
  }
  std::vector<std::string> differ;
  if (schemeLeft) {
    std::string mine;
    if (!ReadLocalTail(schemeFile, static_cast<uint64_t>(st.st_size),
                       static_cast<uint64_t>(st.st_size), mine)) {
      result.error = "cannot read " + schemeFile + ": " + std::strerror(errno);
      return result;
    }
    const RcloneResult there = schemeThere.Wait(options.cancel, {});
    if (!there.Ok() || there.out != mine) differ.push_back(schemeEntry);
  }
  bool timesKept = false;
  if (anyBackupLeft || options.prune.Any()) {
    const RcloneResult precision = features.Wait(options.cancel, {});
    CJsonValue json;
    timesKept = precision.Ok() && json.Parse(precision.out) && json.IsObject() &&
                json.IntOf("Precision", INT64_MAX) <= kCoarsestUsefulPrecision;
  }
  if (!timesKept && anyBackupLeft) {
    for (const auto& [relative, o] : local) {
      if (wasCopied(relative)) continue;
      if (!SameTail(rclone, RemoteChild(remote, relative), o.info.path, o.info.size,
                    options.cancel))
        differ.push_back(relative);
    }
  }
  if (cancelled()) return result;
  if (!differ.empty()) {
    const RcloneResult resent = RunRclone(
        rclone,
        {"copy", folder, staging, "--no-check-dest", "--files-from-raw", "-", "--stats", "500ms"},
        ListLines(differ), options.cancel, options.progress, onArrival);
    if (cancelled()) return result;
    if (!resent.Ok()) return failed(resent);
    copied.insert(copied.end(), differ.begin(), differ.end());
  }

  // All of it arrived whole: the Backups move into place. --ignore-times: a
  // Backup of other content but the same size replaces the one there even
  // where the remote keeps no times.
  if (!backupsFed) feedMove(copied);
  std::string failure = backupsMoved();
  schemeMoved();
  if (result.schemeSent) result.bytes += static_cast<uint64_t>(st.st_size);
  if (failure.empty()) failure = schemeError;
  local.clear();
  SortBackups(result.sent, BackupSort::kTime);
  if (cancelled()) return result;
  if (!failure.empty()) {
    result.error = failure;
    return result;
  }
  result.status = OffsiteStatus::kDone;
  if (options.prune.Any()) {
    if (!timesKept)
      result.pruneRefused = remote +
                            " keeps no modification times, so the Backups' times there are "
                            "not known; nothing was pruned";
    else
      PruneRemote(rclone, remote, name, options.prune, options.cancel, result);
  }
  return result;
}

PullResult PullBackup(const std::string& schemeFileArg, const std::string& remote,
                      const std::string& name, const PullOptions& options) {
  PullResult result;
  using Status = PullResult::Status;
  const std::string rclone = FindRclone();
  if (rclone.empty()) {
    result.status = Status::kNoRclone;
    result.error = kRcloneMissingText;
    return result;
  }
  const std::string schemeFile = LocalForRclone(schemeFileArg);
  const std::string schemeName = SchemeNameOf(schemeFile);
  const CBackupStore store(schemeFile);
  const std::string path = store.GetBackupPath(name);
  // After a lost disk even the My Schemes folder may be missing.
  if (!MakePrivateFolders(FolderOf(schemeFile))) {
    result.error = "cannot create the folder " + FolderOf(schemeFile) + ": " + std::strerror(errno);
    return result;
  }
  CBackupNameLock lock;
  std::string lockError;
  switch (lock.Acquire(path, false, options.cancel, &lockError)) {
    case CBackupNameLock::Outcome::kHeld:
      break;
    case CBackupNameLock::Outcome::kBusy:
      result.status = Status::kBusy;
      result.error = kBackupBeingWrittenText;
      return result;
    case CBackupNameLock::Outcome::kCancelled:
      result.status = Status::kCancelled;
      result.error = "interrupted";
      return result;
    case CBackupNameLock::Outcome::kFailed:
      result.error = lockError;
      return result;
  }
  if (store.Exists(name) && !options.replace) {
    result.status = Status::kExists;
    result.error = "A Backup with such name already exists in this Scheme: " + name;
    return result;
  }
  const std::string folder = store.BackupsFolder();
  RemoveStalePartials(folder);
  const std::string partial =
      folder + "/." + name + ".zip." + std::to_string(::getpid()) + ".partial";
  ::unlink(partial.c_str());
  const int fd = OpenLockedPartial(partial, true, kPrivateFileMode);
  if (fd < 0) {
    result.error = "cannot create " + partial + ": " + std::strerror(errno);
    return result;
  }
  struct Cleanup {
    int fd;
    std::string path;
    bool keep = false;
    ~Cleanup() {
      if (!keep) ::unlink(path.c_str());
      ::close(fd);
    }
  } cleanup{fd, partial};

  const std::string remoteFile =
      RemoteChild(RemoteChild(remote, schemeName + kBackupsExt), name + ".zip");
  const RcloneResult copy =
      RunRclone(rclone, {"copyto", remoteFile, partial, "--ignore-times", "--stats", "500ms"}, {},
                options.cancel, options.progress);
  if (copy.status == RcloneResult::Status::kCancelled) {
    result.status = Status::kCancelled;
    result.error = "interrupted";
    return result;
  }
  if (!copy.Ok()) {
    // rclone words a missing source in more than one way: a listing tells.
    std::vector<RemoteEntry> entries;
    std::string listError;
    const ListOutcome there = FinishListing(
        RunRclone(rclone, ListArgs(remoteFile), {}, options.cancel), entries, listError);
    if (there == ListOutcome::kCancelled) {
      result.status = Status::kCancelled;
      result.error = "interrupted";
      return result;
    }
    const bool missing =
        there == ListOutcome::kMissing || (there == ListOutcome::kListed && entries.empty());
    result.status = missing ? Status::kNotFound : Status::kFailed;
    result.error = missing ? "there is no Backup " + name + " of " + schemeName + " at " + remote
                           : copy.reason;
    return result;
  }
  // rclone may have put a new file at the name: whatever is there is made private.
  ::chmod(partial.c_str(), kPrivateFileMode);
  struct stat st {};
  if (::stat(partial.c_str(), &st) == 0) result.bytes = static_cast<uint64_t>(st.st_size);

  const VerifyResult verify = VerifyBackup(partial, options.cancel, nullptr, options.jobs);
  if (verify.status == VerifyResult::Status::kCancelled) {
    result.status = Status::kCancelled;
    result.error = "interrupted";
    return result;
  }
  if (verify.status != VerifyResult::Status::kChecked || !verify.faults.empty()) {
    result.status = Status::kDamaged;
    std::string why = verify.error;
    if (verify.status == VerifyResult::Status::kNoManifest) why = "it holds no list of files";
    if (!verify.faults.empty())
      why = verify.faults[0].path + ": " + verify.faults[0].reason +
            (verify.faults.size() > 1
                 ? " (and " + std::to_string(verify.faults.size() - 1) + " more faults)"
                 : "");
    result.error = "the Backup " + name + " fetched from " + remote +
                   " is damaged, so it was not kept: " + why;
    return result;
  }
  result.files = verify.files;

  struct stat schemeSt {};
  if (::stat(schemeFile.c_str(), &schemeSt) != 0) {
    // A lost My Schemes folder: the scheme file comes back too.
    const RcloneResult cat = RunRclone(
        rclone, {"cat", RemoteChild(remote, schemeName + kSchemeExt)}, {}, options.cancel);
    CScheme scheme;
    if (cat.status == RcloneResult::Status::kCancelled) {
      result.status = Status::kCancelled;
      result.error = "interrupted";
      return result;
    }
    if (!cat.Ok() || scheme.ReadFromMemory(cat.out.data(), cat.out.size()) != SchemeError::kOk) {
      result.error = "the scheme file " + schemeName + kSchemeExt + " could not be fetched from " +
                     remote + (cat.Ok() ? ": it is damaged" : ": " + cat.reason);
      return result;
    }
    if (!WriteFileAtomic(schemeFile, cat.out, kPrivateFileMode)) {
      result.error = "cannot write " + schemeFile + ": " + std::strerror(errno);
      return result;
    }
    result.schemeFetched = true;
  }

  if (options.replace) ::chmod(partial.c_str(), ModeForReplacing(path));
  const int dataFd = ::open(partial.c_str(), O_RDONLY | O_CLOEXEC);
  const bool synced = dataFd >= 0 && ::fsync(dataFd) == 0;
  if (dataFd >= 0) ::close(dataFd);
  if (!synced || ::rename(partial.c_str(), path.c_str()) != 0) {
    result.error = "cannot put the Backup in place at " + path + ": " + std::strerror(errno);
    return result;
  }
  cleanup.keep = true;
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  result.status = Status::kDone;
  return result;
}

}  // namespace tessarook
