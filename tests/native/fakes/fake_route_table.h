// RouteTable stand-in for tests, fuzz targets and benchmarks: by default it keeps the routes
// created through it apart from the forward table it reports, and records every call; it can
// also behave as the system's table, fail or die inside a call, be slow, or only count. Plus a
// route-request server whose thread only waits to be stopped.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
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
  static constexpr uint32_t kAlreadyExists = 5010;
  static constexpr uint32_t kInvalidParameter = 87;

  uint32_t ReadForwardTable(std::vector<RouteRow>& rows) override;
  uint32_t CreateRow(const RouteRow& row) override;
  uint32_t DeleteRow(const RouteRow& row) override;
  uint32_t ReadAdapters(std::vector<AdapterAddress>& list) override;
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override;

  // A host on a LAN: one default route through 192.168.1.1 on interface 7 (192.168.1.20), and
  // the tunnel's adapter 23 (10.8.0.6).
  void SetLanHost();

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
  // Every deletion answers this when set.
  uint32_t deleteError = 0;

  // As the system's table: created rows go into forwardTable (aged createdAge), a row equal to
  // one there by destination, mask, next hop and interface is refused with kAlreadyExists, only
  // network-management rows are taken, and a deletion matches by those four fields.
  // `installed` is not used then.
  bool systemLike = false;
  uint32_t createdAge = 30;
  // The forwardTable row a deletion of `row` would take, as the system matches it.
  std::vector<RouteRow>::iterator Find(const RouteRow& row);

  // Called, with the table's lock held, once a create or delete is logged: a non-zero answer is
  // the call's error, and throwing stands for the process dying inside the system call.
  std::function<uint32_t(const RouteRow&)> beforeCreate;
  std::function<uint32_t(const RouteRow&)> beforeDelete;
  // Called once the row was taken or removed; throwing stands for dying just after.
  std::function<void(const RouteRow&)> afterCreate;
  std::function<void(const RouteRow&)> afterDelete;

  // How long each created or deleted row takes, as on a busy system; spun rather than slept
  // when spinDelay is set, since a sleep of microseconds lasts as long as the scheduler likes.
  std::chrono::microseconds rowDelay{0};
  bool spinDelay = false;

  // Keep nothing and log nothing: every create and delete succeeds and is only counted, so a
  // benchmark measures the caller and not the table.
  bool countOnly = false;

  std::vector<RouteRow> createCalls;
  std::vector<RouteRow> deleteCalls;
  int forwardTableReads = 0;
  int adapterReads = 0;
  // Every create and delete, logged or not; may be read while other threads call.
  std::atomic<int64_t> creates{0};
  std::atomic<int64_t> deletes{0};

  // Copies taken under the lock, for reading while other threads may still call.
  std::vector<RouteRow> created();
  std::vector<uint32_t> installedDestinations();

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
  // While running, the server thread asks for host routes to 10.77.x.y one after the other,
  // as a busy accelerated application would, until it is stopped; `granted` counts the
  // routes confirmed.
  bool askWhileRunning = false;
  std::atomic<int> asked{0};
  std::atomic<int> granted{0};
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
