// SPDX-License-Identifier: GPL-3.0-or-later
// Commands of the "My Schemes" pane and its pop-up menus.
#ifndef TESSAROOK_GUI_LIBRARY_SCHEMESCOMMANDIDS_H
#define TESSAROOK_GUI_LIBRARY_SCHEMESCOMMANDIDS_H

namespace tessarook {

enum SchemesCommandId : int {
  ID_SCHEMES_OPEN = 153,
  ID_SCHEMES_RENAME = 156,
  ID_SCHEMES_DUPLICATE = 183,
  ID_SCHEMES_EXPORT = 208,
  ID_SCHEMES_DELETE = 136,
  ID_SCHEMES_IMPORT = 209,
  ID_SCHEMES_REFRESH = 134,
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_LIBRARY_SCHEMESCOMMANDIDS_H
