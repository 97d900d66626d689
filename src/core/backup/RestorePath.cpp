#include "backup/RestorePath.h"

namespace tessarook {

namespace {

bool HasDotDot(std::string_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::string RestoreRefusal(std::string_view sourcePath, bool belowFolder) {
  if (sourcePath.empty() || sourcePath.front() != '/') return "not a full path";
  // Below a chosen folder a ".." could climb out of it.
  if (belowFolder && HasDotDot(sourcePath)) return "the path leads out of the target folder";
  return {};
}

bool CanRestoreSomewhere(std::string_view sourcePath) {
  return RestoreRefusal(sourcePath, false).empty() || RestoreRefusal(sourcePath, true).empty();
}

}  // namespace tessarook
