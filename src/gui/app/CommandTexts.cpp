// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandTexts.h"

#include "app/CommandIds.h"

namespace tessarook {

namespace {

struct CommandText {
  int id;
  const char* prompt;
  const char* tooltip;
};

// Commands of the frame, the panes and the backup properties pop-up menu.
const CommandText kTexts[] = {
    {ID_NEW_SCHEME, "Create a new Scheme", "New"},
    {ID_OPEN_SCHEME, "Open an existing Scheme", "Open"},
    {ID_SAVE_SCHEME, "Save the active Scheme", "Save"},
    {ID_SAVE_SCHEME_AS, "Save the active Scheme with a new name", "Save As"},
    {ID_CLOSE_SCHEME, "Close the active Scheme", "Close Scheme"},
    {ID_RECENT_FIRST, "Open this Scheme", ""},
    {ID_RECENT_FIRST + 1, "Open this Scheme", ""},
    {ID_RECENT_FIRST + 2, "Open this Scheme", ""},
    {ID_RECENT_FIRST + 3, "Open this Scheme", ""},
    {ID_EXIT, "Quit the application; prompts to save the active Scheme", "Exit"},
    {ID_SETTINGS, "Change Settings", "Settings"},
    {ID_VIEW_TOOLBAR, "Show or hide the toolbar", "Toggle ToolBar"},
    {ID_VIEW_STATUS_BAR, "Show or hide the status bar", "Toggle StatusBar"},
    {ID_VIEW_MY_SCHEMES, "Show or hide My Schemes window", "View My Schemes"},
    {ID_USER_MANUAL, "Tessarook User Manual", "User Manual"},
    {ID_ABOUT, "Display program information, version and copyright", "About"},
    {ID_HOMEPAGE, "Visit the Tessarook web site", ""},
    {ID_SUPPORT, "Get help from Tessarook support", ""},
    {153, "Open this Scheme", "Open Scheme"},
    {156, "Rename this Scheme", "Rename Scheme"},
    {183, "Duplicate the Scheme", "Duplicate Scheme"},
    {136, "Delete the Scheme", "Delete Scheme"},
    {134, "Refresh the list of Schemes", "Refresh Schemes"},
    {ID_BPD_PREVIEW, "Preview the file", "Preview File"},
    {ID_BPD_RESTORE_ELSEWHERE, "Restore the file elsewhere", "Restore elsewhere"},
    {ID_BPD_SELECT_ALL, "Select all files", "Select All"},
    {ID_BPD_SELECT_NONE, "Deselect all files", "Select None"},
    {173, "Open the File or Folder", "Open File or Folder"},
    {142, "Change Folder Properties", "Folder Properties"},
    {164, "Remove the File from the Scheme", "Remove File"},
    {160, "Add a File to the Scheme", "Add File"},
    {162, "Add a Folder to the Scheme", "Add Folder"},
    {139, "Refresh the list of Files and Folders", "Refresh Files & Folders"},
    {169, "Large Icons View", "Large Icons View"},
    {168, "Small Icons View", "Small Icons View"},
    {170, "List View", "List View"},
    {171, "Table View", "Table View"},
    {178, "Arrange items by name", "Arrange by name"},
    {179, "Arrange items by location", "Arrange by location"},
    {180, "Restore the files to their original locations", "Restore Backup"},
    {151, "Show the Properties of the Backup", "Backup Properties"},
    {185, "Rename the Backup", "Rename Backup"},
    {184, "Duplicate the Backup", "Duplicate Backup"},
    {207, "Export the Backup to a ZIP archive", ""},
    {149, "Delete the Backup", "Delete Backup"},
    {ID_BACKUP_NOW, "Back up the Scheme now, named by the current time", "Back Up Now"},
    {ID_BACKUP_VERIFY, "Check that every file of the Backup reads back intact", "Verify Backup"},
    {ID_SCHEME_SCHEDULE, "Back up the Scheme automatically and choose which Backups to keep",
     "Schedule"},
    {145, "Refresh the list of Backups", "Refresh Backups"},
    {181, "Arrange items by time", "Arrange by time"},
    {182, "Arrange items by size", "Arrange by size"},
};

const CommandText* Find(int id) {
  for (const CommandText& text : kTexts)
    if (text.id == id) return &text;
  return nullptr;
}

}  // namespace

wxString CommandPrompt(int id) {
  const CommandText* text = Find(id);
  return text ? wxString(text->prompt) : wxString();
}

wxString CommandTooltip(int id) {
  const CommandText* text = Find(id);
  return text ? wxString(text->tooltip) : wxString();
}

}  // namespace tessarook
