// SPDX-License-Identifier: GPL-3.0-or-later
#include "offsite/Offsite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "backup/BackupVerifier.h"
#include "offsite/RemoteLayout.h"
#include "scheme/Scheme.h"
#include "util/AtomicFile.h"
#include "util/JsonReader.h"
#include "util/OpenBeneath.h"
#include "util/PartialFiles.h"
#include "util/PrivateFiles.h"

namespace tessarook {

namespace {

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

}  // namespace

std::string LocalForRclone(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd)) return std::string(cwd) + "/" + path;
  return "./" + path;
}

std::string RemoteChild(const std::string& remote, const std::string& name) {
  if (remote.empty()) return name;
  const char last = remote.back();
  return last == '/' || last == ':' ? remote + name : remote + "/" + name;
}

std::string SchemeFileName(std::string_view name) {
  std::string file(name);
  file += kSchemeExtension;
  return file;
}

std::string BackupFileName(std::string_view name) {
  std::string file(name);
  file += kBackupExtension;
  return file;
}

std::string RemoteSchemeFile(const std::string& remote, std::string_view name) {
  return RemoteChild(remote, SchemeFileName(name));
}

std::string RemoteBackupsFolder(const std::string& remote, std::string_view name) {
  return BackupsFolderFor(RemoteSchemeFile(remote, name));
}

