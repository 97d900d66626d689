// SPDX-License-Identifier: GPL-3.0-or-later
// One icon with a tooltip in the notification area, with the tray menu.
#ifndef TESSAROOK_GUI_MONITOR_NOTIFYICON_H
#define TESSAROOK_GUI_MONITOR_NOTIFYICON_H

#include <wx/bmpbndl.h>
#include <wx/taskbar.h>
#include <wx/weakref.h>

namespace tessarook {

// The icon adds itself when constructed and leaves the notification area when
// destroyed (use Destroy() from inside its own events). Its menu's commands
// go to the owner window; the owner's update handlers decide which are
// enabled. With the menu, a left click asks the owner to show itself
// ("&Show Tessarook"), as a notification-area icon is expected to.
class CNotifyIcon : public wxTaskBarIcon {
 public:
  CNotifyIcon(wxWindow* owner, unsigned iconId, const wxBitmapBundle& icon, const wxString& tooltip,
              bool withMenu);
  ~CNotifyIcon() override;

  // Replaces the icon and, when given, the tooltip, then shows it again.
  // False when the owner is gone or the icon is not usable.
  bool ChangeIcon(const wxBitmapBundle& icon, const wxString* tooltip = nullptr);
  // Puts the icon into the notification area; false when it was refused.
  bool Add();
  // Takes it out.
  bool Remove();

  bool IsShown() const { return m_shown; }
  unsigned GetIconId() const { return m_iconId; }
  // The whole tooltip as given.
  const wxString& GetTooltip() const { return m_tooltip; }
  // What the notification area is given: at most 63 characters.
  wxString GetShellTooltip() const;

  // The tray menu ("&Show Tessarook", "&Close Tessarook", "&New Backup..."),
  // updated by the owner. The caller owns it.
  wxMenu* BuildMenu();

  static constexpr size_t kMaxTooltipChars = 255;
  static constexpr size_t kMaxShellTooltipChars = 63;

 protected:
  wxMenu* CreatePopupMenu() override;

 private:
  void OnMenu(wxCommandEvent& event);
  void OnActivate(wxTaskBarIconEvent& event);

  wxWeakRef<wxWindow> m_owner;
  unsigned m_iconId;
  wxBitmapBundle m_icon;
  wxString m_tooltip;
  bool m_withMenu;
  bool m_shown = false;
};

}  // namespace tessarook

#endif  // TESSAROOK_GUI_MONITOR_NOTIFYICON_H
