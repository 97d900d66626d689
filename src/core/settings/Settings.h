// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace tessarook {

// The program's user settings, kept in settings.xml: the eight every file
// holds, and the compression level, written only when it is not the normal
// one. Read once at start-up (Load) and written whole at exit (Save); in
// between the fields are read and written directly.
class CSettings {
 public:
  // Display modes of the list views (stored as they are).
  static constexpr std::int32_t kViewLargeIcons = 0;
  static constexpr std::int32_t kViewTable = 1;
  static constexpr std::int32_t kViewSmallIcons = 2;
  static constexpr std::int32_t kViewList = 3;

  // Uses the program's own settings file: settings.xml beside the executable
  // when one exists there (portable mode), else the per-user one
  // (FindUserPlaces in UserPlaces.h); Save creates the per-user folder.
  CSettings();
  // Uses the given settings file instead (tests, the CLI's --settings).
  explicit CSettings(std::string settingsPath);

  // Reads the settings file; a missing, unreadable or malformed file, or a
  // missing or empty element, gives that setting its default. Always true.
  bool Load();

  // Writes the settings, replacing the file atomically. False when the file
  // could not be written (the old file is then left intact).
  bool Save() const;

  // Every field to its default.
  void SetDefaults();

  const std::string& GetSettingsPath() const { return settingsPath_; }

  // The default My Schemes folder: beside the executable in portable mode,
  // else the per-user data folder's (FindUserPlaces).
  static std::string DefaultSchemesDir();

  std::string dir_schemes;           // empty until loaded
  bool autorefresh = true;           // watch folders and refresh the views
  bool minimize_to_tray = false;     // minimising hides the window to the tray
  bool zip_absolute = false;         // plain ZIP export keeps absolute paths
  std::int32_t files_view = 0;       // files view display mode (large icons)
  std::int32_t files_sorting = 1;    // 1 by name, 2 by location
  std::int32_t backups_view = 1;     // backups view display mode (table)
  std::int32_t backups_sorting = 2;  // 1 by name, 2 by time, 3 by size
  // The deflate level of new Backups: 1 (fastest) .. 9 (smallest). A missing
  // or unusable value is the normal level.
  std::int32_t compression_level = kNormalCompression;

  // The three choices the desktop program offers.
  static constexpr std::int32_t kFasterCompression = 1;
  static constexpr std::int32_t kNormalCompression = 6;
  static constexpr std::int32_t kSmallerCompression = 9;
  // The choice a level shows as: the nearest of the three.
  static constexpr std::int32_t CompressionChoice(std::int32_t level) {
    return level <= 3 ? kFasterCompression : level >= 8 ? kSmallerCompression : kNormalCompression;
  }

 private:
  std::string settingsPath_;
  std::string createFolder_;  // made on Save when missing (the per-user folder)
};

}  // namespace tessarook
