#include "vpn/route_request.h"

#include "base/socket.h"
#include "base/text.h"
#include "vpn/route_modification.h"
#include "vpn/vpn_route_request_base_server.h"

uint32_t ParseRouteRequest(const uint8_t* message, size_t size) {
  if (message == nullptr || size != kRouteRequestSize) return 0;
  if (message[0] != kRouteRequestHostRoute) return 0;
  return uint32_t{message[1]} | (uint32_t{message[2]} << 8) | (uint32_t{message[3]} << 16) |
         (uint32_t{message[4]} << 24);
}

bool MayRouteThroughTunnel(uint32_t address, uint32_t tunnelServer) {
  return IsSteerableDestination(address) && (tunnelServer == 0 || address != tunnelServer);
}

bool IsPlausibleRouteRequest(const uint8_t* message, size_t size) {
  return IsSteerableDestination(ParseRouteRequest(message, size));
}

uint8_t AnswerRouteRequest(CVpnRouteRequestBaseServer& server, const uint8_t* message, size_t size,
                           uint32_t tunnelServer) {
  const uint32_t address = ParseRouteRequest(message, size);
  if (!MayRouteThroughTunnel(address, tunnelServer)) return kRouteReplyNoRoute;
  return server.AddHostRoute(address) ? kRouteReplyRouted : kRouteReplyNoRoute;
}

uint32_t TunnelServerAddress(const std::wstring& host) {
  const std::string narrow = TrimText(WideToAnsi(host));
  if (narrow.empty()) return 0;
  if (const auto dotted = TryParseIpv4(std::string_view(narrow))) return *dotted;
  uint32_t resolved = 0;
  if (!SocketLibraryStartup()) return 0;
  const bool found = ResolveIpv4Address(narrow, &resolved);
  SocketLibraryCleanup();
  return found ? resolved : 0;
}
