// What the window and the tunnel feel while a 10,000-route set (500 in a short run) is applied
// and restored through a table that takes 1 ms for every route it creates and deletes (a busy
// Windows machine):
//   window_max_ms   the longest the window's thread spent in any one engine call (Connect, the
//                   once-a-second statistics, the status it reads, Disconnect) from Connect
//                   until the restore was done; goal below 20 ms
//   apply_s, restore_s   how long the worker took for each
//   leftover        routes still in the table afterwards; must be 0
// and, for an OpenVPN child printing a keepalive line every 200 µs into a 4 KiB pipe:
//   reader_gap_max_ms   the longest gap between two reads of the console reader while the
//                       routes were applied; goal below 200 ms
//   child_block_max_ms  the longest the child waited for room in its pipe
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench_check.h"
#include "route_set.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_console_child.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"
#include "vpn/open_vpn.h"

namespace {

using Clock = std::chrono::steady_clock;

const size_t kRoutes = BenchCount<size_t>(10000, 500);
constexpr auto kPerRoute = std::chrono::milliseconds(1);

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Runs `call` on this (the window's) thread and keeps the longest it took.
template <typename Call>
void Timed(double& longest, Call&& call) {
  const auto start = Clock::now();
  call();
  longest = std::max(longest, Ms(Clock::now() - start));
}

void BM_WindowDuringConnectAndDisconnect(benchmark::State& state) {
  const std::vector<std::wstring> routeSet = BenchRouteSet(kRoutes);
  double windowMax = 0;
  double applyS = 0;
  double restoreS = 0;
  int64_t leftover = 0;
  for (auto _ : state) {
    FakeRouteTable table;
    table.SetLanHost();
    table.rowDelay = kPerRoute;
    table.countOnly = true;
    FakeClock clock;
    ReportRecorder recorder;
    TestVpn vpn(table, clock, nullptr);
    vpn.callback = &recorder;
    vpn.routeMode = RouteModeListedRoutes;
    vpn.routeList = routeSet;
    const auto watch = [&] {
      uint32_t sent = 0;
      uint32_t received = 0;
      int32_t detail = 0;
      Timed(windowMax, [&] { vpn.GetStatistics(sent, received, detail); });
      Timed(windowMax, [&] { vpn.Status(); });
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };

    const auto started = Clock::now();
    Timed(windowMax, [&] { vpn.Connect(); });
    vpn.TunnelUpLater(L"10.8.0.6");
    while (vpn.Status().state != GENERAL_VPN_STATE_ALL_DONE) watch();
    const auto applied = Clock::now();
    Timed(windowMax, [&] { vpn.Disconnect(); });
    while (!vpn.Finished()) watch();
    const auto restored = Clock::now();

    applyS = Ms(applied - started) / 1000;
    restoreS = Ms(restored - applied) / 1000;
    leftover += table.creates - table.deletes;
  }
  state.counters["window_max_ms"] = windowMax;
  state.counters["apply_s"] = applyS;
  state.counters["restore_s"] = restoreS;
  state.counters["leftover"] = double(leftover);
  if (leftover != 0) BenchFail(state, "routes were left behind");
}
BENCHMARK(BM_WindowDuringConnectAndDisconnect)->Iterations(1)->Unit(benchmark::kSecond);

void BM_ConsoleReaderWhileRoutesAreApplied(benchmark::State& state) {
  const std::vector<std::wstring> routeSet = BenchRouteSet(kRoutes);
  double gapMax = 0;
  double blockMax = 0;
  for (auto _ : state) {
    FakeRouteTable table;
    table.SetLanHost();
    table.rowDelay = kPerRoute;
    table.countOnly = true;
    FakeClock clock;
    auto piped = std::make_unique<PipedConsoleChild>();
    PipedConsoleChild* child = piped.get();
    child->script =
        "Notified TAP-Win32 driver to set a DHCP IP/netmask of 10.8.0.6/255.255.255.252 on "
        "interface {X}\nInitialization Sequence Completed\n";
    auto signal = std::make_unique<FakeExitSignal>();
    signal->child = child;
    COpenVpn vpn(std::move(piped), std::move(signal), table, clock);
    vpn.routeMode = RouteModeListedRoutes;
    vpn.serverAddress = L"vpn.example.com";
    vpn.routeList = routeSet;
    vpn.Connect();
    while (vpn.Status().state != GENERAL_VPN_STATE_ALL_DONE) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    gapMax = std::max(gapMax, double(child->LongestReadGap().count()) / 1000);
    blockMax = std::max(blockMax, double(child->LongestBlockedWrite().count()) / 1000);
    vpn.Disconnect();
    vpn.WaitFinished(600000);
  }
  state.counters["reader_gap_max_ms"] = gapMax;
  state.counters["child_block_max_ms"] = blockMax;
}
BENCHMARK(BM_ConsoleReaderWhileRoutesAreApplied)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
