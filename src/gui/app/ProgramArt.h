// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own pictures, drawn as small SVGs.
#ifndef TESSAROOK_GUI_APP_PROGRAMART_H
#define TESSAROOK_GUI_APP_PROGRAMART_H

#include <wx/bmpbndl.h>
#include <wx/iconbndl.h>

namespace tessarook {

enum class Art {
  kNewScheme,
  kOpen,
  kSave,
  kCloseScheme,
  kSettings,
  kManual,
  kAbout,
  kBackUpNow,
  kRestore,
  kBrowse,
  kVerify,
  kExportScheme,
  kImportScheme,
  kSchedule,
};

// A toolbar-sized picture (16 x 16 at normal resolution).
wxBitmapBundle ToolArt(Art art);
// The program icon at `size` pixels.
wxBitmapBundle ProgramIconArt(int size);
// The program icon in the sizes window managers ask for.
wxIconBundle ProgramIcons();
// The SVG text of the program icon (also installed as the desktop icon).
const char* ProgramIconSvg();

}  // namespace tessarook

#endif  // TESSAROOK_GUI_APP_PROGRAMART_H
