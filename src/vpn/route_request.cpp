#include "vpn/route_request.h"

#include "base/socket.h"
#include "base/text.h"
#include "vpn/route_modification.h"
#include "vpn/vpn_route_request_base_server.h"

namespace {

// The first octet of an address kept in network byte order.
uint8_t FirstOctet(uint32_t address) { return static_cast<uint8_t>(address & 0xFF); }

}  // namespace

uint32_t ParseRouteRequest(const uint8_t* message, size_t size) {
  if (message == nullptr || size != kRouteRequestSize) return 0;
  if (message[0] != kRouteRequestHostRoute) return 0;
  return uint32_t{message[1]} | (uint32_t{message[2]} << 8) | (uint32_t{message[3]} << 16) |
         (uint32_t{message[4]} << 24);
}

bool MayRouteThroughTunnel(uint32_t address, uint32_t tunnelServer) {
  constexpr uint32_t kBroadcast = 0xFFFFFFFFu;
  if (address == 0 || address == kBroadcast) return false;
  const uint8_t first = FirstOctet(address);
  if (first == 127) return false;           // loopback
  if ((first & 0xF0) == 0xE0) return false;  // multicast, 224.0.0.0 to 239.255.255.255
  return tunnelServer == 0 || address != tunnelServer;
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
