// Disconnect pressed while a 10,000-route set is being applied, through a table that takes
// 50 µs for every route it creates or deletes. Figures per press point (routes created when
// Disconnect is pressed):
//   stop_ms      from Disconnect until the route work has stopped (it gives up between routes)
//   disconnect   Disconnect's own time (the benchmark's time): the stop, then restoring every
//                route created so far at 50 µs each
//   leftover     routes still in the table afterwards; must be 0
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "vpn/general_vpn.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kRoutes = 10000;
constexpr auto kPerRoute = std::chrono::microseconds(50);

// A busy wait: a sleep this short would last as long as the scheduler likes.
void Spend(std::chrono::microseconds time) {
  const auto until = Clock::now() + time;
  while (Clock::now() < until) {
  }
}

class SlowTable : public RouteTable {
 public:
  uint32_t ReadForwardTable(std::vector<RouteRow>& rows) override {
    RouteRow hostDefault{};
    hostDefault.nextHop = 0x0101A8C0;
    hostDefault.interfaceIndex = 7;
    rows = {hostDefault};
    return 0;
  }
  uint32_t CreateRow(const RouteRow& row) override {
    Spend(kPerRoute);
    std::lock_guard lock(mutex_);
    installed_.insert(row.destination);
    created = installed_.size();
    return 0;
  }
  uint32_t DeleteRow(const RouteRow& row) override {
    Spend(kPerRoute);
    std::lock_guard lock(mutex_);
    installed_.erase(row.destination);
    return 0;
  }
  uint32_t ReadAdapters(std::vector<AdapterAddress>& adapters) override {
    adapters = {{7, "192.168.1.20"}, {23, "10.8.0.6"}};
    return 0;
  }
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override {
    metrics = {{7, 20}, {23, 5}};
    return true;
  }

  size_t Installed() {
    std::lock_guard lock(mutex_);
    return installed_.size();
  }

  std::atomic<size_t> created = 0;

 private:
  std::mutex mutex_;
  std::set<uint32_t> installed_;
};

class BenchVpn : public CGeneralVpn {
 public:
  using CGeneralVpn::CGeneralVpn;
  int32_t GetStatistics(uint32_t&, uint32_t&, int32_t&) override { return 0; }
  std::wstring GetErrorDetailText(int32_t) override { return {}; }
  // The connector's report that the tunnel is up, which applies the route set.
  void TunnelUp() {
    RunEvent([this] {
      localAddress_ = L"10.8.0.6";
      ChangeState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
    });
  }
};

std::vector<std::wstring> RouteSet() {
  std::vector<std::wstring> lines;
  for (size_t i = 0; i < kRoutes; ++i) {
    lines.push_back(L"10." + std::to_wstring(i / 256) + L"." + std::to_wstring(i % 256) +
                    L".0 mask 255.255.255.0");
  }
  return lines;
}

void BM_DisconnectDuringApply(benchmark::State& state) {
  const size_t pressAt = static_cast<size_t>(state.range(0));
  const std::vector<std::wstring> routeSet = RouteSet();
  double stopMs = 0;
  size_t leftover = 0;
  size_t createdAtPress = 0;
  for (auto _ : state) {
    SlowTable table;
    BenchVpn vpn(table, SystemTickClock(), nullptr);
    vpn.routeMode = RouteModeListedRoutes;
    vpn.routeList = routeSet;
    vpn.Connect();
    Clock::time_point applyEnded;
    std::thread connector([&] {
      vpn.TunnelUp();
      applyEnded = Clock::now();
    });
    while (table.created < pressAt) std::this_thread::yield();

    const auto pressed = Clock::now();
    createdAtPress = table.created;
    vpn.Disconnect();
    const auto returned = Clock::now();
    connector.join();

    state.SetIterationTime(std::chrono::duration<double>(returned - pressed).count());
    stopMs =
        std::max(stopMs, std::chrono::duration<double, std::milli>(applyEnded - pressed).count());
    leftover += table.Installed();
  }
  state.counters["created_at_press"] = double(createdAtPress);
  state.counters["stop_ms_max"] = stopMs;
  state.counters["leftover"] = double(leftover);
  if (leftover != 0) state.SkipWithError("routes were left behind");
}
BENCHMARK(BM_DisconnectDuringApply)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(5000)
    ->Arg(9000)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
