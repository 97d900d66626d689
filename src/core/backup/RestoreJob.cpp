// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/RestoreJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "backup/ByteMeter.h"
#include "backup/ReaderWorkers.h"
#include "backup/RestorePath.h"
#include "util/OpenBeneath.h"
#include "util/PartialFiles.h"
#include "util/PathUtil.h"
#include "util/PrivateFiles.h"

namespace tessarook {

namespace {

// The data size of the entries the items will extract.
uint64_t EntryBytes(CBackupArchive& archive, const std::vector<RestoreItem>& items) {
  uint64_t total = 0;
  for (const RestoreItem& item : items)
    if (item.position < archive.paths.size())
      total += archive.GetEntrySize(archive.EntryIndexFor(item.position));
  return total;
}

// The entry index of an item whose position the manifest does not have.
constexpr int64_t kNoPosition = -2;

}  // namespace

std::vector<RestoreItem> CRestoreJob::Plan(const CBackupArchive& archive,
                                           const std::vector<size_t>& positions,
                                           const std::string& toFolder,
                                           std::vector<RestoreFailure>& refused) {
  std::string folder = toFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::vector<RestoreItem> items;
  for (size_t position : positions) {
    if (position >= archive.paths.size()) {
      refused.push_back({position, "", "no such file in the Backup"});
      continue;
    }
    const std::string& source = archive.paths[position];
    std::vector<std::string> parts;
    const std::string why = RestorePlace(source, !folder.empty(), parts);
    if (!why.empty()) {
      refused.push_back({position, source, why});
      continue;
    }
    if (folder.empty()) {
      if (IsWindowsPath(source)) {
        RestoreFailure f{position, source, kNeedsFolderText};
        f.needsFolder = true;
        refused.push_back(f);
      } else {
        items.push_back({position, source, "", ""});
      }
      continue;
    }
    std::string relative;
    for (const std::string& part : parts) relative = JoinPath(relative, part);
    items.push_back({position, JoinPath(folder, relative), folder, relative});
  }
  return items;
}

namespace {

bool ExtractItem(CBackupArchive& archive, const RestoreItem& item, std::string& error,
                 bool& skipped) {
  skipped = false;
  if (item.position >= archive.paths.size()) {
    error = "no such file in the Backup";
    return false;
  }
  const int64_t index = archive.EntryIndexFor(item.position);
  if (index < 0) {
    error = "the Backup holds no entry " + EntryNameOf(item.position);
    return false;
  }
  CZipExtractor extractor(archive);
  const bool ok = item.folder.empty() ? extractor.ExtractToFile(item.destination, index)
                                      : extractor.ExtractBeneath(item.folder, item.relative, index);
  if (!ok) {
    error = extractor.LastError();
    skipped = extractor.DestinationProtected();
  }
  return ok;
}

// A folder to reach: from "/" (or the current folder) through `follow`, where
// symbolic links are followed, then through `refuse`, where none is. Messages
// name the `refuse` part as `refuseShown` followed by its components.
struct FolderPath {
  bool absolute = true;
  std::vector<std::string> follow;
  std::vector<std::string> refuse;
  std::string refuseShown;
};

// The folders one restore writes into, shared by its workers: each is opened,
// or made, once, and stays open for the files that follow (at most
// kMaxOpenFolders at a time; past that the handles are let go and folders
// are opened again as needed). The folders it made are recorded, so that
// those a failure left empty can be removed at the end. Every folder is
// reached as ExtractToFile (links followed) or ExtractBeneath (none followed
// below the target folder) reaches it, with the same messages.
class CRestoreFolders {
 public:
  static constexpr size_t kMaxOpenFolders = 256;

  // Removes what killed restores left in the folder of `destination`
  // (each folder once).
  void Sweep(const std::string& destination) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_sweeper.SweepFolderOf(destination);
  }

