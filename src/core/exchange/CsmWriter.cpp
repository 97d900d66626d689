// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/CsmWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <random>

#include "exchange/RawFile.h"
#include "scheme/SchemePaths.h"
#include "util/FileBytes.h"
#include "util/PartialFiles.h"
#include "util/PrivateFiles.h"

namespace tessarook {

namespace fs = std::filesystem;

namespace {

struct ListedFile {
  std::string path;
  std::string name;
  uint64_t size = 0;
};

// Every file of `folder` and of the folders below it, depth first in the order the
// file system enumerates them; hidden files included. Symbolic links to files count as
// the files; links to folders are not followed, and FIFOs, sockets and devices are left
// out (reading them could block), and so are partial files (a Backup being
// taken, a lock): they are not Backups.
void ListFiles(const fs::path& folder, std::vector<ListedFile>& out) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return;
    const fs::directory_entry& entry = *it;
    if (IsPartialName(entry.path().filename().string())) continue;
    std::error_code sec;
    const fs::file_status own = entry.symlink_status(sec);
    if (sec) continue;
    if (fs::is_directory(own)) {
      ListFiles(entry.path(), out);
      continue;
    }
    const fs::file_status target = fs::is_symlink(own) ? entry.status(sec) : own;
    if (sec || !fs::is_regular_file(target)) continue;
    const uintmax_t size =
        fs::is_symlink(own) ? fs::file_size(entry.path(), sec) : entry.file_size(sec);
    ListedFile f;
    f.path = entry.path().string();
    f.name = entry.path().filename().string();
    f.size = sec ? 0 : static_cast<uint64_t>(size);
    out.push_back(std::move(f));
  }
}

// A fresh name beside `target` for the file being written (short, so that it fits
// wherever the target's own name fits).
std::string TempPathBeside(const fs::path& target, unsigned attempt) {
  static thread_local std::mt19937_64 gen{std::random_device{}()};
  const char* digits = "0123456789abcdef";
  std::string suffix;
  uint64_t r = gen() ^ attempt;
  for (int i = 0; i < 12; ++i, r >>= 4) suffix += digits[r & 15];
  return (target.parent_path() /
          (".tessarook-export-" + std::to_string(::getpid()) + "-" + suffix + ".part"))
      .string();
}

// Hides the progress display on every way out.
struct HideOnExit {
  CExchangeProgress* progress;
  ~HideOnExit() {
    if (progress) progress->Hide();
  }
};

// Removes the temporary file unless told the rename happened.
struct TempFileGuard {
  std::string path;
  bool keep = false;
  ~TempFileGuard() {
    if (!keep && !path.empty()) ::unlink(path.c_str());
  }
};

// The file being written and how many bytes it holds so far.
struct Output {
  CRawFile file;
  uint64_t written = 0;
  std::vector<char> buffer;

  bool Put(const void* data, size_t size) {
    if (!file.WriteAll(data, size)) return false;
    written += size;
    return true;
  }
  bool Put32(uint32_t value) {
    unsigned char u32[4];
    PutU32(u32, value);
    return Put(u32, 4);
  }
};

// Opens a fresh partial file beside `target`, named in `temp`.
bool CreateTempBeside(const fs::path& target, CRawFile& out, TempFileGuard& temp) {
  for (unsigned attempt = 0; attempt < 16 && !out.IsOpen(); ++attempt) {
    temp.path = TempPathBeside(target, attempt);
    if (!out.CreatePartial(temp.path)) {
      temp.path.clear();
      if (errno != EEXIST) return false;
    }
  }
  return out.IsOpen();
}

// Everything is sized before the first byte is written: a file that does not fit a
// 32-bit length refuses the whole export.
bool AllFit(const CRawFile& source, const std::vector<ListedFile>& files) {
  if (source.Size() > kCsmMaxDataBytes) return false;
  for (const ListedFile& f : files)
    if (f.size > kCsmMaxDataBytes) return false;
  return files.size() <= 0xFFFFFFFFull;
}

// Fields 3 and 4: the scheme file's length and bytes.
ExportResult WriteSchemeFile(Output& out, const CRawFile& source) {
  const uint64_t schemeSize = source.Size();
  if (!out.Put32(static_cast<uint32_t>(schemeSize))) return ExportResult::kWriteFailed;
  const CopyOutcome c = CopyBytes(source.Fd(), nullptr, out.file.Fd(), schemeSize, out.buffer);
  if (c.status == CopyOutcome::kWriteError) return ExportResult::kWriteFailed;
  // The scheme file changed size while it was read: its length field must still
  // match what was copied.
  if (c.status == CopyOutcome::kReadError) return ExportResult::kCannotReadSource;
  out.written += c.copied;
  if (c.copied != schemeSize) return ExportResult::kCannotReadSource;
  return ExportResult::kDone;
}

