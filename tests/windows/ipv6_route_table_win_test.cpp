#include "vpn/ipv6_route_table_win.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Windows 2000 and XP: the module is there, the functions are not.
TEST(Ipv6RouteTableWinTest, WithoutTheFunctionsEveryCallAnswersUnsupported) {
  IpHelperIpv6RouteTable table(L"kernel32.dll");
  EXPECT_FALSE(table.Available());
  std::vector<Ipv6RouteRow> rows{Ipv6RouteRow{}};
  EXPECT_EQ(table.ReadForwardTable(rows), kIpv6RoutesUnsupported);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(table.CreateRow(Ipv6RouteRow{}), kIpv6RoutesUnsupported);
  EXPECT_EQ(table.DeleteRow(Ipv6RouteRow{}), kIpv6RoutesUnsupported);
}

// Where the system offers the functions: the table reads as IPv6 rows, and a guard row made
// on the loopback interface reads back as written and goes again.
TEST(Ipv6RouteTableWinTest, ReadsCreatesAndDeletesWhereTheSystemHasTheFunctions) {
  IpHelperIpv6RouteTable table;
  if (!table.Available()) GTEST_SKIP() << "no IPv6 routing functions";
  std::vector<Ipv6RouteRow> rows;
  const uint32_t read = table.ReadForwardTable(rows);
  if (read != 0) GTEST_SKIP() << "IPv6 table not readable here: " << read;
  for (const Ipv6RouteRow& row : rows) EXPECT_LE(row.prefixLength, 128u);

  const Ipv6Bytes loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  const auto held = std::find_if(rows.begin(), rows.end(), [&](const Ipv6RouteRow& row) {
    return row.prefixLength == 128 && row.destination == loopback;
  });
  if (held == rows.end()) GTEST_SKIP() << "no loopback route";
  Ipv6RouteRow guard{};
  // A documentation prefix, so the test never steers real traffic.
  guard.destination = {0x20, 0x01, 0x0d, 0xb8, 0xfe, 0xed};
  guard.prefixLength = 48;
  guard.interfaceIndex = held->interfaceIndex;
  guard.protocol = 3;
  const uint32_t created = table.CreateRow(guard);
  if (created != 0) GTEST_SKIP() << "the system refuses new IPv6 routes here: " << created;
  ASSERT_EQ(table.ReadForwardTable(rows), 0u);
  const auto same = [&](const Ipv6RouteRow& row) {
    return row.destination == guard.destination && row.prefixLength == guard.prefixLength &&
           row.interfaceIndex == guard.interfaceIndex;
  };
  EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), same));
  EXPECT_EQ(table.DeleteRow(guard), 0u);
  ASSERT_EQ(table.ReadForwardTable(rows), 0u);
  EXPECT_FALSE(std::any_of(rows.begin(), rows.end(), same));
}

}  // namespace
