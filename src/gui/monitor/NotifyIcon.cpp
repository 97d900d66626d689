// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/NotifyIcon.h"

#include <wx/menu.h>
#include <wx/window.h>

#include "app/CommandIds.h"

namespace tessarook {

CNotifyIcon::CNotifyIcon(wxWindow* owner, unsigned iconId, const wxBitmapBundle& icon,
                         const wxString& tooltip, bool withMenu)
    : m_owner(owner),
      m_iconId(iconId),
      m_tooltip(tooltip.Left(kMaxTooltipChars)),
      m_withMenu(withMenu) {
  Bind(wxEVT_MENU, &CNotifyIcon::OnMenu, this);
  // A left click (or double click) brings the window back, as "&Show Tessarook" does.
  if (withMenu) {
    Bind(wxEVT_TASKBAR_LEFT_UP, &CNotifyIcon::OnActivate, this);
    Bind(wxEVT_TASKBAR_LEFT_DCLICK, &CNotifyIcon::OnActivate, this);
  }
  ChangeIcon(icon);
}

CNotifyIcon::~CNotifyIcon() { Remove(); }

wxString CNotifyIcon::GetShellTooltip() const { return m_tooltip.Left(kMaxShellTooltipChars); }

bool CNotifyIcon::ChangeIcon(const wxBitmapBundle& icon, const wxString* tooltip) {
  if (!m_owner || !icon.IsOk()) return false;
  m_icon = icon;
  if (tooltip) m_tooltip = tooltip->Left(kMaxTooltipChars);
  return Add();
}

bool CNotifyIcon::Add() {
  m_shown = false;
  if (!m_owner || !m_icon.IsOk()) return false;
  // Without a notification area the toolkit would wait for one forever.
  if (!wxTaskBarIcon::IsAvailable()) return false;
  m_shown = SetIcon(m_icon, GetShellTooltip());
  return m_shown;
}

bool CNotifyIcon::Remove() {
  const bool removed = !IsIconInstalled() || RemoveIcon();
  m_shown = !removed;
  return removed;
}

wxMenu* CNotifyIcon::BuildMenu() {
  auto* menu = new wxMenu;
  menu->Append(ID_TRAY_SHOW, "&Show Tessarook");
  menu->Append(ID_TRAY_CLOSE, "&Close Tessarook");
  menu->AppendSeparator();
  menu->Append(ID_NEW_BACKUP, "&New Backup...");
  if (m_owner) menu->UpdateUI(m_owner->GetEventHandler());
  return menu;
}

wxMenu* CNotifyIcon::CreatePopupMenu() { return m_withMenu ? BuildMenu() : nullptr; }

void CNotifyIcon::OnActivate(wxTaskBarIconEvent&) {
  wxCommandEvent show(wxEVT_MENU, ID_TRAY_SHOW);
  OnMenu(show);
}

void CNotifyIcon::OnMenu(wxCommandEvent& event) {
  // Queued, so the owner may destroy this icon while handling the command.
  if (!m_owner) return;
  wxCommandEvent forwarded(wxEVT_MENU, event.GetId());
  forwarded.SetEventObject(m_owner);
  wxPostEvent(m_owner->GetEventHandler(), forwarded);
}

}  // namespace tessarook
