// SPDX-License-Identifier: GPL-3.0-or-later
// The "Files and Folders to Backup" pane against real files in a temporary folder.
#include <wx/editlbox.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../GuiTestSupport.h"
#include "app/CommandIds.h"
#include "files/AddFilesDlg.h"
#include "files/DirPropsDlg.h"
#include "files/FilesCommandIds.h"
#include "files/FilesView.h"

// The folder properties dialog, filled in by the test like a user.
template <>
class wxExpectModal<tessarook::CDirPropsDlg> : public wxExpectModalBase<tessarook::CDirPropsDlg> {
 public:
  explicit wxExpectModal(std::function<int(tessarook::CDirPropsDlg&)> user)
      : m_user(std::move(user)) {}

 protected:
  int OnInvoked(tessarook::CDirPropsDlg* dialog) const override { return m_user(*dialog); }

 private:
  std::function<int(tessarook::CDirPropsDlg&)> m_user;
};

// The add-files dialog: the test chooses the files.
template <>
class wxExpectModal<tessarook::CAddFilesDlg> : public wxExpectModalBase<tessarook::CAddFilesDlg> {
 public:
  wxExpectModal(std::vector<std::string> paths, int answer = wxID_OK)
      : m_paths(std::move(paths)), m_answer(answer) {}

 protected:
  int OnInvoked(tessarook::CAddFilesDlg* dialog) const override {
    wxArrayString chosen;
    for (const std::string& path : m_paths) chosen.Add(wxString::FromUTF8(path.c_str()));
    dialog->SetChosenPaths(chosen);
    return m_answer;
  }

 private:
  std::vector<std::string> m_paths;
  int m_answer;
};

namespace tessarook {
namespace {

namespace fs = std::filesystem;

class FilesViewTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    fs::create_directories(m_temp / "data");
  }

  CFilesView* View() const { return Frame()->GetFilesView(); }
  std::string Data(const std::string& name) const { return (m_temp / "data" / name).string(); }

  // Writes a scheme file with these entries and opens it.
  void OpenScheme(const std::vector<std::string>& files, const std::vector<std::string>& folders) {
    fs::create_directories(SchemesDir());
    CScheme scheme;
    for (const std::string& file : files) scheme.AddFileEntry(file);
    for (const std::string& folder : folders) scheme.AddFolderEntry(folder);
    const std::string path = SchemesDir() + "/Test.tsbak";
    ASSERT_EQ(scheme.Save(path), SchemeError::kOk);
    ASSERT_TRUE(Doc()->OpenScheme(path));
    ASSERT_TRUE(Doc()->HasScheme());
  }

  // Runs a command as the pane's pop-up menu would.
  void ViewCommand(int id) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(View());
    View()->ProcessWindowEvent(event);
  }
  wxUpdateUIEvent ViewUpdate(int id) {
    wxUpdateUIEvent event(id);
    event.SetEventObject(View());
    View()->ProcessWindowEvent(event);
    return event;
  }

  long RowOf(const std::string& name) const {
    const auto& rows = View()->GetRows();
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].m_name == name) return long(i);
    return -1;
  }
  std::string Cell(long row, int column) const {
    return View()->GetList()->GetItemText(row, column).utf8_string();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (long i = 0; i < View()->GetItemCount(); ++i) names.push_back(Cell(i, 0));
    return names;
  }
};

TEST_F(FilesViewTest, MissingFileAndFolderShowTheirIconsAndNoSize) {
  WriteFile(Data("present.txt"), "12345");
  fs::create_directories(Data("here"));
  OpenScheme({Data("present.txt"), Data("lost.txt")}, {Data("here"), Data("vanished")});
  ViewCommand(ID_FILES_TABLE);
  ASSERT_EQ(View()->GetItemCount(), 4);
  EXPECT_FALSE(View()->IsHintShown());

  const long lost = RowOf("lost.txt");
  const long vanished = RowOf("vanished");
  ASSERT_GE(lost, 0);
  ASSERT_GE(vanished, 0);
  EXPECT_EQ(View()->GetRowImage(lost), kImageMissingFile);
  EXPECT_EQ(View()->GetRowImage(vanished), kImageMissingFolder);
  EXPECT_EQ(Cell(lost, 2), "");
  EXPECT_EQ(Cell(vanished, 2), "");
  EXPECT_EQ(Cell(lost, 1), (m_temp / "data").string() + "/");

  EXPECT_EQ(View()->GetRowImage(RowOf("here")), kImageFolder);
  EXPECT_EQ(Cell(RowOf("here"), 2), "");
  EXPECT_GE(View()->GetRowImage(RowOf("present.txt")), kFirstFileImage);
  EXPECT_EQ(Cell(RowOf("present.txt"), 2), "5 bytes");
  // Folders come first, each kind by name.
  EXPECT_EQ(Names(), (std::vector<std::string>{"here", "vanished", "lost.txt", "present.txt"}));
}

