// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the settings loader as settings.xml, saves the
// result and checks that what was saved reads back to the same settings.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "settings/Settings.h"
#include "settings/XmlSettingsDoc.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("tessarook-fuzz-settings-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return folder;
}

bool SameSettings(const tessarook::CSettings& a, const tessarook::CSettings& b) {
  return a.dir_schemes == b.dir_schemes && a.autorefresh == b.autorefresh &&
         a.minimize_to_tray == b.minimize_to_tray && a.zip_absolute == b.zip_absolute &&
         a.files_view == b.files_view && a.files_sorting == b.files_sorting &&
         a.backups_view == b.backups_view && a.backups_sorting == b.backups_sorting;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input = Folder() + "/input.xml";
  const std::string output = Folder() + "/output.xml";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  tessarook::CSettings loaded(input);
  loaded.Load();

  // The in-memory document path as well: path lookups on whatever was parsed.
  tessarook::CXmlSettingsDoc doc;
  if (doc.LoadFromText(std::string(reinterpret_cast<const char*>(data), size))) {
    doc.HasPath("settings");
    doc.RemovePath("settings.autorefresh");
    doc.SetValue("settings.deeper.key", doc.GetValue("settings.dir_schemes"));
    const std::string printed = doc.ToText();
    tessarook::CXmlSettingsDoc again;
    const auto tags = std::count(printed.begin(), printed.end(), '<');
    if (tags < 1900 && !again.LoadFromText(printed)) {
      std::fprintf(stderr, "a printed document does not parse again\n");
      std::abort();
    }
  }

  tessarook::CSettings saved(output);
  saved.dir_schemes = loaded.dir_schemes;
  saved.autorefresh = loaded.autorefresh;
  saved.minimize_to_tray = loaded.minimize_to_tray;
  saved.zip_absolute = loaded.zip_absolute;
  saved.files_view = loaded.files_view;
  saved.files_sorting = loaded.files_sorting;
  saved.backups_view = loaded.backups_view;
  saved.backups_sorting = loaded.backups_sorting;
  if (!saved.Save()) {
    std::fprintf(stderr, "saving the settings failed\n");
    std::abort();
  }
  tessarook::CSettings reread(output);
  reread.Load();
  if (!SameSettings(loaded, reread)) {
    std::fprintf(stderr, "settings changed on the way through the file\n");
    std::abort();
  }
  return 0;
}
