// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TessarookApp.h"

#include <wx/cmdline.h>
#include <wx/config.h>
#include <wx/fileconf.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/stdpaths.h>
#include <wx/utils.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "library/SchemesView.h"
#include "scheme/TessarookDoc.h"
#include "settings/UserPlaces.h"
#include "shell/Caption.h"
#include "shell/Messages.h"

namespace tessarook {

namespace {

std::string& SettingsFileOverride() {
  static std::string path;
  return path;
}

const char kRecentGroup[] = "/Recent File List";

}  // namespace

CTessarookApp& TheApp() { return *static_cast<CTessarookApp*>(wxApp::GetInstance()); }

CTessarookApp::CTessarookApp() : m_recent(kRecentSchemeCount, ID_RECENT_FIRST) {
  SetAppName("Tessarook");
  SetAppDisplayName(wxString::FromUTF8(kAppTitle.data(), kAppTitle.size()));
}

CTessarookApp::~CTessarookApp() = default;

void CTessarookApp::UseSettingsFile(const std::string& path) { SettingsFileOverride() = path; }

wxString CTessarookApp::InstanceName() { return "Tessarook Hidden Window-" + wxGetUserId(); }

void CTessarookApp::OnInitCmdLine(wxCmdLineParser& parser) {
  wxApp::OnInitCmdLine(parser);
  parser.AddParam("scheme file", wxCMD_LINE_VAL_STRING, wxCMD_LINE_PARAM_OPTIONAL);
  // Answered in main(), before the toolkit starts; listed here for --help.
  parser.AddSwitch("", "version", "print the version and end");
}

bool CTessarookApp::OnCmdLineParsed(wxCmdLineParser& parser) {
  if (parser.GetParamCount() > 0) m_commandLineFile = parser.GetParam(0);
  return wxApp::OnCmdLineParsed(parser);
}

bool CTessarookApp::OnInit() {
  const SUserPlaces places = FindUserPlaces();
  // A running instance wins: end silently, before anything else happens. The
  // lock lives in the runtime folder (or the config folder), never in the home
  // folder itself.
  CreateFolderPath(places.lockDir, 0700, nullptr);
  const std::string socketPath = InstanceSocketPath(places.lockDir);
  m_instance = std::make_unique<wxSingleInstanceChecker>();
  {
    wxLogNull quiet;  // a stale marker left by a crashed run is replaced without a word
    if (!m_instance->Create(InstanceName(), wxString::FromUTF8(places.lockDir.c_str())) ||
        m_instance->IsAnotherRunning()) {
      m_instance.reset();
      // The running program takes the command line and comes to the front;
      // this one ends without a window. When it cannot be reached, silently.
      m_handedOver = SendToRunningInstance(socketPath, FileArguments());
      return m_handedOver;
    }
  }
  // Later starts reach this one here; without the channel they end as before.
  m_instanceServer.Start(socketPath, [this](std::vector<std::string> args) {
    // The channel's thread: the window thread does the work.
    CallAfter([this, args] { OnSecondStart(args); });
  });
  UseProfile(places.configDir, places.profileFile);
  if (!wxApp::OnInit()) return false;  // the command line
  return StartShell(m_commandLineFile);
}

void CTessarookApp::UseProfile(const std::string& folder, const std::string& file) {
  // Made now, so the writes at exit find it; a failure only loses the
  // placement and the recent list, as a profile store that cannot be written does.
  CreateFolderPath(folder, 0700, nullptr);
  auto* profile = new wxFileConfig(GetAppName(), wxString(), wxString::FromUTF8(file.c_str()),
                                   wxString(), wxCONFIG_USE_LOCAL_FILE);
  profile->SetUmask(0077);
  delete wxConfigBase::Set(profile);
}

bool CTessarookApp::StartShell(const wxString& schemeFile) {
  if (!m_settings) {
    const std::string& path = SettingsFileOverride();
    m_settings = path.empty() ? std::make_unique<CSettings>() : std::make_unique<CSettings>(path);
    if (!m_settings->Load()) m_settings->SetDefaults();
  }
  LoadRecentSchemes();

  m_docManager = new wxDocManager;
  m_docManager->SetMaxDocsOpen(1);
  m_template =
      new wxDocTemplate(m_docManager, "Tessarook Schemes", "*.tsbak", wxString(), "tsbak",
                        "Tessarook Scheme", "Tessarook Scheme", CLASSINFO(CTessarookDoc), nullptr);
  m_doc = static_cast<CTessarookDoc*>(m_template->CreateDocument(wxString(), wxDOC_SILENT));
  if (!m_doc) {
    EndShell();
    return false;
  }
  m_frame = new CMainFrame(m_doc);
  SetTopWindow(m_frame);
  // A Compressed Scheme (from the file manager, say) is imported, as "Import
  // Scheme" would, once the window is up.
  const bool compressed = schemeFile.Lower().EndsWith(".csm");
  if (schemeFile.empty() || compressed) {
    m_doc->OnNewDocument();
  } else if (!m_doc->OnOpenDocument(schemeFile)) {
    // Its error has been shown; the program ends.
    EndShell();
    return false;
  }
  m_frame->RestorePlacement();
  m_frame->Show();
  m_frame->Update();
  m_shellStarted = true;
  if (compressed) m_frame->GetSchemesView()->ImportSchemeFile(schemeFile.utf8_string());
  return true;
}

void CTessarookApp::EndShell() {
  if (m_frame) {
    CMainFrame* frame = m_frame;
    m_frame = nullptr;
    frame->Destroy();
    DeletePendingObjects();
  }
  if (m_docManager) {
    // The document goes without a save prompt.
    if (m_doc) m_doc->Modify(false);
    delete m_docManager;  // deletes the template and the document
    m_docManager = nullptr;
    m_template = nullptr;
    m_doc = nullptr;
  }
  m_shellStarted = false;
}

void CTessarookApp::OnMainFrameDestroyed(CMainFrame* frame) {
  if (m_frame == frame) m_frame = nullptr;
}

std::vector<std::string> CTessarookApp::FileArguments() const {
  const std::string cwd = wxGetCwd().utf8_string();
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i].utf8_string();
    if (!arg.empty() && arg[0] != '-') files.push_back(AbsoluteArgument(arg, cwd));
  }
  return files;
}