TEST_F(FilesViewTest, AddingAListedPathAddsNoRowButMarksTheSchemeModified) {
  WriteFile(Data("a.txt"), "a");
  WriteFile(Data("b.txt"), "b");
  WriteFile(Data("c.txt"), "c");
  OpenScheme({Data("a.txt")}, {});
  ASSERT_FALSE(Doc()->IsModified());

  wxTEST_DIALOG(ViewCommand(ID_FILES_ADD_FILE), wxExpectModal<CAddFilesDlg>({Data("a.txt")}));
  EXPECT_EQ(View()->GetItemCount(), 1);
  EXPECT_EQ(Doc()->GetScheme().m_files.size(), 1u);
  EXPECT_TRUE(Doc()->IsModified());

  // Several files at once, in the dialog's order; the listed one is skipped.
  wxTEST_DIALOG(ViewCommand(ID_FILES_ADD_FILE),
                wxExpectModal<CAddFilesDlg>({Data("b.txt"), Data("a.txt"), Data("c.txt")}));
  EXPECT_EQ(View()->GetItemCount(), 3);
  ASSERT_EQ(Doc()->GetScheme().m_files.size(), 3u);
  EXPECT_EQ(Doc()->GetScheme().m_files[1].m_path, Data("b.txt"));
  EXPECT_EQ(Doc()->GetScheme().m_files[2].m_path, Data("c.txt"));

  // A cancelled dialog changes nothing.
  Doc()->Modify(false);
  wxTEST_DIALOG(ViewCommand(ID_FILES_ADD_FILE),
                wxExpectModal<CAddFilesDlg>({Data("d.txt")}, wxID_CANCEL));
  EXPECT_EQ(View()->GetItemCount(), 3);
  EXPECT_FALSE(Doc()->IsModified());

  // The same folder dropped twice is listed once; each drop marks the Scheme.
  fs::create_directories(Data("dir"));
  View()->AddDroppedPaths({Data("dir")});
  Doc()->Modify(false);
  View()->AddDroppedPaths({Data("dir")});
  EXPECT_EQ(Doc()->GetScheme().m_folders.size(), 1u);
  EXPECT_EQ(View()->GetItemCount(), 4);
  EXPECT_TRUE(Doc()->IsModified());
}

TEST_F(FilesViewTest, DroppedLinksAddTheirTargetsAsTheKindTheyAre) {
  fs::create_directories(Data("real folder"));
  WriteFile(Data("real.txt"), "x");
  fs::create_symlink(Data("real folder"), Data("folder link"));
  fs::create_symlink("real.txt", Data("file link"));  // relative to its own folder
  OpenScheme({}, {});
  EXPECT_TRUE(View()->GetHint().StartsWith("There are no files attached to the Scheme."));

  View()->AddDroppedPaths({Data("folder link"), Data("file link"), Data("not there")});
  const CScheme& scheme = Doc()->GetScheme();
  ASSERT_EQ(scheme.m_folders.size(), 1u);
  EXPECT_EQ(scheme.m_folders[0].m_path, Data("real folder"));
  ASSERT_EQ(scheme.m_files.size(), 2u);
  EXPECT_EQ(scheme.m_files[0].m_path, Data("real.txt"));
  EXPECT_EQ(scheme.m_files[1].m_path, Data("not there"));
  EXPECT_EQ(View()->GetItemCount(), 3);

  // Without a Scheme nothing is taken.
  Doc()->Modify(false);
  Command(ID_CLOSE_SCHEME);
  View()->AddDroppedPaths({Data("real.txt")});
  EXPECT_EQ(View()->GetItemCount(), 0);
  EXPECT_TRUE(View()->GetHint().StartsWith("Please create a new Scheme (Ctrl + N)"));
  EXPECT_TRUE(Doc()->GetScheme().m_files.empty());
}

