// SPDX-License-Identifier: GPL-3.0-or-later
// Push: a Scheme's scheme file and finished Backups to a remote, each put in
// place there only once it has arrived whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "offsite/Offsite.h"
#include "offsite/RemoteLayout.h"
#include "util/FileBytes.h"
#include "util/JsonReader.h"
#include "util/OpenBeneath.h"

namespace tessarook {

namespace {

// How much of a Backup's end is compared when sizes agree but times do not:
// the ZIP's central directory (every entry's name, size and CRC) and its end
// record lie there.
constexpr uint64_t kTailBytes = uint64_t{1} << 20;
// A remote whose modification times are coarser than this keeps none worth
// judging Backups by (rclone says 100 years for "not kept").
constexpr int64_t kCoarsestUsefulPrecision = int64_t{3600} * kNsPerSecond;
// Where the scheme file waits, inside the hidden folder the Backups wait in:
// a folder of its own, so that listing the one never touches the other.
constexpr const char* kSchemeStagingFolder = "scheme";

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
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

void PruneRemote(const std::string& rclone, const std::string& remote, const std::string& name,
                 const KeepPolicy& policy, const std::atomic<bool>* cancel, PushResult& result) {
  const RemoteListing listing = ListRemoteBackups(SchemeFileName(name), remote, cancel);
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
  for (const BackupInfo& b : plan.remove) files.push_back(BackupFileName(b.name));
  const RcloneResult r = RunRclone(
      rclone,
      {"delete", RemoteBackupsFolder(remote, name), "--files-from-raw", "-", "--max-depth", "1"},
      ListLines(files), cancel);
  const std::vector<std::string> deleted = r.Objects("Deleted");
  for (const BackupInfo& b : plan.remove) {
    if (std::find(deleted.begin(), deleted.end(), BackupFileName(b.name)) != deleted.end())
      result.pruned.push_back(b);
    else
      result.pruneFailed.push_back({b, r.Ok() ? "rclone did not delete it" : r.reason});
  }
}

// Why the scheme file cannot be pushed at all (it is no plain file, or its
// name cannot be given to rclone); empty when it can. `st` is its status.
std::string PushRefusal(const std::string& schemeFile, struct stat& st) {
  if (::stat(schemeFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return "no such Scheme: " + schemeFile;
  if (SchemeNameOf(schemeFile).find_first_of("\r\n") != std::string::npos)
    return "the Scheme's name holds a line break, which rclone cannot be given";
  return {};
}

// The scheme file's own way to the remote, beside the Backups' upload and on
// a thread of its own, so that it is in place while the Backups may still be
// on their way. One run sends it straight to its place where the remote has
// none, or nothing where the remote's is the same (--immutable: one that
// differs is left as it is and the run fails with rclone's "no retry" status).
// Only then is a scheme file there replaced, once the new one has arrived
// whole in its waiting folder, so a good one is never lost to a torn upload.
// The first run starts ahead, held, and is let go once the Backups' upload
// has made the remote folders: two runs making the same folders at once are
// refused by servers that lock a folder while it is made (WebDAV answers
// "423 Locked").
class CSchemeLeg {
 public:
  struct Outcome {
    std::string error;    // why the first run could not be started
    RcloneResult first;   // the run that compared it (and sent it where there was none)
    RcloneResult sent;    // the run that sent it, or judged the remote's the same
    bool copied = false;  // it was sent
    bool moveTried = false;
    RcloneResult moved;  // the run that moved it into place, when it waited
  };

  CSchemeLeg(const std::string& rclone, const std::string& folder, const std::string& remote,
             const std::string& staging, const std::string& entry)
      : m_rclone(rclone), m_folder(folder), m_remote(remote), m_staging(staging), m_entry(entry) {}
  ~CSchemeLeg() {
    Abort();
    if (m_thread.joinable()) m_thread.join();
  }
  CSchemeLeg(const CSchemeLeg&) = delete;
  CSchemeLeg& operator=(const CSchemeLeg&) = delete;

  // Starts the thread, once.
  void Start() {
    if (m_started) return;
    m_started = true;
    m_thread = std::thread([this] { Run(); });
  }
  // The remote folders exist: the file may be sent.
  void Go() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_go = true;
    m_cv.notify_all();
  }
  // Stops whatever runs; nothing more is started.
  void Abort() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_abort = true;
    m_cv.notify_all();
  }
  // Waits for it to end; a cancel seen meanwhile stops it.
  const Outcome& Finish(const std::atomic<bool>* cancel) {
    if (!m_thread.joinable()) return m_outcome;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      while (!m_done) {
        m_cv.wait_for(lock, std::chrono::milliseconds(100));
        if (cancel && cancel->load()) m_abort = true;
        if (m_abort) m_cv.notify_all();
      }
    }
    m_thread.join();
    return m_outcome;
  }

