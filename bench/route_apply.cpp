// A route set of 10,000 lines applied when the tunnel comes up and restored at disconnect,
// through a table that only counts, so the figure is the engine's own cost per route.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "base/clock.h"
#include "vpn/general_vpn.h"

namespace {

class CountingTable : public RouteTable {
 public:
  uint32_t ReadForwardTable(std::vector<RouteRow>& rows) override {
    ++forwardTableReads;
    RouteRow hostDefault{};
    hostDefault.nextHop = 0x0101A8C0;
    hostDefault.interfaceIndex = 7;
    rows.assign(40, RouteRow{});  // a typical host's table, one default route among others
    for (size_t i = 0; i < rows.size(); ++i) rows[i].destination = uint32_t(i + 1);
    rows.push_back(hostDefault);
    return 0;
  }
  uint32_t CreateRow(const RouteRow& row) override {
    ++creates;
    benchmark::DoNotOptimize(row);
    return 0;
  }
  uint32_t DeleteRow(const RouteRow& row) override {
    ++deletes;
    benchmark::DoNotOptimize(row);
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

  int64_t forwardTableReads = 0;
  int64_t creates = 0;
  int64_t deletes = 0;
};

class BenchVpn : public CGeneralVpn {
 public:
  using CGeneralVpn::CGeneralVpn;
  int32_t GetStatistics(uint32_t&, uint32_t&, int32_t&) override { return 0; }
  std::wstring GetErrorDetailText(int32_t) override { return {}; }
  void TunnelUp() {
    RunEvent([this] {
      localAddress_ = L"10.8.0.6";
      ChangeState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
    });
  }
};

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
  CountingTable table;
  int64_t connections = 0;
  for (auto _ : state) {
    BenchVpn vpn(table, SystemTickClock(), nullptr);
    vpn.routeMode = RouteModeListedRoutes;
    vpn.routeList = routeSet;
    vpn.Connect();
    vpn.TunnelUp();
    vpn.Disconnect();
    ++connections;
  }
  if (table.creates != connections * int64_t(routes) || table.deletes != table.creates) {
    state.SkipWithError("not every route was created and restored");
  }
  state.counters["per_route"] =
      benchmark::Counter(double(connections) * double(routes),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["table_reads_per_connection"] =
      double(table.forwardTableReads) / double(connections);
}
BENCHMARK(BM_RouteApplyAndRestore)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
