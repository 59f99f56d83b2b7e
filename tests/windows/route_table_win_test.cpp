#include "vpn/route_table_win.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/route_change_watch_win.h"
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

// A burst of route changes (a long route list applied) is one message in the window's queue,
// which holds at most 10,000: the engine's reports must still find room there.
TEST(RouteChangeWatchWinTest, ABurstOfChangesIsOneMessageUntilTheWindowTakesIt) {
  const HWND window =
      CreateWindowExW(0, L"STATIC", L"routes", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  constexpr UINT kMessage = WM_USER + 4;
  RouteChangeWatch watch;
  watch.Start(window, kMessage);
  const auto drain = [&] {
    int count = 0;
    MSG message;
    while (PeekMessageW(&message, window, kMessage, kMessage, PM_REMOVE)) {
      ++count;
      RouteChangeWatch::Taken(message.lParam);
    }
    return count;
  };
  drain();  // whatever the system itself changed meanwhile
  for (int i = 0; i < 20000; ++i) watch.NoteChange();
  EXPECT_EQ(drain(), 1);
  watch.NoteChange();
  EXPECT_EQ(drain(), 1);
  watch.Stop();
  DestroyWindow(window);
}
