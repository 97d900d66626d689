// SPDX-License-Identifier: GPL-3.0-or-later
// Command ids of the desktop program. The program's own commands keep their
// historic numbers; the framework's standard commands use wxWidgets' ids.
// wxWidgets menus take ids below 0x7fff only, so the few historic numbers above
// that (New 32775, the web pages 32808/32809, the manual 57667 and the bar
// toggles 59392/59393) use a standard id or a number of their own.
#ifndef TESSAROOK_GUI_APP_COMMANDIDS_H
#define TESSAROOK_GUI_APP_COMMANDIDS_H

#include <wx/defs.h>

namespace tessarook {

enum CommandId : int {
  ID_CLOSE_SCHEME = 154,
  ID_SETTINGS = 133,
  ID_VIEW_MY_SCHEMES = 131,
  ID_VIEW_TOOLBAR = 1301,
  ID_VIEW_STATUS_BAR = 1302,
  ID_HOMEPAGE = 1303,
  ID_SUPPORT = 1304,
  // Keys without a menu item: F6 and Shift+F6 move between the panes.
  ID_NEXT_PANE = 1305,
  ID_PREVIOUS_PANE = 1306,
  ID_CANCEL_OPERATION = 132,

  // Pop-up commands of the backup properties dialog, forwarded by the frame.
  ID_BPD_PREVIEW = 190,
  ID_BPD_RESTORE_ELSEWHERE = 187,
  ID_BPD_SELECT_ALL = 188,
  ID_BPD_SELECT_NONE = 189,

  // The "&Backup" menu's own commands (its others are the panes' commands).
  ID_BACKUP_NOW = 210,
  ID_BACKUP_VERIFY = 211,
  // "&Scheme" menu: when the open Scheme is backed up by itself, and its keep rules.
  ID_SCHEME_SCHEDULE = 212,

  // Tray menu.
  ID_TRAY_SHOW = 201,
  ID_TRAY_CLOSE = 202,
  ID_NEW_BACKUP = 204,

  // Window ids of the panes.
  ID_SCHEMES_VIEW = 2,
  ID_INNER_SPLITTER = 1,
  ID_FILES_VIEW = 21,
  ID_BACKUPS_VIEW = 22,
  ID_OUTER_SPLITTER = 3,  // window ids too stay below 0x7fff

  // Status bar fields.
  STATUS_FIELD_PROMPT = 0,
  STATUS_FIELD_PROGRESS_LABEL = 1,
  STATUS_FIELD_PROGRESS_BAR = 2,
  STATUS_FIELD_CANCEL = 3,
  STATUS_FIELD_CAPS = 4,
  STATUS_FIELD_NUM = 5,
  STATUS_FIELD_SCROLL = 6,
  STATUS_FIELD_COUNT = 7,
};

// The framework's standard commands used by the program.
inline constexpr int ID_NEW_SCHEME = wxID_NEW;
inline constexpr int ID_USER_MANUAL = wxID_HELP_CONTENTS;
inline constexpr int ID_OPEN_SCHEME = wxID_OPEN;
inline constexpr int ID_SAVE_SCHEME = wxID_SAVE;
inline constexpr int ID_SAVE_SCHEME_AS = wxID_SAVEAS;
inline constexpr int ID_EXIT = wxID_EXIT;
inline constexpr int ID_ABOUT = wxID_ABOUT;
inline constexpr int ID_RECENT_FIRST = wxID_FILE1;  // up to four recent Schemes
inline constexpr int kRecentSchemeCount = 4;

}  // namespace tessarook

#endif  // TESSAROOK_GUI_APP_COMMANDIDS_H
