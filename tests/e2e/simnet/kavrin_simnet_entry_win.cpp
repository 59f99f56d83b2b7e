// KavrinSimNet.exe: the program with a simulated dial-up network, routing table and tray, for
// end-to-end tests only. Never shipped. Events go to the executable's path + ".events.log", the
// routes it added to the path + ".routes" (IPv6 ones to ".routes6"). A number in the path +
// ".slow" makes every route creation and deletion take that many milliseconds; a file at the
// path + ".noguard" makes the DNS guard and the kill switch fail; ".drop", ".refuse" and ".resume" steer the dial-up
// network (see SimRasDialer). With KAVRIN_SIM_SHOW_TRAY set the real notification icon replaces
// the logged one.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "app/system_overrides.h"
#include "app/vpn_app_win.h"
#include "framework/application_win.h"
#include "framework/module_win.h"
#include "sim_network.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  HardenModuleSearchPath();
  EventLog log(CApplication::ModulePath() + L".events.log");
  SimRasDialer dialer(log, CApplication::ModulePath());
  uint32_t changeDelayMs = 0;
  if (std::FILE* slow = _wfopen((CApplication::ModulePath() + L".slow").c_str(), L"rb")) {
    if (std::fscanf(slow, "%u", &changeDelayMs) != 1) changeDelayMs = 0;
    std::fclose(slow);
  }
  SimRouteTable routes(log, CApplication::ModulePath() + L".routes", changeDelayMs);
  SimIpv6RouteTable ipv6Routes(log, CApplication::ModulePath() + L".routes6");
  const bool refuseGuard =
      GetFileAttributesW((CApplication::ModulePath() + L".noguard").c_str()) !=
      INVALID_FILE_ATTRIBUTES;
  SimDnsGuard dnsGuard(log, refuseGuard);
  SimTrafficGuard trafficGuard(log, refuseGuard);
  LoggingTraySystem tray(log);
  LoggingBindModule bind(log);
  SystemOverrides options;
  options.dialer = &dialer;
  options.routes = &routes;
  options.ipv6Routes = &ipv6Routes;
  options.dnsGuard = &dnsGuard;
  options.trafficGuard = &trafficGuard;
  // A developer watching a simulated run (scripts/run --simulated) wants the real icon.
  if (GetEnvironmentVariableW(L"KAVRIN_SIM_SHOW_TRAY", nullptr, 0) == 0) options.traySystem = &tray;
  options.bind = &bind;
  CVpnApp app(options);
  return RunApplication(app, instance);
}
