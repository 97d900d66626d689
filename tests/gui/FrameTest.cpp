// SPDX-License-Identifier: GPL-3.0-or-later
// The main frame: menus, toolbar, status bar, panes, close checks, tray,
// placement and the view state kept in the settings.
#include <wx/config.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/statusbr.h>
#include <wx/stdpaths.h>
#include <wx/taskbar.h>
#include <wx/toolbar.h>

#include <memory>

#include "GuiTestSupport.h"
#include "app/CommandIds.h"
#include "backup/BackupCommandIds.h"
#include "backup/BackupsView.h"
#include "files/FilesView.h"
#include "library/SchemesCommandIds.h"
#include "library/SchemesView.h"
#include "monitor/NotifyIcon.h"
#include "ui/BiSplitterWnd.h"

using namespace tessarook;

namespace {

const char kOperationQuestion[] =
    "Tessarook hasn't finished a file operation yet. Closing Tessarook now may cause data "
    "loss.\nDo you wish to close Tessarook?";

}  // namespace

TEST_F(ShellTest, MenusToolbarAndStatusBar) {
  wxMenuBar* bar = Frame()->GetMenuBar();
  ASSERT_EQ(bar->GetMenuCount(), 5u);
  EXPECT_EQ(bar->GetMenuLabel(0), "&Scheme");
  EXPECT_EQ(bar->GetMenuLabel(1), "&Backup");
  EXPECT_EQ(bar->GetMenuLabel(2), "&Tools");
  EXPECT_EQ(bar->GetMenuLabel(3), "&View");
  EXPECT_EQ(bar->GetMenuLabel(4), "&Help");
  EXPECT_EQ(bar->GetLabel(ID_NEW_SCHEME), "&New...\tCtrl+N");
  EXPECT_EQ(bar->GetLabel(ID_OPEN_SCHEME), "&Open...\tCtrl+O");
  EXPECT_EQ(bar->GetLabel(ID_SAVE_SCHEME), "&Save\tCtrl+S");
  EXPECT_EQ(bar->GetLabel(ID_CLOSE_SCHEME), "&Close");
  EXPECT_EQ(bar->GetLabel(ID_SETTINGS), "&Settings...");
  EXPECT_EQ(bar->GetLabel(ID_USER_MANUAL), "User &Manual");
  EXPECT_EQ(bar->GetLabel(ID_ABOUT), "&About Tessarook...");
  EXPECT_EQ(bar->GetHelpString(ID_NEW_SCHEME), "Create a new Scheme");
  EXPECT_EQ(bar->GetHelpString(ID_EXIT), "Quit the application; prompts to save the active Scheme");
  EXPECT_EQ(bar->GetHelpString(ID_VIEW_MY_SCHEMES), "Show or hide My Schemes window");

  wxToolBar* tools = Frame()->GetToolBar();
  const int expected[] = {
      ID_NEW_SCHEME,    ID_OPEN_SCHEME,     ID_SAVE_SCHEME,    ID_CLOSE_SCHEME,
      wxID_SEPARATOR,   ID_BACKUP_NOW,      ID_BACKUP_RESTORE, ID_BACKUP_PROPERTIES,
      ID_BACKUP_VERIFY, ID_SCHEME_SCHEDULE, ID_SCHEMES_EXPORT, ID_SCHEMES_IMPORT,
      wxID_SEPARATOR,   ID_SETTINGS,        wxID_SEPARATOR,    ID_USER_MANUAL,
      ID_ABOUT};
  ASSERT_EQ(tools->GetToolsCount(), WXSIZEOF(expected));
  for (size_t i = 0; i < WXSIZEOF(expected); ++i) {
    const wxToolBarToolBase* tool = tools->GetToolByPos(int(i));
    if (expected[i] == wxID_SEPARATOR)
      EXPECT_TRUE(tool->IsSeparator()) << i;
    else
      EXPECT_EQ(tool->GetId(), expected[i]) << i;
  }
  EXPECT_EQ(tools->GetToolShortHelp(ID_CLOSE_SCHEME), "Close Scheme");
  EXPECT_EQ(tools->GetToolLongHelp(ID_CLOSE_SCHEME), "Close the active Scheme");
  EXPECT_EQ(tools->GetName(), "ToolBar");

  wxStatusBar* status = Frame()->GetStatusBar();
  ASSERT_EQ(status->GetFieldsCount(), 7);
  // The progress bar's field is the widest fixed one, the lock fields narrow.
  EXPECT_GT(status->GetStatusWidth(2), status->GetStatusWidth(3));
  EXPECT_GT(status->GetStatusWidth(3), status->GetStatusWidth(4));
  EXPECT_EQ(status->GetStatusWidth(0), -1);
}