// The record of one file of the Backups folder. `copied` gets the length of its
// data, or stays empty when the file is left out (a name that cannot be carried, a
// file that cannot be opened or read to its end, or one grown too large).
ExportResult WriteRecord(Output& out, const ListedFile& f, std::optional<uint64_t>& copied) {
  CRawFile in;
  if (!IsCarriableName(f.name) || !in.OpenRead(f.path) || in.Size() > kCsmMaxDataBytes)
    return ExportResult::kDone;
  const uint64_t recordOffset = out.written;
  const uint64_t lengthOffset = out.written + 4 + f.name.size();
  const uint32_t size = static_cast<uint32_t>(in.Size());
  std::string header(8 + f.name.size(), '\0');
  auto* h = reinterpret_cast<unsigned char*>(header.data());
  PutU32(h, static_cast<uint32_t>(f.name.size()));
  header.replace(4, f.name.size(), f.name);
  PutU32(h + 4 + f.name.size(), size);
  if (!out.Put(header.data(), header.size())) return ExportResult::kWriteFailed;

  // Copy to the end of the file as it is now; a file that changed size since it was
  // opened gets its length field corrected so the record stays well formed.
  const CopyOutcome c = CopyBytes(in.Fd(), nullptr, out.file.Fd(), kCsmMaxDataBytes, out.buffer);
  out.written += c.copied;
  if (c.status == CopyOutcome::kWriteError) return ExportResult::kWriteFailed;
  if (c.status == CopyOutcome::kReadError) {
    // The file could not be read to its end: take the partial record back and
    // leave the file out, like one that could not be opened.
    if (!out.file.TruncateTo(recordOffset)) return ExportResult::kWriteFailed;
    out.written = recordOffset;
    return ExportResult::kDone;
  }
  if (c.copied == kCsmMaxDataBytes) {
    char probe;
    if (::read(in.Fd(), &probe, 1) > 0) return ExportResult::kFileTooLarge;
  }
  if (c.copied != size) {
    unsigned char u32[4];
    PutU32(u32, static_cast<uint32_t>(c.copied));
    if (!out.file.WriteAt(u32, 4, lengthOffset)) return ExportResult::kWriteFailed;
  }
  copied = c.copied;
  return ExportResult::kDone;
}

}  // namespace

bool CCsmWriter::SplitParameter(std::string_view parameter, std::string& name, std::string& path) {
  const size_t bar = parameter.find('|');
  if (bar == std::string_view::npos) return false;
  name.assign(parameter.substr(0, bar));
  std::string_view rest = parameter.substr(bar + 1);
  path.assign(rest.substr(0, rest.find('|')));
  return true;
}

ExportResult CCsmWriter::Run(std::string_view name, const std::string& targetPath) {
  m_records = 0;
  m_bytes = 0;
  m_skipped.clear();
  CExchangeProgress nullProgress;
  CExchangeProgress& progress = m_progress ? *m_progress : nullProgress;
  progress.SetPos(0);
  progress.Show();
  HideOnExit hide{&progress};

  const std::string schemeFile = SchemeFilePath(m_schemesDir, name);
  const std::string backupsFolder = BackupsFolderFor(schemeFile);

  // The target: a temporary file beside it, renamed over it at the end.
  const fs::path target(targetPath);
  std::error_code ec;
  if (targetPath.empty() || fs::is_directory(target, ec)) return ExportResult::kCannotCreate;
  // What killed exports left beside the target, and killed Backups in the
  // folder to be carried, goes first.
  RemoveStalePartials(target.has_parent_path() ? target.parent_path().string() : ".");
  RemoveStalePartials(backupsFolder);
  Output out;
  TempFileGuard temp;
  if (!CreateTempBeside(target, out.file, temp)) return ExportResult::kCannotCreate;

  CRawFile source;
  if (!name.empty() && !IsCarriableName(name)) return ExportResult::kBadName;
  if (name.empty() || !source.OpenRead(schemeFile)) return ExportResult::kCannotReadSource;
  std::vector<ListedFile> files;
  ListFiles(fs::path(backupsFolder), files);
  if (!AllFit(source, files)) return ExportResult::kFileTooLarge;
  uint64_t dataTotal = source.Size();
  for (const ListedFile& f : files) dataTotal += f.size;

  // Fields 1 and 2, then the scheme file.
  if (!out.Put32(static_cast<uint32_t>(name.size())) || !out.Put(name.data(), name.size()))
    return ExportResult::kWriteFailed;
  if (StopRequested()) return ExportResult::kStopped;
  if (const ExportResult r = WriteSchemeFile(out, source); r != ExportResult::kDone) return r;
  uint64_t dataDone = source.Size();
  progress.SetBytes(dataDone, dataTotal);
  source.Close();
  if (StopRequested()) return ExportResult::kStopped;

  // Field 5, corrected at the end when files had to be left out.
  const uint64_t countOffset = out.written;
  const uint32_t listed = static_cast<uint32_t>(files.size());
  if (!out.Put32(listed)) return ExportResult::kWriteFailed;
  progress.SetRange(listed);
  progress.SetPos(0);

  uint32_t records = 0;
  for (const ListedFile& f : files) {
    if (StopRequested()) return ExportResult::kStopped;
    std::optional<uint64_t> copied;
    if (const ExportResult r = WriteRecord(out, f, copied); r != ExportResult::kDone) return r;
    if (copied) {
      ++records;
      dataDone += *copied;
      progress.SetBytes(dataDone, dataTotal);
    } else {
      m_skipped.push_back(f.path);
    }
    progress.Step();
  }
  if (records != listed) {
    unsigned char u32[4];
    PutU32(u32, records);
    if (!out.file.WriteAt(u32, 4, countOffset)) return ExportResult::kWriteFailed;
  }
  if (!out.file.Close()) return ExportResult::kWriteFailed;
  // Private, unless it replaces a file whose mode the user chose.
  ::chmod(temp.path.c_str(), ModeForReplacing(targetPath));
  if (::rename(temp.path.c_str(), targetPath.c_str()) != 0) return ExportResult::kCannotCreate;
  temp.keep = true;
  m_records = records;
  m_bytes = out.written;
  return ExportResult::kDone;
}

}  // namespace tessarook
