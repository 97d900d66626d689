// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/DirPropsDlg.h"

#include <wx/button.h>
#include <wx/editlbox.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/stattext.h>

#include <string>
#include <vector>

#include "scheme/Exclusions.h"

namespace tessarook {

CDirPropsDlg::CDirPropsDlg(wxWindow* parent, const wxString& title, CSchemeFolder& folder)
    : wxDialog(parent, wxID_ANY, title), m_folder(folder) {
  const int width = FromDIP(280);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* intro = new wxStaticText(
      this, wxID_ANY,
      "Files with the following extensions will not be included in backups of this folder:");
  intro->Wrap(width);
  sizer->Add(intro, 0, wxALL, FromDIP(10));

  m_listEdit = new wxEditableListBox(this, ID_LIST_EDIT, "Options:", wxDefaultPosition,
                                     wxSize(width, FromDIP(160)));
  wxArrayString items;
  for (const std::string& extension : m_folder.m_excludedExtensions)
    items.Add(wxString::FromUTF8(extension.data(), extension.size()));
  m_listEdit->SetStrings(items);
  sizer->Add(m_listEdit, 1, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(10));

  auto* example = new wxStaticText(
      this, wxID_ANY,
      "For example, enter \"txt\" or \".txt\" (without quotes) to exclude all text files");
  example->Wrap(width);
  sizer->Add(example, 0, wxALL, FromDIP(10));
  sizer->Add(new wxStaticLine(this), 0, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(10));

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* ok = new wxButton(this, wxID_OK, "OK");
  ok->SetDefault();
  buttons->Add(ok, 1, wxRIGHT, FromDIP(10));
  buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"), 1);
  sizer->Add(buttons, 0, wxEXPAND | wxALL, FromDIP(10));
  SetSizerAndFit(sizer);
  CentreOnParent();
}

bool CDirPropsDlg::TransferDataFromWindow() {
  if (!wxDialog::TransferDataFromWindow()) return false;
  wxArrayString items;
  m_listEdit->GetStrings(items);
  std::vector<std::string> typed;
  typed.reserve(items.size());
  for (const wxString& item : items) typed.push_back(item.utf8_string());
  m_folder.m_excludedExtensions = NormalizeExcludedExtensions(typed);
  return true;
}

}  // namespace tessarook
