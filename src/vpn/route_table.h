// The host's IPv4 routing table, as the engine and the route-request server reach it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The system's forward row, field for field and in the same order; addresses in network byte
// order. The Windows adapter copies it to and from the system record unchanged.
struct RouteRow {
  uint32_t destination;
  uint32_t mask;
  uint32_t policy;
  uint32_t nextHop;
  uint32_t interfaceIndex;
  uint32_t type;
  uint32_t protocol;
  uint32_t age;
  uint32_t nextHopAs;
  uint32_t metric1;
  uint32_t metric2;
  uint32_t metric3;
  uint32_t metric4;
  uint32_t metric5;

  bool operator==(const RouteRow&) const = default;
};

struct AdapterAddress {
  uint32_t index;
  // The adapter's first IPv4 address as the system prints it ("0.0.0.0" when none).
  std::string firstIpAddress;
};

struct InterfaceMetric {
  uint32_t interfaceIndex;
  uint32_t metric;
};

class RouteTable {
 public:
  virtual ~RouteTable() = default;

  // The whole IPv4 forward table, unsorted. 0 or a system error number.
  virtual uint32_t ReadForwardTable(std::vector<RouteRow>& rows) = 0;
  // 0 or a system error number.
  virtual uint32_t CreateRow(const RouteRow& row) = 0;
  virtual uint32_t DeleteRow(const RouteRow& row) = 0;
  // 0 or a system error number (232 when the host has no adapter at all).
  virtual uint32_t ReadAdapters(std::vector<AdapterAddress>& adapters) = 0;
  // The IPv4 interface metrics; false when the system has no interface table (before Vista)
  // or cannot read it.
  virtual bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) = 0;
};
