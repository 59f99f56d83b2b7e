#include "vpn/dns_guard.h"

std::vector<DnsFilter> DnsGuardFilters(uint32_t tunnelInterface,
                                       const std::vector<uint32_t>& resolvers) {
  // The permits outweigh the blocks; traffic to other ports matches nothing of ours.
  constexpr uint8_t kPermitWeight = 12;
  constexpr uint8_t kBlockWeight = 4;
  std::vector<DnsFilter> filters;
  for (const IpFamily family : {IpFamily::kIpv4, IpFamily::kIpv6}) {
    for (const uint8_t protocol : {kIpProtocolUdp, kIpProtocolTcp}) {
      filters.push_back({family, FilterAction::kPermit, kPermitWeight, protocol, kDnsPort,
                         tunnelInterface, false});
      if (family != IpFamily::kIpv4) continue;
      for (const uint32_t resolver : resolvers) {
        filters.push_back({family, FilterAction::kPermit, kPermitWeight, protocol, kDnsPort, 0,
                           false, resolver, 32});
      }
    }
    filters.push_back({family, FilterAction::kPermit, kPermitWeight, 0, 0, 0, true});
    for (const uint8_t protocol : {kIpProtocolUdp, kIpProtocolTcp}) {
      filters.push_back({family, FilterAction::kBlock, kBlockWeight, protocol, kDnsPort, 0, false});
    }
  }
  return filters;
}