  // The folder that receives `item`, with the file's name in it and the text
  // that names the file; null with `error` when it cannot be reached.
  std::shared_ptr<CFileHandle> FolderFor(const RestoreItem& item, std::string& leaf,
                                         std::string& shown, std::string& error) {
    FolderPath path;
    if (item.folder.empty()) {
      const std::string& dest = item.destination;
      const size_t slash = dest.rfind('/');
      leaf = slash == std::string::npos ? dest : dest.substr(slash + 1);
      shown = dest;
      if (leaf.empty() || leaf == "." || leaf == "..") {
        error = dest + ": not a file path";
        return nullptr;
      }
      const std::string folder = FolderOf(dest);
      path.absolute = folder.front() == '/';
      path.follow = PathComponents(folder);
    } else {
      std::vector<std::string> parts = PathComponents(item.relative);
      shown = item.folder;
      for (const std::string& part : parts) shown = JoinPath(shown, part);
      if (parts.empty() || parts.back() == "." || parts.back() == "..") {
        error = shown + ": not a file path";
        return nullptr;
      }
      leaf = parts.back();
      parts.pop_back();
      path.absolute = item.folder.front() == '/';
      path.follow = PathComponents(item.folder);
      path.refuse = std::move(parts);
      path.refuseShown = item.folder;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    return Open(path, error);
  }

  // Removes, innermost first, every folder this restore made that is empty.
  void RemoveEmptyMade() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_open.clear();
    for (auto it = m_made.rbegin(); it != m_made.rend(); ++it) {
      FolderPath parent = *it;
      std::vector<std::string>& last = parent.refuse.empty() ? parent.follow : parent.refuse;
      const std::string name = last.back();
      last.pop_back();
      const CFileHandle folder = OpenExisting(parent);
      if (folder.IsOpen()) unlinkat(folder.Get(), name.c_str(), AT_REMOVEDIR);
    }
    m_made.clear();
  }

 private:
  static std::string KeyOf(const FolderPath& path) {
    std::string key(path.absolute ? "/" : ".");
    for (const std::string& part : path.follow) key.append("\1").append(part);
    for (const std::string& part : path.refuse) key.append("\2").append(part);
    return key;
  }

