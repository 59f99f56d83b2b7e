// The kill switch of route mode 1: while the connection lasts (up, dropped, waiting between
// attempts, asleep) the system's packet filter lets out only what leaves through the tunnel,
// and what the host and this client need to get the tunnel back. The rule set is the usual one
// for blocking traffic outside a tunnel: permits outweigh one block of everything, within a
// sublayer of our own in a dynamic session (a crash takes the filters with the process).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "vpn/dns_guard.h"
#include "vpn/route_table.h"

// What the kill switch lets through besides the tunnel.
struct TrafficGuardPermits {
  // The tunnel's interface; 0 while none is up.
  uint32_t tunnelInterface = 0;
  // The tunnel's server and the login hosts, as resolved while the tunnel was up (IPv4,
  // network byte order).
  std::vector<uint32_t> addresses;
  // The local network's own subnets: address and prefix length.
  std::vector<std::pair<uint32_t, uint8_t>> localSubnets;
};

// For both families: loopback, DHCP (v4 68 to 67, v6 546 to 547) and this program permitted;
// for IPv4 the tunnel's interface, each address and each local subnet permitted; everything
// else blocked.
std::vector<DnsFilter> TrafficGuardFilters(const TrafficGuardPermits& permits);

// The subnets the host reaches on its own links: the system's local rows (protocol 2) with a
// prefix between /1 and /31, other than the tunnel's and loopback's.
std::vector<std::pair<uint32_t, uint8_t>> LocalSubnets(const std::vector<RouteRow>& rows,
                                                       uint32_t tunnelInterface);

class TrafficGuard {
 public:
  virtual ~TrafficGuard() = default;
  // Puts `filters` in place in one transaction. A set already in place is replaced within the
  // same transaction, so nothing passes between the two; it stays when this fails. 0,
  // kDnsGuardUnsupported, or a system error number.
  virtual uint32_t Apply(const std::vector<DnsFilter>& filters) = 0;
  // Takes away what is in place; nothing when nothing is.
  virtual void Remove() = 0;
};
