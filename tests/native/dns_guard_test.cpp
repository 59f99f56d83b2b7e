// Route mode 1 and name lookups: while the tunnel is the default gateway, lookups go to the
// tunnel's resolver (and to loopback) only, and the filters go with the connection.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/text_table.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_dns_guard.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"

namespace {

constexpr uint32_t kLan = 7;
constexpr uint32_t kTunnel = 23;
// Inside the listed prefix below, which route mode 1 sends through the local network's gateway.
const uint32_t kTunnelResolver = Ip("8.8.8.8");

class DnsGuardTest : public ::testing::Test {
 protected:
  DnsGuardTest() {
    BuildTextTable();
    Reset();
  }
  void Reset() {
    table_.SetLanHost();
    guard_ = FakeDnsGuard{};
    guard_.dnsServers = {{kLan, {Ip("192.168.1.1")}}, {kTunnel, {kTunnelResolver, Ip("10.8.0.1")}}};
  }

  std::unique_ptr<TestVpn> Connected(uint32_t mode) {
    auto vpn = std::make_unique<TestVpn>(table_, clock_,
                                         std::make_unique<FakeRouteRequestServer>(table_, clock_));
    vpn->SetDnsGuard(&guard_);
    vpn->routeMode = mode;
    vpn->routeList = {L"8.8.8.0 mask 255.255.255.0"};
    EXPECT_EQ(vpn->ConnectNow(), 0);
    vpn->TunnelUp(L"10.8.0.6");
    return vpn;
  }

  // Whether a lookup leaving by `interface` gets out, in every family and over every protocol.
  bool Passes(uint32_t interface) const {
    for (const IpFamily family : {IpFamily::kIpv4, IpFamily::kIpv6}) {
      for (const uint8_t protocol : {kIpProtocolUdp, kIpProtocolTcp}) {
        FakeDnsGuard::Connection lookup = FakeDnsGuard::Lookup(interface, family);
        lookup.protocol = protocol;
        if (!guard_.Passes(lookup)) return false;
      }
    }
    return true;
  }

