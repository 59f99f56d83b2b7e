#include "app/app_services_win.h"

#include <cstdlib>
#include <ctime>

#include "app/diagnostics_win.h"
#include "base/clock.h"
#include "policy/bind_catalog_win.h"
#include "service/adapter_list_win.h"
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
#include "vpn/traffic_guard_win.h"
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

AppServices::Parts::Parts(CApplication& app, const SystemOverrides& overrides,
                         const AppPaths& paths, ControllerRelay& relay)
    : log(SystemProgramDataFolder()),
      systemDialer(SystemUnless<RasDialer, RasApiDialer>(overrides.dialer)),
      systemRoutes(SystemUnless<RouteTable, IpHelperRouteTable>(overrides.routes)),
      systemIpv6Routes(SystemUnless<Ipv6RouteTable, IpHelperIpv6RouteTable>(overrides.ipv6Routes)),
      systemDnsGuard(SystemUnless<DnsGuard, WfpDnsGuard>(overrides.dnsGuard)),
      systemTrafficGuard(SystemUnless<TrafficGuard, WfpTrafficGuard>(overrides.trafficGuard)),
      dialer(overrides.dialer ? *overrides.dialer : *systemDialer),
      routes(overrides.routes ? *overrides.routes : *systemRoutes),
      responseRecord(SystemProgramDataFolder().FilePath(L"Kavrin.ini")),
      announcementFile(SystemProgramDataFolder().FilePath(L"KavrinAnns.ini")),
      settings(app, protection),
      programSettings(SystemPrivateProfile(), paths.modulePath),
      tray(overrides.traySystem ? *overrides.traySystem : SystemTray()),
      rasServices(SystemServiceControl(), SystemTickClock()),
      repairs(machineRegistry, OperatingSystemMajorVersion(),
              [&relay] { relay.DhcpSwitchedOff(); }),
      bind(overrides.bind ? *overrides.bind : systemBind),
      answers(SystemPrivateProfile()),
      policy(nullptr, answers, settings, bind, restarter, app.MessageBoxes()),
      engines(dialer, routes, SystemTickClock(),
              [this](const CGeneralVpn& engine) {
                return MakeEngineRouteServer(routes, SystemTickClock(), engine);
              },
              SystemProgramDataFolder().Owned() ? SystemRouteJournalPath() : std::wstring()),
      fetcher(app.MessageBoxes()),
      updateDownloader({}, app.MessageBoxes()),
      window(settings, tray, app.MessageBoxes()),
      update(OnlineUpdatePorts{.view = window,
                               .downloader = updateDownloader,
                               .launcher = launcher,
                               .signatures = signatures,
                               .version = version,
                               .settings = programSettings,
                               .exit = [&relay] { relay.Exit(); },
                               .downloadsAllowed = SystemProgramDataFolder().Owned(),
                               .log = [this](const std::wstring& text) { log.Write(text); }},
             OnlineUpdatePaths{.modulePath = paths.modulePath, .moduleFolder = paths.moduleFolder}),
      announcements(answers, announcementFile, update,
                    AnnouncementSinks{
                        .setStatus = [this](const std::wstring& text,
                                            bool showBox) { window.SetStatus(text, showBox); },
                        .showClientIp = [this](const std::wstring& ip) {
                          window.ShowClientAddress(ip);
                        },
                        .showSlot = [this](int slot, const std::wstring& caption,
                                           const std::wstring& link) {
                          window.ShowNewsSlot(slot, caption, link);
                        }}),
      probes(window.messages(), CDlgVpnMain::kHostMessage),
      logFiles(SystemProgramDataFolder().Owned()
                   ? FolderLogFiles(SystemProgramDataFolder().Path())
                   : nullptr),
      logWindow(ConnectionLogSources{
          .log = logFiles.get(),
          .diagnostics = [this, bindModule = paths.moduleFolder + kBindModuleFile] {
            SystemAdapterList adapters;
            SystemSocketCatalog catalog;
            DiagnosticsSources sources{
                .settings = settings,
                .loginHosts = programSettings.LoginHosts(ResourceString(IDS_DEFAULT_LOGIN_HOSTS)),
                .log = logFiles.get(),
                .bindModulePath = CatalogPathFor(bindModule),
                .adapters = adapters,
                .catalog = catalog};
            return FormatDiagnostics(GatherDiagnostics(sources));
          }}) {
  // Route mode 1 keeps IPv6 from going around the tunnel through this table.
  engines.SetIpv6RouteTable(overrides.ipv6Routes ? overrides.ipv6Routes : systemIpv6Routes.get());
  // And name lookups from going to the local network's resolver.
  engines.SetDnsGuard(overrides.dnsGuard ? overrides.dnsGuard : systemDnsGuard.get());
  // The engines' own words (the OpenVPN child's significant lines) come from their workers.
  engines.SetNote([this](const std::wstring& text) { log.Write(text); });
  KeepDataFolderFiles();
  const uint64_t v = version.CurrentVersion();
  std::wstring dotted;
  for (int shift = 48; shift >= 0; shift -= 16) {
    dotted += std::to_wstring((v >> shift) & 0xFFFF) + (shift != 0 ? L"." : L"");
  }
  log.Write(L"程序启动：版本 " + dotted + L"，" + paths.modulePath);
}

