#include "backup/BackupVerifier.h"

#include "backup/BackupArchive.h"
#include "backup/ByteMeter.h"

namespace tessarook {

namespace {

// The position an entry name stands for, or -1 when it is not a plain
// decimal number (no sign, no leading zero).
int64_t PositionOf(const std::string& name) {
  if (name.empty() || name.size() > 18 || (name.size() > 1 && name[0] == '0')) return -1;
  int64_t v = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

VerifyResult VerifyBackup(const std::string& path, const std::atomic<bool>* cancel,
                          IProgressSink* sink) {
  VerifyResult result;
  CBackupArchive archive;
  if (!archive.Open(path)) {
    result.error = archive.LastError();
    return result;
  }
  if (!archive.ReadManifest()) {
    result.status = VerifyResult::Status::kNoManifest;
    return result;
  }
  archive.SetCancelFlag(cancel);
  result.status = VerifyResult::Status::kChecked;
  const uint64_t n = archive.paths.size();
  result.files = n;

  if (!archive.IsDirectoryComplete())
    result.faults.push_back({-1, "", "the archive's directory is damaged"});
  std::string reason;
  const int64_t manifest = archive.FindEntry(kManifestName);
  if (!archive.TestEntry(manifest, reason))
    result.faults.push_back({-1, kManifestName, "manifest " + reason});

  // Which entry stands for each position; strays and doubles are faults.
  std::vector<int64_t> entryOf(n, -1);
  const int64_t count = archive.GetEntryCount();
  for (int64_t i = 0; i < count; ++i) {
    const std::string name = archive.GetEntryName(i);
    if (i == manifest) continue;
    const int64_t pos = PositionOf(name);
    if (pos < 0 || static_cast<uint64_t>(pos) >= n) {
      result.faults.push_back({-1, name, "entry not listed in the manifest"});
    } else if (entryOf[static_cast<size_t>(pos)] >= 0) {
      result.faults.push_back({pos, archive.paths[static_cast<size_t>(pos)], "entry stored twice"});
    } else {
      entryOf[static_cast<size_t>(pos)] = i;
    }
  }

  if (sink) sink->OnProgress(0, n);
  CByteMeter bytes(sink);
  uint64_t totalBytes = 0;
  for (int64_t entry : entryOf) totalBytes += entry < 0 ? 0 : archive.GetEntrySize(entry);
  bytes.Start(totalBytes);
  archive.SetDataObserver([&bytes](uint64_t size) { bytes.Add(size); });
  for (uint64_t pos = 0; pos < n; ++pos) {
    if (cancel && cancel->load()) {
      result.status = VerifyResult::Status::kCancelled;
      return result;
    }
    const int64_t entry = entryOf[static_cast<size_t>(pos)];
    const std::string& source = archive.paths[static_cast<size_t>(pos)];
    if (entry < 0) {
      result.faults.push_back({static_cast<int64_t>(pos), source, "entry missing"});
    } else if (!archive.TestEntry(entry, reason)) {
      if (cancel && cancel->load()) {
        result.status = VerifyResult::Status::kCancelled;
        return result;
      }
      result.faults.push_back({static_cast<int64_t>(pos), source, reason});
    }
    bytes.Flush();
    if (sink) sink->OnProgress(pos + 1, n);
  }
  return result;
}

}  // namespace tessarook