  // Sends it into its waiting folder, regardless of what the remote holds,
  // and moves it into place.
  void Replace(const std::atomic<bool>* cancel, Outcome& out) const {
    out.sent = RunRclone(
        m_rclone,
        {"copy", m_folder, m_staging, "--no-check-dest", "--no-traverse", "--files-from-raw", "-"},
        m_entry + "\n", cancel);
    if (!out.sent.Ok()) return;
    out.copied = true;
    out.moveTried = true;
    out.moved = RunRclone(m_rclone,
                          {"moveto", RemoteChild(m_staging, m_entry),
                           RemoteChild(m_remote, m_entry), "--ignore-times"},
                          {}, cancel);
  }

 private:
  // rclone's exit status for errors that no retry mends.
  static constexpr int kNoRetryStatus = 6;

  void Run() {
    Send();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = true;
    m_cv.notify_all();
  }

  // The runs start on this thread, so that they end with it. The first
  // one's debug lines name the kind of remote.
  void Send() {
    CRcloneProcess first;
    if (!first.StartHeld(m_rclone,
                         {"copy", m_folder, m_remote, "--immutable", "--no-traverse",
                          "--files-from-raw", "-", "-vv"},
                         &m_outcome.error))
      return;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_cv.wait(lock, [this] { return m_go || m_abort.load(); });
    }
    if (m_abort) return;
    first.Feed(m_entry + "\n");
    m_outcome.first = first.Wait(&m_abort, {});
    if (m_outcome.first.Ok()) {
      const std::vector<std::string> copied = m_outcome.first.Objects("Copied");
      m_outcome.copied = std::find(copied.begin(), copied.end(), m_entry) != copied.end();
      m_outcome.sent = m_outcome.first;
      return;
    }
    if (m_outcome.first.exitCode != kNoRetryStatus || m_abort) {
      m_outcome.sent = m_outcome.first;
      return;
    }
    Replace(&m_abort, m_outcome);
  }

  const std::string m_rclone, m_folder, m_remote, m_staging, m_entry;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_started = false, m_go = false, m_done = false;
  std::atomic<bool> m_abort{false};
  Outcome m_outcome;
  std::thread m_thread;
};

// One push under way: the state its steps share. The members are declared in
// the order they come into use, so the rclone runs still going are stopped
// before the Backups' name locks are let go.
//
// On the remote, the Backups wait in a hidden folder beside the Scheme's
// (".NAME.tsbak.push") until each has arrived whole and is moved into place;
// a scheme file that replaces one waits in a folder of its own inside it.
class CPush {
 public:
  CPush(std::string rclone, const std::string& remote, std::string schemeFile,
        const struct stat& st, const PushOptions& options, PushResult& result)
      : m_rclone(std::move(rclone)),
        m_remote(remote),
        m_schemeFile(std::move(schemeFile)),
        m_st(st),
        m_options(options),
        m_result(result),
        m_name(SchemeNameOf(m_schemeFile)),
        m_folder(FolderOf(m_schemeFile)),
        m_localBackups(BackupsFolderFor(m_schemeFile)),
        m_store(m_schemeFile),
        m_remoteBackups(RemoteBackupsFolder(remote, m_name)),
        m_staging(RemoteChild(remote, "." + SchemeFileName(m_name).append(kStagingSuffix))),
        m_schemeStaging(RemoteChild(m_staging, kSchemeStagingFolder)),
        m_schemeEntry(SchemeFileName(m_name)),
        m_schemeLeg(m_rclone, m_folder, remote, m_schemeStaging, m_schemeEntry) {}

