// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ZipExtract.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "backup/ZipFile.h"
#include "backup/ZipReader.h"
#include "util/FileBytes.h"
#include "util/OpenBeneath.h"

namespace tessarook {

namespace {

constexpr size_t kIoChunk = 1 << 20;  // bytes read from or written to disk files at a time

std::string Errno(int err) { return std::strerror(err); }

bool AllZero(const char* p, size_t n) {
  if (n == 0) return true;
  return p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0;
}

std::atomic<unsigned> g_tempCounter{0};

std::string TempName() {
  return ".tessarook-" + std::to_string(getpid()) + "-" +
         std::to_string(g_tempCounter.fetch_add(1)) + ".part";
}

// The permission bits an extracted file gets: the entry's Unix bits when it
// has them (type bits mark them as set, so even a mode of 000 comes back as
// it was), else 0644.
mode_t EntryMode(const ZipEntryInfo& info) {
  const uint32_t stored = info.externalAttributes >> 16;
  if ((info.madeBy >> 8) == 3 && ((stored & S_IFMT) != 0 || (stored & 0777) != 0))
    return stored & 0777;
  return 0644;
}

// An unnamed file in the folder for a temporary copy, or, where the file
// system has no unnamed files, a named one removed at once.
CFileHandle UnnamedFileIn(int folder) {
  int fd = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
    return CFileHandle(fd);
  const std::string name = TempName();
  fd = openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) unlinkat(folder, name.c_str(), 0);
  return CFileHandle(fd);
}

// Room for the checked copy of an entry that goes into an existing file: in
// the file's own folder, or, when this user may not write there, in the
// temporary folder.
CFileHandle ScratchFileFor(int folder) {
  CFileHandle file = UnnamedFileIn(folder);
  if (file.IsOpen()) return file;
  const int err = errno;
  std::error_code ec;
  std::string temp = std::filesystem::temp_directory_path(ec).string();
  if (ec || temp.empty()) temp = "/tmp";
  const CFileHandle tempFolder(::open(temp.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (tempFolder.IsOpen()) file = UnnamedFileIn(tempFolder.Get());
  if (!file.IsOpen()) errno = err;
  return file;
}

// Calls `fn(offset, length)` for each stretch of data of the file below
// `size`, in order; holes are skipped. Stops early when `fn` returns false.
template <typename Fn>
bool ForEachDataStretch(int fd, uint64_t size, Fn fn) {
  const off_t end = static_cast<off_t>(size);
  off_t pos = 0;
  while (pos < end) {
    off_t data = lseek(fd, pos, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) return true;  // only a hole is left
      data = pos;                       // no hole support: all of it is data
    }
    if (data >= end) return true;
    off_t hole = lseek(fd, data, SEEK_HOLE);
    if (hole < 0 || hole > end) hole = end;
    if (!fn(data, hole - data)) return false;
    pos = hole;
  }
  return true;
}

// Makes [begin, end) of the file read as zeros, where it held old data.
bool ZeroRange(int fd, off_t begin, off_t end, off_t oldSize) {
  end = std::min(end, oldSize);
  if (begin >= end) return true;
  if (fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, begin, end - begin) == 0)
    return true;
  static const char zeros[64 << 10] = {};
  while (begin < end) {
    const size_t n = static_cast<size_t>(std::min<off_t>(end - begin, sizeof zeros));
    if (!WriteAllAt(fd, zeros, n, static_cast<uint64_t>(begin))) return false;
    begin += static_cast<off_t>(n);
  }
  return true;
}

// Whether a file's last-write time is the one an entry records, to the
// entry's precision: 100 ns (NTFS field), or whole seconds when it has no
// fraction (extended timestamp, DOS time).
bool SameEntryTime(const struct timespec& file, const struct timespec& entry) {
  if (file.tv_sec != entry.tv_sec) return false;
  return entry.tv_nsec == 0 || file.tv_nsec / 100 == entry.tv_nsec / 100;
}

// Gives the file `to` the extended attributes of `from` (ACLs among them),
// except the security ones, which the system sets for a new file itself.
// False when one could not be given.
bool CopyAttributes(int from, int to) {
  std::vector<char> names(1024);
  ssize_t listed;
  while ((listed = flistxattr(from, names.data(), names.size())) < 0 && errno == ERANGE)
    names.resize(names.size() * 4);
  if (listed < 0) return errno == ENOTSUP;
  std::vector<char> value;
  for (ssize_t at = 0; at < listed; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
    const char* name = &names[static_cast<size_t>(at)];
    if (std::strncmp(name, "security.", 9) == 0) continue;
    const ssize_t size = fgetxattr(from, name, nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<size_t>(size) + 1);
    const ssize_t got = fgetxattr(from, name, value.data(), value.size());
    if (got < 0 || fsetxattr(to, name, value.data(), static_cast<size_t>(got), 0) != 0)
      return false;
  }
  return true;
}

}  // namespace

