// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the desktop program's tests: dialogs answered by the test, a
// fresh main frame per test, temporary folders.
#ifndef TESSAROOK_TESTS_GUI_GUITESTSUPPORT_H
#define TESSAROOK_TESTS_GUI_GUITESTSUPPORT_H

#include <gtest/gtest.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

#include <filesystem>
#include <functional>
#include <string>

// Dialogs the test did not expect fail the test instead of waiting for a user.
class CTestModalHook;
#define wxTEST_DIALOG_HOOK_CLASS CTestModalHook
#include <wx/testing.h>

#include "app/MainFrame.h"
#include "app/NewSchemeDlg.h"
#include "app/TessarookApp.h"
#include "scheme/TessarookDoc.h"
#include "settings/SettingsDlg.h"

// How an unexpected dialog is dismissed: the answer that changes least
// (Cancel, No, or OK for a box that has nothing else).
inline int SafestAnswer(wxDialog* dialog) {
  if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
    const long style = box->GetMessageDialogStyle();
    if (style & wxCANCEL) return wxID_CANCEL;
    if (style & wxYES_NO) return wxID_NO;
    return wxID_OK;
  }
  return wxID_CANCEL;
}

class CTestModalHook : public wxTestingModalHook {
 public:
  CTestModalHook(const char* file, int line, const char* func)
      : wxTestingModalHook(file, line, func) {}

 protected:
  int Enter(wxDialog* dialog) override {
    const int answer = wxTestingModalHook::Enter(dialog);
    return answer == wxID_NONE ? SafestAnswer(dialog) : answer;
  }
  void ReportFailure(const wxString& message) override { ADD_FAILURE() << message.utf8_string(); }
};

// A message box with exactly this text and caption, answered with `answer`
// (wxID_YES, wxID_NO, wxID_OK, wxID_CANCEL). `icon` (wxICON_...) is checked
// when given.
class CExpectMessage : public wxExpectModalBase<wxMessageDialog, CExpectMessage> {
 public:
  CExpectMessage(const wxString& text, const wxString& caption, int answer, long icon = 0)
      : m_text(text), m_caption(caption), m_answer(answer), m_icon(icon) {}

 protected:
  int OnInvoked(wxMessageDialog* dialog) const override {
    EXPECT_EQ(dialog->GetMessage().utf8_string(), m_text.utf8_string());
    EXPECT_EQ(dialog->GetCaption().utf8_string(), m_caption.utf8_string());
    const long style = dialog->GetMessageDialogStyle();
    if (m_icon) {
      EXPECT_TRUE(style & m_icon) << m_text.utf8_string();
    }
    // Every Yes/No question of the program asks before something is deleted,
    // overwritten or lost: Enter must not say Yes.
    if ((style & wxYES_NO) && !(style & wxCANCEL)) {
      EXPECT_TRUE(style & wxNO_DEFAULT) << "Yes is the default of " << m_text.utf8_string();
    }
    return m_answer;
  }
  wxString GetDefaultDescription() const override { return "message box \"" + m_text + "\""; }

 private:
  wxString m_text;
  wxString m_caption;
  int m_answer;
  long m_icon;
};

// The program's own dialogs: the test fills them in like a user and returns
// the button that closes them.
template <>
class wxExpectModal<tessarook::CNewSchemeDlg> : public wxExpectModalBase<tessarook::CNewSchemeDlg> {
 public:
  explicit wxExpectModal(std::function<int(tessarook::CNewSchemeDlg&)> user)
      : m_user(std::move(user)) {}

 protected:
  int OnInvoked(tessarook::CNewSchemeDlg* dialog) const override { return m_user(*dialog); }

 private:
  std::function<int(tessarook::CNewSchemeDlg&)> m_user;
};

template <>
class wxExpectModal<tessarook::CSettingsDlg> : public wxExpectModalBase<tessarook::CSettingsDlg> {
 public:
  explicit wxExpectModal(std::function<int(tessarook::CSettingsDlg&)> user)
      : m_user(std::move(user)) {}

 protected:
  int OnInvoked(tessarook::CSettingsDlg* dialog) const override { return m_user(*dialog); }

 private:
  std::function<int(tessarook::CSettingsDlg&)> m_user;
};

// A temporary folder removed with everything in it.
class CTempFolder {
 public:
  CTempFolder();
  ~CTempFolder();
  const std::filesystem::path& Path() const { return m_path; }
  std::string Str() const { return m_path.string(); }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

// Writes `bytes` to `path`.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The whole file, or "<missing>".
std::string ReadFile(const std::filesystem::path& path);

// A fresh main frame showing the placeholder, with the My Schemes folder in a
// temporary folder. The frame is destroyed after the test.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  tessarook::CMainFrame* Frame() const { return tessarook::TheApp().GetMainFrame(); }
  tessarook::CTessarookDoc* Doc() const { return tessarook::TheApp().GetDocument(); }
  tessarook::CSettings& Settings() const { return tessarook::TheApp().GetSettings(); }
  std::string SchemesDir() const { return (m_temp / "My Schemes").string(); }

  // Runs a command as the menu would.
  void Command(int id);
  // Whether the command's update rule enables it / checks it.
  bool IsEnabled(int id);
  bool IsChecked(int id);
  // Makes a scheme file with one file entry and returns its path.
  std::string MakeScheme(const std::string& name, const std::string& entry = "/etc/hostname");
  // Pumps pending events.
  void Flush();

  CTempFolder m_temp;
};

#endif  // TESSAROOK_TESTS_GUI_GUITESTSUPPORT_H