TEST_F(ShellTest, StatusBarSaysReadyAgainWhenAToolbarButtonsDialogCloses) {
  wxToolBar* tools = Frame()->GetToolBar();
  wxStatusBar* status = Frame()->GetStatusBar();
  EXPECT_EQ(status->GetStatusText(0), "Ready");
  // The pointer rests on a button: its prompt shows.
  tools->OnMouseEnter(ID_SETTINGS);
  EXPECT_EQ(status->GetStatusText(0), "Change Settings");
  // A click opens the dialog; the pointer leaves the button over the dialog,
  // so the toolbar never hears of it.
  wxCommandEvent click(wxEVT_TOOL, ID_SETTINGS);
  click.SetEventObject(tools);
  wxTEST_DIALOG(tools->ProcessWindowEvent(click),
                wxExpectModal<CSettingsDlg>([](CSettingsDlg&) { return wxID_CANCEL; }));
  EXPECT_EQ(status->GetStatusText(0), "Ready");

  // Moving over the buttons afterwards still shows and clears their prompts.
  tools->OnMouseEnter(ID_NEW_SCHEME);
  EXPECT_EQ(status->GetStatusText(0), "Create a new Scheme");
  tools->OnMouseEnter(wxID_ANY);
  EXPECT_EQ(status->GetStatusText(0), "Ready");
}

TEST_F(ShellTest, CommandsFollowTheirUpdateRules) {
  for (int id : {int(ID_SAVE_SCHEME), int(ID_SAVE_SCHEME_AS), int(ID_CLOSE_SCHEME)})
    EXPECT_FALSE(IsEnabled(id)) << id;
  EXPECT_FALSE(IsEnabled(ID_NEW_BACKUP));
  EXPECT_TRUE(IsChecked(ID_VIEW_TOOLBAR));
  EXPECT_TRUE(IsChecked(ID_VIEW_STATUS_BAR));

  ASSERT_TRUE(Doc()->OpenScheme(MakeScheme("Home")));
  for (int id : {int(ID_SAVE_SCHEME), int(ID_SAVE_SCHEME_AS), int(ID_CLOSE_SCHEME)})
    EXPECT_TRUE(IsEnabled(id)) << id;
  // New Backup needs files in the Scheme and no running file operation.
  EXPECT_EQ(Frame()->GetFilesView()->GetItemCount(), 1);
  EXPECT_TRUE(IsEnabled(ID_NEW_BACKUP));
  bool running = true;
  Frame()->AddOperationProbe([&running] { return running; });
  EXPECT_FALSE(IsEnabled(ID_NEW_BACKUP));
  running = false;
  EXPECT_TRUE(IsEnabled(ID_NEW_BACKUP));
  const std::string empty = SchemesDir() + "/Empty.tsbak";
  WriteFile(empty, std::string(8, '\0'));
  ASSERT_TRUE(Doc()->OpenScheme(empty));
  EXPECT_FALSE(IsEnabled(ID_NEW_BACKUP));

  Command(ID_VIEW_TOOLBAR);
  EXPECT_FALSE(IsChecked(ID_VIEW_TOOLBAR));
  EXPECT_FALSE(Frame()->GetToolBar()->IsShown());
  Command(ID_VIEW_TOOLBAR);
  EXPECT_TRUE(Frame()->GetToolBar()->IsShown());
  Command(ID_VIEW_STATUS_BAR);
  EXPECT_FALSE(IsChecked(ID_VIEW_STATUS_BAR));
  Command(ID_VIEW_STATUS_BAR);
  EXPECT_TRUE(IsChecked(ID_VIEW_STATUS_BAR));
}

