#include "fakes/fake_route_table.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "vpn/route_modification.h"

uint32_t Ip(const char* dotted) {
  const auto address = TryParseIpv4(dotted);
  if (!address) std::abort();
  return *address;
}

uint32_t FakeRouteTable::ReadForwardTable(std::vector<RouteRow>& rows) {
  std::lock_guard lock(mutex);
  ++forwardTableReads;
  if (forwardTableError != 0) return forwardTableError;
  rows = forwardTable;
  return 0;
}

uint32_t FakeRouteTable::CreateRow(const RouteRow& row) {
  if (rowDelay.count() > 0) std::this_thread::sleep_for(rowDelay);
  std::lock_guard lock(mutex);
  createCalls.push_back(row);
  if (const auto found = createErrors.find(row.destination); found != createErrors.end()) {
    return found->second;
  }
  installed.push_back(row);
  return 0;
}

uint32_t FakeRouteTable::DeleteRow(const RouteRow& row) {
  if (rowDelay.count() > 0) std::this_thread::sleep_for(rowDelay);
  std::lock_guard lock(mutex);
  deleteCalls.push_back(row);
  const auto found = std::find(installed.begin(), installed.end(), row);
  if (found == installed.end()) return kNotFound;
  installed.erase(found);
  return 0;
}

uint32_t FakeRouteTable::ReadAdapters(std::vector<AdapterAddress>& list) {
  std::lock_guard lock(mutex);
  ++adapterReads;
  if (adaptersError != 0) return adaptersError;
  list = adapters;
  return 0;
}

bool FakeRouteTable::ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) {
  std::lock_guard lock(mutex);
  if (!interfaceMetrics) return false;
  metrics = *interfaceMetrics;
  return true;
}

FakeRouteRequestServer::~FakeRouteRequestServer() { Stop(); }

bool FakeRouteRequestServer::Start(const RouteRow& tunnelRoute) {
  ++starts;
  if (refuseStart) return false;
  {
    std::lock_guard lock(mutex_);
    stopping_ = false;
  }
  return CVpnRouteRequestBaseServer::Start(tunnelRoute);
}

void FakeRouteRequestServer::Stop() {
  ++stops;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  CVpnRouteRequestBaseServer::Stop();
}

void FakeRouteRequestServer::Run() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return stopping_; });
}
