// SPDX-License-Identifier: GPL-3.0-or-later
// The open Scheme: the program's one document for the whole run.
#ifndef TESSAROOK_GUI_SCHEME_TESSAROOKDOC_H
#define TESSAROOK_GUI_SCHEME_TESSAROOKDOC_H

#include <wx/docview.h>

#include <string>

#include "scheme/Scheme.h"

namespace tessarook {

// Who hears about the document's changes (the main frame, which passes them
// on to the panes). Called on the window thread.
class IDocumentListener {
 public:
  virtual ~IDocumentListener() = default;
  // A Scheme was opened, created or closed: every pane rebuilds.
  virtual void OnDocumentUpdated() = 0;
  // The title changed: the caption follows.
  virtual void OnDocumentTitleChanged() = 0;
  // A save ran (whether it worked or not): the My Schemes list rebuilds.
  virtual void OnDocumentSaveAttempted() = 0;
};

// CTessarookDoc keeps one object for the whole run and goes through these
// states: placeholder "No Scheme" (no path, HasScheme false), a Scheme open
// from its file (HasScheme true), and back. m_nOpenLevel counts +1 for every
// new (placeholder) document and +2 for every successful open; 0 after
// CloseScheme; a Scheme is open while it is above 1.
class CTessarookDoc : public wxDocument {
 public:
  CTessarookDoc();
  ~CTessarookDoc() override;

  void SetListener(IDocumentListener* listener) { m_listener = listener; }

  CScheme& GetScheme() { return m_scheme; }
  const CScheme& GetScheme() const { return m_scheme; }
  int GetOpenLevel() const { return m_nOpenLevel; }
  bool HasScheme() const { return m_nOpenLevel > 1; }

  // The scheme file's path; empty for the placeholder.
  std::string GetPathName() const;

  // Closes the open Scheme after the save prompt. Cancel at the prompt keeps
  // the Scheme open, modified and at its level, and returns false.
  bool CloseScheme();

  // Replaces the document with the placeholder after the save prompt; false
  // when the user cancelled there.
  bool NewPlaceholder();

  // Opens a scheme file after the save prompt (the "&Open..." command, the
  // recent list, the command line, and "New Scheme" after its save).
  // False when cancelled or when the file could not be read; in the latter
  // case its error was shown and the document is the placeholder.
  bool OpenScheme(const std::string& path);

  // "&Open...": asks for a scheme file, then OpenScheme. False when cancelled
  // or failed.
  bool OpenWithDialog();

  // "&Save": writes to the path, or asks for one when there is none.
  bool SaveScheme();
  // "Save &As...": asks for a file name, then writes there.
  bool SaveSchemeAs();

  // Writes the Scheme to `path`, reports a failure in a message box, and makes
  // that file the document's file on success. The My Schemes list refreshes
  // either way.
  bool SaveTo(const std::string& path);

  // Asks "Save changes to %1?" when modified. Yes saves, No discards, Cancel
  // returns false.
  bool OnSaveModified() override;

  // The new-document step: no path, "No Scheme", empty lists, unmodified,
  // level + 1. Views are updated.
  bool OnNewDocument() override;
  // Reads the file; on failure shows its message and resets to the
  // placeholder (never keeps another file's path with emptied lists).
  bool OnOpenDocument(const wxString& path) override;
  bool OnSaveDocument(const wxString& path) override;
  // No views are created by the framework: the main frame makes the panes.
  bool OnCreate(const wxString& path, long flags) override;
  // Sets the title; the caption follows.
  void SetDocumentTitle(const wxString& title);
  void Modify(bool modified) override;

  // The text of the save prompt for this document's current state.
  wxString SavePromptText() const;

 private:
  void NotifyUpdated();
  wxWindow* DialogParent() const;

  CScheme m_scheme;
  int m_nOpenLevel = 0;
  IDocumentListener* m_listener = nullptr;

  wxDECLARE_DYNAMIC_CLASS(CTessarookDoc);
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_SCHEME_TESSAROOKDOC_H
