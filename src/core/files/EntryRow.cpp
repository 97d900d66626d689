// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/EntryRow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "shell/StatusTexts.h"

namespace tessarook {

namespace {

// Byte-wise comparison: -1, 0 or 1.
int CompareBytes(const std::string& a, const std::string& b) {
  const int result = a.compare(b);
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

}  // namespace

void CEntryRow::SplitPath(std::string_view path, std::string& name, std::string& location) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) {
    name.assign(path);
    location.clear();
    return;
  }
  name.assign(path.substr(slash + 1));
  location.assign(path.substr(0, slash + 1));
}

CEntryRow CEntryRow::Make(std::string_view path, bool folder) {
  CEntryRow row;
  row.m_folder = folder;
  SplitPath(path, row.m_name, row.m_location);
  const std::string text(path);
  struct stat st;
  if (folder) {
    row.m_exists = !text.empty() && stat(text.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                   access(text.c_str(), X_OK) == 0;
    row.m_readable = row.m_exists;
    return row;
  }
  row.m_exists = !text.empty() && lstat(text.c_str(), &st) == 0;
  if (row.m_exists && stat(text.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    row.m_size = static_cast<std::uint64_t>(st.st_size);
    // Opened as the Backup opens it; O_NONBLOCK so a FIFO put there since cannot hang.
    const int fd = open(text.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    row.m_readable = fd >= 0;
    if (fd >= 0) close(fd);
  }
  return row;
}

std::string CEntryRow::SizeText() const {
  return m_size == 0 ? std::string() : FormatFileSize(m_size);
}

std::string CEntryRow::FullPath() const {
  if (m_location.empty() || m_location.back() == '/') return m_location + m_name;
  return m_location + "/" + m_name;
}

std::string IconKeyFor(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return std::string();
  std::string key(name.substr(dot + 1));
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

bool EntryRowBefore(const CEntryRow& a, const CEntryRow& b, int arrangement) {
  if (arrangement != 1 && arrangement != 2) return CompareBytes(a.m_name, b.m_name) > 0;
  if (a.m_folder != b.m_folder) return a.m_folder;
  const bool byName = arrangement == 1;
  int result = CompareBytes(byName ? a.m_name : a.m_location, byName ? b.m_name : b.m_location);
  if (result == 0)
    result = CompareBytes(byName ? a.m_location : a.m_name, byName ? b.m_location : b.m_name);
  return result < 0;
}

void ArrangeEntryRows(std::vector<CEntryRow>& rows, int arrangement) {
  std::stable_sort(rows.begin(), rows.end(), [arrangement](const CEntryRow& a, const CEntryRow& b) {
    return EntryRowBefore(a, b, arrangement);
  });
}

}  // namespace tessarook
