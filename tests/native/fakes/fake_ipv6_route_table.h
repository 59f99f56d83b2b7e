// Ipv6RouteTable stand-in: a model of the system's IPv6 forward table that answers as the
// system does (an identical row cannot be created twice, a missing one cannot be deleted) and
// picks the route for an address the way the system does, longest prefix first.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "vpn/ipv6_route_table.h"

// IPv6 text ("fe80::1", "::", "2001:db8::") to bytes, for writing expectations.
Ipv6Bytes Ipv6(const char* text);

class FakeIpv6RouteTable : public Ipv6RouteTable {
 public:
  static constexpr uint32_t kAlreadyExists = 5010;
  static constexpr uint32_t kNotFound = 1168;
  static constexpr uint32_t kLoopbackInterface = 1;

  uint32_t ReadForwardTable(std::vector<Ipv6RouteRow>& out) override;
  uint32_t CreateRow(const Ipv6RouteRow& row) override;
  uint32_t DeleteRow(const Ipv6RouteRow& row) override;

  // A dual-stack home network on interface `lan`: a default route through the router, the
  // link-local, unique-local and global on-link prefixes, loopback and multicast.
  void AddHomeNetwork(uint32_t lan);
  // Loopback and multicast only: IPv6 on, but no way out.
  void AddLoopbackOnly();

  // The row the system would send `address` by; none when nothing matches.
  std::optional<Ipv6RouteRow> Lookup(const char* address) const;

  std::vector<Ipv6RouteRow> rows;
  uint32_t readError = 0;
  // The createErrorAt-th creation (from 1) answers createError.
  uint32_t createError = 0;
  int createErrorAt = 0;
  int creates = 0;
  int deletes = 0;

 private:
  void Add(const char* prefix, uint32_t length, const char* nextHop, uint32_t interfaceIndex,
           uint32_t metric);
};
