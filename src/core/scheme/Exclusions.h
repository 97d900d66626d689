// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace tessarook {

// Turns the items a user typed into a folder's excluded-extension list, as the
// folder properties dialog's OK and the CLI's `exclude` do. For each item in
// order: one leading "." is dropped (only one: "..txt" becomes ".txt"); items
// holding any of \ / : * ? " < > | are skipped; items that are empty once
// white space (blank, tab, LF, VT, FF, CR) is trimmed from both ends are
// skipped; items equal to one already taken, ignoring the case of A-Z, are
// skipped (the first wins). Kept items are stored as typed, less the dropped
// dot: blanks at their ends stay.
std::vector<std::string> NormalizeExcludedExtensions(const std::vector<std::string>& items);

}  // namespace tessarook
