// SPDX-License-Identifier: GPL-3.0-or-later
// The panes as a user drives them with the real mouse and keyboard (X events
// through the toolkit's input simulator): context menus and their dialogs,
// moving between the panes, the context-menu keys.
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "app/CommandIds.h"
#include "backup/BackupCommandIds.h"
#include "backup/BackupsView.h"
#include "files/FilesView.h"
#include "library/SchemesView.h"
#include "ui/BiSplitterWnd.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

// Pumps events until `done` holds or about `ms` milliseconds have passed.
bool WaitUntil(const std::function<bool()>& done, int ms = 3000) {
  for (int i = 0; i < ms / 10 && !done(); ++i) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// Watches pop-up menus as the toolkit opens them: counts them, remembers the
// last one, and plays keys into each once it is on screen.
class CMenuWatch : public wxEvtHandler {
 public:
  explicit CMenuWatch(wxWindow* frame) : m_frame(frame), m_timer(this) {
    m_frame->Bind(wxEVT_MENU_OPEN, &CMenuWatch::OnOpen, this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Play(); });
  }
  ~CMenuWatch() override { m_frame->Unbind(wxEVT_MENU_OPEN, &CMenuWatch::OnOpen, this); }

  // Keys for the first menu that opens; any later menu gets Escape.
  void SetKeys(std::vector<int> keys) { m_keys = std::move(keys); }

  int opened = 0;
  std::vector<bool> hadRestore;  // per menu: whether it held "&Restore Backup..."

 private:
  void OnOpen(wxMenuEvent& event) {
    event.Skip();
    if (!event.IsPopup() || !event.GetMenu() || event.GetMenu()->GetParent()) return;
    ++opened;
    hadRestore.push_back(event.GetMenu()->FindItem(ID_BACKUP_RESTORE) != nullptr);
    m_timer.StartOnce(150);  // the menu takes the keyboard once it is mapped
  }
  void Play() {
    wxUIActionSimulator sim;
    if (opened == 1) {
      for (int key : m_keys) {
        sim.Char(key);
        wxMilliSleep(30);
      }
    } else {
      sim.Char(WXK_ESCAPE);  // a menu that should not be there
    }
  }

  wxWindow* m_frame;
  wxTimer m_timer;
  std::vector<int> m_keys;
};

class PaneInputTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    fs::create_directories(m_temp / "data");
    WriteFile(m_temp / "data/a.txt", "alpha");
    const std::string scheme = MakeScheme("Home", (m_temp / "data/a.txt").string());
    ASSERT_TRUE(Doc()->OpenScheme(scheme));
    Doc()->GetScheme().AddFolderEntry((m_temp / "data").string());
    Frame()->OnDocumentUpdated();
    ASSERT_TRUE(Frame()->GetBackupsView()->StartBackup("Monday"));
    ASSERT_TRUE(WaitUntil([this] { return Frame()->GetBackupsView()->GetFinishedRuns() == 1; }));
    Doc()->Modify(false);
    Frame()->Show();
    Frame()->Raise();
    Flush();
  }

  // Where a row of a pane's list is on the screen (its middle).
  static wxPoint RowOnScreen(wxListCtrl* list, long row) {
    wxRect rect;
    EXPECT_TRUE(list->GetItemRect(row, rect));
    return list->ClientToScreen(rect.GetPosition() +
                                wxSize(std::min(rect.width / 2, 20), rect.height / 2));
  }

  // Right-clicks at `where`, plays `keys` into the menu that opens, and
  // reports how many menus opened until things settled.
  int RightClickAndChoose(const wxPoint& where, std::vector<int> keys) {
    CMenuWatch watch(Frame());
    watch.SetKeys(std::move(keys));
    wxUIActionSimulator sim;
    sim.MouseMove(where);
    Flush();
    sim.MouseClick(wxMOUSE_BTN_RIGHT);
    WaitUntil([&] { return watch.opened > 0; });
    // Long enough for a menu that comes back to come back.
    WaitUntil([&] { return watch.opened > 1; }, 1500);
    Flush();
    return watch.opened;
  }
};

}  // namespace

