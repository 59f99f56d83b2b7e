#include <gtest/gtest.h>

#include <string>

#include "fakes/fake_route_table.h"
#include "vpn/route_modification.h"

namespace {

struct Split {
  bool isRoute;
  std::string destination;
  std::string netmask;
};

Split SplitOf(const std::wstring& line) {
  Split split{};
  split.isRoute = SplitRouteLine(line, split.destination, split.netmask);
  return split;
}

TEST(RouteLineTest, SplitsAtTheWordMaskInAnyCaseAndTrimsBothParts) {
  for (const wchar_t* line : {L"10.0.0.0 mask 255.0.0.0", L"10.0.0.0 MASK 255.0.0.0",
                              L"  10.0.0.0\t Mask \t255.0.0.0 \r\n", L"10.0.0.0mask255.0.0.0"}) {
    const Split split = SplitOf(line);
    EXPECT_TRUE(split.isRoute);
    EXPECT_EQ(split.destination, "10.0.0.0");
    EXPECT_EQ(split.netmask, "255.0.0.0");
  }
  // Only the first occurrence splits; what follows is the netmask text as it stands.
  const Split twice = SplitOf(L"1.2.3.4 mask mask");
  EXPECT_EQ(twice.destination, "1.2.3.4");
  EXPECT_EQ(twice.netmask, "mask");
}

TEST(RouteLineTest, LineWithoutTheWordIsNoRouteAndEmptyPartsAreKept) {
  std::string destination = "stale";
  std::string netmask = "stale";
  EXPECT_FALSE(SplitRouteLine(L"10.0.0.0 255.0.0.0", destination, netmask));
  EXPECT_EQ(destination, "");
  EXPECT_EQ(netmask, "");
  EXPECT_FALSE(SplitOf(L"").isRoute);
  EXPECT_FALSE(SplitOf(L"mas").isRoute);

  const Split noDestination = SplitOf(L"  mask 255.0.0.0");
  EXPECT_TRUE(noDestination.isRoute);
  EXPECT_EQ(noDestination.destination, "");
  EXPECT_EQ(noDestination.netmask, "255.0.0.0");
}

TEST(Ipv4AddressTest, ReadsEveryFormTheSystemParserTakes) {
  EXPECT_EQ(TryParseIpv4("10.1.2.3"), Ip("10.1.2.3"));
  EXPECT_EQ(TryParseIpv4("10.258"), Ip("10.0.1.2"));
  EXPECT_EQ(TryParseIpv4("10.1.258"), Ip("10.1.1.2"));
  EXPECT_EQ(TryParseIpv4("167772161"), Ip("10.0.0.1"));
  EXPECT_EQ(TryParseIpv4("0x0a.0.0.010"), Ip("10.0.0.8"));
  EXPECT_EQ(TryParseIpv4("0.0.0.0"), 0u);
  EXPECT_EQ(TryParseIpv4("255.255.255.255"), 0xFFFFFFFFu);

  // Network byte order: the first octet is the first byte in memory.
  const uint32_t address = Ip("1.2.3.4");
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&address)[0], 1);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&address)[3], 4);
}

TEST(Ipv4AddressTest, RefusesWhatIsNoAddress) {
  for (const char* text :
       {"", "vpn.example.com", "1.2.3.4.5", "256.0.0.0", "1.2.3.256", "1..2.3", "1.2.3.", "0x",
        "09.0.0.0", "1.2.3.4 ", "-1.0.0.0", "4294967296", "1.16777216"}) {
    EXPECT_EQ(TryParseIpv4(text), std::nullopt) << text;
  }
}

class RouteOperationsTest : public ::testing::Test {
 protected:
  static RouteRow DefaultRoute(const char* gateway, uint32_t interfaceIndex, uint32_t metric) {
    RouteRow row{};
    row.nextHop = Ip(gateway);
    row.interfaceIndex = interfaceIndex;
    row.metric1 = metric;
    row.age = 1234;
    row.type = 4;
    return row;
  }

  FakeRouteTable table_;
};

TEST_F(RouteOperationsTest, DefaultRouteIsTheLowestMetricAndTheEarlierOnATie) {
  RouteRow network{};
  network.destination = Ip("10.0.0.0");
  network.mask = Ip("255.0.0.0");
  table_.forwardTable = {network, DefaultRoute("192.168.1.1", 7, 30),
                         DefaultRoute("192.168.2.1", 8, 20), DefaultRoute("192.168.3.1", 9, 20)};
  RouteRow found{};
  ASSERT_EQ(FindDefaultRoute(table_, found), 0u);
  EXPECT_EQ(found.nextHop, Ip("192.168.2.1"));
  EXPECT_EQ(found.age, 0u);
  EXPECT_EQ(table_.forwardTableReads, 1);

  table_.forwardTable = {network};
  EXPECT_EQ(FindDefaultRoute(table_, found), kRouteErrorInvalidData);
  table_.forwardTableError = 122;
  EXPECT_EQ(FindDefaultRoute(table_, found), 122u);
}

