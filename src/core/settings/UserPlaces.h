// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace tessarook {

// Where the program keeps its own files for the user who runs it. Both
// programs ask FindUserPlaces, so they always agree.
//
// Portable mode: when a settings.xml exists beside the executable, that file
// is used and the default My Schemes folder lies beside it too (a program
// folder the user owns, on a USB stick say).
//
// Otherwise the XDG Base Directory rules apply, so a root-owned installation
// works for every user and removing the program never removes a Backup:
//   settings      $XDG_CONFIG_HOME/tessarook/settings.xml  (~/.config/...)
//   My Schemes    $XDG_DATA_HOME/tessarook/My Schemes      (~/.local/share/...)
//   profile       $XDG_CONFIG_HOME/tessarook/profile.conf  (window placement, recent files)
//   lock folder   $XDG_RUNTIME_DIR, else the config folder
// A variable that is unset, empty or not an absolute path is ignored, as the
// XDG rules say; so is an XDG_RUNTIME_DIR that is not an existing folder.
// Nothing is created here: the callers create a folder when they first write
// into it.
struct SUserPlaces {
  bool portable = false;
  std::string settingsFile;       // settings.xml
  std::string defaultSchemesDir;  // the My Schemes folder when dir_schemes is empty
  std::string configDir;          // the per-user configuration folder
  std::string profileFile;        // the desktop program's profile store
  std::string lockDir;            // where the single-instance lock lives
};

// Returns an environment variable's value, or nullptr when it is not set.
using EnvLookup = std::function<const char*(const char*)>;

// The places for a program whose executable lies in `programDir` (with or
// without a trailing "/"), reading the environment through `env`. A missing
// or relative HOME falls back to the account's home folder.
SUserPlaces FindUserPlaces(const std::string& programDir, const EnvLookup& env);

// The places of the running program: its executable's folder and this
// process's environment.
SUserPlaces FindUserPlaces();

// Creates `folder` and any missing folder above it, each with `mode` (less
// the umask). True when `folder` is a folder afterwards. Otherwise `error`
// (when given) names the folder that could not be made and why, e.g.
// "cannot create the folder /opt/x/My Schemes: permission denied".
bool CreateFolderPath(const std::string& folder, mode_t mode, std::string* error);

// Readies the My Schemes folder for writing a Scheme into it: creates it when
// it is missing, then checks that it is a folder the user may write to. False
// with the cause in `error`, e.g. "the My Schemes folder /opt/x/My Schemes
// cannot be written: permission denied".
bool PrepareSchemesFolder(const std::string& folder, std::string* error);

// The system's text for an errno value, starting in lower case
// ("permission denied"), to follow a colon in a message.
std::string ErrnoText(int err);

}  // namespace tessarook
