// Disconnect pressed while a 10,000-route set is being applied, through a table that takes
// 50 µs for every route it creates or deletes. Figures per press point (routes created when
// Disconnect is pressed; a short run applies 1,000 routes and presses once at each point):
//   disconnect   from Disconnect until the restore is done (the benchmark's time): the route
//                work gives up between two routes, then the worker restores every route
//                created so far at 50 µs each
//   call_ms_max  Disconnect's own time on the window's thread: it only queues the cleanup
//   leftover     routes still in the table afterwards; must be 0
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench_check.h"
#include "route_set.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"

namespace {

using Clock = std::chrono::steady_clock;

const size_t kRoutes = BenchCount<size_t>(10000, 1000);
constexpr auto kPerRoute = std::chrono::microseconds(50);

void BM_DisconnectDuringApply(benchmark::State& state) {
  const size_t pressAt = static_cast<size_t>(state.range(0));
  const std::vector<std::wstring> routeSet = BenchRouteSet(kRoutes);
  double stopMs = 0;
  size_t leftover = 0;
  size_t createdAtPress = 0;
  for (auto _ : state) {
    FakeRouteTable table;
    table.SetLanHost();
    table.interfaceMetrics = std::vector<InterfaceMetric>{{7, 20}, {23, 5}};
    table.rowDelay = kPerRoute;
    table.spinDelay = true;
    table.countOnly = true;
    FakeClock clock;
    TestVpn vpn(table, clock, nullptr);
    vpn.routeMode = RouteModeListedRoutes;
    vpn.routeList = routeSet;
    vpn.Connect();
    vpn.TunnelUpLater(L"10.8.0.6");
    while (table.creates < int64_t(pressAt)) std::this_thread::yield();

    const auto pressed = Clock::now();
    createdAtPress = size_t(table.creates);
    vpn.Disconnect();
    const auto returned = Clock::now();
    vpn.WaitFinished(600000);
    const auto restored = Clock::now();

    state.SetIterationTime(std::chrono::duration<double>(restored - pressed).count());
    stopMs =
        std::max(stopMs, std::chrono::duration<double, std::milli>(returned - pressed).count());
    leftover += size_t(table.creates - table.deletes);
  }
  state.counters["created_at_press"] = double(createdAtPress);
  state.counters["call_ms_max"] = stopMs;
  state.counters["leftover"] = double(leftover);
  if (leftover != 0) BenchFail(state, "routes were left behind");
}
BENCHMARK(BM_DisconnectDuringApply)
    ->Arg(int64_t(kRoutes / 100))
    ->Arg(int64_t(kRoutes / 10))
    ->Arg(int64_t(kRoutes / 2))
    ->Arg(int64_t(kRoutes * 9 / 10))
    ->Iterations(BenchCount(3, 1))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
