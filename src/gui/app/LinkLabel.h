// SPDX-License-Identifier: GPL-3.0-or-later
// A label that draws itself with its own font and colours, optionally with a
// raised 3-D copy of its text, and that can open its text as a web address or
// as a mail address when clicked.
#ifndef TESSAROOK_GUI_APP_LINKLABEL_H
#define TESSAROOK_GUI_APP_LINKLABEL_H

#include <wx/control.h>
#include <wx/cursor.h>
#include <wx/stattext.h>

#include <functional>

namespace tessarook {

class CLinkLabel : public wxControl {
 public:
  enum LinkMode { kNoLink = 0, kLink = 1, kMailLink = 2 };

  // `style` takes the label alignments (wxALIGN_LEFT, wxALIGN_CENTRE_HORIZONTAL,
  // wxALIGN_RIGHT) and wxST_NO_AUTORESIZE.
  CLinkLabel(wxWindow* parent, wxWindowID id, const wxString& text,
             const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
             long style = 0);

  // Setters: each redraws the label and returns it, so calls can be chained.
  CLinkLabel& SetFontName(const wxString& face);
  CLinkLabel& SetFontBold(bool bold);
  CLinkLabel& SetFontSize(int points);
  CLinkLabel& SetFontUnderline(bool underline);
  CLinkLabel& SetTextColor(const wxColour& colour);
  // Draws the text a second time in white, one pixel up and left (direction
  // 0, raised) or down and right (any other direction).
  CLinkLabel& SetText3D(bool on, int direction = 0);
  CLinkLabel& SetLink(bool on);
  CLinkLabel& SetMailLink(bool on);
  CLinkLabel& SetLinkCursor(const wxCursor& cursor);
  // A background of its own instead of the button face (until the system
  // colours change).
  CLinkLabel& SetBackgroundFill(const wxColour& colour);

  LinkMode GetLinkMode() const { return m_linkMode; }
  const wxColour& GetTextColor() const { return m_textColour; }
  const wxColour& GetBackgroundFill() const { return m_background; }
  bool IsText3D() const { return m_text3D; }
  const wxFont& GetLabelFont() const { return m_font; }

  // What a click opens: the text (link), "mailto:" + the text (mail link), or
  // nothing.
  wxString GetTargetUrl() const;

  // Opens addresses for every link label (the browser by default). Returns
  // the previous opener so tests can restore it.
  using Opener = std::function<bool(const wxString& url)>;
  static Opener SetOpener(Opener opener);

 protected:
  wxSize DoGetBestClientSize() const override;

 private:
  void OnPaint(wxPaintEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnSysColourChanged(wxSysColourChangedEvent& event);
  void OnSetCursor(wxSetCursorEvent& event);
  void Changed(bool fontChanged);

  wxColour m_textColour;
  wxColour m_3dColour;
  wxColour m_background;
  wxFont m_font;
  LinkMode m_linkMode = kNoLink;
  wxCursor m_linkCursor;
  bool m_text3D = false;
  int m_3dDirection = 0;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_APP_LINKLABEL_H
