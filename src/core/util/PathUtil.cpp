// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/PathUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "util/FileBytes.h"
#include "util/Str.h"

namespace tessarook {

namespace fs = std::filesystem;

namespace {

// The names in a folder (without "." and ".."), read in one go so that no
// folder stays open while its subfolders are handled. False when the folder
// cannot be listed.
bool ListFolder(const fs::path& folder, std::vector<fs::path>& names) {
  names.clear();
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return false;
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    names.push_back(it->path().filename());
  }
  return !ec;
}

// Copies one regular file (or the file a link points to). Anything that is not
// a regular file once opened is skipped with success, as are files that are
// already the very file at the destination.
bool CopyOneFile(const std::string& source, const std::string& target, const CopyControl& control) {
  // O_NONBLOCK keeps the open from hanging should the entry have turned into
  // a FIFO since it was listed; fstat then tells what was really opened.
  const int in = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (::fstat(in, &st) != 0) {
    ::close(in);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(in);
    return true;
  }
  const int flags = ::fcntl(in, F_GETFL);
  if (flags >= 0) ::fcntl(in, F_SETFL, flags & ~O_NONBLOCK);

  struct stat existing {};
  if (::lstat(target.c_str(), &existing) == 0) {
    if (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino) {
      ::close(in);  // the same file: copying would truncate the source
      return true;
    }
    // Replace a link or special file instead of writing through it.
    if (!S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) ::unlink(target.c_str());
  }
  const int out =
      ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    ::close(in);
    return false;
  }

  // Copied a step at a time so that progress shows and a stop is never far away;
  // the kernel shares the blocks where the file system can.
  constexpr uint64_t kStep = 8u << 20;
  bool ok = true;
  std::vector<char> buffer;
  for (;;) {
    const CopyOutcome c = CopyBytes(in, nullptr, out, kStep, buffer);
    if (c.status != CopyOutcome::kOk) {
      ok = false;
      break;
    }
    if (c.copied == 0) break;
    if (control.copied) control.copied(c.copied);
    if (control.Cancelled()) {
      ok = false;
      break;
    }
    if (c.copied < kStep) break;  // the end of the source
  }
  ::fchmod(out, st.st_mode & 0777);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(out, times);
  if (::close(out) != 0) ok = false;
  ::close(in);
  if (!ok && control.Cancelled()) ::unlink(target.c_str());  // no file cut short stays
  return ok;
}

}  // namespace

std::string MakeModulePath(std::string_view name) {
  std::string folder;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    folder = exe.string();
    if (!CutAtLast(folder, "/")) folder.clear();
  } else {
    folder = fs::current_path(ec).string();
  }
  return EnsureTrailingBackslash(folder) + std::string(name);
}

bool IsRelativePath(std::string_view path) { return path.empty() || path.front() != '/'; }

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFolderTree(const std::string& folder) {
  if (folder.empty()) return false;
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) {
    // A link (even one to a folder) or a file: remove just that entry.
    return ::unlink(folder.c_str()) == 0;
  }

  // Depth first without recursion, so a very deep tree cannot exhaust the
  // stack; each frame holds the subfolders still to be handled.
  struct Frame {
    fs::path path;
    std::vector<fs::path> subfolders;
  };
  std::vector<Frame> stack;
  auto enter = [&stack](const fs::path& path) {
    Frame frame{path, {}};
    std::vector<fs::path> names;
    ListFolder(path, names);
    for (const fs::path& name : names) {
      const fs::path child = path / name;
      struct stat cst {};
      if (::lstat(child.c_str(), &cst) != 0) continue;
      if (S_ISDIR(cst.st_mode)) {
        frame.subfolders.push_back(child);
      } else {
        ::unlink(child.c_str());
      }
    }
    stack.push_back(std::move(frame));
  };

  enter(folder);
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (!top.subfolders.empty()) {
      fs::path next = std::move(top.subfolders.back());
      top.subfolders.pop_back();
      enter(next);  // may reallocate the stack: `top` is not used after this
      continue;
    }
    ::rmdir(top.path.c_str());
    stack.pop_back();
  }
  return ::lstat(folder.c_str(), &st) != 0 && errno == ENOENT;
}

bool CopyFolder(const std::string& target, const std::string& source) {
  return CopyFolder(target, source, CopyControl{});
}

uint64_t FolderDataBytes(const std::string& folder) {
  uint64_t total = 0;
  std::vector<std::string> pending{folder};
  while (!pending.empty()) {
    const std::string from = std::move(pending.back());
    pending.pop_back();
    std::vector<fs::path> names;
    if (!ListFolder(from, names)) continue;
    for (const fs::path& name : names) {
      const std::string path = (fs::path(from) / name).string();
      struct stat lst {};
      if (::lstat(path.c_str(), &lst) != 0) continue;
      struct stat st {};
      if (S_ISDIR(lst.st_mode))
        pending.push_back(path);
      else if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        total += static_cast<uint64_t>(st.st_size);
    }
  }
  return total;
}

bool CopyFolder(const std::string& target, const std::string& source, const CopyControl& control) {
  std::error_code ec;
  fs::create_directories(target, ec);
  struct stat targetSt {};
  if (::stat(target.c_str(), &targetSt) != 0 || !S_ISDIR(targetSt.st_mode)) return false;
  struct stat sourceSt {};
  if (::stat(source.c_str(), &sourceSt) != 0 || !S_ISDIR(sourceSt.st_mode)) return false;
  if (sourceSt.st_dev == targetSt.st_dev && sourceSt.st_ino == targetSt.st_ino) return false;

  bool ok = true;
  // Pairs of (source folder, target folder) still to copy; no recursion.
  std::vector<std::pair<std::string, std::string>> pending{{source, target}};
  while (!pending.empty()) {
    if (control.Cancelled()) return false;
    auto [from, to] = std::move(pending.back());
    pending.pop_back();
    std::vector<fs::path> names;
    if (!ListFolder(from, names)) {
      ok = false;
      continue;
    }
    for (const fs::path& name : names) {
      if (control.Cancelled()) return false;
      const std::string src = (fs::path(from) / name).string();
      const std::string dst = (fs::path(to) / name).string();
      struct stat lst {};
      if (::lstat(src.c_str(), &lst) != 0) {
        ok = false;
        continue;
      }
      if (S_ISDIR(lst.st_mode)) {
        // Never copy the target into itself when it lies inside the source.
        if (lst.st_dev == targetSt.st_dev && lst.st_ino == targetSt.st_ino) continue;
        if (::mkdir(dst.c_str(), 0777) != 0 && errno != EEXIST) {
          ok = false;
          continue;
        }
        ::chmod(dst.c_str(), (lst.st_mode & 0777) | 0700);
        pending.emplace_back(src, dst);
      } else if (S_ISREG(lst.st_mode)) {
        if (!CopyOneFile(src, dst, control)) ok = false;
      } else if (S_ISLNK(lst.st_mode)) {
        struct stat target_of_link {};
        // Links to regular files are copied as their contents; links to
        // folders, dangling links and links to special files are skipped.
        if (::stat(src.c_str(), &target_of_link) == 0 && S_ISREG(target_of_link.st_mode)) {
          if (!CopyOneFile(src, dst, control)) ok = false;
        }
      }
      // FIFOs, sockets and devices are skipped: reading them can block.
    }
  }
  return ok;
}

}  // namespace tessarook
