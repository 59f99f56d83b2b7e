// Random interleavings of one connection's threads, as the system has them: the dial-up
// networking reporting on its own thread (also while Dial runs and after the hang-up), an
// OpenVPN child writing into a bounded pipe read by a real reader thread, the route-request
// server asking for host routes; against the window's Connect, statistics and Disconnect, over
// a slowed route table, with the route journal and the IPv6 guard. Whatever the order, nothing
// may be left in either table or in the journal, every report carries the next number, the
// last one says the restore is done, and the system calling after the engine is gone is told
// to stop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_console_child.h"
#include "fakes/fake_ipv6_route_table.h"
#include "fakes/fake_ras_dialer.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"
#include "vpn/open_vpn.h"
#include "vpn/route_journal.h"
#include "vpn/windows_vpn.h"

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

FakeRasDialer::Progress DialUpProgress(std::mt19937& random) {
  FakeRasDialer::Progress progress = {
      {kRasStateConnectDevice, 0}, {kRasStateAuthenticate, 0}, {kRasStateAuthenticated, 0}};
  progress.emplace_back(kRasStateConnected, random() % 8 == 0 ? 619 : 0);
  if (random() % 4 == 0) progress.emplace_back(kRasStateConnected, 0);
  return progress;
}

constexpr char kOpenVpnSession[] =
    "Enter Auth Username:Enter Auth Password:"
    "[server] Peer Connection Initiated with [AF_INET]203.0.113.9:80\n"
    "PUSH: Received control message: 'PUSH_REPLY,route-gateway 10.8.0.5,ping 10'\n"
    "Notified TAP-Win32 driver to set a DHCP IP/netmask of 10.8.0.6/255.255.255.252 on "
    "interface {4A3B2C1D-0000-1111-2222-333344445555}\n"
    "Initialization Sequence Completed\n";

class EngineStress : public ::testing::Test {
 protected:
  void RunSeed(unsigned seed);

  const std::filesystem::path journal_ =
      std::filesystem::temp_directory_path() / ("kv-stress-" + std::to_string(::getpid()));
};

void EngineStress::RunSeed(unsigned seed) {
  std::mt19937 random(seed);
  FakeRouteTable table;
  table.SetLanHost();
  table.rowDelay = std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20)(random));
  FakeIpv6RouteTable ipv6;
  ipv6.AddHomeNetwork(7);
  const std::vector<Ipv6RouteRow> ipv6Before = ipv6.rows;
  FakeClock clock;
  FakeRasDialer dialer;
  dialer.hangUpPolls = int(random() % 4);
  ReportRecorder recorder;

  const uint32_t mode = 1 + random() % 3;
  auto server = std::make_unique<FakeRouteRequestServer>(table, clock);
  server->askWhileRunning = random() % 2 == 0;
  const int kind = int(seed % 3);
  std::unique_ptr<CGeneralVpn> vpn;
  TestVpn* testVpn = nullptr;
  PipedConsoleChild* child = nullptr;
  if (kind == 0) {
    auto engine = std::make_unique<TestVpn>(table, clock, std::move(server));
    testVpn = engine.get();
    vpn = std::move(engine);
  } else if (kind == 1) {
    if (random() % 2 == 0) dialer.duringDial = {{kRasStateConnectDevice, 0}};
    vpn = std::make_unique<CWindowsVpn>(kWindowsVpnTunnelPptp, dialer, table, clock,
                                        std::move(server));
  } else {
    auto piped = std::make_unique<PipedConsoleChild>();
    child = piped.get();
    child->script = kOpenVpnSession;
    child->linePeriod = std::chrono::microseconds(50 + random() % 200);
    auto signal = std::make_unique<FakeExitSignal>();
    signal->child = child;
    vpn = std::make_unique<COpenVpn>(std::move(piped), std::move(signal), table, clock,
                                     std::move(server));
  }
  vpn->SetIpv6RouteTable(&ipv6);
  vpn->SetRouteJournal(std::make_unique<RouteJournal>(table, journal_.wstring(), &ipv6));
  vpn->callback = &recorder;
  vpn->routeMode = mode;
  vpn->routeList = Routes(random);
  vpn->serverAddress = L"203.0.113.9";
  vpn->userName = L"alice";
  vpn->password = L"s3cret";
  vpn->Connect();

  // The system's side.
  const unsigned systemSeed = random();
  std::thread system([&, systemSeed] {
    std::mt19937 own(systemSeed);
    if (testVpn != nullptr) {
      for (const uint32_t state : {GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_STATE_AUTHENTICATE,
                                   GENERAL_VPN_STATE_AUTHENTICATED}) {
        Pause(own);
        testVpn->SetState(state, 0, 0);
      }
      Pause(own);
      testVpn->TunnelUpLater(L"10.8.0.6");
      if (own() % 4 == 0) testVpn->TunnelUpLater(L"10.8.0.6");
    } else if (kind == 1) {
      Pause(own);
      dialer.Deliver(DialUpProgress(own));
    }
  });

  // The window's thread: the watch ticks a few times, then Disconnect.
  const int ticks = std::uniform_int_distribution<int>(0, 4)(random);
  for (int i = 0; i < ticks; ++i) {
    Pause(random);
    uint32_t sent = 0;
    uint32_t received = 0;
    int32_t detail = 0;
    vpn->GetStatistics(sent, received, detail);
  }
  Pause(random);
  vpn->Disconnect();
  // The system goes on reporting after the hang-up.
  if (kind == 1) dialer.DeliverLater({{kRasStateDisconnected, 0}});
  ASSERT_TRUE(vpn->WaitFinished(60000)) << "seed " << seed;
  system.join();
  dialer.JoinSystem();

  const std::vector<VpnStatus> statuses = recorder.statuses();
  for (size_t i = 0; i < statuses.size(); ++i) {
    ASSERT_EQ(statuses[i].sequence, i + 1) << "seed " << seed;
  }
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back().state, GENERAL_VPN_STATE_DISCONNECTED) << "seed " << seed;
  vpn.reset();
  EXPECT_EQ(recorder.statuses().size(), statuses.size()) << "a report after the end, seed "
                                                         << seed;
  if (kind == 1 && !dialer.dials.empty()) {
    EXPECT_EQ(dialer.Deliver({{kRasStateDisconnected, 0}}), std::vector<uint32_t>{0})
        << "seed " << seed;
  }

  std::lock_guard lock(table.mutex);
  EXPECT_TRUE(table.installed.empty())
      << table.installed.size() << " routes left behind, seed " << seed;
  EXPECT_EQ(ipv6.rows, ipv6Before) << "seed " << seed;
  EXPECT_FALSE(std::filesystem::exists(journal_)) << "journal kept, seed " << seed;
}

TEST_F(EngineStress, DisconnectRacingEveryThreadLeavesNothingBehind) {
  // Bounded in time: on a loaded machine under a sanitizer the run stops early rather than
  // hold up the gate.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  unsigned seed = 0;
  for (; seed < kSeeds && std::chrono::steady_clock::now() < deadline; ++seed) {
    RunSeed(seed);
    if (HasFailure()) break;
  }
  std::filesystem::remove(journal_);
  RecordProperty("seeds", static_cast<int>(seed));
}

}  // namespace
