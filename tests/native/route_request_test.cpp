#include <gtest/gtest.h>

#include "fakes/fake_clock.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"
#include "vpn/route_request.h"
#include "vpn/vpn_route_request_base_server.h"

namespace {

// The server hands each request to whoever grants host routes: the engine's worker.
TEST(RouteRequestServerTest, RequestsGoToTheGrantAndAreRefusedWithoutOne) {
  FakeRouteTable table;
  FakeClock clock;
  FakeRouteRequestServer server(table, clock);
  EXPECT_FALSE(server.AddHostRoute(Ip("10.0.0.5")));
  std::vector<uint32_t> asked;
  server.grantHostRoute = [&](uint32_t address) {
    asked.push_back(address);
    return address != Ip("10.0.0.6");
  };
  EXPECT_TRUE(server.AddHostRoute(Ip("10.0.0.5")));
  EXPECT_FALSE(server.AddHostRoute(Ip("10.0.0.6")));
  EXPECT_FALSE(server.AddHostRoute(0));
  EXPECT_EQ(asked, (std::vector<uint32_t>{Ip("10.0.0.5"), Ip("10.0.0.6")}));
  EXPECT_TRUE(table.createCalls.empty());
}

TEST(RouteRequestServerTest, StartTakesTheTemplateOnceAndStopsMoreThanOnce) {
  FakeRouteTable table;
  FakeClock clock;
  FakeRouteRequestServer server(table, clock);
  RouteRow tunnel{};
  tunnel.interfaceIndex = 23;
  RouteRow other = tunnel;
  other.interfaceIndex = 31;
  ASSERT_TRUE(server.Start(tunnel));
  EXPECT_TRUE(server.IsRunning());
  EXPECT_FALSE(server.Start(other));
  EXPECT_EQ(server.routeTemplate, tunnel);
  server.Stop();
  server.Stop();
  EXPECT_FALSE(server.IsRunning());
  ASSERT_TRUE(server.Start(other));
  EXPECT_EQ(server.routeTemplate, other);
}

// ---- the request messages, answered through an engine whose tunnel is up in route mode 3 ----

class RouteRequestAnswerTest : public ::testing::Test {
 protected:
  RouteRequestAnswerTest() {
    table_.SetLanHost();
    auto server = std::make_unique<FakeRouteRequestServer>(table_, clock_);
    server_ = server.get();
    vpn_ = std::make_unique<TestVpn>(table_, clock_, std::move(server));
    vpn_->routeMode = RouteModeApplications;
    vpn_->ConnectNow();
    vpn_->TunnelUp(L"10.8.0.6");
  }

  uint8_t Answer(std::vector<uint8_t> message, uint32_t tunnelServer = 0) {
    return AnswerRouteRequest(*server_, message.data(), message.size(), tunnelServer);
  }
  uint8_t AnswerFor(const char* address, uint32_t tunnelServer = 0) {
    const auto message = BuildRouteRequest(Ip(address));
    return AnswerRouteRequest(*server_, message.data(), message.size(), tunnelServer);
  }

  FakeRouteTable table_;
  FakeClock clock_;
  FakeRouteRequestServer* server_ = nullptr;
  std::unique_ptr<TestVpn> vpn_;
};

TEST_F(RouteRequestAnswerTest, AWellFormedRequestGetsOneRouteHoweverOftenItIsAsked) {
  EXPECT_EQ(Answer({0x01, 93, 184, 216, 0x05}), 1);
  EXPECT_EQ(Answer({0x01, 93, 184, 216, 0x05}), 1);
  EXPECT_EQ(table_.installedDestinations(), std::vector<uint32_t>{Ip("93.184.216.5")});
  EXPECT_EQ(table_.installed[0].mask, 0xFFFFFFFFu);
  EXPECT_EQ(table_.installed[0].interfaceIndex, 23u);
  // The address goes on the wire first octet first, as in a socket address.
  EXPECT_EQ(BuildRouteRequest(Ip("93.184.216.5")), (std::array<uint8_t, 5>{1, 93, 184, 216, 5}));
}

TEST_F(RouteRequestAnswerTest, MalformedMessagesAreAnsweredZeroAndTouchNothing) {
  EXPECT_EQ(Answer({0x01, 93, 184, 216}), 0);              // one byte short
  EXPECT_EQ(Answer({0x01, 93, 184, 216, 0x05, 0x00}), 0);  // one byte long
  EXPECT_EQ(Answer({0x02, 93, 184, 216, 0x05}), 0);        // unknown type
  EXPECT_EQ(Answer({0x00, 93, 184, 216, 0x05}), 0);
  EXPECT_EQ(Answer({}), 0);
  EXPECT_EQ(Answer(std::vector<uint8_t>(4096, 0x01)), 0);
  EXPECT_EQ(AnswerRouteRequest(*server_, nullptr, 5, 0), 0);
  EXPECT_TRUE(table_.createCalls.empty());
  EXPECT_EQ(vpn_->HostRouteCount(), 0u);
}

TEST_F(RouteRequestAnswerTest, AddressesThatMustNotEnterTheTunnelAreRefused) {
  const uint32_t vpnServer = Ip("203.0.113.9");
  // Nothing the binding module would never ask for: a process pulling the LAN's resolver or
  // domain controller into the tunnel would cut the machine off from them.
  for (const char* address : {"0.0.0.0", "255.255.255.255", "127.0.0.1", "127.255.255.254",
                              "224.0.0.1", "239.255.255.250", "240.0.0.1", "203.0.113.9",
                              "10.0.0.5", "172.16.0.53", "192.168.1.1", "169.254.1.1",
                              "100.64.0.1", "100.127.255.254"}) {
    EXPECT_EQ(AnswerFor(address, vpnServer), 0) << address;
    EXPECT_EQ(MayRouteThroughTunnel(Ip(address), 0), IsSteerableDestination(Ip(address)));
  }
  EXPECT_TRUE(table_.createCalls.empty());

  // Their neighbours are ordinary destinations.
  for (const char* address : {"126.255.255.255", "128.0.0.1", "223.255.255.255", "172.32.0.1",
                              "203.0.113.10", "100.128.0.1"}) {
    EXPECT_EQ(AnswerFor(address, vpnServer), 1) << address;
  }
  EXPECT_EQ(table_.createCalls.size(), 6u);
  // With the server unknown only the fixed ranges are refused.
  EXPECT_EQ(AnswerFor("203.0.113.9"), 1);
}

TEST_F(RouteRequestAnswerTest, AFailedRouteIsAnsweredZeroAndTriedAgainNextTime) {
  table_.createErrors[Ip("93.184.216.7")] = 5;
  EXPECT_EQ(AnswerFor("93.184.216.7"), 0);
  table_.createErrors.clear();
  EXPECT_EQ(AnswerFor("93.184.216.7"), 1);
  EXPECT_EQ(table_.installed.size(), 1u);
}

TEST(TunnelServerAddressTest, DottedAddressesAndNamesOfTheServer) {
  EXPECT_EQ(TunnelServerAddress(L"203.0.113.9"), Ip("203.0.113.9"));
  EXPECT_EQ(TunnelServerAddress(L" 10.1.2.3 "), Ip("10.1.2.3"));
  EXPECT_EQ(TunnelServerAddress(L""), 0u);
  EXPECT_EQ(TunnelServerAddress(L"localhost"), Ip("127.0.0.1"));
}

}  // namespace
