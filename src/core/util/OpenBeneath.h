// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Opening (and making) folders one component at a time from an open folder,
// so that a walk below a chosen folder cannot be led out of it by a symbolic
// link, and so that the folders made on the way can be taken away again when
// the operation that needed them fails.

#include <string>
#include <string_view>
#include <vector>

namespace tessarook {

// A file descriptor owned by one object and closed with it.
class CFileHandle {
 public:
  CFileHandle() = default;
  explicit CFileHandle(int fd) : m_fd(fd) {}
  ~CFileHandle();
  CFileHandle(CFileHandle&& other) noexcept;
  CFileHandle& operator=(CFileHandle&& other) noexcept;
  CFileHandle(const CFileHandle&) = delete;
  CFileHandle& operator=(const CFileHandle&) = delete;

  int Get() const { return m_fd; }
  bool IsOpen() const { return m_fd >= 0; }
  // Closes now; false when the close reported an error (written data may be lost).
  bool Close();

 private:
  int m_fd = -1;
};

// The folders an operation made on its way to a file. Destroying the object
// leaves them in place; RemoveEmpty takes them away after a failure.
class CMadeFolders {
 public:
  // Records the folder `name` just made in the open folder `parent`.
  void Add(int parent, const std::string& name);
  // Removes every recorded folder that is empty, the innermost first, then
  // forgets them all. A folder that holds anything (also something another
  // program put there meanwhile) stays, and so do the folders above it.
  void RemoveEmpty();
  bool IsEmpty() const { return m_made.empty(); }

 private:
  struct Made {
    CFileHandle parent;
    std::string name;
  };
  std::vector<Made> m_made;
};

enum class LinkRule {
  kFollow,  // symbolic links on the way are followed, as path lookup does
  kRefuse,  // a symbolic link on the way is a failure; so is a ".." component
};

// Opens the folder reached from the open folder `start` through `components`,
// making each missing one (mode 0777 less the umask, as mkdir does) and
// recording it in `made`. With LinkRule::kRefuse the folder opened is always
// below `start`: no symbolic link is followed and ".." is refused. Returns an
// O_PATH handle, or an empty one with `error` naming the folder (`shown`, the
// text that names `start`, followed by the components reached) and the reason.
CFileHandle OpenFolderBelow(int start, const std::vector<std::string>& components, LinkRule links,
                            CMadeFolders& made, const std::string& shown, std::string& error);

// Opens the folder at `path` (absolute, or relative to the current folder),
// making the missing ones; symbolic links on the way are followed.
CFileHandle OpenFolderMaking(const std::string& path, CMadeFolders& made, std::string& error);

// The components of a "/"-separated path, without empty ones.
std::vector<std::string> PathComponents(std::string_view path);

// `folder` + "/" + `name`, without doubling a "/" that ends `folder`.
std::string JoinPath(const std::string& folder, std::string_view name);

// The folder that holds `path`: what comes before its last "/" ("/" for a
// name just below the root, "." for a bare name).
std::string FolderOf(const std::string& path);

}  // namespace tessarook
