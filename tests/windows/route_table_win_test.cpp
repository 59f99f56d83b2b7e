#include "vpn/route_table_win.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "vpn/route_modification.h"

namespace {

TEST(RouteTableWinTest, ReadsTheForwardTableAndTheAdapterList) {
  IpHelperRouteTable table;
  std::vector<RouteRow> rows;
  EXPECT_EQ(table.ReadForwardTable(rows), 0u);
  // Every host has at least its loopback route.
  EXPECT_FALSE(rows.empty());

  std::vector<AdapterAddress> adapters;
  EXPECT_EQ(table.ReadAdapters(adapters), 0u);
  for (const AdapterAddress& adapter : adapters) {
    EXPECT_TRUE(TryParseIpv4(adapter.firstIpAddress).has_value()) << adapter.firstIpAddress;
  }

  // Present or not depending on the system; either way the answer must be usable.
  std::vector<InterfaceMetric> metrics;
  if (!table.ReadInterfaceMetrics(metrics)) EXPECT_TRUE(metrics.empty());
}

// The engine's preparation runs on this same read; on a host with a network it finds a
// default route.
TEST(RouteTableWinTest, FindsADefaultRouteWhenTheHostHasOne) {
  IpHelperRouteTable table;
  std::vector<RouteRow> rows;
  ASSERT_EQ(table.ReadForwardTable(rows), 0u);
  const bool hasDefault = std::any_of(rows.begin(), rows.end(), [](const RouteRow& row) {
    return row.destination == 0 && row.mask == 0;
  });
  RouteRow found{};
  EXPECT_EQ(FindDefaultRoute(table, found), hasDefault ? 0u : kRouteErrorInvalidData);
}

}  // namespace