std::string SchemeNameOf(const std::string& schemeFile) {
  std::string name = schemeFile.substr(schemeFile.rfind('/') + 1);
  const std::string_view ext = kSchemeExtension;
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
      backups.Start(rclone, ListArgs(RemoteBackupsFolder(remote, name)), {}, &error) &&
      scheme.Start(rclone, ListArgs(RemoteSchemeFile(remote, name)), {}, &error);
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
  const std::string folder = RemoteBackupsFolder(remote, name);
  const std::string_view ext = kBackupExtension;
  for (const RemoteEntry& e : entries) {
    if (e.isDir || e.name.size() <= ext.size() ||
        e.name.compare(e.name.size() - ext.size(), ext.size(), ext) != 0 || IsPartialName(e.name))
      continue;
    BackupInfo b;
    b.name = e.name.substr(0, e.name.size() - ext.size());
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

// One Backup on its way from the remote: the state its steps share. The
// partial file is removed (unless put in place) and closed before the lock
// on the Backup's name is let go.
class CPull {
 public:
  using Status = PullResult::Status;

  CPull(std::string rclone, const std::string& remote, const std::string& name,
        std::string schemeFile, const PullOptions& options, PullResult& result)
      : m_rclone(std::move(rclone)),
        m_remote(remote),
        m_name(name),
        m_schemeFile(std::move(schemeFile)),
        m_options(options),
        m_result(result),
        m_schemeName(SchemeNameOf(m_schemeFile)),
        m_store(m_schemeFile),
        m_path(m_store.GetBackupPath(name)) {}
  ~CPull() {
    if (m_fd < 0) return;
    if (!m_keep) ::unlink(m_partial.c_str());
    ::close(m_fd);
  }
  CPull(const CPull&) = delete;
  CPull& operator=(const CPull&) = delete;

  // The pull, step by step; each step that ends it says why in the result.
  void Run() {
    if (!LockName() || !OpenPartial() || !Fetch() || !Verify() || !RestoreSchemeFile()) return;
    PutInPlace();
  }

 private:
  // Marks the pull as interrupted; always false, for returning at once.
  bool Interrupted() {
    m_result.status = Status::kCancelled;
    m_result.error = "interrupted";
    return false;
  }

  // Takes the lock on the Backup's name, so that no Backup is written under
  // it meanwhile, and refuses to overwrite one unless asked to.
  bool LockName() {
    // After a lost disk even the My Schemes folder may be missing.
    if (!MakePrivateFolders(FolderOf(m_schemeFile))) {
      m_result.error =
          "cannot create the folder " + FolderOf(m_schemeFile) + ": " + std::strerror(errno);
      return false;
    }
    std::string lockError;
    switch (m_lock.Acquire(m_path, false, m_options.cancel, &lockError)) {
      case CBackupNameLock::Outcome::kHeld:
        break;
      case CBackupNameLock::Outcome::kBusy:
        m_result.status = Status::kBusy;
        m_result.error = kBackupBeingWrittenText;
        return false;
      case CBackupNameLock::Outcome::kCancelled:
        return Interrupted();
      case CBackupNameLock::Outcome::kFailed:
        m_result.error = lockError;
        return false;
    }
    if (m_store.Exists(m_name) && !m_options.replace) {
      m_result.status = Status::kExists;
      m_result.error = "A Backup with such name already exists in this Scheme: " + m_name;
      return false;
    }
    return true;
  }

  // Creates the hidden partial file the Backup is fetched into.
  bool OpenPartial() {
    m_folder = m_store.BackupsFolder();
    RemoveStalePartials(m_folder);
    m_partial = m_folder + "/." + m_name + ".zip." + std::to_string(::getpid()) + ".partial";
    ::unlink(m_partial.c_str());
    m_fd = OpenLockedPartial(m_partial, true, kPrivateFileMode);
    if (m_fd < 0) {
      m_result.error = "cannot create " + m_partial + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }

  // Copies the remote's Backup into the partial file; when that fails, tells
  // a missing Backup from a failed copy.
  bool Fetch() {
    const std::string remoteFile =
        BackupFilePath(RemoteBackupsFolder(m_remote, m_schemeName), m_name);
    const RcloneResult copy =
        RunRclone(m_rclone, {"copyto", remoteFile, m_partial, "--ignore-times", "--stats", "500ms"},
                  {}, m_options.cancel, m_options.progress);
    if (copy.status == RcloneResult::Status::kCancelled) return Interrupted();
    if (!copy.Ok()) {
      // rclone words a missing source in more than one way: a listing tells.
      std::vector<RemoteEntry> entries;
      std::string listError;
      const ListOutcome there = FinishListing(
          RunRclone(m_rclone, ListArgs(remoteFile), {}, m_options.cancel), entries, listError);
      if (there == ListOutcome::kCancelled) return Interrupted();
      const bool missing =
          there == ListOutcome::kMissing || (there == ListOutcome::kListed && entries.empty());
      m_result.status = missing ? Status::kNotFound : Status::kFailed;
      m_result.error =
          missing ? "there is no Backup " + m_name + " of " + m_schemeName + " at " + m_remote
                  : copy.reason;
      return false;
    }
    // rclone may have put a new file at the name: whatever is there is made private.
    ::chmod(m_partial.c_str(), kPrivateFileMode);
    struct stat st {};
    if (::stat(m_partial.c_str(), &st) == 0) m_result.bytes = static_cast<uint64_t>(st.st_size);
    return true;
  }

  // Checks every file of the fetched Backup; a damaged one is not kept.
  bool Verify() {
    const VerifyResult verify = VerifyBackup(m_partial, m_options.cancel, nullptr, m_options.jobs);
    if (verify.status == VerifyResult::Status::kCancelled) return Interrupted();
    if (verify.status != VerifyResult::Status::kChecked || !verify.faults.empty()) {
      m_result.status = Status::kDamaged;
      std::string why = verify.error;
      if (verify.status == VerifyResult::Status::kNoManifest) why = "it holds no list of files";
      if (!verify.faults.empty())
        why = verify.faults[0].path + ": " + verify.faults[0].reason +
              (verify.faults.size() > 1
                   ? " (and " + std::to_string(verify.faults.size() - 1) + " more faults)"
                   : "");
      m_result.error = "the Backup " + m_name + " fetched from " + m_remote +
                       " is damaged, so it was not kept: " + why;
      return false;
    }
    m_result.files = verify.files;
    return true;
  }

  // A lost My Schemes folder: the scheme file comes back too.
  bool RestoreSchemeFile() {
    struct stat schemeSt {};
    if (::stat(m_schemeFile.c_str(), &schemeSt) == 0) return true;
    const RcloneResult cat = RunRclone(m_rclone, {"cat", RemoteSchemeFile(m_remote, m_schemeName)},
                                       {}, m_options.cancel);
    CScheme scheme;
    if (cat.status == RcloneResult::Status::kCancelled) return Interrupted();
    if (!cat.Ok() || scheme.ReadFromMemory(cat.out.data(), cat.out.size()) != SchemeError::kOk) {
      m_result.error = "the scheme file " + SchemeFileName(m_schemeName) +
                       " could not be fetched from " + m_remote +
                       (cat.Ok() ? ": it is damaged" : ": " + cat.reason);
      return false;
    }
    if (!WriteFileAtomic(m_schemeFile, cat.out, kPrivateFileMode)) {
      m_result.error = "cannot write " + m_schemeFile + ": " + std::strerror(errno);
      return false;
    }
    m_result.schemeFetched = true;
    return true;
  }

  // Syncs the fetched Backup and renames it to its name, then syncs the
  // folder so the rename survives a crash.
  void PutInPlace() {
    if (m_options.replace) ::chmod(m_partial.c_str(), ModeForReplacing(m_path));
    const int dataFd = ::open(m_partial.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = dataFd >= 0 && ::fsync(dataFd) == 0;
    if (dataFd >= 0) ::close(dataFd);
    if (!synced || ::rename(m_partial.c_str(), m_path.c_str()) != 0) {
      m_result.error = "cannot put the Backup in place at " + m_path + ": " + std::strerror(errno);
      return;
    }
    m_keep = true;
    const int dirFd = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    m_result.status = Status::kDone;
  }

  const std::string m_rclone;
  const std::string& m_remote;
  const std::string& m_name;
  const std::string m_schemeFile;
  const PullOptions& m_options;
  PullResult& m_result;
  const std::string m_schemeName;
  const CBackupStore m_store;
  const std::string m_path;
  CBackupNameLock m_lock;
  std::string m_folder;   // the Scheme's Backups folder
  std::string m_partial;  // the file the Backup is fetched into
  int m_fd = -1;          // its descriptor, holding its lock
  bool m_keep = false;    // it was put in place
};

}  // namespace

PullResult PullBackup(const std::string& schemeFileArg, const std::string& remote,
                      const std::string& name, const PullOptions& options) {
  PullResult result;
  std::string rclone = FindRclone();
  if (rclone.empty()) {
    result.status = PullResult::Status::kNoRclone;
    result.error = kRcloneMissingText;
    return result;
  }
  CPull pull(std::move(rclone), remote, name, LocalForRclone(schemeFileArg), options, result);
  pull.Run();
  return result;
}

}  // namespace tessarook
