// Random interleavings of one connection's threads: the connector reporting progress and the
// tunnel coming up (which applies the routes), against the window's Connect, statistics and
// Disconnect, over a slowed route table. Whatever the order, nothing may be left in the table,
// every report carries the next number, and none arrives once Disconnect has returned.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"

namespace {

constexpr int kSeeds = 1000;

std::vector<std::wstring> Routes(std::mt19937& random) {
  std::vector<std::wstring> lines;
  const int count = std::uniform_int_distribution<int>(0, 40)(random);
  for (int i = 0; i < count; ++i) {
    lines.push_back(L"10." + std::to_wstring(i) + L".0.0 mask 255.255.0.0");
  }
  return lines;
}

void Pause(std::mt19937& random) {
  const int micros = std::uniform_int_distribution<int>(0, 300)(random);
  if (micros > 150) std::this_thread::sleep_for(std::chrono::microseconds(micros - 150));
}

void RunSeed(unsigned seed) {
  std::mt19937 random(seed);
  FakeRouteTable table;
  table.SetLanHost();
  table.rowDelay = std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20)(random));
  FakeClock clock;
  ReportRecorder recorder;
  TestVpn vpn(table, clock, nullptr);
  vpn.callback = &recorder;
  vpn.routeMode = random() % 2 ? RouteModeListedRoutes : RouteModeDefaultGateway;
  vpn.routeList = Routes(random);
  ASSERT_EQ(vpn.Connect(), 0);

  // The connector's thread: progress, then the tunnel comes up, perhaps twice.
  const unsigned connectorSeed = random();
  std::thread connector([&vpn, connectorSeed] {
    std::mt19937 own(connectorSeed);
    for (const uint32_t state : {GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_STATE_AUTHENTICATE,
                                 GENERAL_VPN_STATE_AUTHENTICATED}) {
      Pause(own);
      vpn.SetState(state, 0, 0);
    }
    Pause(own);
    vpn.TunnelUp(L"10.8.0.6");
    if (own() % 4 == 0) vpn.TunnelUp(L"10.8.0.6");
  });

  // The window's thread: the watch ticks a few times, then Disconnect.
  const int ticks = std::uniform_int_distribution<int>(0, 4)(random);
  for (int i = 0; i < ticks; ++i) {
    Pause(random);
    uint32_t sent = 0;
    uint32_t received = 0;
    int32_t detail = 0;
    vpn.GetStatistics(sent, received, detail);
  }
  Pause(random);
  vpn.Disconnect();
  const size_t reportsAtDisconnect = recorder.statuses().size();
  connector.join();

  const std::vector<VpnStatus> statuses = recorder.statuses();
  EXPECT_EQ(statuses.size(), reportsAtDisconnect) << "a report after Disconnect, seed " << seed;
  for (size_t i = 0; i < statuses.size(); ++i) {
    ASSERT_EQ(statuses[i].sequence, i + 1) << "seed " << seed;
  }
  EXPECT_EQ(std::get<0>(recorder.reports().back()), GENERAL_VPN_STATE_RESTORE_ROUTE)
      << "seed " << seed;
  std::lock_guard lock(table.mutex);
  EXPECT_TRUE(table.installed.empty())
      << table.installed.size() << " routes left behind, seed " << seed;
}

TEST(EngineStress, DisconnectRacingTheTunnelLeavesNoRouteBehind) {
  // Bounded in time: on a loaded machine under a sanitizer the run stops early rather than
  // hold up the gate.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  unsigned seed = 0;
  for (; seed < kSeeds && std::chrono::steady_clock::now() < deadline; ++seed) {
    RunSeed(seed);
    if (HasFailure()) break;
  }
  RecordProperty("seeds", static_cast<int>(seed));
}

}  // namespace
