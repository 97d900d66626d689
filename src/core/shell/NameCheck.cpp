#include "shell/NameCheck.h"

#include <sys/stat.h>

#include "library/SchemePaths.h"
#include "util/SamePath.h"

namespace tessarook {

namespace {

bool AnythingAt(const std::string& path) {
  struct stat st;
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string NameTargetPath(std::string_view name, const NameCheckContext& context) {
  if (context.mode == NAME_SCHEME) return SchemeFilePath(context.schemesDir, name);
  if (context.mode == NAME_BACKUP && !context.openSchemePath.empty())
    return BackupFilePath(BackupsFolderFor(context.openSchemePath), name);
  return {};
}

NameVerdict CheckName(std::string_view name, const NameCheckContext& context) {
  if (!context.originalName.empty() && SamePath(name, context.originalName))
    return NameVerdict::kAccept;
  if (HasForbiddenNameChar(name)) return NameVerdict::kForbiddenChars;
  if (name.empty()) return NameVerdict::kEmpty;
  if (AnythingAt(NameTargetPath(name, context))) return NameVerdict::kAskOverwrite;
  return NameVerdict::kAccept;
}

}  // namespace tessarook