TEST_F(FilesViewTest, RemoveTakesTheSelectedEntryByCommandOrDeleteKey) {
  WriteFile(Data("keep.txt"), "k");
  WriteFile(Data("drop.txt"), "d");
  fs::create_directories(Data("dir"));
  OpenScheme({Data("keep.txt"), Data("drop.txt")}, {Data("dir")});

  // Nothing selected: nothing happens.
  ViewCommand(ID_FILES_REMOVE);
  EXPECT_EQ(View()->GetItemCount(), 3);
  EXPECT_FALSE(Doc()->IsModified());

  View()->SelectRow(RowOf("drop.txt"));
  ViewCommand(ID_FILES_REMOVE);
  ASSERT_EQ(Doc()->GetScheme().m_files.size(), 1u);
  EXPECT_EQ(Doc()->GetScheme().m_files[0].m_path, Data("keep.txt"));
  EXPECT_EQ(Doc()->GetScheme().m_folders.size(), 1u);
  EXPECT_TRUE(Doc()->IsModified());

  // A folder row removes the folder entry, not a file entry of the same path.
  View()->SelectRow(RowOf("dir"));
  wxListEvent key(wxEVT_LIST_KEY_DOWN, View()->GetList()->GetId());
  key.SetEventObject(View()->GetList());
  key.m_code = WXK_DELETE;
  View()->GetList()->ProcessWindowEvent(key);
  EXPECT_TRUE(Doc()->GetScheme().m_folders.empty());
  EXPECT_EQ(Doc()->GetScheme().m_files.size(), 1u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"keep.txt"}));
}

TEST_F(FilesViewTest, ArrangementsAndDisplayModesAreCheckedAndApplied) {
  for (const char* name : {"a.txt", "B.txt", "c.txt"}) WriteFile(Data(name), "x");
  fs::create_directories(m_temp / "other");
  WriteFile(m_temp / "other" / "a.txt", "x");
  fs::create_directories(Data("zdir"));
  OpenScheme({Data("c.txt"), Data("a.txt"), (m_temp / "other" / "a.txt").string(), Data("B.txt")},
             {Data("zdir")});

  ViewCommand(ID_FILES_BY_NAME);
  EXPECT_TRUE(ViewUpdate(ID_FILES_BY_NAME).GetChecked());
  EXPECT_FALSE(ViewUpdate(ID_FILES_BY_LOCATION).GetChecked());
  // Byte order: "B" before "a"; equal names by location ("/data/" before "/other/").
  EXPECT_EQ(Names(), (std::vector<std::string>{"zdir", "B.txt", "a.txt", "a.txt", "c.txt"}));

  ViewCommand(ID_FILES_BY_LOCATION);
  EXPECT_EQ(View()->GetArrangement(), 2);
  EXPECT_TRUE(ViewUpdate(ID_FILES_BY_LOCATION).GetChecked());
  EXPECT_EQ(Names(), (std::vector<std::string>{"zdir", "B.txt", "a.txt", "c.txt", "a.txt"}));

  const std::pair<int, int> modes[] = {{ID_FILES_LARGE_ICONS, 0},
                                       {ID_FILES_TABLE, 1},
                                       {ID_FILES_SMALL_ICONS, 2},
                                       {ID_FILES_LIST, 3}};
  for (const auto& [command, mode] : modes) {
    ViewCommand(command);
    EXPECT_EQ(View()->GetDisplayMode(), mode);
    EXPECT_EQ(View()->GetItemCount(), 5) << "mode " << mode;
    for (const auto& [other, otherMode] : modes)
      EXPECT_EQ(ViewUpdate(other).GetChecked(), other == command) << mode << " " << otherMode;
  }
  // The frame keeps both for the next run.
  TheApp().EndShell();
  EXPECT_EQ(Settings().files_view, 3);
  EXPECT_EQ(Settings().files_sorting, 2);
}

