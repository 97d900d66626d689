// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/IconKeys.h"

#include "files/EntryRow.h"

namespace tessarook {

CIconKeys::CIconKeys() : m_keys{"Directory", "No Directory", "No File", "Unreadable File"} {}

int CIconKeys::Find(std::string_view key) const {
  if (key == "exe") return -1;
  for (size_t i = kFirstFileImage; i < m_keys.size(); ++i)
    if (m_keys[i] == key) return static_cast<int>(i);
  return -1;
}

int CIconKeys::Append(std::string key) {
  m_keys.push_back(std::move(key));
  return static_cast<int>(m_keys.size() - 1);
}

}  // namespace tessarook
