// SPDX-License-Identifier: GPL-3.0-or-later
// The application object: start-up, single instance, settings, shutdown.
#ifndef TESSAROOK_GUI_APP_TESSAROOKAPP_H
#define TESSAROOK_GUI_APP_TESSAROOKAPP_H

#include <wx/app.h>
#include <wx/docview.h>
#include <wx/filehistory.h>
#include <wx/snglinst.h>

#include <memory>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "shell/InstanceChannel.h"

namespace tessarook {

class CMainFrame;
class CTessarookDoc;

class CTessarookApp : public wxApp {
 public:
  CTessarookApp();
  ~CTessarookApp() override;

  // Start-up: a second instance ends silently (false); then the settings, the
  // document and the main frame (StartShell).
  bool OnInit() override;
  // Writes the settings ("Settings error" on failure) and the recent list.
  int OnExit() override;
  // Ends at once after a second start handed its command line over.
  int OnRun() override;
  void OnInitCmdLine(wxCmdLineParser& parser) override;
  bool OnCmdLineParsed(wxCmdLineParser& parser) override;

  // The settings file to use instead of the program's own (FindUserPlaces);
  // call before OnInit.
  static void UseSettingsFile(const std::string& path);

  // The name under which a running instance is found.
  static wxString InstanceName();

  // Creates the document, the main frame and its panes, opens `schemeFile`
  // (or the placeholder when empty) and shows the frame. False when the file
  // could not be opened (its error was shown) — nothing is left behind then.
  bool StartShell(const wxString& schemeFile);
  // Destroys the main frame and the document (no prompts).
  void EndShell();

  // Saves the settings; on failure shows the "Settings error" message.
  bool SaveSettings();

  CSettings& GetSettings() { return *m_settings; }
  CTessarookDoc* GetDocument() const { return m_doc; }
  CMainFrame* GetMainFrame() const { return m_frame; }
  wxDocTemplate* GetDocTemplate() const { return m_template; }

  // The 4 most recently used scheme files.
  wxFileHistory& GetRecentSchemes() { return m_recent; }
  void AddRecentScheme(const wxString& path);

  // The user manual: "tessarook.html" beside the executable.
  wxString ManualPath() const;

  // Called by the main frame when it is destroyed.
  void OnMainFrameDestroyed(CMainFrame* frame);

  // A later start of the program handed over its command line (window
  // thread): the window comes to the front, out of the tray; a scheme file
  // opens, a Compressed Scheme is imported.
  void OnSecondStart(const std::vector<std::string>& args);
  // How many second starts were handled.
  int GetSecondStarts() const { return m_secondStarts; }

 private:
  // The profile store (placement, recent files): the file in `folder`.
  void UseProfile(const std::string& folder, const std::string& file);
  void LoadRecentSchemes();
  void SaveRecentSchemes();

  // The command line's file arguments, absolute.
  std::vector<std::string> FileArguments() const;

  std::unique_ptr<wxSingleInstanceChecker> m_instance;
  CInstanceServer m_instanceServer;
  bool m_handedOver = false;
  int m_secondStarts = 0;
  std::unique_ptr<CSettings> m_settings;
  wxDocManager* m_docManager = nullptr;
  wxDocTemplate* m_template = nullptr;
  CTessarookDoc* m_doc = nullptr;
  CMainFrame* m_frame = nullptr;
  wxFileHistory m_recent;
  wxString m_commandLineFile;
  bool m_shellStarted = false;
};

// The running application object.
CTessarookApp& TheApp();

}  // namespace tessarook

#endif  // TESSAROOK_GUI_APP_TESSAROOKAPP_H
