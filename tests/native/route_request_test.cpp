#include <gtest/gtest.h>

#include "fakes/fake_clock.h"
#include "fakes/fake_route_table.h"
#include "vpn/route_request.h"
#include "vpn/vpn_route_request_base_server.h"

namespace {

class RouteRequestServerTest : public ::testing::Test {
 protected:
  RouteRequestServerTest() {
    tunnel_.nextHop = Ip("10.8.0.6");
    tunnel_.interfaceIndex = 23;
    tunnel_.type = 3;
    tunnel_.protocol = 3;
    tunnel_.metric1 = 6;
    server_.routeTemplate = tunnel_;
  }

  RouteRow HostRoute(const char* address) const {
    RouteRow row = tunnel_;
    row.destination = Ip(address);
    row.mask = 0xFFFFFFFFu;
    return row;
  }

  FakeRouteTable table_;
  FakeClock clock_;
  RouteRow tunnel_{};
  FakeRouteRequestServer server_{table_, clock_};
};

TEST_F(RouteRequestServerTest, OneRoutePerAddressAndARepeatOnlyRefreshesIt) {
  clock_.now = 1000;
  EXPECT_TRUE(server_.AddHostRoute(Ip("10.0.0.5")));
  clock_.now = 4000;
  EXPECT_TRUE(server_.AddHostRoute(Ip("10.0.0.5")));
  EXPECT_TRUE(server_.AddHostRoute(Ip("10.0.0.6")));
  EXPECT_EQ(table_.createCalls,
            (std::vector<RouteRow>{HostRoute("10.0.0.5"), HostRoute("10.0.0.6")}));
  ASSERT_EQ(server_.hostRoutes.count(Ip("10.0.0.5")), 1u);
  EXPECT_EQ(server_.hostRoutes.at(Ip("10.0.0.5")).lastRequestTick, 4000u);
  EXPECT_EQ(server_.hostRoutes.at(Ip("10.0.0.5")).mask, 0xFFFFFFFFu);
}

TEST_F(RouteRequestServerTest, AddressZeroAndFailedCreationsLeaveNothingBehind) {
  EXPECT_FALSE(server_.AddHostRoute(0));
  EXPECT_TRUE(table_.createCalls.empty());

  table_.createErrors[Ip("10.0.0.7")] = 87;
  EXPECT_FALSE(server_.AddHostRoute(Ip("10.0.0.7")));
  EXPECT_TRUE(server_.hostRoutes.empty());
  table_.createErrors.clear();
  EXPECT_TRUE(server_.AddHostRoute(Ip("10.0.0.7")));
  EXPECT_EQ(table_.createCalls.size(), 2u);
}

TEST_F(RouteRequestServerTest, RoutesIdleForSixMinutesAreDeleted) {
  clock_.now = 0xFFFF0000u;  // the ages must survive the tick count's wrap
  server_.AddHostRoute(Ip("10.0.0.1"));
  clock_.now += 60'000;
  server_.AddHostRoute(Ip("10.0.0.2"));
  clock_.now += 5 * 60'000;

  server_.ExpireIdleRoutes();
  EXPECT_EQ(table_.deleteCalls, (std::vector<RouteRow>{HostRoute("10.0.0.1")}));
  EXPECT_EQ(server_.hostRoutes.size(), 1u);
  EXPECT_EQ(server_.hostRoutes.count(Ip("10.0.0.2")), 1u);

  clock_.now += 60'000 - 1;
  server_.ExpireIdleRoutes();
  EXPECT_EQ(server_.hostRoutes.size(), 1u);
  clock_.now += 1;
  server_.ExpireIdleRoutes();
  EXPECT_TRUE(server_.hostRoutes.empty());
  EXPECT_TRUE(table_.installed.empty());
}

TEST_F(RouteRequestServerTest, StartTakesTheTemplateAndARestartKeepsTheRoutes) {
  RouteRow other = tunnel_;
  other.interfaceIndex = 31;
  server_.routeTemplate = RouteRow{};
  ASSERT_TRUE(server_.Start(tunnel_));
  EXPECT_TRUE(server_.IsRunning());
  EXPECT_EQ(server_.routeTemplate, tunnel_);
  EXPECT_FALSE(server_.Start(other));
  EXPECT_EQ(server_.routeTemplate, tunnel_);
  server_.Stop();
  EXPECT_FALSE(server_.IsRunning());

  server_.AddHostRoute(Ip("10.0.0.5"));
  ASSERT_TRUE(server_.Start(tunnel_));
  server_.Stop();
  server_.Stop();
  EXPECT_EQ(server_.hostRoutes.size(), 1u);
  EXPECT_EQ(table_.installed.size(), 1u);
}

// ---- the request messages ------------------------------------------------------------------

class RouteRequestAnswerTest : public RouteRequestServerTest {
 protected:
  uint8_t Answer(std::vector<uint8_t> message, uint32_t tunnelServer = 0) {
    return AnswerRouteRequest(server_, message.data(), message.size(), tunnelServer);
  }
  uint8_t AnswerFor(const char* address, uint32_t tunnelServer = 0) {
    const auto message = BuildRouteRequest(Ip(address));
    return AnswerRouteRequest(server_, message.data(), message.size(), tunnelServer);
  }
};

TEST_F(RouteRequestAnswerTest, AWellFormedRequestGetsOneRouteHoweverOftenItIsAsked) {
  EXPECT_EQ(Answer({0x01, 0x0A, 0x00, 0x00, 0x05}), 1);
  EXPECT_EQ(Answer({0x01, 0x0A, 0x00, 0x00, 0x05}), 1);
  EXPECT_EQ(table_.createCalls, (std::vector<RouteRow>{HostRoute("10.0.0.5")}));
  // The address goes on the wire first octet first, as in a socket address.
  EXPECT_EQ(BuildRouteRequest(Ip("10.0.0.5")), (std::array<uint8_t, 5>{1, 10, 0, 0, 5}));
}

TEST_F(RouteRequestAnswerTest, MalformedMessagesAreAnsweredZeroAndTouchNothing) {
  EXPECT_EQ(Answer({0x01, 0x0A, 0x00, 0x00}), 0);              // one byte short
  EXPECT_EQ(Answer({0x01, 0x0A, 0x00, 0x00, 0x05, 0x00}), 0);  // one byte long
  EXPECT_EQ(Answer({0x02, 0x0A, 0x00, 0x00, 0x05}), 0);        // unknown type
  EXPECT_EQ(Answer({0x00, 0x0A, 0x00, 0x00, 0x05}), 0);
  EXPECT_EQ(Answer({}), 0);
  EXPECT_EQ(Answer(std::vector<uint8_t>(4096, 0x01)), 0);
  EXPECT_EQ(AnswerRouteRequest(server_, nullptr, 5, 0), 0);
  EXPECT_TRUE(table_.createCalls.empty());
  EXPECT_TRUE(server_.hostRoutes.empty());
}

TEST_F(RouteRequestAnswerTest, AddressesThatMustNotEnterTheTunnelAreRefused) {
  const uint32_t vpnServer = Ip("203.0.113.9");
  for (const char* address : {"0.0.0.0", "255.255.255.255", "127.0.0.1", "127.255.255.254",
                              "224.0.0.1", "239.255.255.250", "203.0.113.9"}) {
    EXPECT_EQ(AnswerFor(address, vpnServer), 0) << address;
  }
  EXPECT_TRUE(table_.createCalls.empty());

  // Their neighbours are ordinary destinations.
  for (const char* address : {"126.255.255.255", "128.0.0.1", "223.255.255.255", "240.0.0.1",
                              "203.0.113.10", "255.255.255.254"}) {
    EXPECT_EQ(AnswerFor(address, vpnServer), 1) << address;
  }
  EXPECT_EQ(table_.createCalls.size(), 6u);
  // With the server unknown only the fixed ranges are refused.
  EXPECT_EQ(AnswerFor("203.0.113.9"), 1);
}

TEST_F(RouteRequestAnswerTest, AFailedRouteIsAnsweredZeroAndTriedAgainNextTime) {
  table_.createErrors[Ip("10.0.0.7")] = 5;
  EXPECT_EQ(AnswerFor("10.0.0.7"), 0);
  table_.createErrors.clear();
  EXPECT_EQ(AnswerFor("10.0.0.7"), 1);
  EXPECT_EQ(table_.installed.size(), 1u);
}

TEST(TunnelServerAddressTest, DottedAddressesAndNamesOfTheServer) {
  EXPECT_EQ(TunnelServerAddress(L"203.0.113.9"), Ip("203.0.113.9"));
  EXPECT_EQ(TunnelServerAddress(L" 10.1.2.3 "), Ip("10.1.2.3"));
  EXPECT_EQ(TunnelServerAddress(L""), 0u);
  EXPECT_EQ(TunnelServerAddress(L"localhost"), Ip("127.0.0.1"));
}

}  // namespace
