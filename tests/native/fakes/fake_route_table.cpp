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

namespace {

void Wait(std::chrono::microseconds delay, bool spin) {
  if (delay.count() <= 0) return;
  if (!spin) {
    std::this_thread::sleep_for(delay);
    return;
  }
  const auto until = std::chrono::steady_clock::now() + delay;
  while (std::chrono::steady_clock::now() < until) {
  }
}

}  // namespace

void FakeRouteTable::SetLanHost() {
  RouteRow hostDefault{};
  hostDefault.nextHop = Ip("192.168.1.1");
  hostDefault.interfaceIndex = 7;
  forwardTable = {hostDefault};
  adapters = {{7, "192.168.1.20"}, {23, "10.8.0.6"}};
}

std::vector<RouteRow>::iterator FakeRouteTable::Find(const RouteRow& row) {
  return std::find_if(forwardTable.begin(), forwardTable.end(), [&](const RouteRow& r) {
    return r.destination == row.destination && r.mask == row.mask && r.nextHop == row.nextHop &&
           r.interfaceIndex == row.interfaceIndex;
  });
}

uint32_t FakeRouteTable::CreateRow(const RouteRow& row) {
  Wait(rowDelay, spinDelay);
  ++creates;
  if (countOnly) return 0;
  std::lock_guard lock(mutex);
  createCalls.push_back(row);
  if (beforeCreate) {
    if (const uint32_t error = beforeCreate(row); error != 0) return error;
  }
  if (const auto found = createErrors.find(row.destination); found != createErrors.end()) {
    return found->second;
  }
  if (systemLike) {
    if (row.protocol != kRouteProtocolNetMgmt) return kInvalidParameter;
    if (Find(row) != forwardTable.end()) return kAlreadyExists;
    RouteRow stored = row;
    stored.age = createdAge;
    forwardTable.push_back(stored);
  } else {
    installed.push_back(row);
  }
  if (afterCreate) afterCreate(row);
  return 0;
}

uint32_t FakeRouteTable::DeleteRow(const RouteRow& row) {
  Wait(rowDelay, spinDelay);
  ++deletes;
  if (countOnly) return 0;
  std::lock_guard lock(mutex);
  deleteCalls.push_back(row);
  if (beforeDelete) {
    if (const uint32_t error = beforeDelete(row); error != 0) return error;
  }
  if (deleteError != 0) return deleteError;
  if (systemLike) {
    const auto found = Find(row);
    if (found == forwardTable.end()) return kNotFound;
    forwardTable.erase(found);
  } else {
    const auto found = std::find(installed.begin(), installed.end(), row);
    if (found == installed.end()) return kNotFound;
    installed.erase(found);
  }
  if (afterDelete) afterDelete(row);
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

std::vector<RouteRow> FakeRouteTable::created() {
  std::lock_guard lock(mutex);
  return createCalls;
}

std::vector<uint32_t> FakeRouteTable::installedDestinations() {
  std::lock_guard lock(mutex);
  std::vector<uint32_t> destinations;
  for (const RouteRow& row : installed) destinations.push_back(row.destination);
  return destinations;
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
  while (askWhileRunning && !stopping_) {
    lock.unlock();
    const int n = asked++;
    const uint32_t address = Ip("10.77.0.0") | uint32_t(n & 0xFF) << 24 | uint32_t(n >> 8 & 0xFF) << 16;
    if (AddHostRoute(address)) ++granted;
    lock.lock();
  }
  wake_.wait(lock, [this] { return stopping_; });
}
