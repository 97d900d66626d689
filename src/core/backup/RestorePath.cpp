// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/RestorePath.h"

namespace tessarook {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:\..." (or "C:/..."): a full path on a Windows drive.
bool IsDrivePath(std::string_view path) {
  return path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}

// "\\server\share\...": a Windows network path.
bool IsSharePath(std::string_view path) {
  return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

// The components of `text` between any of the `separators`, without empty
// ones and without ".".
void AppendComponents(std::string_view text, std::string_view separators,
                      std::vector<std::string>& out) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view part = text.substr(start, end - start);
    if (!part.empty() && part != ".") out.emplace_back(part);
    start = end + 1;
  }
}

}  // namespace

bool IsWindowsPath(std::string_view path) { return IsDrivePath(path) || IsSharePath(path); }

std::string RestorePlace(std::string_view source, bool belowFolder,
                         std::vector<std::string>& parts) {
  if (source.find('\0') != std::string_view::npos) return "the path holds a NUL byte";
  const bool windows = IsWindowsPath(source);
  const std::string_view separators = windows ? "\\/" : "/";
  if (IsDrivePath(source)) {
    parts.emplace_back(1, source[0]);
    AppendComponents(source.substr(3), separators, parts);
    if (parts.size() < 2) return "not a file path";
  } else if (IsSharePath(source)) {
    AppendComponents(source.substr(2), separators, parts);
    // A server, a share, and at least a name; "\\?\" and "\\.\" name devices.
    if (parts.size() < 3) return "not a file path";
    if (parts[0] == "?" || parts[0] == ".") return "a Windows device path";
    parts.insert(parts.begin(), "UNC");
  } else if (!source.empty() && source.front() == '/') {
    AppendComponents(source, separators, parts);
  } else {
    return "not a full path";
  }
  const std::string_view last = source.substr(source.find_last_of(separators) + 1);
  if (parts.empty() || last.empty() || last == ".") return "not a file path";
  for (const std::string& part : parts)
    if (part == "..")
      return belowFolder ? "the path leads out of the target folder"
                         : "the path holds a \"..\" component";
  return "";
}

std::string RestoreRefusal(std::string_view sourcePath, bool belowFolder) {
  std::vector<std::string> parts;
  std::string why = RestorePlace(sourcePath, belowFolder, parts);
  if (why.empty() && !belowFolder && IsWindowsPath(sourcePath)) why = kNeedsFolderText;
  return why;
}

bool CanRestoreSomewhere(std::string_view sourcePath) {
  return RestoreRefusal(sourcePath, false).empty() || RestoreRefusal(sourcePath, true).empty();
}

}  // namespace tessarook