TEST_F(FilesViewTest, ProgramFilesGetOwnIconsOtherFilesShareOnePerExtension) {
  for (const char* name : {"one.exe", "two.exe", "a.txt", "b.TXT", "c.pdf"})
    WriteFile(Data(name), "x");
  OpenScheme({Data("one.exe"), Data("two.exe"), Data("a.txt"), Data("b.TXT"), Data("c.pdf")}, {});
  const int oneExe = View()->GetRowImage(RowOf("one.exe"));
  const int twoExe = View()->GetRowImage(RowOf("two.exe"));
  EXPECT_NE(oneExe, twoExe);
  EXPECT_EQ(View()->GetRowImage(RowOf("a.txt")), View()->GetRowImage(RowOf("b.TXT")));
  EXPECT_NE(View()->GetRowImage(RowOf("a.txt")), View()->GetRowImage(RowOf("c.pdf")));
  // The image lists and the keys stay parallel across rebuilds; shared icons are not added again.
  const int images = View()->GetImageCount();
  EXPECT_EQ(size_t(images), View()->GetIconKeys().Count());
  ViewCommand(ID_FILES_REFRESH);
  EXPECT_EQ(View()->GetImageCount(), images + 2);  // only the two program files again
  EXPECT_EQ(size_t(View()->GetImageCount()), View()->GetIconKeys().Count());
}

TEST_F(FilesViewTest, OpenUsesTheFullPathAndLocationColumnsOpenTheFolder) {
  WriteFile(Data("doc.txt"), "x");
  OpenScheme({Data("doc.txt")}, {"/"});
  std::vector<std::string> opened;
  View()->SetLauncher([&opened](const std::string& path) {
    opened.push_back(path);
    return true;
  });
  ViewCommand(ID_FILES_OPEN);  // nothing selected
  EXPECT_TRUE(opened.empty());

  View()->SelectRow(RowOf("doc.txt"));
  ViewCommand(ID_FILES_OPEN);
  // The root folder: no name, location "/", opens "/".
  const long root = RowOf("");
  ASSERT_GE(root, 0);
  View()->SelectRow(root);
  ViewCommand(ID_FILES_OPEN);
  EXPECT_FALSE(View()->OpenLocationAt(RowOf("doc.txt"), 0));  // the name column activates instead
  EXPECT_TRUE(View()->OpenLocationAt(RowOf("doc.txt"), 1));
  EXPECT_TRUE(View()->OpenLocationAt(RowOf("doc.txt"), 2));
  EXPECT_FALSE(View()->OpenLocationAt(7, 1));
  EXPECT_EQ(opened,
            (std::vector<std::string>{Data("doc.txt"), "/", (m_temp / "data").string() + "/",
                                      (m_temp / "data").string() + "/"}));
}

TEST_F(FilesViewTest, DoubleClickOnLocationOpensTheFolderOnNameOpensTheEntry) {
  WriteFile(Data("a.txt"), "x");
  WriteFile(Data("b.txt"), "x");
  OpenScheme({Data("a.txt"), Data("b.txt")}, {});
  ViewCommand(ID_FILES_TABLE);
  Frame()->SendSizeEvent();
  Flush();
  std::vector<std::string> opened;
  View()->SetLauncher([&opened](const std::string& path) {
    opened.push_back(path);
    return true;
  });
  wxListCtrl* list = View()->GetList();
  // The rows' own window: the tallest inner window of the list.
  wxWindow* area = list;
  for (wxWindow* child : list->GetChildren())
    if (child->IsShown() && (area == list || child->GetSize().y > area->GetSize().y)) area = child;
  auto doubleClick = [&](long row, int x) {
    wxRect rect;
    ASSERT_TRUE(list->GetItemRect(row, rect));
    const wxPoint at =
        area->ScreenToClient(list->ClientToScreen(wxPoint(x, rect.y + rect.height / 2)));
    // A double-click arrives as press, release, double-click, release.
    for (wxEventType type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_LEFT_DCLICK, wxEVT_LEFT_UP}) {
      wxMouseEvent click(type);
      click.SetEventObject(area);
      click.SetPosition(at);
      click.m_leftDown = type != wxEVT_LEFT_UP;
      area->ProcessWindowEvent(click);
    }
  };
  const long b = RowOf("b.txt");
  View()->SelectRow(b);
  doubleClick(b, list->GetColumnWidth(0) + 5);  // Location
  doubleClick(b, 5);                            // Name: activates the row
  EXPECT_EQ(opened, (std::vector<std::string>{Data(""), Data("b.txt")}));
}

