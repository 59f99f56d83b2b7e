// The engines of every tunnel type over the ports the owner keeps for the whole process: the
// dial-up networking for PPTP and L2TP, an openvpn.exe child for OpenVPN. Each engine journals
// the routes it changes (see RouteJournal), IPv6 guard rows included.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/clock.h"
#include "config/program_data_folder_win.h"
#include "service/login_exchange.h"
#include "vpn/dns_guard.h"
#include "vpn/ipv6_route_table.h"
#include "vpn/open_vpn_win.h"
#include "vpn/ras_dialer.h"
#include "vpn/route_journal.h"
#include "vpn/route_table.h"
#include "vpn/vpn_route_request_base_server.h"
#include "vpn/windows_vpn.h"

class VpnEngineFactory : public EngineFactory {
 public:
  // Each engine gets a route-request server of its own from `routeServers` (none when empty),
  // made once the engine exists, so the server may ask it about the tunnel when it starts.
  // An empty `routeJournalPath` keeps no journal.
  using RouteServerMaker =
      std::function<std::unique_ptr<CVpnRouteRequestBaseServer>(const CGeneralVpn& engine)>;

  VpnEngineFactory(RasDialer& dialer, RouteTable& routes, TickClock& clock,
                   RouteServerMaker routeServers = {},
                   std::wstring routeJournalPath = SystemRouteJournalPath())
      : dialer_(dialer),
        routes_(routes),
        clock_(clock),
        routeServers_(std::move(routeServers)),
        routeJournalPath_(std::move(routeJournalPath)) {}

  // Where route mode 1 keeps IPv6 from going around the tunnel; none leaves IPv6 alone. Must
  // outlive the engines.
  void SetIpv6RouteTable(Ipv6RouteTable* table) { ipv6Routes_ = table; }
  // Where route mode 1 keeps name lookups to the tunnel; none leaves them alone. Must outlive
  // the engines.
  void SetDnsGuard(DnsGuard* guard) { dnsGuard_ = guard; }
  // Where each engine's own lines for the connection log go; called on the engine's worker.
  void SetNote(std::function<void(const std::wstring&)> note) { note_ = std::move(note); }

  std::unique_ptr<CGeneralVpn> CreateEngine(int32_t tunnelType) override {
    std::unique_ptr<CGeneralVpn> engine;
    if (tunnelType == kWindowsVpnTunnelPptp || tunnelType == kWindowsVpnTunnelL2tp) {
      engine = std::make_unique<CWindowsVpn>(static_cast<uint32_t>(tunnelType), dialer_, routes_,
                                             clock_, nullptr);
    } else if (tunnelType == kOpenVpnTunnel) {
      engine = MakeSystemOpenVpn(routes_, clock_, nullptr);
    }
    if (engine && routeServers_) engine->routeServer = routeServers_(*engine);
    if (engine) {
      engine->SetIpv6RouteTable(ipv6Routes_);
      engine->SetDnsGuard(dnsGuard_);
      engine->note = note_;
      // No journal where the data folder is not ours: one there could be read or written by
      // anyone.
      if (!routeJournalPath_.empty()) {
        engine->SetRouteJournal(std::make_unique<RouteJournal>(
            routes_, routeJournalPath_, ipv6Routes_, &SystemFolderSecurityInstance()));
      }
    }
    return engine;
  }

 private:
  static constexpr int32_t kOpenVpnTunnel = 3;

  RasDialer& dialer_;
  RouteTable& routes_;
  TickClock& clock_;
  RouteServerMaker routeServers_;
  std::wstring routeJournalPath_;
  Ipv6RouteTable* ipv6Routes_ = nullptr;
  DnsGuard* dnsGuard_ = nullptr;
  std::function<void(const std::wstring&)> note_;
};
