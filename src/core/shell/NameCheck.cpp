// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/NameCheck.h"

#include <sys/stat.h>

#include <ctime>

#include "scheme/SchemePaths.h"
#include "shell/Messages.h"
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

std::string_view InvalidNameText(std::string_view name) {
  const bool nine = name.find_first_of("\\/:*?\"<>|") != std::string_view::npos;
  return !nine && HasControlChar(name) ? msg::kInvalidNameControl : msg::kInvalidName;
}

std::string_view InvalidNameReason(std::string_view name) {
  const std::string_view text = InvalidNameText(name);
  return text.substr(0, text.find('\n'));
}

NameVerdict CheckName(std::string_view name, const NameCheckContext& context) {
  if (!context.originalName.empty() && SamePath(name, context.originalName))
    return NameVerdict::kAccept;
  if (HasForbiddenNameChar(name)) return NameVerdict::kForbiddenChars;
  if (name.empty()) return NameVerdict::kEmpty;
  if (AnythingAt(NameTargetPath(name, context))) return NameVerdict::kAskOverwrite;
  return NameVerdict::kAccept;
}

std::string BackupNameForTime(long long seconds) {
  const time_t moment = time_t(seconds);
  struct tm tm {};
  localtime_r(&moment, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H.%M.%S", &tm);
  return text;
}

}  // namespace tessarook
