#include "backup/BackupArchive.h"

#include "util/SamePath.h"

namespace tessarook {

namespace {

// A manifest larger than this is not one this program wrote; reading stops
// there rather than allocating without bound.
constexpr uint64_t kManifestLimit = uint64_t{1} << 30;

}  // namespace

CBackupArchive::~CBackupArchive() { CBackupArchive::Close(); }

int CBackupArchive::Close() {
  paths.clear();
  return CZipFile::Close();
}

std::string EntryNameOf(size_t position) { return std::to_string(position); }

bool ManifestCanHold(std::string_view path) {
  if (path.find('\r') != std::string_view::npos) return false;
  if (path.find('\0') != std::string_view::npos) return false;
  return path.empty() || (path.front() != '\n' && path.back() != '\n');
}

bool CBackupArchive::AddBackupFile(const std::string& sourcePath) {
  if (!IsWriting()) return false;
  if (!ManifestCanHold(sourcePath)) return false;
  if (!AddFile(sourcePath, EntryNameOf(paths.size()))) return false;
  paths.push_back(sourcePath);
  return true;
}

std::string BuildManifest(const std::vector<std::string>& paths) {
  std::string text;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (i) text += "\r\n";
    text += EntryNameOf(i);
    text += ": ";
    text += paths[i];
  }
  return text;
}

bool CBackupArchive::WriteManifest() {
  if (!IsWriting()) return false;
  const std::string text = BuildManifest(paths);
  return AddFromMemory(text.data(), text.size(), kManifestName);
}

std::vector<std::string> ParseManifest(std::string_view text) {
  std::vector<std::string> out;
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  if (text.empty()) return out;
  size_t start = 0;
  for (;;) {
    const size_t cr = text.find('\r', start);
    std::string_view line =
        text.substr(start, cr == std::string_view::npos ? std::string_view::npos : cr - start);
    // After a CR LF separator the next line starts with the LF.
    while (!line.empty() && line.front() == '\n') line.remove_prefix(1);
    size_t digits = 0;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
    std::string_view value = line;
    if (digits > 0 && line.substr(digits, 2) == ": ") {
      value = line.substr(digits + 2);
    } else {
      const size_t sep = line.rfind(": ");
      if (sep != std::string_view::npos) value = line.substr(sep + 2);
    }
    while (!value.empty() && value.front() == '\n') value.remove_prefix(1);
    while (!value.empty() && value.back() == '\n') value.remove_suffix(1);
    out.emplace_back(value);
    if (cr == std::string_view::npos) break;
    start = cr + 1;
  }
  return out;
}

bool CBackupArchive::ReadManifest() {
  if (!IsReading()) return false;
  paths.clear();
  const int64_t index = FindEntry(kManifestName);
  if (index < 0) return false;
  std::string text;
  ReadEntry(index, text, kManifestLimit);  // damaged data still yields what was read
  paths = ParseManifest(text);
  return true;
}

std::string CBackupArchive::EntryNameFor(const std::string& sourcePath) const {
  for (size_t i = 0; i < paths.size(); ++i)
    if (SamePath(paths[i], sourcePath)) return EntryNameOf(i);
  return {};
}

int64_t CBackupArchive::EntryIndexFor(size_t position) {
  const std::string name = EntryNameOf(position);
  // In a Backup this program wrote, entry i sits at index i.
  if (static_cast<int64_t>(position) < GetEntryCount() &&
      GetEntryName(static_cast<int64_t>(position)) == name)
    return static_cast<int64_t>(position);
  return FindEntry(name);
}

}  // namespace tessarook