  // The push, step by step; each step that ends it says why in the result.
  void Run() {
    LockBackups();
    if (!StartUpload()) return;
    const RcloneResult sent = WaitUpload();
    if (Cancelled()) return;
    if (!sent.Ok()) return Fail(sent);
    if (!TakeCopied(sent) || !TakeSchemeLeg()) return;
    TellEncryption();
    std::vector<std::string> differ;
    bool schemeDiffers = false;
    if (!StartSecondLook() || !CompareSchemeFile(schemeDiffers)) return;
    LearnWhetherTimesKept();
    CompareBackupTails(differ);
    if (Cancelled()) return;
    if (!Resend(differ, schemeDiffers)) return;
    MoveIntoPlace();
  }

 private:
  // Every finished Backup, each held under its name's lock until the push
  // is over: none is replaced or deleted while rclone reads it.
  void LockBackups() {
    for (BackupInfo& b : m_store.List()) {
      if (b.name.find_first_of("\r\n") != std::string::npos) {
        m_result.leftOut.push_back(
            {b, "its name holds a line break, which rclone cannot be given"});
        continue;
      }
      auto lock = std::make_unique<CBackupNameLock>();
      std::string lockError;
      const auto locked = lock->Acquire(b.path, false, m_options.cancel, &lockError);
      if (locked == CBackupNameLock::Outcome::kBusy) {
        m_result.leftOut.push_back({b, "a Backup of this name is being written"});
        continue;
      }
      if (locked != CBackupNameLock::Outcome::kHeld) {
        m_result.leftOut.push_back({b, lockError});
        continue;
      }
      BackupInfo now;
      if (!m_store.GetInfo(b.name, now)) continue;  // deleted meanwhile
      const std::string file = BackupFileName(now.name);
      m_local[file] = {std::move(now), std::move(lock)};
    }
  }

  // How the Backups listed on standard input are sent into the hidden folder:
  // first only where the remote lacks them or holds them otherwise
  // (--compare-dest: rclone's own comparison with what is in place), with the
  // log's debug lines, which name the kind of remote; again, when a second
  // look found them different, regardless. --no-check-dest: whatever an
  // interrupted push left in the hidden folder is overwritten.
  std::vector<std::string> UploadArgs(bool compare) const {
    std::vector<std::string> args{"copy", m_localBackups, m_staging};
    if (compare) args.insert(args.end(), {"--compare-dest", m_remoteBackups, "-vv"});
    args.insert(args.end(),
                {"--no-check-dest", "--no-traverse", "--files-from-raw", "-", "--stats", "500ms"});
    return args;
  }

  // One run sends the Backups that the remote lacks or holds otherwise into
  // the hidden folder. Beside it, the run that moves them into place starts too:
  // it waits for the list of what arrived whole (--files-from-raw on its
  // standard input) before it acts. Without a Backup to send, the scheme
  // file goes its way at once.
  bool StartUpload() {
    for (const auto& [file, o] : m_local) m_files.push_back(file);
    if (m_files.empty()) {
      m_schemeLeg.Start();
      m_schemeLeg.Go();
      return true;
    }
    std::string error;
    if (!m_copy.Start(m_rclone, UploadArgs(true), ListLines(m_files), &error) ||
        !m_moveBackups.StartHeld(
            m_rclone,
            {"move", m_staging, m_remoteBackups, "--files-from-raw", "-", "--ignore-times"},
            &error)) {
      m_result.error = error;
      return false;
    }
    return true;
  }

