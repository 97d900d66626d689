#include "backup/RestoreJob.h"

#include <filesystem>

#include "backup/ByteMeter.h"
#include "backup/RestorePath.h"
#include "util/OpenBeneath.h"
#include "util/PartialFiles.h"

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
  const bool ok = item.folder.empty() ? archive.ExtractToFile(item.destination, index)
                                      : archive.ExtractBeneath(item.folder, item.relative, index);
  if (!ok) {
    error = archive.LastError();
    skipped = archive.DestinationProtected();
  }
  return ok;
}

}  // namespace

bool CRestoreJob::ExtractPosition(CBackupArchive& archive, size_t position,
                                  const std::string& destination, std::string& error) {
  bool skipped = false;
  return ExtractItem(archive, {position, destination, "", ""}, error, skipped);
}

bool CRestoreJob::ExtractPreviewCopy(CBackupArchive& archive, size_t position, std::string& path,
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
  path = PreviewTempPath(archive.paths[position]);
  if (archive.ExtractReplacing(path, index)) return true;
  error = archive.LastError();
  return false;
}

RestoreResult CRestoreJob::Run(CBackupArchive& archive, const std::vector<RestoreItem>& items,
                               const std::atomic<bool>* cancel, IProgressSink* sink,
                               unsigned jobs) {
  (void)jobs;
  RestoreResult result;
  archive.SetCancelFlag(cancel);
  const uint64_t total = items.size();
  if (sink) sink->OnProgress(0, total);
  CByteMeter bytes(sink);
  bytes.Start(EntryBytes(archive, items));
  archive.SetDataObserver([&bytes](uint64_t n) { bytes.Add(n); });
  uint64_t done = 0;
  CPartialSweeper sweeper;  // what killed restores left beside the destinations
  for (const RestoreItem& item : items) {
    if (cancel && cancel->load()) {
      result.cancelled = true;
      break;
    }
    sweeper.SweepFolderOf(item.destination);
    std::string error;
    bool skipped = false;
    if (ExtractItem(archive, item, error, skipped)) {
      result.restored.push_back(item.position);
    } else if (cancel && cancel->load()) {
      result.cancelled = true;
      break;
    } else {
      const std::string path =
          item.position < archive.paths.size() ? archive.paths[item.position] : std::string();
      RestoreFailure f{item.position, path, error};
      f.skipped = skipped;
      result.failed.push_back(f);
    }
    ++done;
    bytes.Flush();
    if (sink) sink->OnProgress(done, total);
  }
  archive.SetDataObserver(nullptr);
  archive.SetCancelFlag(nullptr);
  return result;
}

std::string LastPathComponent(std::string_view sourcePath) {
  const size_t cut = sourcePath.find_last_of(IsWindowsPath(sourcePath) ? "\\/" : "/");
  return std::string(cut == std::string_view::npos ? sourcePath : sourcePath.substr(cut + 1));
}

std::string PreviewTempPath(std::string_view sourcePath) {
  std::error_code ec;
  std::string folder = std::filesystem::temp_directory_path(ec).string();
  if (ec || folder.empty()) folder = "/tmp";
  return JoinPath(folder, LastPathComponent(sourcePath));
}

}  // namespace tessarook