// What is at the destination of one extraction, and how the data gets there.
struct CZipExtractor::Destination {
  Destination(int in, const std::string& name, const std::string& named, LeafRule linkRule)
      : folder(in), leaf(name), shown(named), rule(linkRule) {}

  int folder;
  const std::string& leaf;
  const std::string& shown;
  LeafRule rule;
  struct stat st {};         // the file there (through a link, where one is followed)
  bool exists = false;       // a file to take the place of (never for kReplace)
  bool throughLink = false;  // reached through a symbolic link at the path
  bool inPlace = false;      // the file receives the data and stays the same file
  CFileHandle file;          // the existing file, open for writing
};

CZipExtractor::CZipExtractor(CZipFile& archive) : m_archive(archive) {}

CZipExtractor::~CZipExtractor() = default;

bool CZipExtractor::Fail(std::string text) {
  m_lastError = std::move(text);
  return false;
}

bool CZipExtractor::Succeed() {
  m_lastError.clear();
  return true;
}

bool CZipExtractor::Protected(std::string text) {
  m_protected = true;
  return Fail(std::move(text));
}

bool CZipExtractor::Usable(int64_t index) {
  m_protected = false;
  m_damaged = false;
  if (!m_archive.IsReading()) return Fail("no archive is open");
  if (index < 0 || index >= m_archive.GetEntryCount()) return Fail("no such entry");
  return true;
}

bool CZipExtractor::WriteEntryTo(int fd, int64_t index, const std::string& shown,
                                 std::string& error) {
  uint64_t done = 0;
  bool holeAtEnd = false;
  const bool read = m_archive.ReadData(index, [&](const char* data, size_t n) {
    if (m_archive.Cancelled()) {
      error = "cancelled";
      return false;
    }
    // Blocks of zeros become holes, so sparse files stay sparse.
    if (AllZero(data, n)) {
      if (lseek(fd, static_cast<off_t>(n), SEEK_CUR) < 0) {
        error = "cannot write " + shown + ": " + Errno(errno);
        return false;
      }
      holeAtEnd = true;
    } else {
      if (!WriteAll(fd, data, n)) {
        error = "cannot write " + shown + ": " + Errno(errno);
        return false;
      }
      holeAtEnd = false;
    }
    done += n;
    return true;
  });
  if (!read && error.empty()) {
    // Not a write of ours that failed: the entry could not be read whole and
    // checked (unless the operation was stopped).
    m_damaged = !m_archive.Cancelled();
    error = m_damaged ? "damaged in the Backup: " + m_archive.LastError() : m_archive.LastError();
  }
  if (error.empty() && holeAtEnd && ftruncate(fd, static_cast<off_t>(done)) != 0)
    error = "cannot write " + shown + ": " + Errno(errno);
  return error.empty();
}

