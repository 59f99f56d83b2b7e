// Where the program is put together: every service the main window works with, built once at
// start-up, the window, and the controller that is handed them. Nothing else builds services or
// looks them up; what a window needs is passed to it from here.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/adapter_repairs.h"
#include "config/machine_registry_win.h"
#include "app/app_paths.h"
#include "app/system_overrides.h"
#include "app/dlg_vpn_main_win.h"
#include "service/http_host_probe.h"
#include "app/main_window_controller.h"
#include "app/tray_notify_icon_win.h"
#include "app/route_change_watch_win.h"
#include "app/vpn_engine_factory_win.h"
#include "config/data_protection_win.h"
#include "config/memory_overlay_profile.h"
#include "config/program_settings.h"
#include "framework/application_win.h"
#include "config/settings_store.h"
#include "policy/bind_module_win.h"
#include "app/blocked_operation_runner_win.h"
#include "policy/dialog_policy_chooser_win.h"
#include "service/announcements.h"
#include "service/dlg_download_win.h"
#include "service/dlg_online_update_win.h"
#include "service/online_update_win.h"
#include "vpn/service_control_win.h"

// The machine's identity as the system reports it.
class SystemMachineIdentity : public MachineIdentity {
 public:
  bool IsWindows2000() override;
  ClientIdentity Read(bool withBios) override;
};

class AppServices {
 public:
  // `app` holds the user's settings in its registry profile and shows the program's boxes.
  AppServices(CApplication& app, const SystemOverrides& overrides, const AppPaths& paths);
  ~AppServices();
  AppServices(const AppServices&) = delete;
  AppServices& operator=(const AppServices&) = delete;

  CDlgVpnMain& window() { return window_; }

 private:
  // The window exists: the services that own dialogs and boxes get it as their owner.
  void OnWindowCreated(HWND window);
  // What of the data folder may be read and written this start.
  void KeepDataFolderFiles();

  std::unique_ptr<RasDialer> systemDialer_;
  std::unique_ptr<RouteTable> systemRoutes_;
  std::unique_ptr<Ipv6RouteTable> systemIpv6Routes_;
  std::unique_ptr<DnsGuard> systemDnsGuard_;
  RasDialer& dialer_;
  RouteTable& routes_;
  std::wstring responseRecord_;
  std::wstring announcementFile_;

  DpapiDataProtection protection_;
  SettingsStore settings_;
  ProgramSettings programSettings_;
  CTrayNotifyIcon tray_;
  DialUpServiceStarter rasServices_;
  LocalMachineRegistry machineRegistry_;
  RegistryAdapterRepairs repairs_;
  SystemMachineIdentity machine_;
  SystemBindModule systemBind_;
  BindModule& bind_;
  DialogBlockedOperationRunner restarter_;
  DialogPolicyChooser policy_;
  VpnEngineFactory engines_;
  DownloadDialogFetcher fetcher_;
  DialogUpdateDownloader updateDownloader_;
  ShellProgramLauncher launcher_;
  ExecutableVersionSource version_;
  // The answers as received (the files are only their record), and the data folder's files
  // kept off when the folder is not ours; the login, the policy dialog, the news and the update
  // check all read through it.
  MemoryOverlayProfile answers_;

  CDlgVpnMain window_;
  OnlineUpdate update_;
  AnnouncementBoard announcements_;
  HttpHostProbeFactory probes_;
  RouteChangeWatch routeWatch_;
  // Last: it holds references to everything above, and goes first.
  std::unique_ptr<MainWindowController> controller_;
};
