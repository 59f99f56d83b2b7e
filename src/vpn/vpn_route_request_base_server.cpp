#include "vpn/vpn_route_request_base_server.h"

#include <system_error>

namespace {
constexpr uint32_t kHostMask = 0xFFFFFFFFu;
}

CVpnRouteRequestBaseServer::CVpnRouteRequestBaseServer(RouteTable& routeTable, TickClock& clock)
    : routeTable_(routeTable), clock_(clock) {}

CVpnRouteRequestBaseServer::~CVpnRouteRequestBaseServer() { CVpnRouteRequestBaseServer::Stop(); }

void CVpnRouteRequestBaseServer::Stop() {
  if (!serverThread.joinable()) return;
  if (serverThread.get_id() == std::this_thread::get_id()) return;
  serverThread.join();
}

bool CVpnRouteRequestBaseServer::Start(const RouteRow& tunnelRoute) {
  if (serverThread.joinable()) return false;
  routeTemplate = tunnelRoute;
  try {
    serverThread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool CVpnRouteRequestBaseServer::AddHostRoute(uint32_t address) {
  if (address == 0) return false;
  const uint32_t now = clock_.Ticks();
  if (auto found = hostRoutes.find(address); found != hostRoutes.end()) {
    found->second.lastRequestTick = now;
    return true;
  }
  RouteRow row = routeTemplate;
  row.destination = address;
  row.mask = kHostMask;
  if (routeTable_.CreateRow(row) != 0) return false;
  hostRoutes.emplace(address, HostRouteRecord{address, kHostMask, now});
  return true;
}

void CVpnRouteRequestBaseServer::ExpireIdleRoutes() {
  const uint32_t now = clock_.Ticks();
  for (auto it = hostRoutes.begin(); it != hostRoutes.end();) {
    const HostRouteRecord& record = it->second;
    if (uint32_t(now - record.lastRequestTick) < kIdleRouteLifetimeMs) {
      ++it;
      continue;
    }
    if (record.destination != 0 && record.mask != 0) {
      RouteRow row = routeTemplate;
      row.destination = record.destination;
      row.mask = record.mask;
      routeTable_.DeleteRow(row);
    }
    it = hostRoutes.erase(it);
  }
}
