// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ZipExport.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "backup/BackupArchive.h"
#include "backup/ZipExtract.h"
#include "util/PrivateFiles.h"

namespace tessarook {

namespace fs = std::filesystem;

namespace {

// The path's components without empty and "." ones; false when it holds "..".
bool SplitPath(std::string_view path, std::vector<std::string_view>& parts) {
  parts.clear();
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  return true;
}

// A private scratch folder for the copies on their way into the ZIP.
class CScratchFolder {
 public:
  CScratchFolder() {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "tessarook-zip-XXXXXX").string();
    if (ec) pattern = "/tmp/tessarook-zip-XXXXXX";
    if (mkdtemp(pattern.data())) m_path = pattern;
  }
  ~CScratchFolder() {
    std::error_code ec;
    if (!m_path.empty()) fs::remove_all(m_path, ec);
  }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

}  // namespace

std::vector<std::string> ExportEntryNames(const std::vector<std::string>& paths,
                                          ZipPathStyle style) {
  std::vector<std::vector<std::string_view>> split(paths.size());
  std::vector<bool> usable(paths.size(), false);
  for (size_t i = 0; i < paths.size(); ++i)
    usable[i] = SplitPath(paths[i], split[i]) && !split[i].empty();

  // Relative names start below the folders every kept path shares.
  size_t common = 0;
  if (style == ZipPathStyle::kRelative) {
    const std::vector<std::string_view>* first = nullptr;
    common = SIZE_MAX;
    for (size_t i = 0; i < paths.size(); ++i) {
      if (!usable[i]) continue;
      const auto& parts = split[i];
      const size_t folders = parts.size() - 1;  // the file name is never shared away
      if (!first) {
        first = &parts;
        common = folders;
        continue;
      }
      size_t same = 0;
      while (same < common && same < folders && parts[same] == (*first)[same]) ++same;
      common = same;
    }
    if (!first) common = 0;
  }

  std::vector<std::string> names(paths.size());
  std::set<std::string> taken;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (!usable[i]) continue;
    std::string name;
    for (size_t k = common; k < split[i].size(); ++k) {
      if (!name.empty()) name += '/';
      name += split[i][k];
    }
    if (taken.insert(name).second) names[i] = std::move(name);
  }
  return names;
}

ZipExportResult CZipExport::Run(const std::string& backupPath, const std::string& targetPath,
                                ZipPathStyle style, const std::atomic<bool>* cancel,
                                IProgressSink* sink) {
  ZipExportResult result;
  CBackupArchive backup;
  if (!backup.Open(backupPath)) {
    result.error = "The Backup file doesn't exist";
    return result;
  }
  if (!backup.ReadManifest()) {
    result.error = "The Backup appears to be damaged or incomplete";
    return result;
  }
  backup.SetCancelFlag(cancel);

  CScratchFolder scratch;
  if (scratch.Path().empty()) {
    result.error = "No temporary folder could be made";
    return result;
  }
  const std::string copyPath = scratch.Path() + "/file";

  // The new ZIP grows beside the target and replaces it only when complete.
  const fs::path target(targetPath);
  const fs::path partPath = target.parent_path() / ("." + target.filename().string() + ".part-" +
                                                    std::to_string(getpid()));
  std::error_code ec;
  CZipFile zip;
  zip.SetCancelFlag(cancel);
  // Made private before the archive is written into it.
  const int made = ::open(partPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                          kPrivateFileMode);
  if (made >= 0) {
    ::fchmod(made, kPrivateFileMode);
    ::close(made);
  }
  if (!zip.Create(partPath.string())) {
    result.error = zip.LastError();
    fs::remove(partPath, ec);
    return result;
  }

  CZipExtractor extractor(backup);
  const std::vector<std::string> names = ExportEntryNames(backup.paths, style);
  const uint64_t total = names.size();
  uint64_t done = 0;
  if (sink) sink->OnProgress(0, total);
  bool cancelled = false;
  for (size_t i = 0; i < names.size(); ++i) {
    if (cancel && cancel->load()) {
      cancelled = true;
      break;
    }
    const std::string& source = backup.paths[i];
    if (names[i].empty()) {
      std::vector<std::string_view> parts;
      result.skipped.push_back({source, SplitPath(source, parts) && !parts.empty()
                                            ? "stored twice; the first copy was exported"
                                            : "the path cannot be given a safe name in a ZIP"});
    } else {
      const int64_t index = backup.EntryIndexFor(i);
      if (index < 0) {
        result.skipped.push_back({source, "the Backup holds no entry " + EntryNameOf(i)});
      } else if (!extractor.ExtractToFile(copyPath, index)) {
        if (cancel && cancel->load()) {
          cancelled = true;
          break;
        }
        result.skipped.push_back({source, extractor.LastError()});
      } else if (zip.AddFile(copyPath, names[i])) {
        ++result.filesWritten;
      } else {
        if ((cancel && cancel->load()) || zip.IsBroken()) {
          cancelled = cancel && cancel->load();
          if (!cancelled) result.error = zip.LastError();
          fs::remove(copyPath, ec);
          zip.Close();
          fs::remove(partPath, ec);
          result.status =
              cancelled ? ZipExportResult::Status::kCancelled : ZipExportResult::Status::kFailed;
          return result;
        }
        result.skipped.push_back({source, zip.LastError()});
      }
      fs::remove(copyPath, ec);
    }
    ++done;
    if (sink) sink->OnProgress(done, total);
  }

  if (cancelled) {
    zip.Close();
    fs::remove(partPath, ec);
    result.status = ZipExportResult::Status::kCancelled;
    return result;
  }
  if (zip.Close() != 0) {
    result.error =
        zip.LastError().empty() ? "The ZIP file could not be completed" : zip.LastError();
    fs::remove(partPath, ec);
    return result;
  }
  // Private, unless it replaces a file whose mode the user chose.
  ::chmod(partPath.c_str(), ModeForReplacing(targetPath));
  fs::rename(partPath, target, ec);
  if (ec) {
    result.error = ec.message();
    fs::remove(partPath, ec);
    return result;
  }
  result.status = ZipExportResult::Status::kDone;
  return result;
}

}  // namespace tessarook