  // Waits for the Backups' upload. The scheme file's way starts once that
  // run has said its first word (not beside its start, which would slow it),
  // and is let go once it has begun to send, or has ended.
  RcloneResult WaitUpload() {
    RcloneResult sent;
    if (m_files.empty()) {
      sent.status = RcloneResult::Status::kDone;
      sent.transfers = 0;
      return sent;
    }
    const ByteProgress progress = [this](uint64_t done, uint64_t total) {
      if (done > 0) m_schemeLeg.Go();
      if (m_options.progress) m_options.progress(done, total);
    };
    const EventSink events = [this](const RcloneEvent& e) {
      m_schemeLeg.Start();
      OnArrival(e);
    };
    sent = m_copy.Wait(m_options.cancel, progress, events);
    NoteKinds(sent.events);
    if (sent.Ok()) {
      m_schemeLeg.Start();
      m_schemeLeg.Go();
    }
    return sent;
  }

  // Whether the caller asked if the remote is encrypted.
  bool AskKind() const { return static_cast<bool>(m_options.encryption); }

  // Notes the kinds of remote a run's log named.
  void NoteKinds(const std::vector<RcloneEvent>& events) {
    for (const RcloneEvent& e : events) {
      const std::string kind = RemoteKindOf(e);
      if (kind == "crypt")
        m_seenCrypt = true;
      else if (!kind.empty())
        m_seenOtherKind = true;
    }
  }

  // Tells the caller, once, whether the remote is encrypted, when it asked.
  // The uploads' logs tell: a crypt remote names itself in them, whatever
  // else it wraps. Only where they named no remote at all is rclone asked
  // for its list of remotes.
  void TellEncryption() {
    if (!AskKind() || m_told) return;
    m_told = true;
    if (m_seenCrypt || m_seenOtherKind)
      m_options.encryption(m_seenCrypt);
    else
      m_options.encryption(IsEncryptedRemote(m_rclone, m_remote));
  }

  // Notes a Backup that arrived whole; once every one has, the move is given
  // their list, while the run that sent them still ends.
  EventSink ArrivalSink() {
    return [this](const RcloneEvent& e) { OnArrival(e); };
  }

  void OnArrival(const RcloneEvent& e) {
    if (e.message.compare(0, 6, "Copied") != 0) return;
    if (std::find(m_arrived.begin(), m_arrived.end(), e.object) == m_arrived.end())
      m_arrived.push_back(e.object);
    if (!m_backupsFed && m_arrived.size() == m_files.size()) FeedMove(m_arrived);
  }

  // Gives the held move run the Backups in `whole` (file names).
  void FeedMove(const std::vector<std::string>& whole) {
    m_backupsFed = true;
    m_backupFiles = whole;
    if (!m_backupFiles.empty()) m_moveBackups.Feed(ListLines(m_backupFiles));
  }

  // The Backups now in place; the move's reason when it failed.
  std::string WaitBackupsMoved() {
    if (m_backupFiles.empty()) return {};
    const RcloneResult moved = m_moveBackups.Wait(m_options.cancel, {});
    const std::vector<std::string> done = moved.Objects("Moved");
    for (const std::string& file : m_backupFiles) {
      if (!moved.Ok() && std::find(done.begin(), done.end(), file) == done.end()) continue;
      const Outgoing& o = m_local.at(file);
      m_result.sent.push_back(o.info);
      m_result.bytes += o.info.size;
    }
    m_backupFiles.clear();
    return moved.Ok() ? std::string() : moved.reason;
  }

  // True (and the push marked as interrupted) when the user stopped it.
  bool Cancelled() {
    if (!m_options.cancel || !m_options.cancel->load()) return false;
    m_result.status = OffsiteStatus::kCancelled;
    m_result.error = "interrupted";
    return true;
  }

  // The push failed with `r`'s reason. What this run left in the hidden
  // folder is of no use: free the space (a full remote) as far as the remote
  // lets us.
  void Fail(const RcloneResult& r) {
    m_schemeLeg.Abort();
    TakeSchemeMove(m_schemeLeg.Finish(nullptr));
    WaitBackupsMoved();
    TellEncryption();
    RunRclone(m_rclone, {"purge", m_staging});
    m_result.error = r.reason;
  }

