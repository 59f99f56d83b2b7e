// DnsGuard and TrafficGuard stand-ins: each keeps its filters in place and answers for a connection whether they let
// it through, as "Filter Arbitration" (Windows Filtering Platform, learn.microsoft.com) describes.
// A lookup to a resolver leaves by the interface the routing table picks for its address (the
// longest matching prefix, then the lowest metric), as the stack does before the connect layer.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "vpn/dns_guard.h"
#include "vpn/route_table.h"
#include "vpn/traffic_guard.h"

class FakeDnsGuard : public DnsGuard {
 public:
  static constexpr uint32_t kLoopbackInterface = 1;

  // A connection as the connect layer sees it.
  struct Connection {
    IpFamily family = IpFamily::kIpv4;
    uint8_t protocol = kIpProtocolUdp;
    uint16_t remotePort = kDnsPort;
    uint32_t interfaceIndex = 0;
    bool loopback = false;
    // Network byte order.
    uint32_t remoteAddress = 0;
    uint16_t localPort = 0;
    // Made by this program.
    bool ownProgram = false;
  };
  // A lookup over UDP leaving by `interfaceIndex` (loopback when it is kLoopbackInterface).
  static Connection Lookup(uint32_t interfaceIndex, IpFamily family = IpFamily::kIpv4);
  // A lookup over UDP to `resolver`, leaving by the interface `table` routes it to.
  static Connection LookupTo(uint32_t resolver, const std::vector<RouteRow>& table);

  // Within our sublayer the matching filters are taken heaviest first and the first decides
  // (of two equally heavy ones the block, as the system's order between them is not ours to
  // choose); a connection none matches passes.
  bool Passes(const Connection& connection) const;

  uint32_t ReadDnsServers(uint32_t interfaceIndex, std::vector<uint32_t>& servers) override;
  uint32_t Add(const std::vector<DnsFilter>& filters) override;
  void Remove() override;

  // DNS servers by interface; an interface missing here is unknown to the system.
  std::map<uint32_t, std::vector<uint32_t>> dnsServers;
  uint32_t countError = 0;
  uint32_t addError = 0;
  // What is in place.
  std::vector<DnsFilter> filters;
  int adds = 0;
  int removes = 0;
};

// The kill switch's filters in a sublayer of their own. Apply replaces the set in one
// transaction: every state the set went through is kept, so a test sees whether there was ever
// a moment without the filters.
class FakeTrafficGuard : public TrafficGuard {
 public:
  // A connection to `address` leaving by `interfaceIndex` (TCP to port 443 unless changed).
  static FakeDnsGuard::Connection To(uint32_t address, uint32_t interfaceIndex);
  bool Passes(const FakeDnsGuard::Connection& connection) const;

  uint32_t Apply(const std::vector<DnsFilter>& filters) override;
  void Remove() override;

  uint32_t applyError = 0;
  std::vector<DnsFilter> filters;
  // How many filters were in place after each call, in order.
  std::vector<size_t> history;
};
