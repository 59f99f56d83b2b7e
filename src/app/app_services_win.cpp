#include "app/app_services_win.h"

#include <cstdlib>
#include <ctime>

#include "base/clock.h"
#include "base/file_attributes.h"
#include "config/private_profile.h"
#include "config/program_data_folder.h"
#include "config/program_data_folder_win.h"
#include "policy/app_list.h"
#include "vpn/route_journal.h"
#include "config/machine_registry_win.h"
#include "resource.h"
#include "service/client_identification_win.h"
#include "vpn/dns_guard_win.h"
#include "vpn/ipv6_route_table_win.h"
#include "vpn/ras_dialer_win.h"
#include "vpn/route_request_pipe_server_win.h"
#include "vpn/route_table_win.h"

namespace {

std::wstring ResourceString(UINT id) {
  const wchar_t* text = nullptr;
  const int length =
      LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
  return length > 0 && text ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

template <typename Port, typename System>
std::unique_ptr<Port> SystemUnless(Port* given) {
  return given ? nullptr : std::make_unique<System>();
}

}  // namespace

bool SystemMachineIdentity::IsWindows2000() {
  const DWORD version = GetVersion();
  return LOBYTE(LOWORD(version)) == 5 && HIBYTE(LOWORD(version)) == 0;
}

ClientIdentity SystemMachineIdentity::Read(bool withBios) {
  const ClientIdentification ids = ComputeSystemClientIdentification(withBios);
  return {ids.bios, ids.disk, ids.adapters};
}

AppServices::AppServices(CApplication& app, const SystemOverrides& overrides, const AppPaths& paths)
    : systemDialer_(SystemUnless<RasDialer, RasApiDialer>(overrides.dialer)),
      systemRoutes_(SystemUnless<RouteTable, IpHelperRouteTable>(overrides.routes)),
      systemIpv6Routes_(SystemUnless<Ipv6RouteTable, IpHelperIpv6RouteTable>(overrides.ipv6Routes)),
      systemDnsGuard_(SystemUnless<DnsGuard, WfpDnsGuard>(overrides.dnsGuard)),
      dialer_(overrides.dialer ? *overrides.dialer : *systemDialer_),
      routes_(overrides.routes ? *overrides.routes : *systemRoutes_),
      responseRecord_(SystemProgramDataFolder().FilePath(L"Kavrin.ini")),
      announcementFile_(SystemProgramDataFolder().FilePath(L"KavrinAnns.ini")),
      settings_(app, protection_),
      programSettings_(SystemPrivateProfile(), paths.modulePath),
      tray_(overrides.traySystem ? *overrides.traySystem : SystemTray()),
      rasServices_(SystemServiceControl(), SystemTickClock()),
      repairs_(machineRegistry_, OperatingSystemMajorVersion(),
               [this] { controller_->OnDhcpSwitchedOff(); }),
      bind_(overrides.bind ? *overrides.bind : systemBind_),
      policy_(nullptr, answers_, settings_, bind_, restarter_, app.MessageBoxes()),
      engines_(dialer_, routes_, SystemTickClock(),
               [this](const CGeneralVpn& engine) {
                 return MakeEngineRouteServer(routes_, SystemTickClock(), engine);
               },
               SystemProgramDataFolder().Owned() ? SystemRouteJournalPath() : std::wstring()),
      fetcher_(app.MessageBoxes()),
      updateDownloader_({}, app.MessageBoxes()),
      answers_(SystemPrivateProfile()),
      window_(settings_, tray_, app.MessageBoxes()),
      update_(OnlineUpdatePorts{window_, updateDownloader_, launcher_, version_, programSettings_,
                                [this] { controller_->Exit(); }, SystemProgramDataFolder().Owned()},
              OnlineUpdatePaths{paths.modulePath, paths.moduleFolder}),
      announcements_(
          answers_, announcementFile_, update_,
          AnnouncementSinks{
              [this](const std::wstring& text, bool showBox) { window_.SetStatus(text, showBox); },
              [this](const std::wstring& ip) { window_.ShowClientAddress(ip); },
              [this](int slot, const std::wstring& caption, const std::wstring& link) {
                window_.ShowNewsSlot(slot, caption, link);
              }}),
      probes_(window_.messages(), CDlgVpnMain::kHostMessage) {
  // Route mode 1 keeps IPv6 from going around the tunnel through this table.
  engines_.SetIpv6RouteTable(overrides.ipv6Routes ? overrides.ipv6Routes : systemIpv6Routes_.get());
  // And name lookups from going to the local network's resolver.
  engines_.SetDnsGuard(overrides.dnsGuard ? overrides.dnsGuard : systemDnsGuard_.get());
  KeepDataFolderFiles();

  MainWindowPorts ports{window_,
                        settings_,
                        programSettings_,
                        tray_,
                        rasServices_,
                        repairs_,
                        machine_,
                        announcements_,
                        bind_,
                        probes_,
                        fetcher_,
                        update_,
                        policy_,
                        engines_,
                        [] { return std::rand(); },
                        [] { return static_cast<int64_t>(std::time(nullptr)); },
                        window_,
                        SystemTickClock(),
                        &routes_};
  MainWindowSettings settings;
  settings.builtInLoginHosts = ResourceString(IDS_DEFAULT_LOGIN_HOSTS);
  settings.referralTag = ResourceString(IDS_REFERRAL_TAG);
  settings.responseRecord = responseRecord_;
  settings.announcementFile = announcementFile_;
  settings.keepRecords = SystemProgramDataFolder().Owned();
  controller_ = std::make_unique<MainWindowController>(std::move(ports), std::move(settings));
  window_.Attach(*controller_, [this](HWND window) { OnWindowCreated(window); });
}

AppServices::~AppServices() { controller_.reset(); }

void AppServices::KeepDataFolderFiles() {
  ProgramDataFolder& data = SystemProgramDataFolder();
  const std::wstring appList = data.FilePath(kAppListFileName);
  if (!data.Owned()) {
    // Nothing there is read or written this start; other programs get no application list.
    for (const std::wstring& file : {announcementFile_, appList}) {
      answers_.KeepOff(file);
    }
    return;
  }
  // The news file is rewritten on every race; a read-only copy would keep old news for ever.
  ResetFileAttributes(announcementFile_);
  // What an earlier start kept is shown only from a file that is still ours alone.
  FolderSecurity& security = SystemFolderSecurityInstance();
  for (const wchar_t* name : {L"KavrinAnns.ini", kAppListFileName}) {
    const std::wstring file = data.FilePath(name);
    if (security.Inspect(file).exists && !IsOwnFileInOwnFolder(security, data.Path(), name)) {
      answers_.Hold(file, "");
    }
  }
}

void AppServices::OnWindowCreated(HWND window) {
  launcher_.SetOwner(window);
  restarter_.SetOwner(window);
  policy_.SetOwner(window);
  routeWatch_.Start(window, CDlgVpnMain::kRouteChangeMessage);
}