TEST_F(ShellTest, PanesSitInTheirSplitters) {
  CBiSplitterWnd* outer = Frame()->GetOuterSplitter();
  CBiSplitterWnd* inner = Frame()->GetInnerSplitter();
  EXPECT_EQ(outer->GetFlags(), 0x25u);
  EXPECT_EQ(inner->GetFlags(), 0x26u);
  EXPECT_EQ(outer->GetPane(0), Frame()->GetSchemesView());
  EXPECT_EQ(outer->GetPane(1), inner);
  EXPECT_EQ(inner->GetPane(0), Frame()->GetFilesView());
  EXPECT_EQ(inner->GetPane(1), Frame()->GetBackupsView());
  EXPECT_EQ(outer->GetPaneTitle(0), "My Schemes");
  EXPECT_EQ(inner->GetPaneTitle(0), "Files and Folders to Backup");
  EXPECT_EQ(inner->GetPaneTitle(1), "Available Backups");
  EXPECT_EQ(outer->GetSplitPos(), 200);
  EXPECT_EQ(outer->GetBarWidth(), 6);
  EXPECT_EQ(inner->GetSplitPos(), 250);
  EXPECT_EQ(inner->GetBarWidth(), 2);

  // The hints: no Scheme, then an empty one; Backups invite only with files.
  EXPECT_EQ(Frame()->GetSchemesView()->GetHint(), "(no schemes)");
  EXPECT_TRUE(Frame()->GetFilesView()->GetHint().StartsWith("Please create a new Scheme"));
  EXPECT_FALSE(Frame()->GetBackupsView()->IsHintShown());
  ASSERT_TRUE(Doc()->OpenScheme(MakeScheme("Home")));
  EXPECT_FALSE(Frame()->GetFilesView()->IsHintShown());
  EXPECT_TRUE(Frame()->GetBackupsView()->GetHint().StartsWith(
      "Currently, there are no backups of files attached to the Scheme."));
}

TEST_F(ShellTest, MySchemesFoldsAndUnfoldsToItsFormerWidth) {
  CBiSplitterWnd* outer = Frame()->GetOuterSplitter();
  outer->SetSplitPos(240);
  EXPECT_TRUE(IsChecked(ID_VIEW_MY_SCHEMES));
  Command(ID_VIEW_MY_SCHEMES);
  EXPECT_TRUE(outer->IsPaneFolded(0));
  EXPECT_FALSE(IsChecked(ID_VIEW_MY_SCHEMES));
  EXPECT_FALSE(Frame()->GetSchemesView()->IsShown());
  Command(ID_VIEW_MY_SCHEMES);
  EXPECT_FALSE(outer->IsPaneFolded(0));
  EXPECT_TRUE(IsChecked(ID_VIEW_MY_SCHEMES));
  EXPECT_EQ(outer->GetSplitPos(), 240);
}

TEST_F(ShellTest, ClosingAsksInOrderAndCancelStopsEarly) {
  bool running = true;
  Frame()->AddOperationProbe([&running] { return running; });
  EXPECT_TRUE(Frame()->IsFileOperationRunning());

  // No keeps the program running.
  bool closed = true;
  wxTEST_DIALOG(
      closed = Frame()->CanClose(),
      CExpectMessage(kOperationQuestion, "File operation in progress", wxID_NO, wxICON_WARNING));
  EXPECT_FALSE(closed);

  // An unsaved Scheme is asked about first; Cancel there skips the second question.
  ASSERT_TRUE(Doc()->OpenScheme(MakeScheme("Home")));
  Doc()->Modify(true);
  wxTEST_DIALOG(closed = Frame()->CanClose(),
                CExpectMessage("Save changes to Home?", "Tessarook Backup", wxID_CANCEL));
  EXPECT_FALSE(closed);
  wxTEST_DIALOG(closed = Frame()->CanClose(),
                CExpectMessage("Save changes to Home?", "Tessarook Backup", wxID_NO),
                CExpectMessage(kOperationQuestion, "File operation in progress", wxID_YES));
  EXPECT_TRUE(closed);

  // A veto through the close box keeps the frame.
  Doc()->Modify(false);
  wxTEST_DIALOG(Frame()->Close(),
                CExpectMessage(kOperationQuestion, "File operation in progress", wxID_NO));
  Flush();
  ASSERT_NE(Frame(), nullptr);
  running = false;
  EXPECT_TRUE(Frame()->CanClose());
}

