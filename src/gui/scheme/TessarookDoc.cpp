// SPDX-License-Identifier: GPL-3.0-or-later
#include "scheme/TessarookDoc.h"

#include <wx/app.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>

#include "app/TessarookApp.h"
#include "shell/Caption.h"

namespace tessarook {

namespace {

const char kNoSchemeTitle[] = "No Scheme";
const char kSchemeFilter[] = "Tessarook Schemes (*.tsbak)|*.tsbak";

std::string ToUtf8(const wxString& text) { return std::string(text.utf8_str()); }

}  // namespace

wxIMPLEMENT_DYNAMIC_CLASS(CTessarookDoc, wxDocument);

CTessarookDoc::CTessarookDoc() = default;

CTessarookDoc::~CTessarookDoc() = default;

std::string CTessarookDoc::GetPathName() const { return ToUtf8(GetFilename()); }

wxWindow* CTessarookDoc::DialogParent() const {
  return wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
}

void CTessarookDoc::NotifyUpdated() {
  if (m_listener) m_listener->OnDocumentUpdated();
}

bool CTessarookDoc::OnCreate(const wxString&, long) { return true; }

void CTessarookDoc::SetDocumentTitle(const wxString& title) {
  SetTitle(title);
  if (m_listener) m_listener->OnDocumentTitleChanged();
}

void CTessarookDoc::Modify(bool modified) {
  // The framework's version asks views to redraw their titles; this document
  // has no framework views, the caption does not show the modified state.
  m_documentModified = modified;
}

wxString CTessarookDoc::SavePromptText() const {
  // %1 is the title of the document's file, or the document title without one.
  const std::string path = GetPathName();
  const wxString name =
      path.empty() ? GetTitle() : wxString::FromUTF8(DocumentTitleForPath(path).c_str());
  return "Save changes to " + name + "?";
}

bool CTessarookDoc::OnSaveModified() {
  if (!IsModified()) return true;
  const int answer = wxMessageBox(SavePromptText(), wxString::FromUTF8(kAppTitle.data()),
                                  wxYES_NO | wxCANCEL | wxICON_QUESTION, DialogParent());
  if (answer == wxCANCEL) return false;
  if (answer == wxYES) return SaveScheme();
  return true;
}

bool CTessarookDoc::OnNewDocument() {
  SetFilename(wxString(), false);
  SetDocumentSaved(false);
  m_scheme.Clear();
  m_documentModified = false;
  ++m_nOpenLevel;
  SetDocumentTitle(kNoSchemeTitle);
  NotifyUpdated();
  return true;
}

bool CTessarookDoc::NewPlaceholder() {
  if (!OnSaveModified()) return false;
  return OnNewDocument();
}

bool CTessarookDoc::CloseScheme() {
  // The prompt comes first, so Cancel leaves the Scheme exactly as it was:
  // open, modified, at its level.
  if (!OnSaveModified()) return false;
  m_nOpenLevel = 0;
  OnNewDocument();
  m_documentModified = false;
  return true;
}

bool CTessarookDoc::OpenScheme(const std::string& path) {
  if (!OnSaveModified()) return false;
  return OnOpenDocument(wxString::FromUTF8(path.c_str()));
}

bool CTessarookDoc::OpenWithDialog() {
  wxFileDialog dialog(DialogParent(), "Open", wxString(), wxString(), kSchemeFilter,
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return false;
  return OpenScheme(ToUtf8(dialog.GetPath()));
}

bool CTessarookDoc::OnOpenDocument(const wxString& path) {
  m_scheme.Clear();
  const std::string file = ToUtf8(path);
  CScheme loaded;
  const SchemeError error = loaded.Load(file);
  if (error != SchemeError::kOk) {
    wxMessageBox(wxString::FromUTF8(SchemeErrorText(error, file).c_str()),
                 wxString::FromUTF8(kAppTitle.data()), wxOK | wxICON_EXCLAMATION, DialogParent());
    // Never keep the previous file's path and title with emptied lists: a
    // later save would write nothing over that file. The placeholder that
    // takes its place holds no Scheme, whatever was open before.
    m_nOpenLevel = 0;
    OnNewDocument();
    return false;
  }
  m_scheme = std::move(loaded);
  m_nOpenLevel += 2;
  SetFilename(path, false);
  SetDocumentSaved(true);
  m_documentModified = false;
  SetDocumentTitle(wxString::FromUTF8(DocumentTitleForPath(file).c_str()));
  TheApp().AddRecentScheme(path);
  NotifyUpdated();
  return true;
}

bool CTessarookDoc::OnSaveDocument(const wxString& path) { return SaveTo(ToUtf8(path)); }

bool CTessarookDoc::SaveTo(const std::string& path) {
  const bool wasModified = IsModified();
  m_documentModified = false;
  const SchemeError error = m_scheme.Save(path);
  if (error != SchemeError::kOk) {
    // The edits are not on disk: keep the document modified so that closing
    // still asks to save them.
    m_documentModified = wasModified;
    wxMessageBox(wxString::FromUTF8(SchemeErrorText(error, path).c_str()),
                 wxString::FromUTF8(kAppTitle.data()), wxOK | wxICON_EXCLAMATION, DialogParent());
  } else {
    const wxString file = wxString::FromUTF8(path.c_str());
    SetFilename(file, false);
    SetDocumentSaved(true);
    SetDocumentTitle(wxString::FromUTF8(DocumentTitleForPath(path).c_str()));
    TheApp().AddRecentScheme(file);
  }
  if (m_listener) m_listener->OnDocumentSaveAttempted();
  return error == SchemeError::kOk;
}

bool CTessarookDoc::SaveScheme() {
  const std::string path = GetPathName();
  if (path.empty()) return SaveSchemeAs();
  return SaveTo(path);
}

bool CTessarookDoc::SaveSchemeAs() {
  const std::string path = GetPathName();
  wxString folder, name;
  if (!path.empty()) {
    const wxFileName current(wxString::FromUTF8(path.c_str()));
    folder = current.GetPath();
    name = current.GetFullName();
  } else {
    folder = wxString::FromUTF8(TheApp().GetSettings().dir_schemes.c_str());
  }
  wxFileDialog dialog(DialogParent(), "Save As", folder, name, kSchemeFilter,
                      wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() != wxID_OK) return false;
  wxFileName chosen(dialog.GetPath());
  if (!chosen.HasExt()) chosen.SetExt("tsbak");
  return SaveTo(ToUtf8(chosen.GetFullPath()));
}

}  // namespace tessarook
