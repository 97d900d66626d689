// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/CsmReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "backup/BackupStore.h"
#include "exchange/RawFile.h"
#include "scheme/SchemePaths.h"
#include "util/FileBytes.h"
#include "util/PartialFiles.h"
#include "util/PrivateFiles.h"

namespace tessarook {

namespace fs = std::filesystem;

namespace {

// Reads the small fields of a .csm through a 64 KiB window and skips data by moving
// its position. Never reads past the size the file had when it was opened.
class FieldReader {
 public:
  explicit FieldReader(const CRawFile& file) : m_file(file), m_size(file.Size()) {}

  uint64_t Pos() const { return m_pos; }
  uint64_t Remaining() const { return m_size - m_pos; }
  bool AtEnd() const { return m_pos == m_size; }

  bool Read(void* data, size_t size) {
    if (size > Remaining()) return false;
    auto* out = static_cast<unsigned char*>(data);
    while (size > 0) {
      if (m_pos < m_bufStart || m_pos >= m_bufStart + m_buf.size()) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kWindow, Remaining()));
        m_buf.resize(want);
        m_bufStart = m_pos;
        if (!m_file.ReadAt(m_buf.data(), want, m_pos)) {
          m_buf.clear();
          return false;
        }
      }
      const size_t at = static_cast<size_t>(m_pos - m_bufStart);
      const size_t n = std::min(size, m_buf.size() - at);
      std::memcpy(out, m_buf.data() + at, n);
      out += n;
      size -= n;
      m_pos += n;
    }
    return true;
  }

  bool Skip(uint64_t size) {
    if (size > Remaining()) return false;
    m_pos += size;
    return true;
  }

  bool ReadU32(uint32_t& value) {
    unsigned char b[4];
    if (!Read(b, 4)) return false;
    value = GetU32(b);
    return true;
  }

  // A length-prefixed name that can be used as a plain file name.
  bool ReadName(std::string& name) {
    uint32_t n = 0;
    if (!ReadU32(n) || n == 0 || n > kCsmMaxNameBytes || n > Remaining()) return false;
    name.resize(n);
    return Read(name.data(), n) && IsCarriableName(name);
  }

  // A length-prefixed piece of data that lies wholly inside the file; the reader is
  // left at its start.
  bool ReadDataLength(uint32_t& length) { return ReadU32(length) && length <= Remaining(); }

 private:
  static constexpr size_t kWindow = 64 * 1024;
  const CRawFile& m_file;
  uint64_t m_size;
  uint64_t m_pos = 0;
  uint64_t m_bufStart = 0;
  std::vector<unsigned char> m_buf;
};

// Checks the whole structure: every length inside the file, every name usable, no
// bytes after the last record.
bool Validate(const CRawFile& file, CsmSummary& summary) {
  FieldReader r(file);
  uint32_t count = 0;
  if (!r.ReadName(summary.name) || !r.ReadDataLength(summary.schemeBytes) ||
      !r.Skip(summary.schemeBytes) || !r.ReadU32(count))
    return false;
  // Each record takes at least kCsmMinRecordBytes: a larger count cannot fit.
  if (count > r.Remaining() / kCsmMinRecordBytes) return false;
  std::string name;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t length = 0;
    if (!r.ReadName(name) || !r.ReadDataLength(length) || !r.Skip(length)) return false;
  }
  summary.records = count;
  return r.AtEnd();
}

std::string RandomSuffix() {
  static thread_local std::mt19937_64 gen{std::random_device{}()};
  const char* digits = "0123456789abcdef";
  std::string s;
  uint64_t r = gen();
  for (int i = 0; i < 12; ++i, r >>= 4) s += digits[r & 15];
  return s;
}

