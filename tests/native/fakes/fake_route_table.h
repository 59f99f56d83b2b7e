// RouteTable stand-in that keeps the routes it was given and records every call, plus a
// route-request server whose thread only waits to be stopped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "vpn/route_table.h"
#include "vpn/vpn_route_request_base_server.h"

// Dotted text to a network-order address, for writing expectations.
uint32_t Ip(const char* dotted);

class FakeRouteTable : public RouteTable {
 public:
  static constexpr uint32_t kNotFound = 1168;

  uint32_t ReadForwardTable(std::vector<RouteRow>& rows) override;
  uint32_t CreateRow(const RouteRow& row) override;
  uint32_t DeleteRow(const RouteRow& row) override;
  uint32_t ReadAdapters(std::vector<AdapterAddress>& list) override;
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override;

  // Routes added by CreateRow and not yet deleted; deleting a row not in here answers
  // kNotFound.
  std::vector<RouteRow> installed;
  std::vector<RouteRow> forwardTable;
  uint32_t forwardTableError = 0;
  std::vector<AdapterAddress> adapters;
  uint32_t adaptersError = 0;
  // Nothing stands for a host without an interface table.
  std::optional<std::vector<InterfaceMetric>> interfaceMetrics;
  // Creating a route to one of these destinations answers the mapped error.
  std::map<uint32_t, uint32_t> createErrors;

  // How long each created or deleted row takes, as on a busy system.
  std::chrono::microseconds rowDelay{0};

  std::vector<RouteRow> createCalls;
  std::vector<RouteRow> deleteCalls;
  int forwardTableReads = 0;
  int adapterReads = 0;

  // Taken by every call, so the table may be used from several threads; read the fields above
  // only once those threads are done.
  std::mutex mutex;
};

class FakeRouteRequestServer : public CVpnRouteRequestBaseServer {
 public:
  using CVpnRouteRequestBaseServer::CVpnRouteRequestBaseServer;
  ~FakeRouteRequestServer() override;

  bool Start(const RouteRow& tunnelRoute) override;
  void Stop() override;
  void LearnTunnelServer() override { learnedBeforeStart = starts == 0; }

  bool refuseStart = false;
  // Whether the tunnel's server was learned, and before the first Start.
  bool learnedBeforeStart = false;
  int starts = 0;
  int stops = 0;

 protected:
  void Run() override;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
};
