// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace tessarook {

// The application title shown after the document title in the main caption.
inline constexpr std::string_view kAppTitle = "Tessarook Backup";

// The main window caption: the document title, " - " and the application
// title. The document title is kept whole, even when it holds " - " itself.
std::string MakeCaption(std::string_view documentTitle, std::string_view appTitle = kAppTitle);

// The title a scheme file gives its document: the file's name without the
// folder and without its last extension ("/a/b/Home.tsbak" -> "Home"). A name
// that is only an extension (".tsbak") is kept whole.
std::string DocumentTitleForPath(std::string_view path);

}  // namespace tessarook
