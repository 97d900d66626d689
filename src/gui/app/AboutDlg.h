// SPDX-License-Identifier: GPL-3.0-or-later
// "About Tessarook": name, version, origin, web site and mail address.
#ifndef TESSAROOK_GUI_APP_ABOUTDLG_H
#define TESSAROOK_GUI_APP_ABOUTDLG_H

#include <wx/dialog.h>

namespace tessarook {

class CLinkLabel;

class CAboutDlg : public wxDialog {
 public:
  explicit CAboutDlg(wxWindow* parent);

  CLinkLabel* GetVersionLabel() const { return m_version; }
  CLinkLabel* GetOriginLabel() const { return m_origin; }
  CLinkLabel* GetWebLabel() const { return m_web; }
  CLinkLabel* GetMailLabel() const { return m_mail; }

  static const char* WebAddress();
  static const char* MailAddress();

 private:
  CLinkLabel* m_version;
  CLinkLabel* m_origin;
  CLinkLabel* m_web;
  CLinkLabel* m_mail;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_APP_ABOUTDLG_H
