// A route set of 10,000 lines (1,000 in a short run) applied when the tunnel comes up and
// restored at disconnect, through a table that only counts, so the figure is the engine's own
// cost per route.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "base/clock.h"
#include "bench_check.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"

namespace {

std::vector<std::wstring> RouteSet(size_t count) {
  std::vector<std::wstring> lines;
  lines.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const std::wstring network = std::to_wstring(1 + i / 65536 % 223) + L"." +
                                 std::to_wstring(i / 256 % 256) + L"." + std::to_wstring(i % 256) +
                                 L".0";
    lines.push_back(network + (i % 2 ? L" mask 255.255.255.0" : L"  MASK  255.255.255.0 "));
  }
  return lines;
}

void BM_RouteApplyAndRestore(benchmark::State& state) {
  const size_t routes = static_cast<size_t>(state.range(0));
  const std::vector<std::wstring> routeSet = RouteSet(routes);
  FakeRouteTable table;
  table.SetLanHost();
  // A typical host's table: one default route among others.
  std::vector<RouteRow> others(40, RouteRow{});
  for (size_t i = 0; i < others.size(); ++i) others[i].destination = uint32_t(i + 1);
  table.forwardTable.insert(table.forwardTable.begin(), others.begin(), others.end());
  table.interfaceMetrics = std::vector<InterfaceMetric>{{7, 20}, {23, 5}};
  table.countOnly = true;
  int64_t connections = 0;
  // The cleanup's settle time passes at once on it.
  FakeClock clock;
  for (auto _ : state) {
    TestVpn vpn(table, clock, nullptr);
    vpn.routeMode = RouteModeListedRoutes;
    vpn.routeList = routeSet;
    vpn.ConnectNow();
    vpn.TunnelUp(L"10.8.0.6");
    vpn.DisconnectNow();
    ++connections;
  }
  if (table.creates != connections * int64_t(routes) || table.deletes != table.creates) {
    BenchFail(state, "not every route was created and restored");
  }
  state.counters["per_route"] =
      benchmark::Counter(double(connections) * double(routes),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["table_reads_per_connection"] =
      double(table.forwardTableReads) / double(connections);
}
BENCHMARK(BM_RouteApplyAndRestore)
    ->Arg(BenchCount(10000, 1000))
    ->Apply(OnceWhenShort)
    ->Unit(benchmark::kMillisecond);

}  // namespace