TEST_F(ShellTest, MinimisingToTheTray) {
  // With the setting off, minimising is the ordinary kind.
  wxIconizeEvent minimised(Frame()->GetId(), true);
  minimised.SetEventObject(Frame());
  Frame()->ProcessWindowEvent(minimised);
  EXPECT_EQ(Frame()->GetTrayIcon(), nullptr);
  EXPECT_TRUE(Frame()->IsShown());

  Settings().minimize_to_tray = true;
  Frame()->ProcessWindowEvent(minimised);
  if (wxTaskBarIcon::IsAvailable()) {
    ASSERT_NE(Frame()->GetTrayIcon(), nullptr);
    EXPECT_TRUE(Frame()->GetTrayIcon()->IsShown());
    EXPECT_FALSE(Frame()->IsShown());
    EXPECT_EQ(Frame()->GetTrayIcon()->GetTooltip(), "Tessarook");
    EXPECT_EQ(Frame()->GetTrayIcon()->GetIconId(), 987u);
    CNotifyIcon* icon = Frame()->GetTrayIcon();
    Frame()->ProcessWindowEvent(minimised);  // no second icon
    EXPECT_EQ(Frame()->GetTrayIcon(), icon);
    Command(ID_TRAY_SHOW);
    EXPECT_TRUE(Frame()->IsShown());
    EXPECT_EQ(Frame()->GetTrayIcon(), nullptr);
  } else {
    // No notification area (a bare X server): the window is not hidden
    // behind an icon nobody could click.
    EXPECT_EQ(Frame()->GetTrayIcon(), nullptr);
    EXPECT_TRUE(Frame()->IsShown());
  }
}

TEST_F(ShellTest, ReturningFromTheTrayRestoresTheExactPlacement) {
  Settings().minimize_to_tray = true;
  const wxRect placement(30, 40, 640, 480);
  // The window system answers moves and resizes later (seconds later on a
  // loaded machine); wait for its last word.
  auto settled = [this](const wxRect& expected) {
    for (int i = 0; i < 2000 && Frame()->GetRect() != expected; ++i) {
      Flush();
      wxMilliSleep(5);
    }
    Flush();
    return Frame()->GetRect();
  };
  Frame()->SetSize(placement);
  ASSERT_EQ(settled(placement), placement);
  // In the tray the window is hidden; whoever places it meanwhile (the window
  // manager, when it is shown again), it comes back where it was, twice in a row.
  for (const wxRect& elsewhere : {wxRect(300, 200, 500, 400), wxRect(700, 10, 640, 480)}) {
    Frame()->Hide();
    Frame()->SetSize(elsewhere);
    Command(ID_TRAY_SHOW);
    EXPECT_TRUE(Frame()->IsShown());
    EXPECT_EQ(settled(placement), placement);
  }
}

