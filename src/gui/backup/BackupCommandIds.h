// SPDX-License-Identifier: GPL-3.0-or-later
// Commands of the "Available Backups" pane and its pop-up menus.
#ifndef TESSAROOK_GUI_BACKUP_BACKUPCOMMANDIDS_H
#define TESSAROOK_GUI_BACKUP_BACKUPCOMMANDIDS_H

namespace tessarook {

enum BackupCommandId : int {
  ID_BACKUP_NEW = 147,
  ID_BACKUP_DELETE = 149,
  ID_BACKUP_PROPERTIES = 151,
  ID_BACKUP_RESTORE = 180,
  ID_BACKUP_DUPLICATE = 184,
  ID_BACKUP_RENAME = 185,
  ID_BACKUP_EXPORT_ZIP = 207,
  ID_BACKUP_REFRESH = 145,
  ID_BACKUP_BY_NAME = 178,
  ID_BACKUP_BY_TIME = 181,
  ID_BACKUP_BY_SIZE = 182,
  ID_BACKUP_LARGE_ICONS = 169,
  ID_BACKUP_SMALL_ICONS = 168,
  ID_BACKUP_LIST = 170,
  ID_BACKUP_TABLE = 171,
  // The contents dialog's restore button.
  ID_BPDLG_RESTORE = 1018,
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_BACKUP_BACKUPCOMMANDIDS_H
