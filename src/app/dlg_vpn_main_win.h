// The program's main window: the login form, Connect and Disconnect, the status line, the news
// lines and the service's web pages, drawn by the skin. Its decisions are MainWindowController's;
// this class creates the controls, turns window messages into controller calls and implements
// the controller's view.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/adapter_repairs.h"
#include "app/blocked_operation_runner_win.h"
#include "app/main_window_controller.h"
#include "app/tray_notify_icon_win.h"
#include "app/vpn_engine_factory_win.h"
#include "config/data_protection_win.h"
#include "config/machine_registry_win.h"
#include "config/program_settings.h"
#include "config/settings_store.h"
#include "framework/dialog_win.h"
#include "framework/window_message_target_win.h"
#include "policy/bind_module_win.h"
#include "policy/dialog_policy_chooser_win.h"
#include "service/announcements.h"
#include "service/dlg_download_win.h"
#include "service/dlg_online_update_win.h"
#include "service/http_host_probe.h"
#include "service/online_update_win.h"
#include "skin/skin_button_win.h"
#include "skin/skin_check_box_win.h"
#include "skin/skin_edit_win.h"
#include "skin/skin_static_win.h"
#include "skin/skin_window_win.h"
#include "vpn/ras_dialer.h"
#include "vpn/ipv6_route_table.h"
#include "vpn/route_table.h"
#include "vpn/service_control_win.h"

// What a build of the program may put in place of the system's pieces. Null means the
// system's own.
struct MainWindowOptions {
  RasDialer* dialer = nullptr;
  RouteTable* routes = nullptr;
  Ipv6RouteTable* ipv6Routes = nullptr;
  // The notification area; the shell's when null.
  TraySystem* traySystem = nullptr;
  // The binding module as the window starts and stops it; the system's when null.
  BindModule* bind = nullptr;
};

class CDlgVpnMain : public CDialog, public MainWindowView, public CGeneralVpnCallbackInterface {
 public:
  static constexpr int kStatusLineId = main_window::kStatusLine;
  static constexpr int kUserNameId = 1001;
  static constexpr int kPasswordId = 1002;
  static constexpr UINT kTrayMessage = WM_USER + 1;
  static constexpr UINT kEngineMessage = WM_USER + 2;
  static constexpr UINT kHostMessage = WM_USER + 3;

  explicit CDlgVpnMain(const MainWindowOptions& options = {});
  ~CDlgVpnMain() override;

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
  bool PumpOneMessage() override;
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
  void OnDestroy() override;
  void OnOK() override;
  void OnCancel() override;

 private:
  void PlaceWindow();
  void CreateControls();
  void ShowNewsSlot(int slot, const std::wstring& caption, const std::wstring& link);
  void SetLabel(CSkinStatic& label, const std::wstring& text);

  struct EngineReport {
    const CGeneralVpn* engine;
    VpnStatus status;
  };
  // The window's side of kEngineMessage: the oldest report waiting.
  void DeliverEngineReports();

  MainWindowOptions options_;
  WindowMessageTarget target_;
  // Reports waiting for the window's thread; each posted kEngineMessage stands for one.
  std::mutex reportsMutex_;
  std::deque<EngineReport> reports_;
  std::wstring responseFile_;
  std::wstring announcementFile_;

  std::unique_ptr<RasDialer> systemDialer_;
  std::unique_ptr<RouteTable> systemRoutes_;
  std::unique_ptr<Ipv6RouteTable> systemIpv6Routes_;
  DpapiDataProtection protection_;
  std::unique_ptr<SettingsStore> settings_;
  std::unique_ptr<ProgramSettings> programSettings_;
  CTrayNotifyIcon trayIcon_{options_.traySystem ? *options_.traySystem : SystemTray()};
  DialUpServiceStarter rasServices_{SystemServiceControl(), SystemTickClock()};
  LocalMachineRegistry machineRegistry_;
  std::unique_ptr<RegistryAdapterRepairs> repairs_;
  DialogUpdateDownloader updateDownloader_;
  ShellProgramLauncher launcher_;
  ExecutableVersionSource version_;
  std::unique_ptr<OnlineUpdate> update_;
  // The news answer when its file cannot be written; the update check reads through it too.
  MemoryOverlayProfile answers_{SystemPrivateProfile()};
  std::unique_ptr<AnnouncementBoard> announcements_;
  SystemBindModule bind_;
  std::unique_ptr<HttpHostProbeFactory> probes_;
  DownloadDialogFetcher fetcher_;
  DialogBlockedOperationRunner restarter_;
  std::unique_ptr<DialogPolicyChooser> policy_;
  std::unique_ptr<VpnEngineFactory> engines_;

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
  HICON icon_ = nullptr;

  // Last: it holds references to everything above.
  std::unique_ptr<MainWindowController> controller_;
};
