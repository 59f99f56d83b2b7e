#include "vpn/traffic_guard.h"

namespace {

constexpr uint8_t kPermitWeight = 12;
constexpr uint8_t kBlockWeight = 4;
constexpr uint32_t kRouteProtocolLocal = 2;

uint8_t PrefixLength(uint32_t mask) {
  // Network byte order: count the bits from the first byte on.
  const auto* bytes = reinterpret_cast<const unsigned char*>(&mask);
  uint8_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    for (unsigned char bit = 0x80; bit != 0 && (bytes[i] & bit) != 0; bit >>= 1) ++bits;
    if (bytes[i] != 0xFF) break;
  }
  return bits;
}

}  // namespace

std::vector<DnsFilter> TrafficGuardFilters(const TrafficGuardPermits& permits) {
  std::vector<DnsFilter> filters;
  const auto permit = [&](IpFamily family) {
    DnsFilter filter;
    filter.family = family;
    filter.action = FilterAction::kPermit;
    filter.weight = kPermitWeight;
    return filter;
  };
  for (const IpFamily family : {IpFamily::kIpv4, IpFamily::kIpv6}) {
    const bool v4 = family == IpFamily::kIpv4;
    DnsFilter loopback = permit(family);
    loopback.loopback = true;
    filters.push_back(loopback);
    DnsFilter dhcp = permit(family);
    dhcp.protocol = kIpProtocolUdp;
    dhcp.localPort = v4 ? 68 : 546;
    dhcp.remotePort = v4 ? 67 : 547;
    filters.push_back(dhcp);
    DnsFilter own = permit(family);
    own.ownProgram = true;
    filters.push_back(own);
    if (v4) {
      if (permits.tunnelInterface != 0) {
        DnsFilter tunnel = permit(family);
        tunnel.interfaceIndex = permits.tunnelInterface;
        filters.push_back(tunnel);
      }
      for (const uint32_t address : permits.addresses) {
        DnsFilter host = permit(family);
        host.remoteAddress = address;
        host.remotePrefix = 32;
        filters.push_back(host);
      }
      for (const auto& [address, prefix] : permits.localSubnets) {
        DnsFilter subnet = permit(family);
        subnet.remoteAddress = address;
        subnet.remotePrefix = prefix;
        filters.push_back(subnet);
      }
    }
    DnsFilter block;
    block.family = family;
    block.action = FilterAction::kBlock;
    block.weight = kBlockWeight;
    filters.push_back(block);
  }
  return filters;
}

std::vector<std::pair<uint32_t, uint8_t>> LocalSubnets(const std::vector<RouteRow>& rows,
                                                       uint32_t tunnelInterface) {
  std::vector<std::pair<uint32_t, uint8_t>> subnets;
  for (const RouteRow& row : rows) {
    if (row.protocol != kRouteProtocolLocal || row.interfaceIndex == tunnelInterface) continue;
    const uint8_t prefix = PrefixLength(row.mask);
    const auto* first = reinterpret_cast<const unsigned char*>(&row.destination);
    // Loopback and multicast are no one's subnet; a default or host row is no subnet.
    if (prefix == 0 || prefix >= 32 || first[0] == 127 || first[0] >= 224) continue;
    const std::pair<uint32_t, uint8_t> subnet{row.destination & row.mask, prefix};
    bool known = false;
    for (const auto& s : subnets) known = known || s == subnet;
    if (!known) subnets.push_back(subnet);
  }
  return subnets;
}