TEST_F(PaneInputTest, AContextMenuDoesNotComeBackAfterTheDialogItOpenedCloses) {
  // "Rena&me Backup..." (third item) on the Backup's row.
  CBackupsView* backups = Frame()->GetBackupsView();
  int menus = 0;
  wxTEST_DIALOG(menus = RightClickAndChoose(RowOnScreen(backups->GetList(), 0),
                                            {WXK_DOWN, WXK_DOWN, WXK_DOWN, WXK_RETURN}),
                wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& dialog) {
                  EXPECT_EQ(dialog.m_strCaption, "Rename Backup");
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(menus, 1) << "the Backups pane's menu came back";

  // "&Rename Scheme..." (second item) on the Scheme's row.
  CSchemesView* schemes = Frame()->GetSchemesView();
  wxTEST_DIALOG(menus = RightClickAndChoose(RowOnScreen(schemes->GetList(), 0),
                                            {WXK_DOWN, WXK_DOWN, WXK_RETURN}),
                wxExpectModal<CNewSchemeDlg>([](CNewSchemeDlg& dialog) {
                  EXPECT_EQ(dialog.m_strCaption, "Rename Scheme");
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(menus, 1) << "the My Schemes pane's menu came back";

  // "&Properties..." (second item) on the folder's row.
  CFilesView* files = Frame()->GetFilesView();
  long folderRow = -1;
  for (long row = 0; row < long(files->GetRows().size()); ++row)
    if (files->GetRows()[size_t(row)].m_folder) folderRow = row;
  ASSERT_GE(folderRow, 0);
  wxTEST_DIALOG(menus = RightClickAndChoose(RowOnScreen(files->GetList(), folderRow),
                                            {WXK_DOWN, WXK_DOWN, WXK_RETURN}),
                wxExpectDismissableModal<wxDialog>(wxID_CANCEL));
  EXPECT_EQ(menus, 1) << "the Files pane's menu came back";
}

TEST_F(PaneInputTest, F6MovesBetweenThePanesAndTheFocusedOneIsMarked) {
  CSchemesView* schemes = Frame()->GetSchemesView();
  CFilesView* files = Frame()->GetFilesView();
  CBackupsView* backups = Frame()->GetBackupsView();
  schemes->GetList()->SetFocus();
  Flush();
  auto focusedPane = [&]() -> wxWindow* {
    for (wxWindow* w = wxWindow::FindFocus(); w; w = w->GetParent())
      if (w == schemes || w == files || w == backups) return w;
    return nullptr;
  };
  ASSERT_EQ(focusedPane(), schemes);
  wxUIActionSimulator sim;
  const std::pair<int, wxWindow*> steps[] = {{wxMOD_NONE, files},
                                             {wxMOD_NONE, backups},
                                             {wxMOD_NONE, schemes},
                                             {wxMOD_SHIFT, backups},
                                             {wxMOD_SHIFT, files}};
  for (const auto& step : steps) {
    const int modifier = step.first;
    wxWindow* const expected = step.second;  // a lambda may not capture a structured binding
    sim.Char(WXK_F6, modifier);
    EXPECT_TRUE(WaitUntil([&] { return focusedPane() == expected; }))
        << "F6 with modifier " << modifier << " went elsewhere";
  }
  // The pane with the focus shows it in its caption, and only that one.
  EXPECT_TRUE(Frame()->GetInnerSplitter()->IsPaneFocused(0));
  EXPECT_FALSE(Frame()->GetInnerSplitter()->IsPaneFocused(1));
  EXPECT_FALSE(Frame()->GetOuterSplitter()->IsPaneFocused(0));

  // A click into another pane moves the mark with the focus.
  wxUIActionSimulator mouse;
  mouse.MouseMove(RowOnScreen(backups->GetList(), 0));
  Flush();
  mouse.MouseClick();
  EXPECT_TRUE(WaitUntil([&] { return Frame()->GetInnerSplitter()->IsPaneFocused(1); }));
  EXPECT_FALSE(Frame()->GetInnerSplitter()->IsPaneFocused(0));

  // A folded "My Schemes" pane is passed over.
  Command(ID_VIEW_MY_SCHEMES);
  Flush();
  sim.Char(WXK_F6);
  EXPECT_TRUE(WaitUntil([&] { return focusedPane() == files; }));
  sim.Char(WXK_F6);
  EXPECT_TRUE(WaitUntil([&] { return focusedPane() == backups; }));
  Command(ID_VIEW_MY_SCHEMES);
}

TEST_F(PaneInputTest, TheContextMenuKeysActOnTheSelectedRowAtThatRow) {
  CBackupsView* backups = Frame()->GetBackupsView();
  ASSERT_TRUE(backups->SelectName("Monday"));
  backups->GetList()->SetFocus();
  Flush();
  wxUIActionSimulator sim;
  for (int attempt = 0; attempt < 2; ++attempt) {
    CMenuWatch watch(Frame());
    watch.SetKeys({WXK_ESCAPE});
    if (attempt == 0)
      sim.Char(WXK_F10, wxMOD_SHIFT);
    else
      sim.Char(WXK_MENU);
    ASSERT_TRUE(WaitUntil([&] { return watch.opened > 0; })) << "no menu, attempt " << attempt;
    WaitUntil([] { return false; }, 300);
    ASSERT_EQ(watch.hadRestore.size(), 1u);
    EXPECT_TRUE(watch.hadRestore[0]) << "the empty-space menu opened for a selected Backup";
    // Placed at the row, not at the pointer or the pane's corner.
    wxRect row;
    ASSERT_TRUE(backups->GetList()->GetItemRect(0, row));
    const wxRect rowOnScreen(backups->GetList()->ClientToScreen(row.GetPosition()), row.GetSize());
    const wxPoint at = backups->ClientToScreen(backups->GetLastPopupPoint());
    EXPECT_GE(at.y, rowOnScreen.GetTop());
    EXPECT_LE(at.y, rowOnScreen.GetBottom() + 1);
  }
}