int CTessarookApp::OnRun() {
  if (m_handedOver) return 0;
  return wxApp::OnRun();
}

void CTessarookApp::OnSecondStart(const std::vector<std::string>& args) {
  ++m_secondStarts;
  if (!m_frame) return;
  m_frame->BringToFront();
  if (args.empty() || !m_doc) return;
  const wxString file = wxString::FromUTF8(args.front().c_str());
  if (file.Lower().EndsWith(".csm"))
    m_frame->GetSchemesView()->ImportSchemeFile(args.front());
  else
    m_doc->OpenScheme(args.front());
}

int CTessarookApp::OnExit() {
  if (m_handedOver) return wxApp::OnExit();  // nothing of this run to keep
  m_instanceServer.Stop();
  if (m_docManager) {
    if (m_doc) m_doc->Modify(false);
    delete m_docManager;
    m_docManager = nullptr;
    m_doc = nullptr;
  }
  if (m_settings) SaveSettings();
  SaveRecentSchemes();
  m_instance.reset();
  return wxApp::OnExit();
}

bool CTessarookApp::SaveSettings() {
  if (m_settings->Save()) return true;
  wxMessageBox(wxString::FromUTF8(msg::kSettingsNotSaved.data(), msg::kSettingsNotSaved.size()),
               wxString::FromUTF8(msg::kSettingsNotSavedCaption.data(),
                                  msg::kSettingsNotSavedCaption.size()),
               wxOK | wxICON_WARNING, nullptr);
  return false;
}

void CTessarookApp::AddRecentScheme(const wxString& path) {
  m_recent.AddFileToHistory(path);
  if (m_frame) m_frame->RebuildRecentMenu();
}

void CTessarookApp::LoadRecentSchemes() {
  while (m_recent.GetCount() > 0) m_recent.RemoveFileFromHistory(0);
  wxConfigBase* config = wxConfigBase::Get();
  const wxString old = config->GetPath();
  config->SetPath(kRecentGroup);
  m_recent.Load(*config);
  config->SetPath(old);
}

void CTessarookApp::SaveRecentSchemes() {
  wxConfigBase* config = wxConfigBase::Get();
  const wxString old = config->GetPath();
  config->DeleteGroup(kRecentGroup);
  config->SetPath(kRecentGroup);
  m_recent.Save(*config);
  config->SetPath(old);
  wxLogNull quiet;  // a profile that cannot be written keeps its old contents
  config->Flush();
}

wxString CTessarookApp::ManualPath() const {
  const wxFileName exe(wxStandardPaths::Get().GetExecutablePath());
  return wxFileName(exe.GetPath(), "tessarook.html").GetFullPath();
}

}  // namespace tessarook
