// Route mode 1 and IPv6: global IPv6 is sent nowhere while the tunnel is the default gateway,
// and the host's table is exactly as before once the connection is gone, however it went.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "config/text_table.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_ipv6_route_table.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"
#include "vpn/route_journal.h"

namespace {

constexpr uint32_t kLan = 7;
constexpr uint32_t kTunnel = 23;

std::vector<Ipv6RouteRow> Sorted(std::vector<Ipv6RouteRow> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

class Ipv6GuardTest : public ::testing::Test {
 protected:
  Ipv6GuardTest() {
    BuildTextTable();
    RouteRow hostDefault{};
    hostDefault.nextHop = Ip("192.168.1.1");
    hostDefault.interfaceIndex = kLan;
    table_.forwardTable = {hostDefault};
    table_.adapters = {{kLan, "192.168.1.20"}, {kTunnel, "10.8.0.6"}};
    table_.interfaceMetrics = std::vector<InterfaceMetric>{{kLan, 20}, {kTunnel, 5}};
    ipv6_.AddHomeNetwork(kLan);
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    journal_ = std::filesystem::temp_directory_path() /
               ("kv_ipv6_guard_" + std::to_string(getpid()) + "_" + test->name() + ".dat");
    std::filesystem::remove(journal_);
  }
  ~Ipv6GuardTest() override { std::filesystem::remove(journal_); }

  std::unique_ptr<TestVpn> Connected(uint32_t mode, bool journal = false) {
    auto vpn = std::make_unique<TestVpn>(table_, clock_,
                                         std::make_unique<FakeRouteRequestServer>(table_, clock_));
    vpn->SetIpv6RouteTable(&ipv6_);
    if (journal) {
      vpn->SetRouteJournal(std::make_unique<RouteJournal>(table_, journal_.wstring(), &ipv6_));
    }
    vpn->callback = &recorder_;
    vpn->routeMode = mode;
    vpn->routeList = {L"8.8.8.0 mask 255.255.255.0"};
    EXPECT_EQ(vpn->ConnectNow(), 0);
    vpn->TunnelUp(L"10.8.0.6");
    return vpn;
  }

  FakeRouteTable table_;
  FakeIpv6RouteTable ipv6_;
  FakeClock clock_;
  ReportRecorder recorder_;
  std::filesystem::path journal_;
};

TEST_F(Ipv6GuardTest, ModeOneSendsGlobalIpv6NowhereAndLeavesLocalIpv6Alone) {
  const auto before = Sorted(ipv6_.rows);
  auto vpn = Connected(RouteModeDefaultGateway);

  EXPECT_EQ(vpn->Status().state, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_FALSE(vpn->Status().ipv6Unguarded);
  EXPECT_EQ(ipv6_.rows.size(), before.size() + 2);
  for (const char* global : {"2a00:1450::1", "2001:4860:4860::8888", "::ffff:1", "3fff::"}) {
    ASSERT_TRUE(ipv6_.Lookup(global)) << global;
    EXPECT_EQ(ipv6_.Lookup(global)->interfaceIndex, FakeIpv6RouteTable::kLoopbackInterface)
        << global;
  }
  // The router's page, the printer, the home's own prefix, multicast.
  for (const char* local : {"fe80::1", "fd12:3456:789a::20", "2001:db8:1::9", "ff02::1"}) {
    EXPECT_EQ(ipv6_.Lookup(local)->interfaceIndex, kLan) << local;
  }
  EXPECT_EQ(ipv6_.Lookup("::1")->prefixLength, 128u);

  vpn->DisconnectNow();
  EXPECT_EQ(Sorted(ipv6_.rows), before);
}

TEST_F(Ipv6GuardTest, Ipv6IsLeftAloneWhereThereIsNothingToGuard) {
  // Modes 2 and 3 choose their traffic; without a default route IPv6 goes nowhere anyway; a
  // default route on the tunnel is the tunnel's; a system without the functions is skipped.
  struct Case {
    const char* name;
    uint32_t mode;
    void (*setUp)(FakeIpv6RouteTable&);
  };
  const Case cases[] = {
      {"mode 2", RouteModeListedRoutes, [](FakeIpv6RouteTable&) {}},
      {"mode 3", RouteModeApplications, [](FakeIpv6RouteTable&) {}},
      {"no default route", RouteModeDefaultGateway,
       [](FakeIpv6RouteTable& t) {
         t.rows.clear();
         t.AddLoopbackOnly();
       }},
      {"default route on the tunnel", RouteModeDefaultGateway,
       [](FakeIpv6RouteTable& t) {
         t.rows.clear();
         t.AddHomeNetwork(kTunnel);
       }},
      {"no IPv6 routing functions", RouteModeDefaultGateway,
       [](FakeIpv6RouteTable& t) { t.readError = kIpv6RoutesUnsupported; }},
  };
  for (const Case& c : cases) {
    ipv6_ = FakeIpv6RouteTable{};
    ipv6_.AddHomeNetwork(kLan);
    c.setUp(ipv6_);
    const auto before = ipv6_.rows;
    auto vpn = Connected(c.mode);
    EXPECT_EQ(ipv6_.creates, 0) << c.name;
    EXPECT_FALSE(vpn->Status().ipv6Unguarded) << c.name;
    vpn->DisconnectNow();
    EXPECT_EQ(ipv6_.rows, before) << c.name;
    EXPECT_EQ(ipv6_.deletes, 0) << c.name;
  }
}

TEST_F(Ipv6GuardTest, AFailedGuardKeepsTheConnectionAndSaysSo) {
  const auto before = Sorted(ipv6_.rows);
  ipv6_.createErrorAt = 2;
  ipv6_.createError = 1214;
  auto vpn = Connected(RouteModeDefaultGateway);

  const VpnStatus status = vpn->Status();
  EXPECT_EQ(status.state, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_EQ(status.error, GENERAL_VPN_ERROR_SUCCESS);
  EXPECT_TRUE(status.ipv6Unguarded);
  EXPECT_NE(vpn->BuildStatusReport().find(GetText("VpnErrorDetail") + L":" +
                                          GetText("VpnIpv6NotGuarded") + L"\r\n"),
            std::wstring::npos);
  // Half a guard is no guard: the half that was made is gone again at once.
  EXPECT_EQ(Sorted(ipv6_.rows), before);
  EXPECT_FALSE(table_.installed.empty());

  vpn->DisconnectNow();
  EXPECT_EQ(Sorted(ipv6_.rows), before);

  // A table that cannot be read is not known to be safe either.
  ipv6_ = FakeIpv6RouteTable{};
  ipv6_.readError = 31;
  auto unread = Connected(RouteModeDefaultGateway);
  EXPECT_TRUE(unread->Status().ipv6Unguarded);
  unread->DisconnectNow();
}

TEST_F(Ipv6GuardTest, ATunnelReportedUpTwiceGuardsOnceAndRestoresOnce) {
  const auto before = Sorted(ipv6_.rows);
  auto vpn = Connected(RouteModeDefaultGateway);
  vpn->TunnelUp(L"10.8.0.6");
  EXPECT_EQ(ipv6_.rows.size(), before.size() + 2);
  vpn->DisconnectNow();
  EXPECT_EQ(Sorted(ipv6_.rows), before);
  EXPECT_EQ(ipv6_.deletes, 2);
}

TEST_F(Ipv6GuardTest, AGuardLeftByACrashIsTakenBackAtTheNextStart) {
  const auto before = Sorted(ipv6_.rows);
  auto vpn = Connected(RouteModeDefaultGateway, /*journal=*/true);
  ASSERT_EQ(ipv6_.rows.size(), before.size() + 2);
  // Killed while connected: nothing is restored, the journal stays.
  vpn.reset();
  ASSERT_TRUE(std::filesystem::exists(journal_));

  // A start that cannot reach the IPv6 table keeps the journal for one that can.
  const RouteRecovery blind = RecoverRouteJournal(table_, journal_.wstring());
  EXPECT_TRUE(blind.kept);
  EXPECT_EQ(ipv6_.rows.size(), before.size() + 2);

  const RouteRecovery recovery = RecoverRouteJournal(table_, journal_.wstring(), &ipv6_);
  EXPECT_FALSE(recovery.kept);
  EXPECT_EQ(Sorted(ipv6_.rows), before);
  EXPECT_FALSE(std::filesystem::exists(journal_));
}

TEST_F(Ipv6GuardTest, ANormalDisconnectLeavesNoJournal) {
  const auto before = Sorted(ipv6_.rows);
  auto vpn = Connected(RouteModeDefaultGateway, /*journal=*/true);
  vpn->DisconnectNow();
  EXPECT_EQ(Sorted(ipv6_.rows), before);
  EXPECT_FALSE(std::filesystem::exists(journal_));
}

}  // namespace
