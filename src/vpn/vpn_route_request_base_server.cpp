#include "vpn/vpn_route_request_base_server.h"

#include <system_error>

CVpnRouteRequestBaseServer::CVpnRouteRequestBaseServer(RouteTable&, TickClock&) {}

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
