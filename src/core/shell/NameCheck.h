// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace tessarook {

// The two kinds of name the name dialog asks for.
inline constexpr int NAME_SCHEME = 1;
inline constexpr int NAME_BACKUP = 2;

// What the name dialog does with the name the user typed when OK is pressed.
enum class NameVerdict {
  kAccept,          // close with OK
  kForbiddenChars,  // explain the nine forbidden characters, stay open
  kEmpty,           // stay open silently
  kAskOverwrite,    // something of that name exists: ask before accepting
};

// Everything the OK check needs besides the typed name.
struct NameCheckContext {
  int mode = NAME_SCHEME;      // NAME_SCHEME, NAME_BACKUP, other: no existence check
  std::string originalName;    // the name the dialog opened with
  std::string schemesDir;      // the My Schemes folder (NAME_SCHEME)
  std::string openSchemePath;  // the open Scheme's file (NAME_BACKUP); empty if none
};

// Decides the OK step of the name dialog for `name`, in this order: the name
// kept as it was opened (not empty) is accepted at once; then forbidden
// characters; then empty; then, by mode, whether a Scheme file or a Backup of
// that name exists (anything at the path counts). Without an open Scheme no
// Backup can exist, so NAME_BACKUP then skips the existence test.
NameVerdict CheckName(std::string_view name, const NameCheckContext& context);

// The explanation for a name that CheckName refuses as kForbiddenChars (or
// that an in-place rename refuses): the nine characters' text, or, when the
// name holds none of them, the control characters' text.
std::string_view InvalidNameText(std::string_view name);
// Its first line, for a one-line message.
std::string_view InvalidNameReason(std::string_view name);

// The path whose existence CheckName tests for `name`, or empty when the mode
// tests nothing.
std::string NameTargetPath(std::string_view name, const NameCheckContext& context);

// The name a Backup gets when the user names none: the local time
// `seconds` (since 1970) as "YYYY-MM-DD hh.mm.ss".
std::string BackupNameForTime(long long seconds);

}  // namespace tessarook
