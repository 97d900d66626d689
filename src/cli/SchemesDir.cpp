// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "Cli.h"
#include "scheme/SchemePaths.h"
#include "settings/Settings.h"

namespace tessarook::cli {

std::string Context::SchemesDir() const {
  if (!schemesDirOption.empty()) return schemesDirOption;
  // For scripts and timers: a folder from the environment, below the option.
  if (const char* env = std::getenv("TESSAROOK_SCHEMES_DIR"); env && *env) return env;
  // The desktop program's own file and reading: a missing or damaged settings
  // file, or an empty dir_schemes, gives the default My Schemes folder.
  CSettings settings = settingsFile.empty() ? CSettings() : CSettings(settingsFile);
  settings.Load();
  return settings.dir_schemes;
}

int Context::CompressionLevel() const {
  CSettings settings = settingsFile.empty() ? CSettings() : CSettings(settingsFile);
  settings.Load();
  return settings.compression_level;
}

std::string Context::SchemeFile(const std::string& arg) const {
  const bool isPath = arg.find('/') != std::string::npos ||
                      (arg.size() >= kSchemeExtension.size() &&
                       arg.compare(arg.size() - kSchemeExtension.size(), kSchemeExtension.size(),
                                   kSchemeExtension) == 0);
  if (!isPath) return SchemeFilePath(SchemesDir(), arg);
  return AbsolutePath(arg);
}

std::string AbsolutePath(const std::string& arg) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(arg, ec);
  if (ec) path = arg;
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace tessarook::cli