  // Takes the list of files the upload sent from its log; false (the push
  // failed) when the log does not account for every file it sent.
  bool TakeCopied(const RcloneResult& sent) {
    m_copied = sent.Objects("Copied");
    if (sent.transfers >= 0 && static_cast<size_t>(sent.transfers) != m_copied.size()) {
      RcloneResult unreadable = sent;
      unreadable.reason = "rclone's log does not say which files it sent";
      Fail(unreadable);
      return false;
    }
    return true;
  }

  // Notes whether the scheme file is in place.
  void TakeSchemeMove(const CSchemeLeg::Outcome& leg) {
    m_result.schemeSent = leg.copied && (!leg.moveTried || leg.moved.Ok());
    if (leg.moveTried && !leg.moved.Ok()) m_schemeError = leg.moved.reason;
  }

  // Waits for the scheme file's way; false when the push ends here.
  bool TakeSchemeLeg() {
    const CSchemeLeg::Outcome& leg = m_schemeLeg.Finish(m_options.cancel);
    if (Cancelled()) return false;
    if (!leg.error.empty()) {
      RcloneResult unstarted;
      unstarted.reason = leg.error;
      Fail(unstarted);
      return false;
    }
    NoteKinds(leg.first.events);
    if (!leg.sent.Ok()) {
      Fail(leg.sent);
      return false;
    }
    m_schemeLeft = !leg.copied;
    TakeSchemeMove(leg);
    return true;
  }

  // Whether the upload sent the Backup (rather than judging the remote's the same).
  bool WasCopied(const std::string& file) const {
    return std::find(m_copied.begin(), m_copied.end(), file) != m_copied.end();
  }

  // What rclone judged the same needs a second look only where its judgement
  // may miss a change. The scheme file is compared whole (it is small): its
  // size may stay and its time be too coarse. A remote that keeps no
  // modification times compares Backups by size alone, and a Backup taken
  // again under its name may have the same size: their last bytes tell. The
  // remote's kind of times is asked for only then, or for pruning.
  bool StartSecondLook() {
    for (const auto& [file, o] : m_local) m_anyBackupLeft = m_anyBackupLeft || !WasCopied(file);
    std::string error;
    if ((NeedTimes() &&
         !m_features.Start(m_rclone, {"backend", "features", m_remote}, {}, &error)) ||
        (m_schemeLeft &&
         !m_schemeThere.Start(m_rclone, {"cat", RemoteChild(m_remote, m_schemeEntry)}, {},
                              &error))) {
      m_result.error = error;
      return false;
    }
    return true;
  }

  // Whether the remote's kind of modification times is needed.
  bool NeedTimes() const { return m_anyBackupLeft || m_options.prune.Any(); }

  // Sets `differs` when the scheme file the upload left alone is not the
  // same as the local one; false when the local one cannot be read.
  bool CompareSchemeFile(bool& differs) {
    if (!m_schemeLeft) return true;
    std::string mine;
    if (!ReadLocalTail(m_schemeFile, static_cast<uint64_t>(m_st.st_size),
                       static_cast<uint64_t>(m_st.st_size), mine)) {
      m_result.error = "cannot read " + m_schemeFile + ": " + std::strerror(errno);
      return false;
    }
    const RcloneResult there = m_schemeThere.Wait(m_options.cancel, {});
    differs = !there.Ok() || there.out != mine;
    return true;
  }

  // Whether the remote keeps modification times fine enough to judge
  // Backups by.
  void LearnWhetherTimesKept() {
    if (!NeedTimes()) return;
    const RcloneResult precision = m_features.Wait(m_options.cancel, {});
    CJsonValue json;
    m_timesKept = precision.Ok() && json.Parse(precision.out) && json.IsObject() &&
                  json.IntOf("Precision", INT64_MAX) <= kCoarsestUsefulPrecision;
  }

  // Adds to `differ` the Backups left alone whose last bytes differ from
  // the remote's, where the remote keeps no times to judge them by.
  void CompareBackupTails(std::vector<std::string>& differ) {
    if (m_timesKept || !m_anyBackupLeft) return;
    for (const auto& [file, o] : m_local) {
      if (WasCopied(file)) continue;
      if (!SameTail(m_rclone, RemoteChild(m_remoteBackups, file), o.info.path, o.info.size,
                    m_options.cancel))
        differ.push_back(file);
    }
  }