  // Walks to an existing folder without making any (for the clean-up).
  static CFileHandle OpenExisting(const FolderPath& path) {
    CFileHandle current(::open(path.absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (size_t k = 0; current.IsOpen() && k < path.follow.size() + path.refuse.size(); ++k) {
      const bool below = k >= path.follow.size();
      const std::string& name = below ? path.refuse[k - path.follow.size()] : path.follow[k];
      current = CFileHandle(openat(current.Get(), name.c_str(),
                                   O_PATH | O_DIRECTORY | O_CLOEXEC | (below ? O_NOFOLLOW : 0)));
    }
    return current;
  }

  // Called with m_lock held.
  std::shared_ptr<CFileHandle> Open(const FolderPath& path, std::string& error) {
    const std::string key = KeyOf(path);
    if (auto it = m_open.find(key); it != m_open.end()) return it->second;
    if (m_open.size() >= kMaxOpenFolders) m_open.clear();

    FolderPath reached;
    reached.absolute = path.absolute;
    std::string partKey(path.absolute ? "/" : ".");
    std::string shown = path.absolute ? "/" : "";
    std::shared_ptr<CFileHandle> current;
    if (auto it = m_open.find(partKey); it != m_open.end()) {
      current = it->second;
    } else {
      current = std::make_shared<CFileHandle>(
          ::open(path.absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (!current->IsOpen()) {
        error = std::string(path.absolute ? "/" : ".") + ": " + std::strerror(errno);
        return nullptr;
      }
      m_open.emplace(partKey, current);
    }
    const size_t count = path.follow.size() + path.refuse.size();
    for (size_t k = 0; k < count; ++k) {
      const bool below = k >= path.follow.size();
      const std::string& name = below ? path.refuse[k - path.follow.size()] : path.follow[k];
      if (below && k == path.follow.size()) shown = path.refuseShown;
      (below ? reached.refuse : reached.follow).push_back(name);
      partKey.append(below ? "\2" : "\1").append(name);
      if (auto it = m_open.find(partKey); it != m_open.end()) {
        current = it->second;
        if (name != ".") shown = JoinPath(shown, name);
        continue;
      }
      CMadeFolders made;
      CFileHandle next =
          OpenFolderBelow(current->Get(), {name}, below ? LinkRule::kRefuse : LinkRule::kFollow,
                          made, shown, error);
      if (!next.IsOpen()) return nullptr;
      if (!made.IsEmpty()) m_made.push_back(reached);
      current = std::make_shared<CFileHandle>(std::move(next));
      m_open.emplace(partKey, current);
      if (name != ".") shown = JoinPath(shown, name);
    }
    return current;
  }

  std::mutex m_lock;
  std::unordered_map<std::string, std::shared_ptr<CFileHandle>> m_open;
  std::vector<FolderPath> m_made;  // in the order they were made
  CPartialSweeper m_sweeper;
};

// What became of one item.
struct Outcome {
  bool ok = false;
  bool notRun = false;     // cancelled before it began
  bool cancelled = false;  // failed because of a cancel
  bool skipped = false;
  bool damaged = false;
  CZipExtractor::Placed placed = CZipExtractor::Placed::kCreated;
  std::string error;
};

// Restores one item with `extractor`, into the folders of the whole restore.
Outcome RestoreOne(CZipExtractor& extractor, const RestoreItem& item, int64_t index,
                   CRestoreFolders& folders, const std::atomic<bool>* cancel) {
  Outcome out;
  if (cancel && cancel->load()) {
    out.notRun = true;
    return out;
  }
  folders.Sweep(item.destination);
  if (index == kNoPosition) {
    out.error = "no such file in the Backup";
  } else if (index < 0) {
    out.error = "the Backup holds no entry " + EntryNameOf(item.position);
  } else {
    std::string leaf, shown;
    const std::shared_ptr<CFileHandle> folder = folders.FolderFor(item, leaf, shown, out.error);
    if (folder) {
      out.ok = extractor.ExtractIntoFolder(folder->Get(), leaf, shown, index, !item.folder.empty());
      if (out.ok) {
        out.placed = extractor.LastPlaced();
      } else {
        out.error = extractor.LastError();
        out.skipped = extractor.DestinationProtected();
        out.damaged = extractor.EntryDamaged();
      }
    }
  }
  out.cancelled = !out.ok && cancel && cancel->load();
  return out;
}

// The end of a chain of items.
constexpr size_t kEnd = static_cast<size_t>(-1);

// Chains of items with the same destination: sets next[i] to the next item
// of i's chain (kEnd after its last), and returns the first item of each
// chain, in item order.
std::vector<size_t> DestinationChains(const std::vector<RestoreItem>& items,
                                      std::vector<size_t>& next) {
  next.assign(items.size(), kEnd);
  std::vector<size_t> heads;
  std::unordered_map<std::string_view, size_t> last;
  for (size_t i = 0; i < items.size(); ++i) {
    auto [it, fresh] = last.emplace(items[i].destination, i);
    if (fresh) {
      heads.push_back(i);
    } else {
      next[it->second] = i;
      it->second = i;
    }
  }
  return heads;
}

}  // namespace

bool CRestoreJob::ExtractPosition(CBackupArchive& archive, size_t position,
                                  const std::string& destination, std::string& error) {
  bool skipped = false;
  return ExtractItem(archive, {position, destination, "", ""}, error, skipped);
}

bool CRestoreJob::ExtractPreviewCopy(CBackupArchive& archive, size_t position,
                                     CPreviewFolder& folder, std::string& path,
                                     std::string& error) {
  if (position >= archive.paths.size()) {
    error = "no such file in the Backup";
    return false;
  }
  const int64_t index = archive.EntryIndexFor(position);
  if (index < 0) {
    error = "the Backup holds no entry " + EntryNameOf(position);
    return false;
  }
  if (folder.Path().empty()) {
    error = std::string("cannot make a private folder for the copy: ") + std::strerror(errno);
    return false;
  }
  path = PreviewTempPath(folder.Path(), archive.paths[position]);
  CZipExtractor extractor(archive);
  if (extractor.ExtractReplacing(path, index)) {
    ::chmod(path.c_str(), kPrivateFileMode);
    return true;
  }
  error = extractor.LastError();
  return false;
}

// The items are shared out by destination: items with the same destination
// form a chain that one worker restores in order, so no two workers ever
// write the same path; the chains go to the workers as each becomes free.
// Each worker reads the Backup through an archive object of its own (its own
// open of the file). The thread that called Run collects the outcomes and
// reports them in item order, making every sink call itself.
//
// Memory: per worker, what one archive reader holds (see CZipReader: at most
// 2 x 4 MiB + 64 KiB for an entry inflated in one call, 1.25 MiB for
// streaming) plus a 1 MiB copy buffer for replacing existing files and a copy
// of the Backup's directory; shared, one small outcome per item and at most
// CRestoreFolders::kMaxOpenFolders open folders.
RestoreResult CRestoreJob::Run(CBackupArchive& archive, const std::vector<RestoreItem>& items,
                               const std::atomic<bool>* cancel, IProgressSink* sink,
                               unsigned jobs) {
  RestoreResult result;
  const size_t n = items.size();
  const uint64_t total = n;
  if (sink) sink->OnProgress(0, total);
  CByteMeter bytes(sink);
  bytes.Start(EntryBytes(archive, items));

  std::vector<int64_t> index(n);
  for (size_t i = 0; i < n; ++i)
    index[i] = items[i].position < archive.paths.size() ? archive.EntryIndexFor(items[i].position)
                                                        : kNoPosition;
  std::vector<size_t> next;
  const std::vector<size_t> heads = DestinationChains(items, next);

  const unsigned wanted = WorkerCount(jobs, heads.size());
  std::vector<std::unique_ptr<CBackupArchive>> readers;
  if (wanted > 1) readers = OpenReaders<CBackupArchive>(archive, wanted);

  // Everything the workers touch is declared before them, so that they are
  // joined before any of it goes.
  CRestoreFolders folders;
  std::vector<Outcome> outcomes(n);
  std::atomic<size_t> nextHead{0};
  CReaderWorkers workers(n);
  const bool parallel = readers.size() > 1 && workers.Start(readers, [&](CBackupArchive& reader) {
    reader.SetCancelFlag(cancel);
    reader.SetDataObserver([&](uint64_t k) { workers.CountBytes(k); });
    CZipExtractor extractor(reader);
    for (size_t h; (h = nextHead.fetch_add(1)) < heads.size();) {
      for (size_t i = heads[h]; i != kEnd; i = next[i]) {
        Outcome out = RestoreOne(extractor, items[i], index[i], folders, cancel);
        workers.Finish(i, [&] { outcomes[i] = std::move(out); });
      }
    }
  });

  // Reports item i, whose outcome is final. After a cancel the files still
  // written are listed as restored, with no further progress.
  uint64_t done = 0;
  bool stopped = false;
  auto report = [&](size_t i) {
    const Outcome& out = outcomes[i];
    const RestoreItem& item = items[i];
    if (stopped) {
      if (out.ok) result.restored.push_back(item.position);
      return;
    }
    if (out.notRun || out.cancelled) {
      result.cancelled = stopped = true;
      return;
    }
    if (out.ok) {
      result.restored.push_back(item.position);
      switch (out.placed) {
        case CZipExtractor::Placed::kCreated:
          ++result.created;
          break;
        case CZipExtractor::Placed::kReplaced:
          ++result.replaced;
          break;
        case CZipExtractor::Placed::kSame:
          ++result.same;
          break;
      }
    } else {
      const std::string path =
          item.position < archive.paths.size() ? archive.paths[item.position] : std::string();
      RestoreFailure f{item.position, path, out.error};
      f.skipped = out.skipped;
      f.damaged = out.damaged;
      result.failed.push_back(f);
    }
    ++done;
    bytes.Flush();
    if (sink) sink->OnProgress(done, total);
  };

  if (!parallel) {
    // One worker: this thread, with the caller's archive, in item order.
    archive.SetCancelFlag(cancel);
    archive.SetDataObserver([&bytes](uint64_t k) { bytes.Add(k); });
    CZipExtractor extractor(archive);
    for (size_t i = 0; i < n && !stopped; ++i) {
      outcomes[i] = RestoreOne(extractor, items[i], index[i], folders, cancel);
      report(i);
    }
    archive.SetDataObserver(nullptr);
    archive.SetCancelFlag(nullptr);
  } else {
    for (size_t i = 0; i < n;)
      for (const size_t ready = workers.WaitFor(i, bytes); i < ready; ++i) report(i);
    workers.Join();
  }
  if (!result.failed.empty() || result.cancelled) folders.RemoveEmptyMade();
  return result;
}

std::vector<RestorePreview> CRestoreJob::Foresee(CBackupArchive& archive,
                                                 const std::vector<RestoreItem>& items,
                                                 const std::atomic<bool>* cancel) {
  archive.SetCancelFlag(cancel);
  CZipExtractor extractor(archive);
  std::vector<RestorePreview> out;
  for (const RestoreItem& item : items) {
    if (cancel && cancel->load()) break;
    RestorePreview p;
    p.position = item.position;
    p.destination = item.destination;
    const int64_t index =
        item.position < archive.paths.size() ? archive.EntryIndexFor(item.position) : -1;
    if (index < 0) {
      p.foresight.action = CZipExtractor::Foresight::Action::kRefuse;
      p.foresight.reason = "the Backup holds no entry " + EntryNameOf(item.position);
      out.push_back(std::move(p));
      continue;
    }
    // The folder as a restore would reach it, without making any: links are
    // followed down to a target folder and refused below it.
    std::vector<std::string> follow, refuse;
    std::string leaf;
    if (item.folder.empty()) {
      follow = PathComponents(FolderOf(item.destination));
      const size_t slash = item.destination.rfind('/');
      leaf = slash == std::string::npos ? item.destination : item.destination.substr(slash + 1);
    } else {
      follow = PathComponents(item.folder);
      refuse = PathComponents(item.relative);
      leaf = refuse.empty() ? std::string() : refuse.back();
      if (!refuse.empty()) refuse.pop_back();
    }
    const bool absolute = (item.folder.empty() ? item.destination : item.folder).front() == '/';
    CFileHandle folder(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    bool missing = false;
    std::string refusal;
    for (size_t k = 0; k < follow.size() + refuse.size() && !missing && refusal.empty(); ++k) {
      const bool below = k >= follow.size();
      const std::string& name = below ? refuse[k - follow.size()] : follow[k];
      CFileHandle next(openat(folder.Get(), name.c_str(),
                              O_PATH | O_DIRECTORY | O_CLOEXEC | (below ? O_NOFOLLOW : 0)));
      if (next.IsOpen()) {
        folder = std::move(next);
      } else if (errno == ENOENT) {
        missing = true;
      } else {
        refusal = item.destination + ": " +
                  (below && (errno == ELOOP || errno == ENOTDIR)
                       ? std::string("a symbolic link or file stands where a folder goes")
                       : std::string(std::strerror(errno)));
      }
    }
    if (!refusal.empty()) {
      p.foresight.action = CZipExtractor::Foresight::Action::kRefuse;
      p.foresight.reason = refusal;
    } else {
      p.foresight = extractor.ForeseeInto(missing ? -1 : folder.Get(), leaf, item.destination,
                                          index, !item.folder.empty());
    }
    out.push_back(std::move(p));
  }
  archive.SetCancelFlag(nullptr);
  return out;
}

std::string RestoreSummaryText(const RestoreResult& result) {
  std::string text;
  auto add = [&](uint64_t n, const char* what) {
    if (n == 0) return;
    text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
  };
  add(result.created, "created");
  add(result.replaced, "replaced");
  add(result.same, "already identical");
  add(result.failed.size(), "not restored");
  return text.empty() ? "nothing restored" : text;
}

std::string LastPathComponent(std::string_view sourcePath) {
  const size_t cut = sourcePath.find_last_of(IsWindowsPath(sourcePath) ? "\\/" : "/");
  return std::string(cut == std::string_view::npos ? sourcePath : sourcePath.substr(cut + 1));
}

std::string PreviewTempPath(const std::string& folder, std::string_view sourcePath) {
  return JoinPath(folder, LastPathComponent(sourcePath));
}

CPreviewFolder::~CPreviewFolder() {
  if (!m_path.empty()) DeleteFolderTree(m_path);
}

const std::string& CPreviewFolder::Path() {
  struct stat st {};
  if (!m_path.empty() && ::lstat(m_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return m_path;
  m_path.clear();
  std::string parent;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) &&
      st.st_uid == ::geteuid())
    parent = runtime;
  if (parent.empty()) {
    std::error_code ec;
    parent = std::filesystem::temp_directory_path(ec).string();
    if (ec || parent.empty()) parent = "/tmp";
  }
  std::string pattern = JoinPath(parent, "tessarook-preview-XXXXXX");
  if (::mkdtemp(pattern.data())) m_path = pattern;  // mkdtemp makes it 0700
  return m_path;
}

}  // namespace tessarook
