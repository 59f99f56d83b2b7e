// The program's icon in the notification area: the picture, the tip, balloon notes, the tray
// menu (menu resource 128), and its return after the shell's taskbar has been re-created.
//
// CTrayIconHooker subclasses the owner's top-level window so the icon hears "TaskbarCreated"
// and the window's destruction. Windows are found again through a map from window to hook
// rather than generated code, so no memory is ever both writable and executable.
#pragma once

#include <windows.h>
// Needs the types of <windows.h>.
#include <shellapi.h>

#include <string>

#include "app/main_window_ports.h"
#include "base/unique_handle_win.h"
#include "resource.h"

// What the icon asks of the system: the shell's notification area and the program's
// resources. Tests put in their own to see every call.
class TraySystem {
 public:
  virtual ~TraySystem() = default;
  // Major version of the shell (shell32.dll), 4 when it does not say.
  virtual DWORD ShellMajorVersion() = 0;
  virtual bool NotifyIcon(DWORD message, NOTIFYICONDATAW& data) = 0;
  virtual HMENU LoadMenuResource(UINT id) = 0;
  // The icon at the small-icon size (16 by 16 at 96 DPI), or the resource's own size when that
  // fails. `owned` tells whether the caller has to destroy it. Null when there is no such icon.
  virtual HICON LoadIconResource(UINT id, bool& owned) = 0;
  // Lets `message` reach `window` from programs with fewer rights (the shell, when this program
  // runs elevated). Silently nothing where the system has no message filter.
  virtual void AllowMessageFromLowerRights(HWND window, UINT message) = 0;
  // Where the shell shows the icon `data` names, in screen coordinates
  // (Shell_NotifyIconGetRect, Windows 7 and later). False when the shell cannot say.
  virtual bool IconRect(const NOTIFYICONDATAW& data, RECT& rect) = 0;
  virtual POINT CursorPosition() = 0;
};

// The system's shell and the program's resources.
TraySystem& SystemTray();

// The size field of the icon data that a shell of `majorVersion` understands: 952, 936 or 152.
DWORD TrayIconDataSize(DWORD majorVersion);

class CTrayNotifyIcon;

class CTrayIconHooker {
 public:
  explicit CTrayIconHooker(CTrayNotifyIcon& icon) : icon_(icon) {}
  virtual ~CTrayIconHooker();
  CTrayIconHooker(const CTrayIconHooker&) = delete;
  CTrayIconHooker& operator=(const CTrayIconHooker&) = delete;

  // Fails for a window of another thread, or one another hooker holds.
  bool Hook(HWND window);
  // Puts the previous window procedure back only while the window still uses the hook's; a
  // procedure someone installed on top keeps working, its calls passed through to the previous
  // one.
  void Unhook();

 protected:
  // True when handled; `result` is then the message's result.
  virtual bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    LRESULT& result);
  // After the window is gone and the last of its messages has been handled.
  virtual void OnFinalMessage(HWND) {}

 private:
  static constexpr unsigned kWindowDestroyed = 1;

  static LRESULT CALLBACK HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT WindowProc(HWND window, WNDPROC previous, UINT message, WPARAM wParam, LPARAM lParam);
  void Forget();

  HWND window_ = nullptr;
  // Messages being handled, for nested ones: the window is forgotten after the outermost.
  int depth_ = 0;
  unsigned state_ = 0;
  CTrayNotifyIcon& icon_;
};

class CTrayNotifyIcon : public TrayIcon {
 public:
  static constexpr UINT kIconId = 1;
  static constexpr UINT kCallbackMessage = WM_USER + 1;
  static constexpr UINT kMenuId = IDR_TRAY_MENU;
  static constexpr UINT kBalloonTimeoutMs = 5000;

  explicit CTrayNotifyIcon(TraySystem& system = SystemTray());
  virtual ~CTrayNotifyIcon();
  CTrayNotifyIcon(const CTrayNotifyIcon&) = delete;
  CTrayNotifyIcon& operator=(const CTrayNotifyIcon&) = delete;

  // Adds the icon with `icon` (which the caller keeps). Fails without adding anything when
  // the menu or the hook cannot be had. When only the shell refuses (it may not be up yet),
  // the hook stays and the icon appears once the taskbar is created.
  bool Create(HWND owner, HICON icon);
  // The same with the icon resource `iconId`.
  bool CreateWithIconResource(HWND owner, UINT iconId);
  // `icon` stays the caller's.
  void SetIconHandle(HICON icon);
  // TrayIcon: the icon resource `iconId` at the small-icon size. A resource that cannot be
  // loaded leaves the picture as it is.
  void SetIcon(uint32_t iconId) override;
  void ShowBalloon(const std::wstring& text) override;
  void SetTip(const std::wstring& text) override;
  void SetMenuItem(uint32_t id, const std::wstring& text, bool checked) override;
  bool Shown() const override { return created_; }
  void Remove();
  // The callback message's icon id and mouse message. True when handled: the menu on a right
  // click, the default item on a double click. The message filter lets the callback in from
  // every program with fewer rights, sandboxed ones too, so the menu opens only while the
  // cursor is on the icon where the shell itself says it is: a program that only posts the
  // message does not get the elevated menu up.
  virtual bool OnTrayNotification(UINT iconId, UINT mouseMessage);

  bool created() const { return created_; }
  bool hidden() const { return hidden_; }
  const NOTIFYICONDATAW& data() const { return data_; }
  HMENU popup() const { return menu_ ? GetSubMenu(menu_.get(), 0) : nullptr; }

 private:
  friend class CTrayIconHooker;

  bool AddToShell();
  void OnTaskbarCreated();
  // Takes over an icon this object loaded, freeing the one it had.
  void KeepLoadedIcon(HICON icon, bool owned);

  TraySystem& system_;
  NOTIFYICONDATAW data_ = {};
  bool created_ = false;
  bool hidden_ = false;
  HWND owner_ = nullptr;
  CTrayIconHooker hooker_{*this};
  UniqueMenu menu_;
  // The shell may ask for the picture again after a restart of the taskbar, so a picture this
  // object loaded lives until it is replaced.
  UniqueIcon ownedIcon_;
  // The resource shown, so the connection watch's setting of the same picture every second
  // costs nothing; 0 for a picture given by handle.
  uint32_t iconResource_ = 0;
};