  FakeRouteTable table_;
  FakeDnsGuard guard_;
  FakeClock clock_;
};

TEST_F(DnsGuardTest, ModeOneLetsLookupsGoThroughTheTunnelAndLoopbackOnly) {
  auto vpn = Connected(RouteModeDefaultGateway);
  EXPECT_EQ(vpn->Status().state, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_FALSE(vpn->Status().dnsUnguarded);
  EXPECT_TRUE(Passes(kTunnel));
  // A resolver of the host's own (a local cache or filter) keeps working.
  EXPECT_TRUE(Passes(FakeDnsGuard::kLoopbackInterface));
  EXPECT_FALSE(guard_.Passes(FakeDnsGuard::Lookup(kLan)));
  FakeDnsGuard::Connection overTcp6 = FakeDnsGuard::Lookup(kLan, IpFamily::kIpv6);
  overTcp6.protocol = kIpProtocolTcp;
  EXPECT_FALSE(guard_.Passes(overTcp6));
  // The rest of the LAN is none of the guard's business: the router's page, the printer.
  FakeDnsGuard::Connection web = FakeDnsGuard::Lookup(kLan);
  web.remotePort = 443;
  EXPECT_TRUE(guard_.Passes(web));

  // The tunnel's resolver inside a prefix the listed routes send around the tunnel: its lookups
  // leave by the local network and still get out; the local network's resolver stays blocked.
  // The table as the system has it then: the tunnel's default route and the LAN's own subnet.
  RouteRow tunnelDefault{};
  tunnelDefault.interfaceIndex = kTunnel;
  RouteRow lanSubnet{};
  lanSubnet.destination = Ip("192.168.1.0");
  lanSubnet.mask = Ip("255.255.255.0");
  lanSubnet.interfaceIndex = kLan;
  table_.forwardTable.push_back(tunnelDefault);
  table_.forwardTable.push_back(lanSubnet);
  const FakeDnsGuard::Connection toResolver = FakeDnsGuard::LookupTo(kTunnelResolver, table_.forwardTable);
  EXPECT_EQ(toResolver.interfaceIndex, kLan);
  EXPECT_TRUE(guard_.Passes(toResolver));
  EXPECT_FALSE(guard_.Passes(FakeDnsGuard::LookupTo(Ip("192.168.1.1"), table_.forwardTable)));

  vpn->DisconnectNow();
  EXPECT_TRUE(guard_.filters.empty());
  EXPECT_TRUE(Passes(kLan));
}

TEST_F(DnsGuardTest, OnlyModeOneWithATunnelResolverIsGuardedAndAMissingGuardIsTold) {
  struct Case {
    const char* name;
    uint32_t mode;
    void (*setUp)(FakeDnsGuard&, FakeRouteTable&);
    bool unguarded;
  };
  const Case cases[] = {
      {"mode 2", RouteModeListedRoutes, [](FakeDnsGuard&, FakeRouteTable&) {}, false},
      {"mode 3", RouteModeApplications, [](FakeDnsGuard&, FakeRouteTable&) {}, false},
      // Blocking the LAN's resolver would leave no names at all.
      {"no tunnel resolver", RouteModeDefaultGateway,
       [](FakeDnsGuard& g, FakeRouteTable&) { g.dnsServers[kTunnel].clear(); }, true},
      {"no adapter holds the tunnel's address", RouteModeDefaultGateway,
       [](FakeDnsGuard&, FakeRouteTable& t) { t.adapters.pop_back(); }, true},
      {"the guard refused", RouteModeDefaultGateway,
       [](FakeDnsGuard& g, FakeRouteTable&) { g.addError = 0x80320009; }, true},
      // Before Vista the resolver asks one server at a time, and there is no filter to use.
      {"no filtering platform", RouteModeDefaultGateway,
       [](FakeDnsGuard& g, FakeRouteTable&) { g.countError = kDnsGuardUnsupported; }, false},
  };
  for (const Case& c : cases) {
    Reset();
    c.setUp(guard_, table_);
    auto vpn = Connected(c.mode);
    const VpnStatus status = vpn->Status();
    EXPECT_EQ(status.state, GENERAL_VPN_STATE_ALL_DONE) << c.name;
    EXPECT_TRUE(guard_.filters.empty()) << c.name;
    EXPECT_EQ(status.dnsUnguarded, c.unguarded) << c.name;
    const bool told = vpn->BuildStatusReport().find(GetText("VpnErrorDetail") + L":" +
                                                    GetText("VpnDnsNotGuarded") + L"\r\n") !=
                      std::wstring::npos;
    EXPECT_EQ(told, c.unguarded) << c.name;
    vpn->DisconnectNow();
    EXPECT_TRUE(Passes(kLan)) << c.name;
  }
}

TEST_F(DnsGuardTest, EveryWayTheConnectionEndsTakesTheGuardAway) {
  // Reported up twice: one guard; up again on a new interface: the guard follows it.
  auto vpn = Connected(RouteModeDefaultGateway);
  vpn->TunnelUp(L"10.8.0.6");
  EXPECT_EQ(guard_.adds, 1);
  table_.adapters.push_back({31, "10.8.0.10"});
  guard_.dnsServers[31] = {Ip("10.8.0.9")};
  vpn->TunnelUp(L"10.8.0.10");
  EXPECT_TRUE(Passes(31));
  EXPECT_FALSE(guard_.Passes(FakeDnsGuard::Lookup(kTunnel)));
  vpn->DisconnectNow();
  EXPECT_TRUE(guard_.filters.empty());

  // A route that could not be made: the owner stops the connection it will not keep.
  Reset();
  table_.createErrors[Ip("8.8.8.0")] = FakeRouteTable::kInvalidParameter;
  auto failed = Connected(RouteModeDefaultGateway);
  EXPECT_EQ(failed->Status().error, GENERAL_VPN_ERROR_MODIFY_ROUTE);
  EXPECT_FALSE(guard_.filters.empty());
  failed->DisconnectNow();
  EXPECT_TRUE(guard_.filters.empty());

  // Disconnect while the route list is still being applied.
  Reset();
  table_.createErrors.clear();
  TestVpn busy(table_, clock_, nullptr);
  busy.SetDnsGuard(&guard_);
  busy.routeMode = RouteModeDefaultGateway;
  busy.routeList.assign(3, L"8.8.8.0 mask 255.255.255.0");
  bool guardedWhenStopped = false;
  table_.beforeCreate = [&](const RouteRow&) {
    guardedWhenStopped = !guard_.filters.empty();
    busy.Disconnect();
    return 0u;
  };
  busy.ConnectNow();
  busy.TunnelUp(L"10.8.0.6");
  EXPECT_TRUE(busy.WaitFinished(60000));
  EXPECT_TRUE(guardedWhenStopped);
  EXPECT_TRUE(guard_.filters.empty());
}

}  // namespace