TEST_F(RouteOperationsTest, TunnelRouteTakesTheAdapterOfTheLocalAddress) {
  table_.adapters = {{7, "192.168.1.20"}, {23, "10.8.0.6"}, {4, "0.0.0.0"}};
  RouteRow row = DefaultRoute("192.168.1.1", 99, 5);
  row.destination = Ip("1.1.1.1");
  row.mask = Ip("255.255.255.255");
  row.policy = 3;
  row.nextHopAs = 9;
  ASSERT_EQ(BuildTunnelRoute(table_, row, "10.8.0.6"), 0u);
  RouteRow expected{};
  expected.nextHop = Ip("10.8.0.6");
  expected.interfaceIndex = 23;
  expected.type = kRouteTypeDirect;
  expected.protocol = kRouteProtocolNetMgmt;
  expected.metric1 = 5;  // left for ApplyInterfaceMetric
  expected.metric2 = expected.metric3 = expected.metric4 = expected.metric5 = 0xFFFFFFFFu;
  EXPECT_EQ(row, expected);

  // No adapter holds the address: the interface stays what it was.
  RouteRow unmatched{};
  unmatched.interfaceIndex = 0;
  ASSERT_EQ(BuildTunnelRoute(table_, unmatched, "10.9.9.9"), 0u);
  EXPECT_EQ(unmatched.interfaceIndex, 0u);

  table_.adaptersError = 232;
  RouteRow untouched = DefaultRoute("192.168.1.1", 7, 5);
  EXPECT_EQ(BuildTunnelRoute(table_, untouched, "10.8.0.6"), 232u);
  EXPECT_EQ(untouched, DefaultRoute("192.168.1.1", 7, 5));
}

TEST_F(RouteOperationsTest, MetricFollowsTheInterfaceOrIsOneWithoutAnInterfaceTable) {
  RouteRow row = DefaultRoute("192.168.1.1", 7, 50);
  table_.interfaceMetrics = std::vector<InterfaceMetric>{{3, 1}, {7, 25}};
  ApplyInterfaceMetric(table_, row);
  EXPECT_EQ(row.metric1, 26u);

  RouteRow other = DefaultRoute("192.168.1.1", 8, 50);
  ApplyInterfaceMetric(table_, other);
  EXPECT_EQ(other.metric1, 50u);

  table_.interfaceMetrics.reset();
  ApplyInterfaceMetric(table_, row);
  EXPECT_EQ(row.metric1, 1u);
}

// A host name would otherwise become the broadcast address and be routed as such.
TEST_F(RouteOperationsTest, TextsThatAreNoAddressNeverReachTheSystem) {
  const RouteRow row = DefaultRoute("10.8.0.6", 23, 6);
  EXPECT_EQ(CreateRoute(table_, "proxy.example.com", "255.255.255.255", row),
            kRouteErrorInvalidParameter);
  EXPECT_EQ(CreateRoute(table_, "10.0.0.0", "255.0.0", row), 0u);
  EXPECT_EQ(CreateRoute(table_, "10.0.0.0", "mask", row), kRouteErrorInvalidParameter);
  EXPECT_EQ(table_.createCalls.size(), 1u);

  EXPECT_EQ(DeleteRoute(table_, "proxy.example.com", "255.255.255.255", row), 0u);
  EXPECT_TRUE(table_.deleteCalls.empty());
}

// A restore must never take the host's own default route, so none is created either; half of
// the address space is an ordinary route both ways.
TEST_F(RouteOperationsTest, DefaultRoutesAreNeitherCreatedNorDeleted) {
  const RouteRow row = DefaultRoute("10.8.0.6", 23, 6);
  EXPECT_EQ(CreateRoute(table_, "0.0.0.0", "0.0.0.0", row), kRouteErrorInvalidParameter);
  EXPECT_EQ(DeleteRoute(table_, "0.0.0.0", "0.0.0.0", row), 0u);
  EXPECT_EQ(DeleteRoute(table_, "10.0.0.0", "0.0.0.0", row), 0u);
  EXPECT_TRUE(table_.createCalls.empty());
  EXPECT_TRUE(table_.deleteCalls.empty());

  EXPECT_EQ(CreateRoute(table_, "0.0.0.0", "128.0.0.0", row), 0u);
  EXPECT_EQ(DeleteRoute(table_, "0.0.0.0", "128.0.0.0", row), 0u);
  EXPECT_TRUE(table_.installed.empty());
}

}  // namespace
