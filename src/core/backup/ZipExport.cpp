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

// Creates the partial ZIP, made private before the archive is written into
// it. False, with the reason in `result`, when it cannot be created.
bool CreatePart(CZipFile& zip, const fs::path& partPath, ZipExportResult& result) {
  std::error_code ec;
  const int made = ::open(partPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                          kPrivateFileMode);
  if (made >= 0) {
    ::fchmod(made, kPrivateFileMode);
    ::close(made);
  }
  if (!zip.Create(partPath.string())) {
    result.error = zip.LastError();
    fs::remove(partPath, ec);
    return false;
  }
  return true;
}

// What the steps of one export share.
struct ExportRun {
  CBackupArchive& backup;
  CZipFile& zip;
  CZipExtractor& extractor;
  const std::string& copyPath;
  const fs::path& partPath;
  const std::atomic<bool>* cancel;
  ZipExportResult& result;
};

// How exporting an entry, or all of them, ended.
enum class ExportOutcome {
  kDone,       // written or skipped; the export goes on
  kCancelled,  // the cancel flag stopped it
  kStopped,    // the ZIP broke (or a cancel stopped a write); the result is final
};

// Copies the Backup's entry of file `i` out to the scratch file and adds it
// to the ZIP under `name`. A file that cannot be exported is listed as
// skipped.
ExportOutcome ExportEntry(ExportRun& run, size_t i, const std::string& name) {
  ZipExportResult& result = run.result;
  CZipFile& zip = run.zip;
  const std::atomic<bool>* cancel = run.cancel;
  std::error_code ec;
  const std::string& source = run.backup.paths[i];
  if (name.empty()) {
    std::vector<std::string_view> parts;
    result.skipped.push_back({source, SplitPath(source, parts) && !parts.empty()
                                          ? "stored twice; the first copy was exported"
                                          : "the path cannot be given a safe name in a ZIP"});
    return ExportOutcome::kDone;
  }
  const int64_t index = run.backup.EntryIndexFor(i);
  if (index < 0) {
    result.skipped.push_back({source, "the Backup holds no entry " + EntryNameOf(i)});
  } else if (!run.extractor.ExtractToFile(run.copyPath, index)) {
    if (cancel && cancel->load()) return ExportOutcome::kCancelled;
    result.skipped.push_back({source, run.extractor.LastError()});
  } else if (zip.AddFile(run.copyPath, name)) {
    ++result.filesWritten;
  } else {
    if ((cancel && cancel->load()) || zip.IsBroken()) {
      const bool cancelled = cancel && cancel->load();
      if (!cancelled) result.error = zip.LastError();
      fs::remove(run.copyPath, ec);
      zip.Close();
      fs::remove(run.partPath, ec);
      result.status =
          cancelled ? ZipExportResult::Status::kCancelled : ZipExportResult::Status::kFailed;
      return ExportOutcome::kStopped;
    }
    result.skipped.push_back({source, zip.LastError()});
  }
  fs::remove(run.copyPath, ec);
  return ExportOutcome::kDone;
}

// Exports every entry in the Backup's order, polling the cancel flag before
// each one and reporting progress after it.
ExportOutcome ExportEntries(ExportRun& run, const std::vector<std::string>& names,
                            IProgressSink* sink) {
  const uint64_t total = names.size();
  uint64_t done = 0;
  if (sink) sink->OnProgress(0, total);
  for (size_t i = 0; i < names.size(); ++i) {
    if (run.cancel && run.cancel->load()) return ExportOutcome::kCancelled;
    const ExportOutcome outcome = ExportEntry(run, i, names[i]);
    if (outcome != ExportOutcome::kDone) return outcome;
    ++done;
    if (sink) sink->OnProgress(done, total);
  }
  return ExportOutcome::kDone;
}

// Closes the ZIP and renames it over the target; the result says how that
// went.
void CompleteExport(ExportRun& run, const std::string& targetPath, const fs::path& target) {
  ZipExportResult& result = run.result;
  std::error_code ec;
  if (run.zip.Close() != 0) {
    result.error =
        run.zip.LastError().empty() ? "The ZIP file could not be completed" : run.zip.LastError();
    fs::remove(run.partPath, ec);
    return;
  }
  // Private, unless it replaces a file whose mode the user chose.
  ::chmod(run.partPath.c_str(), ModeForReplacing(targetPath));
  fs::rename(run.partPath, target, ec);
  if (ec) {
    result.error = ec.message();
    fs::remove(run.partPath, ec);
    return;
  }
  result.status = ZipExportResult::Status::kDone;
}

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
  CZipFile zip;
  zip.SetCancelFlag(cancel);
  if (!CreatePart(zip, partPath, result)) return result;

  CZipExtractor extractor(backup);
  const std::vector<std::string> names = ExportEntryNames(backup.paths, style);
  ExportRun run{backup, zip, extractor, copyPath, partPath, cancel, result};
  const ExportOutcome outcome = ExportEntries(run, names, sink);
  if (outcome == ExportOutcome::kStopped) return result;

  std::error_code ec;
  if (outcome == ExportOutcome::kCancelled) {
    zip.Close();
    fs::remove(partPath, ec);
    result.status = ZipExportResult::Status::kCancelled;
    return result;
  }
  CompleteExport(run, targetPath, target);
  return result;
}

}  // namespace tessarook
