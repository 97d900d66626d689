// SPDX-License-Identifier: GPL-3.0-or-later
// Status-bar prompts and tooltips of the program's commands.
#ifndef TESSAROOK_GUI_APP_COMMANDTEXTS_H
#define TESSAROOK_GUI_APP_COMMANDTEXTS_H

#include <wx/string.h>

namespace tessarook {

// The status-bar prompt of a command; empty when it has none.
wxString CommandPrompt(int id);
// The tooltip of a command's toolbar button; empty when it has none.
wxString CommandTooltip(int id);

}  // namespace tessarook

#endif  // TESSAROOK_GUI_APP_COMMANDTEXTS_H
