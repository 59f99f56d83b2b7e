// A plain notification-area icon for the main window: the picture, the tip, balloon notes and
// the menu on a right click. Re-adding it after the taskbar restarts comes later.
#pragma once

#include <windows.h>
// Needs the types of <windows.h>.
#include <shellapi.h>

#include <string>

#include "app/main_window_ports.h"

class NotifyAreaIcon : public TrayIcon {
 public:
  static constexpr UINT kIconId = 1;

  NotifyAreaIcon() = default;
  ~NotifyAreaIcon() override { Remove(); }
  NotifyAreaIcon(const NotifyAreaIcon&) = delete;
  NotifyAreaIcon& operator=(const NotifyAreaIcon&) = delete;

  // Adds the icon; its mouse messages arrive at `owner` as `callbackMessage`.
  bool Add(HWND owner, UINT callbackMessage, UINT iconResource, const std::wstring& tip);
  void Remove();

  void SetIcon(uint32_t iconId) override;
  void ShowBalloon(const std::wstring& text) override;

  // The tray menu (menu resource `menuId`, first submenu) at the cursor; its commands go to the
  // owner. Returns false when there is no icon.
  bool ShowMenu(UINT menuId);

 private:
  NOTIFYICONDATAW data_ = {};
  bool added_ = false;
  uint32_t iconResource_ = 0;
};