namespace {

MainWindowSettings SettingsOf(const std::wstring& responseRecord,
                              const std::wstring& announcementFile) {
  return {.builtInLoginHosts = ResourceString(IDS_DEFAULT_LOGIN_HOSTS),
          .referralTag = ResourceString(IDS_REFERRAL_TAG),
          .responseRecord = responseRecord,
          .announcementFile = announcementFile,
          .keepRecords = SystemProgramDataFolder().Owned()};
}

}  // namespace

AppServices::AppServices(CApplication& app, const SystemOverrides& overrides, const AppPaths& paths)
    : parts_(app, overrides, paths, relay_),
      controller_(
          MainWindowPorts{.view = parts_.window,
                          .settings = parts_.settings,
                          .programSettings = parts_.programSettings,
                          .tray = parts_.tray,
                          .rasServices = parts_.rasServices,
                          .repairs = parts_.repairs,
                          .machine = parts_.machine,
                          .announcements = parts_.announcements,
                          .bind = parts_.bind,
                          .probes = parts_.probes,
                          .fetcher = parts_.fetcher,
                          .update = parts_.update,
                          .policy = parts_.policy,
                          .engines = parts_.engines,
                          .random = [] { return std::rand(); },
                          .now = [] { return static_cast<int64_t>(std::time(nullptr)); },
                          .engineCallback = parts_.window,
                          .clock = SystemTickClock(),
                          .routeTable = &parts_.routes,
                          .sessionReports =
                              [this](const SessionReport& report) {
                                parts_.log.Write(SessionReportText(report));
                              },
                          .trafficGuard = overrides.trafficGuard ? overrides.trafficGuard
                                                                 : parts_.systemTrafficGuard.get(),
                          .openConnectionLog = [this] { parts_.logWindow.Open(); }},
          SettingsOf(parts_.responseRecord, parts_.announcementFile)) {
  relay_.Attach(&controller_);
  parts_.window.Attach(controller_, [this](HWND window) { parts_.OnWindowCreated(window); });
}

AppServices::~AppServices() { relay_.Attach(nullptr); }

void AppServices::Parts::KeepDataFolderFiles() {
  ProgramDataFolder& data = SystemProgramDataFolder();
  const std::wstring appList = data.FilePath(kAppListFileName);
  if (!data.Owned()) {
    // Nothing there is read or written this start; other programs get no application list.
    for (const std::wstring& file : {announcementFile, appList}) {
      answers.KeepOff(file);
    }
    return;
  }
  // The news file is rewritten on every race; a read-only copy would keep old news for ever.
  ResetFileAttributes(announcementFile);
  // What an earlier start kept is shown only from a file that is still ours alone.
  FolderSecurity& security = SystemFolderSecurityInstance();
  for (const wchar_t* name : {L"KavrinAnns.ini", kAppListFileName}) {
    const std::wstring file = data.FilePath(name);
    if (security.Inspect(file).exists && !IsOwnFileInOwnFolder(security, data.Path(), name)) {
      answers.Hold(file, "");
    }
  }
}

void AppServices::Parts::OnWindowCreated(HWND handle) {
  launcher.SetOwner(handle);
  restarter.SetOwner(handle);
  policy.SetOwner(handle);
  routeWatch.Start(handle, CDlgVpnMain::kRouteChangeMessage);
  logWindow.SetOwner(handle);
}
