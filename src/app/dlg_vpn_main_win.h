// The program's main window: the login form, Connect and Disconnect, the status line, the news
// lines and the service's web pages, drawn by the skin. Its decisions are MainWindowController's
// and its services are built by AppServices; this class creates the controls, turns window
// messages into controller calls and implements the controller's view.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/main_window_controller.h"
#include "app/tray_notify_icon_win.h"
#include "config/settings_store.h"
#include "framework/dialog_win.h"
#include "framework/message_box_win.h"
#include "framework/window_message_target_win.h"
#include "skin/skin_button_win.h"
#include "skin/skin_check_box_win.h"
#include "skin/skin_edit_win.h"
#include "skin/skin_layout_win.h"
#include "skin/skin_static_win.h"
#include "skin/skin_window_win.h"

class CDlgVpnMain : public CDialog, public MainWindowView, public CGeneralVpnCallbackInterface {
 public:
  static constexpr int kStatusLineId = main_window::kStatusLine;
  static constexpr int kUserNameId = 1001;
  static constexpr int kPasswordId = 1002;
  static constexpr UINT kTrayMessage = WM_USER + 1;
  static constexpr UINT kEngineMessage = WM_USER + 2;
  static constexpr UINT kHostMessage = WM_USER + 3;
  // The host's routes or interfaces changed (RouteChangeWatch).
  static constexpr UINT kRouteChangeMessage = WM_USER + 4;

  // `placement` keeps where the window was left; `tray` is the icon it shows and whose clicks
  // it passes on; `messageBox` shows its boxes.
  CDlgVpnMain(SettingsStore& placement, CTrayNotifyIcon& tray, MessageBoxFn messageBox);

  // Before the window runs: the controller it passes its messages to, and what runs once the
  // window exists, before the controller starts.
  void Attach(MainWindowController& controller, std::function<void(HWND)> onCreated);
  // Posts to the window's thread; usable before the window exists (posts fail until then).
  MessageTarget& messages() { return target_; }

  // What the news shows: the address the service saw, and the headline of one slot.
  void ShowClientAddress(const std::wstring& address);
  void ShowNewsSlot(int slot, const std::wstring& caption, const std::wstring& link);

  // Any thread: hands the report, with its status, to the window's thread.
  void OnVpnStateChanged(CGeneralVpn* vpn, const VpnStatus& status) override;

  // MainWindowView
  void SetStatus(const std::wstring& text, bool showBox) override;
  void ShowMessage(const std::wstring& text, MessageIcon icon) override;
  void SetExpiryText(const std::wstring& text) override;
  void OpenWebPage(const std::wstring& url) override;
  void EnableConnect(bool enable) override;
  void EnableDisconnect(bool enable) override;
  bool AskYesNo(const std::wstring& text, bool defaultNo) override;
  std::wstring UserName() override;
  std::wstring Password() override;
  bool SavePasswordChecked() override;
  void SetUserName(const std::wstring& text) override;
  void SetPassword(const std::wstring& text) override;
  void SetSavePasswordChecked(bool checked) override;
  std::wstring NewsLink(int slot) override;
  void ShowMainWindow() override;
  void HideMainWindow() override;
  void StartTimer(uint32_t id, uint32_t milliseconds) override;
  void StopTimer(uint32_t id) override;
  void CloseMainWindow() override;
  std::wstring BuildDate() override;
  void ShowAbout(const std::wstring& text) override;

 protected:
  bool OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool OnCommand(UINT id, UINT notifyCode) override;
  void OnTimer(UINT_PTR id) override;
  bool OnSysCommand(UINT command) override;
  void OnSize(UINT type, int cx, int cy) override;
  void LayoutForDpi(int dpi) override;
  void OnDestroy() override;
  void OnOK() override;
  void OnCancel() override;

 private:
  void PlaceWindow();
  void CreateControls();
  void LoadWindowIcons();
  void SetLabel(CSkinStatic& label, const std::wstring& text);

  struct EngineReport {
    const CGeneralVpn* engine;
    VpnStatus status;
  };
  // The window's side of kEngineMessage: the oldest report waiting.
  void DeliverEngineReports();

  SettingsStore& placement_;
  CTrayNotifyIcon& tray_;
  MessageBoxFn messageBox_;
  MainWindowController* controller_ = nullptr;
  std::function<void(HWND)> onCreated_;
  WindowMessageTarget target_;
  // Reports waiting for the window's thread; each posted kEngineMessage stands for one.
  std::mutex reportsMutex_;
  std::deque<EngineReport> reports_;

  CSkinEdit userName_;
  CSkinEdit password_;
  CSkinCheckBox savePassword_;
  CSkinButton connect_;
  CSkinButton disconnect_;
  CSkinStatic status_;
  CSkinButton purchase_{"ButtonPurchase"};
  CSkinButton register_{"ButtonReg"};
  CSkinButton freeTrial_{"ButtonFreeTrial"};
  CSkinButton help_{"ButtonHelp"};
  CSkinButton support_{"ButtonSupport"};
  std::vector<std::unique_ptr<CSkinButton>> news_;
  CSkinWindow frame_;
  CSkinStatic yourIpLabel_;
  CSkinStatic clientIp_;
  CSkinStatic expiryLabel_;
  CSkinStatic expiry_;
  CSkinStatic userNameLabel_;
  CSkinStatic passwordLabel_;
  CSkinButton forgotPassword_{"LinkButton"};
  CSkinLayout layout_;
  UniqueIcon bigIcon_;
  UniqueIcon smallIcon_;
};