  // Sends again, without rclone's comparison, what the second look found
  // different (the scheme file by way of its waiting folder); false when the
  // push ends here.
  bool Resend(const std::vector<std::string>& differ, bool schemeDiffers) {
    if (!differ.empty()) {
      const RcloneResult resent = RunRclone(m_rclone, UploadArgs(false), ListLines(differ),
                                            m_options.cancel, m_options.progress, ArrivalSink());
      if (Cancelled()) return false;
      if (!resent.Ok()) {
        Fail(resent);
        return false;
      }
      m_copied.insert(m_copied.end(), differ.begin(), differ.end());
    }
    if (!schemeDiffers) return true;
    CSchemeLeg::Outcome again;
    m_schemeLeg.Replace(m_options.cancel, again);
    if (Cancelled()) return false;
    if (!again.sent.Ok()) {
      Fail(again.sent);
      return false;
    }
    TakeSchemeMove(again);
    return true;
  }

  // All of it arrived whole: the Backups move into place. --ignore-times: a
  // Backup of other content but the same size replaces the one there even
  // where the remote keeps no times. The locks are let go once all moved.
  void MoveIntoPlace() {
    if (!m_backupsFed) FeedMove(m_copied);
    std::string failure = WaitBackupsMoved();
    if (m_result.schemeSent) m_result.bytes += static_cast<uint64_t>(m_st.st_size);
    if (failure.empty()) failure = m_schemeError;
    m_local.clear();
    SortBackups(m_result.sent, BackupSort::kTime);
    if (Cancelled()) return;
    if (!failure.empty()) {
      m_result.error = failure;
      return;
    }
    m_result.status = OffsiteStatus::kDone;
    Prune();
  }

  // Deletes the remote's Backups the keep policy lets go, where the remote's
  // times can be judged.
  void Prune() {
    if (!m_options.prune.Any()) return;
    if (!m_timesKept)
      m_result.pruneRefused = m_remote +
                              " keeps no modification times, so the Backups' times there are "
                              "not known; nothing was pruned";
    else
      PruneRemote(m_rclone, m_remote, m_name, m_options.prune, m_options.cancel, m_result);
  }

  const std::string m_rclone;
  const std::string& m_remote;
  const std::string m_schemeFile;
  const struct stat m_st;
  const PushOptions& m_options;
  PushResult& m_result;
  const std::string m_name;
  const std::string m_folder;
  const std::string m_localBackups;
  const CBackupStore m_store;
  const std::string m_remoteBackups;
  const std::string m_staging;
  const std::string m_schemeStaging;
  const std::string m_schemeEntry;
  std::map<std::string, Outgoing> m_local;  // by file name
  std::vector<std::string> m_files;         // the Backups the upload is given
  CRcloneProcess m_copy, m_moveBackups;
  CSchemeLeg m_schemeLeg;
  bool m_seenCrypt = false, m_seenOtherKind = false, m_told = false;
  std::string m_schemeError;
  std::vector<std::string> m_arrived, m_backupFiles;
  bool m_backupsFed = false;
  std::vector<std::string> m_copied;
  bool m_anyBackupLeft = false, m_schemeLeft = false;
  CRcloneProcess m_features, m_schemeThere;
  bool m_timesKept = false;
};

}  // namespace

PushResult PushScheme(const std::string& schemeFileArg, const std::string& remote,
                      const PushOptions& options) {
  PushResult result;
  std::string rclone = FindRclone();
  if (rclone.empty()) {
    result.status = OffsiteStatus::kNoRclone;
    result.error = kRcloneMissingText;
    return result;
  }
  std::string schemeFile = LocalForRclone(schemeFileArg);
  struct stat st {};
  result.error = PushRefusal(schemeFile, st);
  if (!result.error.empty()) return result;
  CPush push(std::move(rclone), remote, std::move(schemeFile), st, options, result);
  push.Run();
  return result;
}

}  // namespace tessarook
