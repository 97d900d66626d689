// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/BackupArchive.h"

#include <cstdint>
#include <ctime>

#include "backup/ZipReader.h"
#include "util/SamePath.h"

namespace tessarook {

CBackupArchive::~CBackupArchive() { CBackupArchive::Close(); }

bool CBackupArchive::Create(const std::string& path) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  m_takenNs = Nanoseconds(now);
  SetIdentityCutoff(m_takenNs - kSettledNs);
  return CZipFile::Create(path);
}

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
  if (!IsWriting() || !ManifestCanHold(sourcePath)) return false;
  return AddPreparedBackupFile(sourcePath, PrepareFile(sourcePath, Level()), nullptr);
}

bool CBackupArchive::AddPreparedBackupFile(const std::string& sourcePath, PreparedFile file,
                                           CTaskPool* pool) {
  if (!IsWriting()) return false;
  if (!ManifestCanHold(sourcePath)) return false;
  if (!AddPrepared(std::move(file), EntryNameOf(paths.size()), pool)) return false;
  paths.push_back(sourcePath);
  return true;
}

bool CBackupArchive::AddCopiedBackupFile(const std::string& sourcePath,
                                         const ZipCopiedEntry& copy) {
  if (!IsWriting() || !ManifestCanHold(sourcePath)) return false;
  if (!AddCopied(copy, EntryNameOf(paths.size()))) return false;
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
  const struct timespec taken = {static_cast<time_t>(m_takenNs / 1000000000),
                                 static_cast<long>(m_takenNs % 1000000000)};
  return AddMemoryEntry(text.data(), text.size(), kManifestName, taken,
                        TakenField({m_takenNs, ThisMachine()}));
}

namespace {

// The path one manifest line gives: after a leading decimal number and ": "
// the rest of the line, otherwise the text after the line's last ": " (or the
// whole line); line feeds at either end removed.
std::string ValueOf(std::string_view line) {
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
  return std::string(value);
}

}  // namespace

CManifestParser::CManifestParser(uint64_t maxLines, size_t maxLineBytes)
    : m_maxLines(maxLines), m_maxLineBytes(maxLineBytes) {}

bool CManifestParser::EndLine() {
  if (m_lines.size() >= m_maxLines) {
    m_problem = "the manifest lists more files than the Backup holds";
    return false;
  }
  m_lines.push_back(ValueOf(m_line));
  m_line.clear();
  return true;
}

bool CManifestParser::Feed(const char* data, size_t size) {
  if (!m_problem.empty()) return false;
  const char* const end = data + size;
  while (!m_ended && data < end) {
    const char* stop = data;
    while (stop < end && *stop != '\r' && *stop != '\0') ++stop;
    const size_t n = static_cast<size_t>(stop - data);
    if (n > m_maxLineBytes - m_line.size()) {
      m_problem = "a line of the manifest is too long";
      return false;
    }
    m_line.append(data, n);
    if (n > 0 || (stop < end && *stop == '\r')) m_started = true;
    if (stop == end) break;
    if (*stop == '\0') {
      // The text ends here; what follows is still read (so that the
      // checksum is tested) but not kept.
      m_ended = true;
      break;
    }
    if (!EndLine()) return false;
    data = stop + 1;
  }
  return true;
}

std::vector<std::string> CManifestParser::Finish(bool whole) {
  if (m_problem.empty() && m_started && (whole || m_ended)) EndLine();
  m_line.clear();
  return std::move(m_lines);
}

std::vector<std::string> ParseManifest(std::string_view text) {
  CManifestParser parser(UINT64_MAX, SIZE_MAX);
  parser.Feed(text.data(), text.size());
  return parser.Finish(true);
}

bool CBackupArchive::ReadManifest() {
  m_manifestDamage.clear();
  if (!IsReading()) return false;
  paths.clear();
  const int64_t index = FindEntry(kManifestName);
  if (index < 0) return false;
  CManifestParser parser(static_cast<uint64_t>(GetEntryCount()), kMaxManifestLine);
  uint64_t bytes = 0;
  bool tooLarge = false;
  const bool whole = ReadData(index, [&](const char* data, size_t n) {
    if (n > kMaxManifestBytes - bytes) {
      tooLarge = true;
      return false;
    }
    bytes += n;
    return parser.Feed(data, n);
  });
  // Damaged data still yields the lines read before the damage; the last line
  // counts when all of the recorded data arrived (a checksum mismatch).
  paths = parser.Finish(whole || bytes == GetEntrySize(index));
  if (!parser.Problem().empty())
    m_manifestDamage = parser.Problem();
  else if (tooLarge)
    m_manifestDamage = "the manifest is larger than any this program writes";
  else if (!whole)
    m_manifestDamage = "the manifest is damaged (" + LastError() + ")";
  return true;
}

std::string CBackupArchive::Damage() const {
  if (!m_manifestDamage.empty()) return m_manifestDamage;
  if (!IsDirectoryComplete()) return "the archive's directory is damaged";
  return {};
}

std::string CBackupArchive::EntryNameFor(const std::string& sourcePath) const {
  for (size_t i = 0; i < paths.size(); ++i)
    if (SamePath(paths[i], sourcePath)) return EntryNameOf(i);
  return {};
}

bool ReadBackupTaken(const std::string& path, TakenRecord& taken) {
  std::string name;
  std::optional<TakenRecord> record;
  if (!ReadLastZipRecord(path, name, record) || name != kManifestName || !record) return false;
  taken = *record;
  return true;
}

int64_t CBackupArchive::EntryIndexFor(size_t position) {
  const std::string name = EntryNameOf(position);
  // In a Backup this program wrote, entry i sits at index i.
  if (static_cast<int64_t>(position) < GetEntryCount() &&
      GetEntryName(static_cast<int64_t>(position)) == name)
    return static_cast<int64_t>(position);
  return FindEntry(name);
}

void CBackupArchive::ReadEntryFacts(std::vector<uint64_t>& sizes, std::vector<int64_t>& times) {
  sizes.assign(paths.size(), 0);
  times.assign(paths.size(), 0);
  for (size_t position = 0; position < paths.size(); ++position) {
    const int64_t index = EntryIndexFor(position);
    if (index < 0) continue;
    sizes[position] = GetEntrySize(index);
    times[position] = GetEntryTime(index);
  }
}

}  // namespace tessarook
