// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

namespace tessarook {

// What the My Schemes operations need to know and do about the Scheme that is open in
// the desktop program. The program fills these in; left empty, no Scheme counts as open.
// All of them are called on the thread that runs the library operation (the window
// thread in the desktop program).
struct OpenSchemeHooks {
  // The open Scheme's scheme file path, or empty when none is open.
  std::function<std::string()> openSchemePath;
  // Saves the open Scheme to `path`; false when it could not be saved.
  std::function<bool(const std::string& path)> saveTo;
  // Closes the open Scheme, leaving the "No Scheme" placeholder.
  std::function<void()> close;
  // Opens the scheme file at `path` as the program's Scheme.
  std::function<bool(const std::string& path)> open;
};

}  // namespace tessarook