TEST_F(FilesViewTest, FolderPropertiesEditTheExcludedExtensionsOnlyOnOk) {
  fs::create_directories(Data("dir"));
  WriteFile(Data("file.txt"), "x");
  OpenScheme({Data("file.txt")}, {Data("dir")});
  Doc()->GetScheme().m_folders[0].m_excludedExtensions = {"doc", "tmp"};

  View()->SelectRow(RowOf("file.txt"));
  EXPECT_FALSE(ViewUpdate(ID_FILES_PROPERTIES).GetEnabled());
  View()->SelectRow(RowOf("dir"));
  EXPECT_TRUE(ViewUpdate(ID_FILES_PROPERTIES).GetEnabled());

  // Cancel after editing keeps the list and the modified state.
  wxTEST_DIALOG(ViewCommand(ID_FILES_PROPERTIES),
                wxExpectModal<CDirPropsDlg>([](CDirPropsDlg& dialog) {
                  EXPECT_EQ(dialog.GetTitle().utf8_string(), "Properties: dir");
                  wxArrayString shown;
                  dialog.GetListEdit()->GetStrings(shown);
                  EXPECT_EQ(shown.size(), 2u);
                  if (shown.size() == 2) {
                    EXPECT_EQ(shown[0], "doc");
                    EXPECT_EQ(shown[1], "tmp");
                  }
                  dialog.GetListEdit()->SetStrings(wxArrayString(1, "exe"));
                  return wxID_CANCEL;
                }));
  EXPECT_EQ(Doc()->GetScheme().m_folders[0].m_excludedExtensions,
            (std::vector<std::string>{"doc", "tmp"}));
  EXPECT_FALSE(Doc()->IsModified());

  wxTEST_DIALOG(ViewCommand(ID_FILES_PROPERTIES),
                wxExpectModal<CDirPropsDlg>([](CDirPropsDlg& dialog) {
                  const char* typed[] = {"txt", ".TXT", "..log", "*.x", "a/b", "   ", ".", "Bak"};
                  wxArrayString items;
                  for (const char* item : typed) items.Add(item);
                  dialog.GetListEdit()->SetStrings(items);
                  EXPECT_TRUE(dialog.TransferDataFromWindow());  // what "OK" runs
                  return wxID_OK;
                }));
  EXPECT_EQ(Doc()->GetScheme().m_folders[0].m_excludedExtensions,
            (std::vector<std::string>{"txt", ".log", "Bak"}));
  EXPECT_TRUE(Doc()->IsModified());
}

TEST_F(FilesViewTest, WatchersFollowLocationsAndRefreshTheList) {
  Settings().autorefresh = true;
  fs::create_directories(m_temp / "other");
  OpenScheme({Data("a.txt"), Data("b.txt"), (m_temp / "other" / "c.txt").string()}, {Data("sub")});
  // Three entries in one folder share a watcher; "other" has its own.
  EXPECT_EQ(View()->GetMonitorCount(), 2u);
  ViewCommand(ID_FILES_REFRESH);
  EXPECT_EQ(View()->GetMonitorCount(), 2u);
  ASSERT_EQ(View()->GetRowImage(RowOf("a.txt")), kImageMissingFile);

  // A file appearing in a watched folder reaches the pane by itself.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  WriteFile(Data("a.txt"), "now here");
  for (int i = 0; i < 60 && View()->GetRowImage(RowOf("a.txt")) == kImageMissingFile; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Flush();
  }
  EXPECT_GE(View()->GetRowImage(RowOf("a.txt")), kFirstFileImage);

  Command(ID_CLOSE_SCHEME);
  EXPECT_EQ(View()->GetMonitorCount(), 0u);

  Settings().autorefresh = false;
  OpenScheme({Data("a.txt")}, {});
  EXPECT_EQ(View()->GetMonitorCount(), 0u);
}

}  // namespace
}  // namespace tessarook
