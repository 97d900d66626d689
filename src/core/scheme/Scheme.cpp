// SPDX-License-Identifier: GPL-3.0-or-later
#include "scheme/Scheme.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "scheme/SchemeReader.h"
#include "util/AtomicFile.h"
#include "util/PrivateFiles.h"
#include "util/SamePath.h"

namespace tessarook {

namespace {

template <typename Entry>
int FindEntry(const std::vector<Entry>& list, std::string_view path) {
  for (size_t i = 0; i < list.size(); ++i)
    if (SamePath(list[i].m_path, path)) return static_cast<int>(i);
  return -1;
}

template <typename Entry>
bool AddEntry(std::vector<Entry>& list, std::string_view path) {
  if (FindEntry(list, path) >= 0) return false;
  list.emplace_back(std::string(path));
  return true;
}

// The reader compares counts as signed 32-bit values and refuses 8-byte
// lengths above 2^31-1, so anything larger could be written but never read
// back: such a Scheme is refused instead of saved.
constexpr uint64_t kMaxCount = 0x7FFFFFFF;
constexpr uint64_t kMaxTextLength = 0xFFFFFFFE;

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool PutText(std::string& out, const std::string& text) {
  const uint64_t length = text.size();
  if (length > kMaxTextLength) return false;
  if (length < 0xFF) {
    out += static_cast<char>(length);
  } else if (length < 0xFFFE) {
    out += '\xFF';
    out += static_cast<char>(length & 0xFF);
    out += static_cast<char>(length >> 8);
  } else {
    out.append("\xFF\xFF\xFF", 3);
    PutU32(out, static_cast<uint32_t>(length));
  }
  out += text;
  return true;
}

bool PutCount(std::string& out, size_t count) {
  if (count > kMaxCount) return false;
  PutU32(out, static_cast<uint32_t>(count));
  return true;
}

template <typename Entry>
bool RemoveEntry(std::vector<Entry>& list, std::string_view path) {
  const int index = FindEntry(list, path);
  if (index < 0) return false;
  list.erase(list.begin() + index);
  return true;
}

}  // namespace

bool CScheme::AddFileEntry(std::string_view path) { return AddEntry(m_files, path); }

bool CScheme::AddFolderEntry(std::string_view path) { return AddEntry(m_folders, path); }

int CScheme::FindFileEntry(std::string_view path) const { return FindEntry(m_files, path); }

int CScheme::FindFolderEntry(std::string_view path) const { return FindEntry(m_folders, path); }

bool CScheme::RemoveFileEntry(std::string_view path) { return RemoveEntry(m_files, path); }

bool CScheme::RemoveFolderEntry(std::string_view path) { return RemoveEntry(m_folders, path); }

void CScheme::Clear() {
  m_files.clear();
  m_folders.clear();
}

SchemeError CScheme::ToBytes(std::string& out) const {
  out.clear();
  bool ok = PutCount(out, m_files.size());
  for (const CSchemeFile& file : m_files) ok = ok && PutText(out, file.m_path);
  ok = ok && PutCount(out, m_folders.size());
  for (const CSchemeFolder& folder : m_folders) {
    ok = ok && PutText(out, folder.m_path) && PutCount(out, folder.m_excludedExtensions.size());
    for (const std::string& ext : folder.m_excludedExtensions) ok = ok && PutText(out, ext);
  }
  if (!ok) out.clear();
  return ok ? SchemeError::kOk : SchemeError::kSaveFailed;
}

SchemeError CScheme::ReadFromMemory(const void* data, size_t size) {
  CScheme read;
  CSchemeReader reader(data, size);
  const SchemeError err = reader.Read(read);
  if (err == SchemeError::kOk) *this = std::move(read);
  return err;
}

SchemeError CScheme::Load(const std::string& path) {
  if (path.empty()) return SchemeError::kFileNotFound;
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return SchemeErrorFromErrno(errno, false);
  struct stat st;
  SchemeError err = SchemeError::kOk;
  if (::fstat(fd, &st) != 0)
    err = SchemeErrorFromErrno(errno, false);
  else if (S_ISDIR(st.st_mode))
    err = SchemeError::kAccessDenied;
  else if (!S_ISREG(st.st_mode))
    err = SchemeError::kOpenFailed;  // devices, FIFOs and sockets are no scheme files
  if (err == SchemeError::kOk) {
    CScheme read;
    CSchemeReader reader(fd, static_cast<uint64_t>(st.st_size));
    err = reader.Read(read);
    if (err == SchemeError::kOk) *this = std::move(read);
  }
  ::close(fd);
  return err;
}

SchemeError CScheme::Save(const std::string& path) const {
  namespace fs = std::filesystem;
  if (path.empty() || path.back() == '/') return SchemeError::kInvalidFilename;
  std::string bytes;
  SchemeError err = ToBytes(bytes);
  if (err != SchemeError::kOk) return err;

  // Name the likely cause before trying, since the atomic write reports only
  // success or failure.
  std::error_code ec;
  const fs::path target(path);
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  const fs::file_status folderStatus = fs::status(folder, ec);
  if (!fs::exists(folderStatus)) return SchemeError::kInvalidPath;
  if (!fs::is_directory(folderStatus)) return SchemeError::kInvalidPath;
  if (fs::is_directory(fs::status(target, ec))) return SchemeError::kAccessDenied;
  if (::access(folder.c_str(), W_OK) != 0) return SchemeErrorFromErrno(errno, true);

  errno = 0;
  // A scheme file names the user's files: private, as the Backups are.
  if (WriteFileAtomic(path, bytes, kPrivateFileMode)) return SchemeError::kOk;
  const int cause = errno;
  if (cause == ENOSPC || cause == EDQUOT) return SchemeError::kDiskFull;
  if (cause == EACCES || cause == EPERM || cause == EROFS) return SchemeError::kAccessDenied;
  // The write may have cleaned up after itself and lost errno: a folder on a
  // file system without a free block still tells why.
  struct statvfs fsInfo;
  if (::statvfs(folder.c_str(), &fsInfo) == 0 && fsInfo.f_bavail == 0 && !bytes.empty())
    return SchemeError::kDiskFull;
  return SchemeError::kSaveFailed;
}

}  // namespace tessarook
