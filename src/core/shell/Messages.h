// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace tessarook {

// Texts and captions of the desktop program's questions and refusals. Line
// breaks are "\n", the platform's own.
namespace msg {

inline constexpr std::string_view kInvalidName =
    "The name cannot contain the following characters: \\ / : * ? \" < > |\n"
    "Please type in a valid name.";
inline constexpr std::string_view kInvalidNameCaption = "Invalid Scheme name";
// For a name whose only fault is a control character (a tab, a line break).
inline constexpr std::string_view kInvalidNameControl =
    "The name cannot contain control characters such as tabs or line breaks.\n"
    "Please type in a valid name.";

inline constexpr std::string_view kSchemeExists =
    "A Scheme with such name already exists in My Schemes folder.\n"
    "Do you want to overwrite it?";
inline constexpr std::string_view kSchemeExistsCaption = "Scheme already exists";

inline constexpr std::string_view kBackupExists =
    "A Backup with such name already exists in this Scheme.\n"
    "Do you want to overwrite it?";
inline constexpr std::string_view kBackupExistsCaption = "Backup already exists";

inline constexpr std::string_view kInvalidFolder =
    "The folder you've selected as My Schemes folder doesn't exist. Please select a different "
    "one.";
inline constexpr std::string_view kInvalidFolderCaption = "Invalid Folder";

inline constexpr std::string_view kOperationRunning =
    "Tessarook hasn't finished a file operation yet. Closing Tessarook now may cause data "
    "loss.\nDo you wish to close Tessarook?";
inline constexpr std::string_view kOperationRunningCaption = "File operation in progress";

inline constexpr std::string_view kSettingsNotSaved =
    "Tessarook is unable to save the program settings.\n"
    "Please reboot before re-starting Tessarook.";
inline constexpr std::string_view kSettingsNotSavedCaption = "Settings error";

}  // namespace msg

}  // namespace tessarook
