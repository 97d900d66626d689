// SPDX-License-Identifier: GPL-3.0-or-later
// Commands of the "Files and Folders to Backup" pane and its pop-up menus.
#ifndef TESSAROOK_GUI_FILES_FILESCOMMANDIDS_H
#define TESSAROOK_GUI_FILES_FILESCOMMANDIDS_H

namespace tessarook {

enum FilesCommandId : int {
  ID_FILES_ADD_FILE = 160,
  ID_FILES_ADD_FOLDER = 162,
  ID_FILES_REMOVE = 164,
  ID_FILES_OPEN = 173,
  ID_FILES_PROPERTIES = 142,
  ID_FILES_REFRESH = 139,
  ID_FILES_LARGE_ICONS = 169,
  ID_FILES_SMALL_ICONS = 168,
  ID_FILES_LIST = 170,
  ID_FILES_TABLE = 171,
  ID_FILES_BY_NAME = 178,
  ID_FILES_BY_LOCATION = 179,
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_FILES_FILESCOMMANDIDS_H
