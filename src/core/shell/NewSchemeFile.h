// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessarook {

// Makes room for a new, empty Scheme named `name` in the My Schemes folder
// `schemesDir`: creates the folder when it is missing (one level; a failure
// is left for the save to report), deletes the Backups folder of any Scheme of
// that name with everything in it, and returns the scheme file's path, which
// the caller then saves the empty Scheme to. An existing scheme file is left
// for that save to replace, so nothing is lost if the save fails. While a
// Backup of that Scheme is being written nothing is deleted and the result is
// empty (CBackupsFolderLock; kSchemeBackupBeingWrittenText says why).
std::string PrepareNewSchemeFile(std::string_view schemesDir, std::string_view name);

// How many Backups the Scheme `name` has: what a new Scheme of that name deletes.
size_t BackupsOfScheme(std::string_view schemesDir, std::string_view name);

// The second question before a new Scheme replaces one that has Backups,
// naming how many go.
std::string NewSchemeDeletesBackupsQuestion(std::string_view name, size_t backups);

// True when `folder` names an existing folder (relative names are taken from
// the current folder). The settings dialog accepts only such a My Schemes
// folder; the empty text is refused.
bool IsUsableSchemesFolder(std::string_view folder);

}  // namespace tessarook