// The hidden folder the Scheme is assembled in; removed with all it holds unless the
// import completed and emptied it. It is a partial folder (util/PartialFiles.h): it
// names this process and is held locked while it exists.
struct StagingFolder {
  std::string path;
  int lock = -1;
  ~StagingFolder() {
    if (!path.empty()) {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
    if (lock >= 0) ::close(lock);
  }
  bool Create(const std::string& schemesDir) {
    std::string folder = schemesDir;
    if (folder.back() != '/') folder += '/';
    RemoveStalePartials(folder);  // what killed imports left behind
    for (int attempt = 0; attempt < 16; ++attempt) {
      const std::string candidate =
          folder + ".tessarook-import-" + std::to_string(::getpid()) + "-" + RandomSuffix();
      if (::mkdir(candidate.c_str(), kPrivateFolderMode) == 0) {
        path = candidate;
        lock = LockPartialFolder(candidate);
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }
};

struct HideOnExit {
  CExchangeProgress* progress;
  ~HideOnExit() {
    if (progress) progress->Hide();
  }
};

// Copies the data piece of `length` bytes the reader stands at into `out`, closes
// `out` and leaves the reader after the piece.
ImportResult CopyPiece(const CRawFile& file, FieldReader& r, uint32_t length, CRawFile& out,
                       std::vector<char>& buffer) {
  uint64_t offset = r.Pos();
  const CopyOutcome c = CopyBytes(file.Fd(), &offset, out.Fd(), length, buffer);
  if (c.status == CopyOutcome::kWriteError) return ImportResult::kCannotCreateScheme;
  if (c.status == CopyOutcome::kReadError || c.copied != length) return ImportResult::kDamaged;
  if (!out.Close()) return ImportResult::kCannotCreateScheme;
  r.Skip(length);
  return ImportResult::kDone;
}

// Moves the staged files into an existing Backups folder: carried files replace
// those of the same name, the others stay. Returns how many were placed; the names
// of those that were not go to `skipped`.
uint32_t MergeInto(const std::string& backupsFolder, const std::string& stagedBackups,
                   std::vector<std::string>& skipped) {
  struct stat st;
  const bool isFolder = ::stat(backupsFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  std::error_code ec;
  std::vector<std::string> staged;
  for (fs::directory_iterator it(stagedBackups, ec), end; !ec && it != end; it.increment(ec))
    staged.push_back(it->path().filename().string());
  uint32_t placed = 0;
  for (const std::string& fileName : staged) {
    const std::string from = stagedBackups + "/" + fileName;
    const std::string dest = backupsFolder + "/" + fileName;
    // A Backup being written under that name is not replaced (its writer
    // holds the name's lock); one that is replaced keeps the mode it had.
    CBackupNameLock lock;
    const bool locked = !isFolder || fileName.size() <= 4 ||
                        fileName.compare(fileName.size() - 4, 4, ".zip") != 0 ||
                        lock.Acquire(dest, false, nullptr) == CBackupNameLock::Outcome::kHeld;
    if (isFolder && locked) ::chmod(from.c_str(), ModeForReplacing(dest));
    if (isFolder && locked && ::rename(from.c_str(), dest.c_str()) == 0)
      ++placed;
    else
      skipped.push_back(fileName);
  }
  return placed;
}

}  // namespace

ImportResult CCsmReader::Inspect(const std::string& csmPath, CsmSummary& summary) {
  summary = CsmSummary();
  CRawFile file;
  if (!file.OpenRead(csmPath)) return ImportResult::kCannotOpen;
  if (!Validate(file, summary)) {
    summary = CsmSummary();
    return ImportResult::kDamaged;
  }
  return ImportResult::kDone;
}

ImportResult CCsmReader::Run(const std::string& csmPath) {
  m_name.clear();
  m_records = 0;
  m_skipped.clear();
  CExchangeProgress nullProgress;
  CExchangeProgress& progress = m_progress ? *m_progress : nullProgress;
  progress.SetPos(0);
  progress.Show();
  HideOnExit hide{&progress};

  CRawFile file;
  if (!file.OpenRead(csmPath)) return ImportResult::kCannotOpen;
  CsmSummary summary;
  if (!Validate(file, summary)) return ImportResult::kDamaged;
  m_name = summary.name;

  // The Backups folder's name is the longest of the two and must fit a file name.
  if (m_schemesDir.empty() ||
      m_name.size() + kSchemeExtension.size() + kBackupsSuffix.size() > kCsmMaxNameBytes)
    return ImportResult::kCannotCreateScheme;
  const std::string schemeFile = SchemeFilePath(m_schemesDir, m_name);
  const std::string backupsFolder = BackupsFolderFor(schemeFile);
  MakePrivateFolders(m_schemesDir);  // usually there already

  StagingFolder staging;
  if (!staging.Create(m_schemesDir)) return ImportResult::kCannotCreateScheme;
  const std::string stagedScheme = staging.path + "/scheme" + std::string(kSchemeExtension);
  const std::string stagedBackups = staging.path + "/backups";

  // Second pass over the same structure; the checks are repeated in case the file
  // changed since it was validated.
  FieldReader r(file);
  std::vector<char> buffer;
  std::string name;
  uint32_t length = 0;
  if (!r.ReadName(name) || name != m_name || !r.ReadDataLength(length))
    return ImportResult::kDamaged;
  {
    CRawFile out;
    if (!out.CreateNew(stagedScheme)) return ImportResult::kCannotCreateScheme;
    if (const ImportResult c = CopyPiece(file, r, length, out, buffer); c != ImportResult::kDone)
      return c;
  }
  if (StopRequested()) return ImportResult::kStopped;

  uint32_t count = 0;
  if (!r.ReadU32(count) || count != summary.records) return ImportResult::kDamaged;
  progress.SetRange(count);
  progress.SetPos(0);
  if (!MakePrivateFolder(stagedBackups)) return ImportResult::kCannotCreateScheme;

  for (uint32_t i = 0; i < count; ++i) {
    if (StopRequested()) return ImportResult::kStopped;
    if (!r.ReadName(name) || !r.ReadDataLength(length)) return ImportResult::kDamaged;
    CRawFile out;
    // A later record of the same name replaces the earlier one.
    if (!out.CreateTruncate(stagedBackups + "/" + name)) {
      m_skipped.push_back(name);
      r.Skip(length);
      continue;
    }
    if (const ImportResult c = CopyPiece(file, r, length, out, buffer); c != ImportResult::kDone)
      return c;
    progress.SetBytes(r.Pos(), file.Size());
    progress.Step();
  }
  if (!r.AtEnd()) return ImportResult::kDamaged;
  file.Close();

  // Complete: move it into place. The scheme file first; when that fails nothing of the
  // old Scheme has changed.
  if (::rename(stagedScheme.c_str(), schemeFile.c_str()) != 0)
    return ImportResult::kCannotCreateScheme;

  struct stat st;
  if (::lstat(backupsFolder.c_str(), &st) != 0 && errno == ENOENT &&
      ::rename(stagedBackups.c_str(), backupsFolder.c_str()) == 0) {
    m_records = count - static_cast<uint32_t>(m_skipped.size());
    return ImportResult::kDone;
  }
  m_records = MergeInto(backupsFolder, stagedBackups, m_skipped);
  return ImportResult::kDone;
}

}  // namespace tessarook
