// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTestSupport.h"

#include <unistd.h>
#include <wx/app.h>
#include <wx/config.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "scheme/Scheme.h"

namespace fs = std::filesystem;
using namespace tessarook;

CTempFolder::CTempFolder() {
  static std::atomic<int> counter{0};
  m_path = fs::temp_directory_path() /
           ("tessarook-gui-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(m_path);
  fs::create_directories(m_path);
}

CTempFolder::~CTempFolder() {
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void ShellTest::SetUp() {
  CTessarookApp& app = TheApp();
  app.EndShell();
  wxConfigBase::Get()->DeleteAll();
  app.GetSettings().SetDefaults();
  app.GetSettings().dir_schemes = SchemesDir();
  app.GetSettings().minimize_to_tray = false;
  ASSERT_TRUE(app.StartShell(wxString()));
  ASSERT_NE(Frame(), nullptr);
}

void ShellTest::TearDown() {
  if (Doc()) Doc()->Modify(false);
  TheApp().EndShell();
}

void ShellTest::Command(int id) {
  wxCommandEvent event(wxEVT_MENU, id);
  event.SetEventObject(Frame());
  Frame()->ProcessWindowEvent(event);
}

bool ShellTest::IsEnabled(int id) {
  wxUpdateUIEvent event(id);
  event.SetEventObject(Frame());
  Frame()->ProcessWindowEvent(event);
  return !event.GetSetEnabled() || event.GetEnabled();
}

bool ShellTest::IsChecked(int id) {
  wxUpdateUIEvent event(id);
  event.SetEventObject(Frame());
  Frame()->ProcessWindowEvent(event);
  return event.GetSetChecked() && event.GetChecked();
}

std::string ShellTest::MakeScheme(const std::string& name, const std::string& entry) {
  fs::create_directories(SchemesDir());
  CScheme scheme;
  scheme.AddFileEntry(entry);
  const std::string path = SchemesDir() + "/" + name + ".tsbak";
  EXPECT_EQ(scheme.Save(path), SchemeError::kOk);
  return path;
}

void ShellTest::Flush() {
  for (int i = 0; i < 5; ++i) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
  }
}