bool CZipExtractor::OverwriteWith(int from, int to, uint64_t size, uint64_t oldSize,
                                  const std::string& shown, std::string& error) {
  // Room for the new data is reserved before the first byte of the file
  // changes, so a full disk fails with the file as it was. Where the file
  // system cannot reserve, the free space must cover the growth.
  bool noRoom = false;
  bool reserved = ForEachDataStretch(from, size, [&](off_t at, off_t length) {
    if (fallocate(to, FALLOC_FL_KEEP_SIZE, at, length) == 0) return true;
    noRoom = errno == ENOSPC || errno == EDQUOT || errno == EFBIG;
    if (noRoom) error = "no room to restore " + shown + ": " + Errno(errno);
    return false;
  });
  if (!reserved && !noRoom) {
    struct statvfs fs {};
    const uint64_t growth = size > oldSize ? size - oldSize : 0;
    if (fstatvfs(to, &fs) == 0 && uint64_t(fs.f_bavail) * fs.f_frsize < growth) {
      noRoom = true;
      error = "no room to restore " + shown + ": " + Errno(ENOSPC);
    }
  }
  if (noRoom) return false;

  // From here on the old data is being replaced: a failure leaves the file
  // part new, part old, and says so.
  const off_t old = static_cast<off_t>(oldSize);
  off_t pos = 0;
  const bool copied = ForEachDataStretch(from, size, [&](off_t at, off_t length) {
    if (!ZeroRange(to, pos, at, old) || lseek(to, at, SEEK_SET) != at) return false;
    uint64_t in = static_cast<uint64_t>(at);
    const CopyOutcome c = CopyBytes(from, &in, to, static_cast<uint64_t>(length), m_buffer);
    if (c.status != CopyOutcome::kOk) return false;
    if (c.copied < static_cast<uint64_t>(length)) {
      errno = EIO;  // the copy ended before the size it had
      return false;
    }
    pos = at + length;
    return true;
  });
  if (!copied || !ZeroRange(to, pos, static_cast<off_t>(size), old) ||
      ftruncate(to, static_cast<off_t>(size)) != 0) {
    error = "cannot write " + shown + " (it now holds part of the old data): " + Errno(errno);
    return false;
  }
  return true;
}

bool CZipExtractor::SameData(int fd, int64_t index) {
  uint64_t at = 0;
  std::vector<char> mine;
  bool same = true;
  const bool read = m_archive.ReadData(index, [&](const char* data, size_t n) {
    if (mine.size() < n) mine.resize(n);
    same = ReadAllAt(fd, mine.data(), n, at) && std::memcmp(mine.data(), data, n) == 0;
    at += n;
    return same;
  });
  return read && same;
}

std::string CZipExtractor::DifferenceFrom(int fd, const struct stat& st, int64_t index) {
  const ZipEntryInfo& info = m_archive.Reader()->Entries()[static_cast<size_t>(index)];
  if (static_cast<uint64_t>(st.st_size) != info.size) return "size";
  const bool sameTime = SameEntryTime(st.st_mtim, info.mtime);
  const char* const differs = sameTime ? "content" : "time";
  if (fd < 0) return differs;  // not readable: it cannot be shown to be the same
  // The CRC first (one read of the file), the bytes only when it matches.
  if (m_buffer.size() < kIoChunk) m_buffer.resize(kIoChunk);
  uLong crc = crc32(0, nullptr, 0);
  for (off_t at = 0; at < st.st_size;) {
    const ssize_t n = ::pread(fd, m_buffer.data(), kIoChunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return differs;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(m_buffer.data()), static_cast<uInt>(n));
    at += n;
  }
  if (static_cast<uint32_t>(crc) != info.crc || !SameData(fd, index)) return differs;
  return {};
}

