// The host's IPv6 routing table, as the engine's IPv6 guard reaches it.
//
// Our tunnels carry IPv4 only. In route mode 1 the engine closes the way around the tunnel that
// IPv6 would otherwise be: two routes, ::/1 and 8000::/1, through the loopback interface. Being
// longer than any default route they win over it for every global address, while the host's
// own more specific routes (link-local, unique-local and on-link prefixes, loopback, multicast)
// still win over them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using Ipv6Bytes = std::array<uint8_t, 16>;

// What the engine reads and writes of a system forward row. The adapter fills the system's row
// from it and keeps everything else at the system's defaults.
struct Ipv6RouteRow {
  Ipv6Bytes destination{};
  uint32_t prefixLength = 0;
  Ipv6Bytes nextHop{};
  uint32_t interfaceIndex = 0;
  uint32_t metric = 0;
  uint32_t protocol = 0;

  bool operator==(const Ipv6RouteRow&) const = default;
  auto operator<=>(const Ipv6RouteRow&) const = default;
};

// Answered by every call on a system without the IPv6 routing functions (before Vista).
inline constexpr uint32_t kIpv6RoutesUnsupported = 50;

class Ipv6RouteTable {
 public:
  virtual ~Ipv6RouteTable() = default;

  // The whole IPv6 forward table. 0, kIpv6RoutesUnsupported, or a system error number.
  virtual uint32_t ReadForwardTable(std::vector<Ipv6RouteRow>& rows) = 0;
  virtual uint32_t CreateRow(const Ipv6RouteRow& row) = 0;
  // The system finds the row by destination, prefix length, interface and next hop.
  virtual uint32_t DeleteRow(const Ipv6RouteRow& row) = 0;
};

// Whether the first `prefixLength` bits of `address` are those of `prefix`.
bool Ipv6PrefixContains(const Ipv6Bytes& prefix, uint32_t prefixLength, const Ipv6Bytes& address);

// The address in the usual short text form ("fe80::1", "::"), for logs.
std::string Ipv6Text(const Ipv6Bytes& address);
