// The engines of every tunnel type over the ports the owner keeps for the whole process: the
// dial-up networking for PPTP and L2TP, an openvpn.exe child for OpenVPN.
#pragma once

#include <functional>
#include <memory>

#include "base/clock.h"
#include "service/login_exchange.h"
#include "vpn/open_vpn_win.h"
#include "vpn/ras_dialer.h"
#include "vpn/route_table.h"
#include "vpn/vpn_route_request_base_server.h"
#include "vpn/windows_vpn.h"

class VpnEngineFactory : public EngineFactory {
 public:
  // Each engine gets a route-request server of its own from `routeServers` (none when empty).
  using RouteServerMaker = std::function<std::unique_ptr<CVpnRouteRequestBaseServer>()>;

  VpnEngineFactory(RasDialer& dialer, RouteTable& routes, TickClock& clock,
                   RouteServerMaker routeServers = {})
      : dialer_(dialer), routes_(routes), clock_(clock), routeServers_(std::move(routeServers)) {}

  std::unique_ptr<CGeneralVpn> CreateEngine(int32_t tunnelType) override {
    if (tunnelType == WindowsVpnTunnelPptp || tunnelType == WindowsVpnTunnelL2tp) {
      return std::make_unique<CWindowsVpn>(static_cast<uint32_t>(tunnelType), dialer_, routes_,
                                           clock_, RouteServer());
    }
    if (tunnelType == kOpenVpnTunnel) return MakeSystemOpenVpn(routes_, clock_, RouteServer());
    return nullptr;
  }

 private:
  static constexpr int32_t kOpenVpnTunnel = 3;

  std::unique_ptr<CVpnRouteRequestBaseServer> RouteServer() {
    return routeServers_ ? routeServers_() : nullptr;
  }

  RasDialer& dialer_;
  RouteTable& routes_;
  TickClock& clock_;
  RouteServerMaker routeServers_;
};
