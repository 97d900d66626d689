// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessarook {

// The keys of the files pane's image lists, parallel to the images: key i
// describes image i. The first three are the fixed images "Directory",
// "No Directory" and "No File"; from index 3 on, one key per file icon.
// Files share one icon per key, except program files (key "exe"), which
// each get an icon of their own.
class CIconKeys {
 public:
  CIconKeys();

  // The image index for a file whose key is `key`, or -1 when a new image must
  // be appended for it (no file icon with this key yet, or a program file).
  int Find(std::string_view key) const;
  // Appends a key for a newly appended image and returns its index.
  int Append(std::string key);

  size_t Count() const { return m_keys.size(); }
  const std::string& Key(size_t index) const { return m_keys[index]; }

 private:
  std::vector<std::string> m_keys;
};

}  // namespace tessarook