CZipExtractor::Foresight CZipExtractor::ForeseeInto(int folder, const std::string& leaf,
                                                    const std::string& shown, int64_t index,
                                                    bool refuseLink) {
  Foresight out;
  if (!m_archive.IsReading() || index < 0 || index >= m_archive.GetEntryCount()) {
    out.action = Foresight::Action::kRefuse;
    out.reason = "no such entry";
    return out;
  }
  struct stat st {};
  if (folder < 0 || fstatat(folder, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (folder >= 0 && errno != ENOENT) {
      out.action = Foresight::Action::kRefuse;
      out.reason = shown + ": " + Errno(errno);
    }
    return out;  // created
  }
  out.action = Foresight::Action::kRefuse;
  if (S_ISLNK(st.st_mode) && refuseLink) {
    out.reason = shown + ": is a symbolic link; links inside the target folder are not followed";
    return out;
  }
  if (S_ISLNK(st.st_mode) && fstatat(folder, leaf.c_str(), &st, 0) != 0) {
    out.reason = shown + ": is a symbolic link to nothing";
    return out;
  }
  if (!S_ISREG(st.st_mode)) {
    out.reason = shown + (S_ISDIR(st.st_mode) ? ": is a folder" : ": is not a regular file");
    return out;
  }
  if (!(st.st_mode & S_IWUSR) || faccessat(folder, leaf.c_str(), W_OK, AT_EACCESS) != 0) {
    out.reason = shown + ": is read-only";
    return out;
  }
  const CFileHandle reading(openat(folder, leaf.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  out.reason = DifferenceFrom(reading.Get(), st, index);
  out.action = out.reason.empty() ? Foresight::Action::kSame : Foresight::Action::kReplace;
  return out;
}

// What is at the destination decides how the data gets there: whether a file
// is to be replaced, and whether it was reached through a link.
bool CZipExtractor::LookAt(Destination& d) {
  if (fstatat(d.folder, d.leaf.c_str(), &d.st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(d.st.st_mode) && d.rule == LeafRule::kRefuseLink)
      return Fail(d.shown +
                  ": is a symbolic link; links inside the target folder are not followed");
    if (S_ISLNK(d.st.st_mode) && d.rule == LeafRule::kFollowLink) {
      if (fstatat(d.folder, d.leaf.c_str(), &d.st, 0) != 0)
        return Fail(d.shown + ": is a symbolic link to " +
                    (errno == ENOENT ? std::string("nothing") : Errno(errno)));
      d.throughLink = true;
    }
    if (S_ISDIR(d.st.st_mode)) return Fail(d.shown + ": is a folder");
    d.exists = d.rule != LeafRule::kReplace;
  } else if (errno != ENOENT) {
    return Fail(d.shown + ": " + Errno(errno));
  }
  return true;
}

// Opens the existing file for writing, making sure it is the file judged and
// that it may be replaced.
bool CZipExtractor::OpenExisting(Destination& d) {
  const struct stat& st = d.st;
  if (!S_ISREG(st.st_mode)) return Fail(d.shown + ": is not a regular file");
  if (!(st.st_mode & S_IWUSR)) return Protected(d.shown + ": is read-only");
  if (m_archive.IsArchiveFile(st.st_dev, st.st_ino))
    return Fail(d.shown + ": is the Backup being read");
  const int flags = O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC |
                    (d.rule == LeafRule::kRefuseLink ? O_NOFOLLOW : 0);
  d.file = CFileHandle(openat(d.folder, d.leaf.c_str(), flags));
  if (!d.file.IsOpen()) {
    const int err = errno;
    if (err == EACCES || err == EPERM || err == EROFS || err == ETXTBSY)
      return Protected(d.shown + ": " + Errno(err));
    return Fail("cannot write " + d.shown + ": " + Errno(err));
  }
  struct stat now {};
  if (fstat(d.file.Get(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino)
    return Fail(d.shown + ": changed while it was being restored");
  return true;
}

// True when the existing file holds the entry's data already: it is left as
// it is, its data not written again; only a last-write time that differs is
// set to the entry's (where this user may set it).
bool CZipExtractor::HoldsEntry(Destination& d, int64_t index, const ZipEntryInfo& info) {
  const struct stat& st = d.st;
  const int flags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC |
                    (d.rule == LeafRule::kRefuseLink ? O_NOFOLLOW : 0);
  const CFileHandle reading(openat(d.folder, d.leaf.c_str(), flags));
  struct stat seen {};
  const bool readable = reading.IsOpen() && fstat(reading.Get(), &seen) == 0 &&
                        seen.st_dev == st.st_dev && seen.st_ino == st.st_ino;
  if (!DifferenceFrom(readable ? reading.Get() : -1, st, index).empty()) return false;
  const struct timespec times[2] = {{0, UTIME_OMIT}, info.mtime};
  if (!SameEntryTime(st.st_mtim, info.mtime) && (geteuid() == 0 || st.st_uid == geteuid()))
    futimens(d.file.Get(), times);
  return true;
}

// The temporary file the entry is read into and checked in before anything
// at the destination changes: a named one beside the destination, which
// becomes the file, or, for a rewrite in place, any scratch file.
bool CZipExtractor::MakeCopy(Destination& d, CFileHandle& temp, std::string& tempName) {
  if (!d.inPlace) {
    tempName = TempName();
    temp = CFileHandle(
        openat(d.folder, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (temp.IsOpen()) {
      // Held while it exists, so that a sweep for partials of killed restores
      // never takes it for one (a new file: nobody else can hold it yet).
      ::flock(temp.Get(), LOCK_EX | LOCK_NB);
    } else if (!d.exists) {
      return Fail("cannot write in " + FolderOf(d.shown) + ": " + Errno(errno));
    } else {
      tempName.clear();
      d.inPlace = true;  // the folder may not be written, the file may
    }
  }
  if (!temp.IsOpen()) {
    temp = ScratchFileFor(d.folder);
    if (!temp.IsOpen()) return Fail("cannot make a copy for " + d.shown + ": " + Errno(errno));
  }
  return true;
}

// Whether the new file can take the old one's place: its owner and group
// (where they differ from what a new file gets), its extended attributes.
bool CZipExtractor::TakeOver(const Destination& d, int temp) {
  const struct stat& st = d.st;
  const bool root = geteuid() == 0;
  if (root && fchown(temp, st.st_uid, st.st_gid) != 0) return false;
  if (!root && st.st_gid != getegid() && fchown(temp, (uid_t)-1, st.st_gid) != 0) return false;
  return CopyAttributes(d.file.Get(), temp);
}

// The existing file receives the checked copy's data; it stays the same file.
bool CZipExtractor::RewriteInPlace(Destination& d, int temp, const ZipEntryInfo& info) {
  std::string error;
  struct stat copy {};
  if (fstat(temp, &copy) != 0) return Fail("cannot write " + d.shown + ": " + Errno(errno));
  bool ok = OverwriteWith(temp, d.file.Get(), static_cast<uint64_t>(copy.st_size),
                          static_cast<uint64_t>(d.st.st_size), d.shown, error);
  // Only the owner (or the superuser) may set the time; the mode stays.
  const struct timespec times[2] = {{0, UTIME_OMIT}, info.mtime};
  const bool owner = geteuid() == 0 || d.st.st_uid == geteuid();
  if (ok && owner && futimens(d.file.Get(), times) != 0) {
    ok = false;
    error = "cannot set the attributes of " + d.shown + ": " + Errno(errno);
  }
  if (!d.file.Close() && ok) {
    ok = false;
    error = "cannot write " + d.shown + ": " + Errno(errno);
  }
  if (!ok) return Fail(error);
  return true;
}

// Gives the checked copy its attributes and renames it into place.
bool CZipExtractor::PlaceCopy(const Destination& d, CFileHandle& temp, const std::string& tempName,
                              const ZipEntryInfo& info) {
  const std::string& shown = d.shown;
  // A new file gets the entry's mode; a replaced one keeps its own (set after
  // a change of owner, which clears the set-id bits).
  const mode_t mode = d.exists ? (d.st.st_mode & 07777) : EntryMode(info);
  const struct timespec times[2] = {{0, UTIME_OMIT}, info.mtime};
  if (fchmod(temp.Get(), mode) != 0 || futimens(temp.Get(), times) != 0)
    return Fail("cannot set the attributes of " + shown + ": " + Errno(errno));
  // A replacement is on disk before it takes the name, so that after a power
  // loss the name holds the old file or the new one.
  if (d.exists && fsync(temp.Get()) != 0)
    return Fail("cannot write " + shown + ": " + Errno(errno));
  if (!temp.Close()) return Fail("cannot write " + shown + ": " + Errno(errno));
  const int folder = d.folder;
  const char* const from = tempName.c_str();
  const char* const to = d.leaf.c_str();
  bool placed = false;
  if (d.rule == LeafRule::kReplace) {
    placed = renameat(folder, from, folder, to) == 0;
  } else if (d.exists) {
    // Only the file that was judged is replaced.
    struct stat again {};
    if (fstatat(folder, to, &again, AT_SYMLINK_NOFOLLOW) != 0 || again.st_dev != d.st.st_dev ||
        again.st_ino != d.st.st_ino)
      return Fail(shown + ": changed while it was being restored");
    placed = renameat(folder, from, folder, to) == 0;
  } else {
    // Something that appeared at the path meanwhile is not replaced.
    placed = renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0;
    if (!placed && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without that rename: look first, then rename.
      struct stat again {};
      if (fstatat(folder, to, &again, AT_SYMLINK_NOFOLLOW) == 0)
        errno = EEXIST;
      else if (errno == ENOENT)
        placed = renameat(folder, from, folder, to) == 0;
    }
  }
  if (!placed)
    return Fail(errno == EEXIST ? shown + ": appeared while it was being restored"
                                : "cannot replace " + shown + ": " + Errno(errno));
  return true;
}

bool CZipExtractor::ExtractInto(int folder, const std::string& leaf, const std::string& shown,
                                int64_t index, LeafRule rule) {
  const ZipEntryInfo& info = m_archive.Reader()->Entries()[static_cast<size_t>(index)];
  m_damaged = false;
  m_placed = Placed::kCreated;

  Destination d(folder, leaf, shown, rule);
  if (!LookAt(d)) return false;
  // Where the existing file's identity matters, it receives the data in place.
  if (d.exists) {
    if (!OpenExisting(d)) return false;
    if (HoldsEntry(d, index, info)) {
      m_placed = Placed::kSame;
      return true;
    }
    if (m_archive.Cancelled()) return Fail("cancelled");
    d.inPlace = d.throughLink || d.st.st_nlink > 1 || (d.st.st_uid != geteuid() && geteuid() != 0);
  }

  std::string tempName;
  CFileHandle temp;
  if (!MakeCopy(d, temp, tempName)) return false;
  struct RemoveTemp {
    int folder;
    std::string* name;
    ~RemoveTemp() {
      if (!name->empty()) unlinkat(folder, name->c_str(), 0);
    }
  } removeTemp{folder, &tempName};

  std::string error;
  if (!WriteEntryTo(temp.Get(), index, shown, error)) return Fail(error);
  // The new file takes the old one's place, unless its group or attributes
  // cannot be given: then the old file is rewritten in place.
  if (d.exists && !d.inPlace && !TakeOver(d, temp.Get())) d.inPlace = true;
  if (d.inPlace) {
    if (!RewriteInPlace(d, temp.Get(), info)) return false;
    m_placed = Placed::kReplaced;
    return true;
  }
  if (!PlaceCopy(d, temp, tempName, info)) return false;
  tempName.clear();
  m_placed = d.exists ? Placed::kReplaced : Placed::kCreated;
  return true;
}

bool CZipExtractor::ExtractByPath(const std::string& diskPath, int64_t index, LeafRule rule) {
  if (!Usable(index)) return false;
  const size_t slash = diskPath.rfind('/');
  const std::string leaf = slash == std::string::npos ? diskPath : diskPath.substr(slash + 1);
  if (leaf.empty() || leaf == "." || leaf == "..") return Fail(diskPath + ": not a file path");
  CMadeFolders made;
  std::string error;
  const CFileHandle folder = OpenFolderMaking(FolderOf(diskPath), made, error);
  const bool ok =
      folder.IsOpen() ? ExtractInto(folder.Get(), leaf, diskPath, index, rule) : Fail(error);
  if (!ok) {
    made.RemoveEmpty();
    return false;
  }
  return Succeed();
}

bool CZipExtractor::ExtractToFile(const std::string& diskPath, int64_t index) {
  return ExtractByPath(diskPath, index, LeafRule::kFollowLink);
}

bool CZipExtractor::ExtractToFile(const std::string& diskPath, const std::string& name) {
  const int64_t index = m_archive.FindEntry(name);
  if (index < 0) return Fail("no entry named " + name);
  return ExtractToFile(diskPath, index);
}

bool CZipExtractor::ExtractReplacing(const std::string& diskPath, int64_t index) {
  return ExtractByPath(diskPath, index, LeafRule::kReplace);
}

bool CZipExtractor::ExtractBeneath(const std::string& root, const std::string& relative,
                                   int64_t index) {
  if (!Usable(index)) return false;
  std::vector<std::string> parts = PathComponents(relative);
  std::string shown = root;
  for (const std::string& part : parts) shown = JoinPath(shown, part);
  if (parts.empty() || parts.back() == "." || parts.back() == "..")
    return Fail(shown + ": not a file path");
  const std::string leaf = parts.back();
  parts.pop_back();
  CMadeFolders made;
  std::string error;
  CFileHandle folder;
  const CFileHandle top = OpenFolderMaking(root, made, error);
  if (top.IsOpen())
    folder = OpenFolderBelow(top.Get(), parts, LinkRule::kRefuse, made, root, error);
  const bool ok = folder.IsOpen()
                      ? ExtractInto(folder.Get(), leaf, shown, index, LeafRule::kRefuseLink)
                      : Fail(error);
  if (!ok) {
    made.RemoveEmpty();
    return false;
  }
  return Succeed();
}

bool CZipExtractor::ExtractIntoFolder(int folder, const std::string& leaf, const std::string& shown,
                                      int64_t index, bool refuseLink) {
  if (!Usable(index)) return false;
  if (leaf.empty() || leaf == "." || leaf == ".." || leaf.find('/') != std::string::npos)
    return Fail(shown + ": not a file path");
  if (!ExtractInto(folder, leaf, shown, index,
                   refuseLink ? LeafRule::kRefuseLink : LeafRule::kFollowLink))
    return false;
  return Succeed();
}

}  // namespace tessarook