TEST_F(ShellTest, TrayMenuCommandsReachTheFrame) {
  CNotifyIcon* icon = new CNotifyIcon(Frame(), 987, wxBitmapBundle(), "Tessarook", true);
  std::unique_ptr<wxMenu> menu(icon->BuildMenu());
  ASSERT_EQ(menu->GetMenuItemCount(), 4u);
  EXPECT_EQ(menu->GetLabel(ID_TRAY_SHOW), "&Show Tessarook");
  EXPECT_EQ(menu->GetLabel(ID_TRAY_CLOSE), "&Close Tessarook");
  EXPECT_TRUE(menu->FindItemByPosition(2)->IsSeparator());
  EXPECT_EQ(menu->GetLabel(ID_NEW_BACKUP), "&New Backup...");
  EXPECT_FALSE(menu->IsEnabled(ID_NEW_BACKUP));  // no Scheme
  ASSERT_TRUE(Doc()->OpenScheme(MakeScheme("Home")));
  menu.reset(icon->BuildMenu());
  EXPECT_TRUE(menu->IsEnabled(ID_NEW_BACKUP));
  bool exporting = true;  // a compressed-scheme export, say
  Frame()->AddOperationProbe([&exporting] { return exporting; });
  menu.reset(icon->BuildMenu());
  EXPECT_FALSE(menu->IsEnabled(ID_NEW_BACKUP));

  // "&Show Tessarook" brings the hidden window back.
  Frame()->Hide();
  wxCommandEvent show(wxEVT_MENU, ID_TRAY_SHOW);
  icon->ProcessEvent(show);  // queued to the frame
  Flush();
  EXPECT_TRUE(Frame()->IsShown());
  icon->Destroy();
}

TEST(NotifyIcon, TooltipIsCutForTheShellOnly) {
  wxFrame owner(nullptr, wxID_ANY, "owner");
  const wxString longTip(wxString('x', 70) + "end");
  {
    CNotifyIcon icon(&owner, 5,
                     wxBitmapBundle::FromSVG("<svg xmlns=\"http://www.w3.org/2000/"
                                             "svg\" width=\"8\" height=\"8\"/>",
                                             wxSize(8, 8)),
                     longTip, false);
    EXPECT_EQ(icon.GetTooltip(), longTip);
    EXPECT_EQ(icon.GetShellTooltip(), wxString('x', 63));
    EXPECT_EQ(icon.GetIconId(), 5u);
  }
}

TEST_F(ShellTest, PlacementAndViewModesOutliveTheFrame) {
  Frame()->SetSize(wxRect(40, 50, 700, 520));
  Frame()->GetFilesView()->SetDisplayMode(3);
  Frame()->GetBackupsView()->SetDisplayMode(2);
  TheApp().EndShell();
  EXPECT_EQ(Settings().files_view, 3);
  EXPECT_EQ(Settings().backups_view, 2);
  wxString stored;
  ASSERT_TRUE(wxConfigBase::Get()->Read("/Settings/wstatus", &stored));

  ASSERT_TRUE(TheApp().StartShell(wxString()));
  EXPECT_EQ(Frame()->GetSize(), wxSize(700, 520));
  EXPECT_EQ(Frame()->GetFilesView()->GetDisplayMode(), 3);
  EXPECT_EQ(Frame()->GetBackupsView()->GetDisplayMode(), 2);

  // A damaged record is ignored: the window keeps its default placement.
  TheApp().EndShell();
  wxConfigBase::Get()->DeleteEntry("/Settings/wstatus");
  ASSERT_TRUE(TheApp().StartShell(wxString()));
  const wxSize defaultSize = Frame()->GetSize();
  EXPECT_NE(defaultSize, wxSize(700, 520));
  TheApp().EndShell();
  wxConfigBase::Get()->Write("/Settings/wstatus", "v1 10 10 700 -5 0");
  ASSERT_TRUE(TheApp().StartShell(wxString()));
  EXPECT_EQ(Frame()->GetSize(), defaultSize);
}

TEST_F(ShellTest, UserManualIsLookedForBesideTheProgram) {
  const wxString manual = TheApp().ManualPath();
  EXPECT_TRUE(manual.EndsWith("/tessarook.html"));
  EXPECT_EQ(wxFileName(manual).GetPath(),
            wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath());
  // The test program has no manual beside it: the user is told, nothing opens.
  if (!wxFileName::FileExists(manual)) {
    wxTEST_DIALOG(Command(ID_USER_MANUAL),
                  CExpectMessage("The user manual " + manual + " could not be found.",
                                 "Tessarook Backup", wxID_OK, wxICON_EXCLAMATION));
  }
}
