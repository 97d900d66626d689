// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/Settings.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "settings/UserPlaces.h"
#include "settings/XmlSettingsDoc.h"
#include "util/PathUtil.h"
#include "util/Str.h"

namespace tessarook {

namespace {

constexpr std::string_view kDirSchemes = "settings.dir_schemes";
constexpr std::string_view kAutoRefresh = "settings.autorefresh";
constexpr std::string_view kMinimizeToTray = "settings.minimize_to_tray";
constexpr std::string_view kZipAbsolute = "settings.zip_absolute";
constexpr std::string_view kFilesView = "settings.files_view";
constexpr std::string_view kFilesSorting = "settings.files_sorting";
constexpr std::string_view kBackupsView = "settings.backups_view";
constexpr std::string_view kBackupsSorting = "settings.backups_sorting";
constexpr std::string_view kCompressionLevel = "settings.compression_level";

constexpr bool kDefaultAutoRefresh = true;
constexpr bool kDefaultMinimizeToTray = false;
constexpr bool kDefaultZipAbsolute = false;
constexpr std::int32_t kDefaultFilesView = CSettings::kViewLargeIcons;
constexpr std::int32_t kDefaultFilesSorting = 1;
constexpr std::int32_t kDefaultBackupsView = CSettings::kViewTable;
constexpr std::int32_t kDefaultBackupsSorting = 2;

// Only the text "1" is true; a missing or empty value keeps the default.
bool ReadBool(const CXmlSettingsDoc& doc, std::string_view key, bool fallback) {
  const std::string text = doc.GetValue(key);
  return text.empty() ? fallback : text == "1";
}

std::int32_t ReadInt(const CXmlSettingsDoc& doc, std::string_view key, std::int32_t fallback) {
  const std::string text = doc.GetValue(key);
  return text.empty() ? fallback : ToInt(text);
}

}  // namespace

CSettings::CSettings() {
  const SUserPlaces places = FindUserPlaces();
  settingsPath_ = places.settingsFile;
  if (!places.portable) createFolder_ = places.configDir;
}

CSettings::CSettings(std::string settingsPath) : settingsPath_(std::move(settingsPath)) {
  // A path given by the user means the same file whatever the program later
  // does with its current directory.
  if (!settingsPath_.empty() && IsRelativePath(settingsPath_)) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(settingsPath_, ec);
    if (!ec) settingsPath_ = absolute.string();
  }
}

std::string CSettings::DefaultSchemesDir() { return FindUserPlaces().defaultSchemesDir; }

bool CSettings::Load() {
  CXmlSettingsDoc doc;
  doc.LoadFromFile(settingsPath_);  // a failure leaves every value empty: defaults

  dir_schemes = doc.GetValue(kDirSchemes);
  if (dir_schemes.empty()) dir_schemes = DefaultSchemesDir();
  autorefresh = ReadBool(doc, kAutoRefresh, kDefaultAutoRefresh);
  minimize_to_tray = ReadBool(doc, kMinimizeToTray, kDefaultMinimizeToTray);
  zip_absolute = ReadBool(doc, kZipAbsolute, kDefaultZipAbsolute);
  files_view = ReadInt(doc, kFilesView, kDefaultFilesView);
  files_sorting = ReadInt(doc, kFilesSorting, kDefaultFilesSorting);
  backups_view = ReadInt(doc, kBackupsView, kDefaultBackupsView);
  backups_sorting = ReadInt(doc, kBackupsSorting, kDefaultBackupsSorting);
  compression_level = ReadInt(doc, kCompressionLevel, kNormalCompression);
  if (compression_level < 1 || compression_level > 9) compression_level = kNormalCompression;
  return true;
}

bool CSettings::Save() const {
  // The per-user folder is private (XDG); a failure shows as a failed write.
  if (!createFolder_.empty()) CreateFolderPath(createFolder_, 0700, nullptr);
  CXmlSettingsDoc doc;
  if (!doc.CreateNew()) return false;
  doc.SetValue(kDirSchemes, dir_schemes);
  doc.SetValue(kAutoRefresh, autorefresh ? "1" : "0");
  doc.SetValue(kMinimizeToTray, minimize_to_tray ? "1" : "0");
  doc.SetValue(kZipAbsolute, zip_absolute ? "1" : "0");
  doc.SetValue(kFilesView, FromInt(files_view));
  doc.SetValue(kFilesSorting, FromInt(files_sorting));
  doc.SetValue(kBackupsView, FromInt(backups_view));
  doc.SetValue(kBackupsSorting, FromInt(backups_sorting));
  // Absent means normal: a file that never chose keeps its eight elements.
  if (compression_level != kNormalCompression)
    doc.SetValue(kCompressionLevel, FromInt(compression_level));
  return doc.SaveToFile(settingsPath_);
}

void CSettings::SetDefaults() {
  dir_schemes = DefaultSchemesDir();
  autorefresh = kDefaultAutoRefresh;
  minimize_to_tray = kDefaultMinimizeToTray;
  zip_absolute = kDefaultZipAbsolute;
  files_view = kDefaultFilesView;
  files_sorting = kDefaultFilesSorting;
  backups_view = kDefaultBackupsView;
  backups_sorting = kDefaultBackupsSorting;
  compression_level = kNormalCompression;
}

}  // namespace tessarook
