// Where the program is put together: every service the main window works with, built once at
// start-up, the window, and the controller that is handed them. Nothing else builds services or
// looks them up; what a window needs is passed to it from here.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/adapter_repairs.h"
#include "app/connection_log.h"
#include "config/machine_registry_win.h"
#include "app/app_paths.h"
#include "app/system_overrides.h"
#include "app/dlg_vpn_main_win.h"
#include "app/dlg_connection_log_win.h"
#include "app/log_tail.h"
#include "service/http_host_probe.h"
#include "app/main_window_controller.h"
#include "app/tray_notify_icon_win.h"
#include "app/user_shell_win.h"
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
#include "service/update_signature_win.h"
#include "vpn/service_control_win.h"

// The machine's identity as the system reports it.
class SystemMachineIdentity : public MachineIdentity {
 public:
  bool IsWindows2000() override;
  ClientIdentity Read(bool withBios) override;
};

// The one way a service built before the controller calls into it. It is built before every
// service, so their callbacks name something that exists; the controller is attached once it is
// built and detached before it goes. A call while none is attached goes nowhere: nothing runs
// before the window, so none is expected.
class ControllerRelay {
 public:
  void Attach(MainWindowController* controller) { controller_ = controller; }
  void Exit() {
    if (controller_) controller_->Exit();
  }
  void DhcpSwitchedOff() {
    if (controller_) controller_->OnDhcpSwitchedOff();
  }

 private:
  MainWindowController* controller_ = nullptr;
};

// Built in two phases the compiler keeps apart: `Parts`, every service and the window, whose
// constructor is handed the relay and never the controller, so nothing in it can call a part
// not yet built; then the controller, built from the parts as the last member and so destroyed
// first. Inside `Parts` each member is built from members declared above it.
class AppServices {
 public:
  // `app` holds the user's settings in its registry profile and shows the program's boxes.
  AppServices(CApplication& app, const SystemOverrides& overrides, const AppPaths& paths);
  ~AppServices();
  AppServices(const AppServices&) = delete;
  AppServices& operator=(const AppServices&) = delete;

  CDlgVpnMain& window() { return parts_.window; }

 private:
  struct Parts {
    Parts(CApplication& app, const SystemOverrides& overrides, const AppPaths& paths,
          ControllerRelay& relay);
    // The window exists: the services that own dialogs and boxes get it as their owner.
    void OnWindowCreated(HWND window);
    // What of the data folder may be read and written this start.
    void KeepDataFolderFiles();

    // First, so every part may write to it, and last to go: what was queued is written.
    ConnectionLog log;
    std::unique_ptr<RasDialer> systemDialer;
    std::unique_ptr<RouteTable> systemRoutes;
    std::unique_ptr<Ipv6RouteTable> systemIpv6Routes;
    std::unique_ptr<DnsGuard> systemDnsGuard;
    std::unique_ptr<TrafficGuard> systemTrafficGuard;
    RasDialer& dialer;
    RouteTable& routes;
    std::wstring responseRecord;
    std::wstring announcementFile;

    DpapiDataProtection protection;
    SettingsStore settings;
    ProgramSettings programSettings;
    CTrayNotifyIcon tray;
    DialUpServiceStarter rasServices;
    LocalMachineRegistry machineRegistry;
    RegistryAdapterRepairs repairs;
    SystemMachineIdentity machine;
    SystemBindModule systemBind;
    BindModule& bind;
    DialogBlockedOperationRunner restarter;
    // The answers as received (the files are only their record), and the data folder's files
    // kept off when the folder is not ours; the login, the policy dialog, the news and the
    // update check all read through it.
    MemoryOverlayProfile answers;
    DialogPolicyChooser policy;
    VpnEngineFactory engines;
    DownloadDialogFetcher fetcher;
    DialogUpdateDownloader updateDownloader;
    // The package runs with our rights; the update page opens as the signed-in user.
    ShellProgramLauncher launcher{OpenWebPageAsUser};
    AuthenticodeVerifier signatures;
    ExecutableVersionSource version;

    CDlgVpnMain window;
    OnlineUpdate update;
    AnnouncementBoard announcements;
    HttpHostProbeFactory probes;
    RouteChangeWatch routeWatch;
    // The connection log's files, none when the data folder is not ours, and its window.
    std::unique_ptr<LogFiles> logFiles;
    ConnectionLogWindow logWindow;
  };

  ControllerRelay relay_;
  Parts parts_;
  MainWindowController controller_;
};
