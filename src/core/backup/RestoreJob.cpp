#include "backup/RestoreJob.h"

#include <filesystem>

#include "backup/RestorePath.h"

namespace tessarook {

std::vector<RestoreItem> CRestoreJob::Plan(const CBackupArchive& archive,
                                           const std::vector<size_t>& positions,
                                           const std::string& toFolder,
                                           std::vector<RestoreFailure>& refused) {
  std::vector<RestoreItem> items;
  for (size_t position : positions) {
    if (position >= archive.paths.size()) {
      refused.push_back({position, "", "no such file in the Backup"});
      continue;
    }
    const std::string& source = archive.paths[position];
    if (std::string why = RestoreRefusal(source, !toFolder.empty()); !why.empty()) {
      refused.push_back({position, source, std::move(why)});
      continue;
    }
    if (toFolder.empty()) {
      items.push_back({position, source});
      continue;
    }
    std::string dest = toFolder;
    while (dest.size() > 1 && dest.back() == '/') dest.pop_back();
    if (dest == "/") dest.clear();
    dest += source;
    items.push_back({position, dest});
  }
  return items;
}

bool CRestoreJob::ExtractPosition(CBackupArchive& archive, size_t position,
                                  const std::string& destination, std::string& error) {
  if (position >= archive.paths.size()) {
    error = "no such file in the Backup";
    return false;
  }
  const int64_t index = archive.EntryIndexFor(position);
  if (index < 0) {
    error = "the Backup holds no entry " + EntryNameOf(position);
    return false;
  }
  if (!archive.ExtractToFile(destination, index)) {
    error = archive.LastError();
    return false;
  }
  return true;
}

RestoreResult CRestoreJob::Run(CBackupArchive& archive, const std::vector<RestoreItem>& items,
                               const std::atomic<bool>* cancel, IProgressSink* sink) {
  RestoreResult result;
  archive.SetCancelFlag(cancel);
  const uint64_t total = items.size();
  if (sink) sink->OnProgress(0, total);
  uint64_t done = 0;
  for (const RestoreItem& item : items) {
    if (cancel && cancel->load()) {
      result.cancelled = true;
      break;
    }
    std::string error;
    if (ExtractPosition(archive, item.position, item.destination, error)) {
      result.restored.push_back(item.position);
    } else if (cancel && cancel->load()) {
      result.cancelled = true;
      break;
    } else {
      const std::string path =
          item.position < archive.paths.size() ? archive.paths[item.position] : std::string();
      result.failed.push_back({item.position, path, error});
    }
    ++done;
    if (sink) sink->OnProgress(done, total);
  }
  archive.SetCancelFlag(nullptr);
  return result;
}

std::string PreviewTempPath(std::string_view sourcePath) {
  std::error_code ec;
  std::string folder = std::filesystem::temp_directory_path(ec).string();
  if (ec || folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  const size_t slash = sourcePath.rfind('/');
  return folder +
         std::string(slash == std::string_view::npos ? sourcePath : sourcePath.substr(slash + 1));
}

}  // namespace tessarook
