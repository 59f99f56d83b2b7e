#include "vpn/general_vpn.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <memory>
#include <thread>
#include <vector>

#include "config/text_table.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"
#include "vpn/route_modification.h"

namespace {

// The engine keeps its code texts for the process's life from first use, so the table must
// be complete before any test asks.
class ProgramTextsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { BuildTextTable(); }
};
const auto* const kProgramTexts = ::testing::AddGlobalTestEnvironment(new ProgramTextsEnvironment);

class GeneralVpnTest : public ::testing::Test {
 protected:
  GeneralVpnTest() {
    table_.SetLanHost();
    table_.forwardTable[0].metric1 = 10;
    table_.interfaceMetrics = std::vector<InterfaceMetric>{{7, 20}, {23, 5}};
    auto server = std::make_unique<FakeRouteRequestServer>(table_, clock_);
    server_ = server.get();
    vpn_ = std::make_unique<TestVpn>(table_, clock_, std::move(server));
    vpn_->callback = &recorder_;
  }

  // Connects in `mode` and brings the tunnel up with local address 10.8.0.6.
  void ConnectAndComeUp(uint32_t mode, std::vector<std::wstring> routes) {
    vpn_->routeMode = mode;
    vpn_->routeList = std::move(routes);
    ASSERT_EQ(vpn_->ConnectNow(), 0);
    vpn_->TunnelUp(L"10.8.0.6", gateway_);
  }

  RouteRow TunnelRow(const char* destination, const char* mask) const {
    RouteRow row{};
    row.destination = Ip(destination);
    row.mask = Ip(mask);
    row.nextHop = Ip("10.8.0.6");
    row.interfaceIndex = 23;
    row.type = kRouteTypeDirect;
    row.protocol = kRouteProtocolNetMgmt;
    row.metric1 = 6;
    row.metric2 = row.metric3 = row.metric4 = row.metric5 = 0xFFFFFFFFu;
    return row;
  }

  FakeRouteTable table_;
  FakeClock clock_;
  ReportRecorder recorder_;
  std::wstring gateway_;
  FakeRouteRequestServer* server_ = nullptr;
  std::unique_ptr<TestVpn> vpn_;
};

const Report kModifying{GENERAL_VPN_STATE_MODIFY_ROUTE, 0, 0};
const Report kAllDone{GENERAL_VPN_STATE_ALL_DONE, 0, 0};
const Report kRestoring{GENERAL_VPN_STATE_RESTORE_ROUTE, 0, 0};
const Report kDisconnected{GENERAL_VPN_STATE_DISCONNECTED, 0, 0};

TEST_F(GeneralVpnTest, PreparationTakesTheFirstOfTwoEqualDefaultRoutes) {
  RouteRow second = table_.forwardTable[0];
  second.nextHop = Ip("192.168.9.1");
  table_.forwardTable.push_back(second);
  table_.forwardTable[0].age = 77;

  vpn_->routeMode = RouteModeListedRoutes;
  ASSERT_EQ(vpn_->ConnectNow(), 0);
  EXPECT_EQ(vpn_->HostDefaultRoute().nextHop, Ip("192.168.1.1"));
  EXPECT_EQ(vpn_->HostDefaultRoute().age, 0u);
  EXPECT_EQ(vpn_->TunnelRouteTemplate(), RouteRow{});
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_START);
  EXPECT_TRUE(recorder_.reports().empty());

  vpn_->routeMode = RouteModeDefaultGateway;
  ASSERT_EQ(vpn_->ConnectNow(), 0);
  EXPECT_EQ(vpn_->TunnelRouteTemplate(), vpn_->HostDefaultRoute());
}

TEST_F(GeneralVpnTest, PreparationWithoutDefaultRouteFailsWithInvalidData) {
  table_.forwardTable[0].mask = Ip("255.0.0.0");
  EXPECT_EQ(vpn_->ConnectNow(), GENERAL_VPN_ERROR_GET_GATEWAY);
  EXPECT_EQ(vpn_->Status().error, GENERAL_VPN_ERROR_GET_GATEWAY);
  EXPECT_EQ(vpn_->Status().errorDetail, 13);

  table_.forwardTableError = 8;
  EXPECT_EQ(vpn_->ConnectNow(), GENERAL_VPN_ERROR_GET_GATEWAY);
  EXPECT_EQ(vpn_->Status().errorDetail, 13);
  // Each failure reaches the window as a report, with the state the attempt had reached.
  EXPECT_EQ(recorder_.reports(),
            (std::vector<Report>(2, {GENERAL_VPN_STATE_START, GENERAL_VPN_ERROR_GET_GATEWAY, 13})));
}

TEST_F(GeneralVpnTest, ListedRoutesGoIntoTheTunnelAndAreReportedAsModifyThenAllDone) {
  ConnectAndComeUp(RouteModeListedRoutes, {L"10.0.0.0 mask 255.0.0.0", L"# comment",
                                           L" mask 255.0.0.0", L"172.16.0.0 MASK 255.240.0.0"});
  EXPECT_EQ(recorder_.reports(), (std::vector<Report>{kModifying, kAllDone}));
  EXPECT_EQ(table_.installed, (std::vector<RouteRow>{TunnelRow("10.0.0.0", "255.0.0.0"),
                                                     TunnelRow("172.16.0.0", "255.240.0.0")}));
  EXPECT_EQ(vpn_->HostDefaultRoute().metric1, 21u);
  EXPECT_EQ(table_.forwardTableReads, 1);
  EXPECT_FALSE(server_->IsRunning());
}

TEST_F(GeneralVpnTest, TunnelGatewayIsTheNextHopWhenTheConnectorLearnedOne) {
  gateway_ = L"10.8.0.5";
  ConnectAndComeUp(RouteModeListedRoutes, {L"10.0.0.0 mask 255.0.0.0"});
  ASSERT_EQ(table_.installed.size(), 1u);
  EXPECT_EQ(table_.installed[0].nextHop, Ip("10.8.0.5"));
  EXPECT_EQ(table_.installed[0].interfaceIndex, 23u);
}

TEST_F(GeneralVpnTest, DefaultGatewayModeRoutesTheListThroughTheHostGateway) {
  table_.interfaceMetrics.reset();
  ConnectAndComeUp(RouteModeDefaultGateway, {L"10.0.0.0 mask 255.0.0.0"});
  ASSERT_EQ(table_.installed.size(), 1u);
  EXPECT_EQ(table_.installed[0].nextHop, Ip("192.168.1.1"));
  EXPECT_EQ(table_.installed[0].interfaceIndex, 7u);
  EXPECT_EQ(table_.installed[0].metric1, 1u);
  EXPECT_EQ(table_.adapterReads, 0);
}

TEST_F(GeneralVpnTest, DefaultGatewayModeWithNothingListedTouchesNoRoute) {
  ConnectAndComeUp(RouteModeDefaultGateway, {});
  EXPECT_EQ(recorder_.reports(), (std::vector<Report>{kModifying, kAllDone}));
  vpn_->DisconnectNow();
  EXPECT_TRUE(table_.createCalls.empty());
  EXPECT_TRUE(table_.deleteCalls.empty());
}

TEST_F(GeneralVpnTest, UnreadableAdapterListStopsAtModifyWithTheSystemError) {
  table_.adaptersError = 232;
  for (const uint32_t mode : {RouteModeListedRoutes, RouteModeApplications}) {
    recorder_.Clear();
    ConnectAndComeUp(mode, {L"10.0.0.0 mask 255.0.0.0"});
    EXPECT_EQ(recorder_.reports(),
              (std::vector<Report>{kModifying, {GENERAL_VPN_STATE_MODIFY_ROUTE, 4, 232}}));
    EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_MODIFY_ROUTE);
    EXPECT_TRUE(table_.createCalls.empty());
    EXPECT_FALSE(server_->IsRunning());
  }
}

// The server's own address is learned at Connect, before the tunnel is up, not on the thread
// that reports it.
TEST_F(GeneralVpnTest, ApplicationModeStartsTheServerWithTheTunnelTemplate) {
  ConnectAndComeUp(RouteModeApplications, {L"10.0.0.0 mask 255.0.0.0"});
  EXPECT_TRUE(server_->learnedBeforeStart);
  EXPECT_EQ(recorder_.reports(), (std::vector<Report>{kModifying, kAllDone}));
  ASSERT_TRUE(server_->IsRunning());
  EXPECT_EQ(server_->routeTemplate, TunnelRow("0.0.0.0", "0.0.0.0"));
  EXPECT_TRUE(table_.createCalls.empty());

  vpn_->DisconnectNow();
  EXPECT_FALSE(server_->IsRunning());
  EXPECT_TRUE(table_.deleteCalls.empty());
}

TEST_F(GeneralVpnTest, ServerThatDoesNotStartIsReportedAsItsOwnError) {
  const Report notStarted{GENERAL_VPN_STATE_MODIFY_ROUTE, 7, 0};
  server_->refuseStart = true;
  ConnectAndComeUp(RouteModeApplications, {});
  EXPECT_EQ(recorder_.reports(), (std::vector<Report>{kModifying, notStarted}));

  ReportRecorder withoutServer;
  TestVpn bare(table_, clock_, nullptr);
  bare.callback = &withoutServer;
  bare.routeMode = RouteModeApplications;
  ASSERT_EQ(bare.ConnectNow(), 0);
  bare.TunnelUp(L"10.8.0.6");
  EXPECT_EQ(withoutServer.reports(), (std::vector<Report>{kModifying, notStarted}));
}

TEST_F(GeneralVpnTest, FailedLinesAndProxyHostAreListedAndTheRestStaysInPlace) {
  table_.createErrors[Ip("172.16.0.0")] = 87;
  vpn_->SetProxy(1, L"proxy.example.com", 8080, nullptr, nullptr);
  ConnectAndComeUp(RouteModeListedRoutes,
                   {L"10.0.0.0 mask 255.0.0.0", L"172.16.0.0 mask 255.240.0.0",
                    L"vpn.example.com mask 255.255.255.255", L"192.168.0.0 mask 255.255.0.0"});
  EXPECT_EQ(recorder_.reports(),
            (std::vector<Report>{kModifying, {GENERAL_VPN_STATE_MODIFY_ROUTE, 6, 0}}));
  EXPECT_EQ(vpn_->Status().failedRoutes,
            (std::vector<std::wstring>{L"proxy.example.com", L"172.16.0.0 mask 255.240.0.0",
                                       L"vpn.example.com mask 255.255.255.255"}));
  EXPECT_EQ(table_.installed, (std::vector<RouteRow>{TunnelRow("10.0.0.0", "255.0.0.0"),
                                                     TunnelRow("192.168.0.0", "255.255.0.0")}));
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_MODIFY_ROUTE);
}

// The owner shows the first ten and "..." itself; the engine keeps every failed line in order.
TEST_F(GeneralVpnTest, MoreThanTenFailedRoutesAreAllKept) {
  std::vector<std::wstring> lines;
  for (int i = 1; i <= 12; ++i) {
    const std::string network = "10." + std::to_string(i) + ".0.0";
    table_.createErrors[Ip(network.c_str())] = 5010;
    lines.push_back(std::wstring(network.begin(), network.end()) + L" mask 255.255.0.0");
  }
  ConnectAndComeUp(RouteModeListedRoutes, lines);
  EXPECT_EQ(vpn_->Status().failedRoutes, lines);
  EXPECT_EQ(vpn_->Status().error, GENERAL_VPN_ERROR_MODIFY_ROUTE);
}

TEST_F(GeneralVpnTest, ProxyGetsAHostRouteThroughTheHostGatewayUntilRestore) {
  vpn_->SetProxy(2, L"203.0.113.9", 1080, L"user", L"secret");
  ConnectAndComeUp(RouteModeListedRoutes, {});
  ASSERT_EQ(table_.installed.size(), 1u);
  RouteRow expected = vpn_->HostDefaultRoute();
  expected.destination = Ip("203.0.113.9");
  expected.mask = 0xFFFFFFFFu;
  EXPECT_EQ(table_.installed[0], expected);

  // Left behind, it would make the same route fail as already existing next time.
  vpn_->DisconnectNow();
  EXPECT_TRUE(table_.installed.empty());
}

// A listed default route is what a mode-2 set asks for; restore takes back exactly what was
// created.
TEST_F(GeneralVpnTest, RestoreDeletesTheListedLinesThisConnectionCreated) {
  table_.createErrors[Ip("172.16.0.0")] = 87;
  ConnectAndComeUp(RouteModeListedRoutes,
                   {L"10.0.0.0 mask 255.0.0.0", L"172.16.0.0 mask 255.240.0.0", L"junk",
                    L"0.0.0.0 mask 0.0.0.0", L"0.0.0.0 mask 128.0.0.0"});
  EXPECT_EQ(vpn_->Status().failedRoutes,
            (std::vector<std::wstring>{L"172.16.0.0 mask 255.240.0.0"}));
  EXPECT_EQ(table_.installed.size(), 3u);
  recorder_.Clear();
  vpn_->DisconnectNow();
  EXPECT_EQ(table_.deleteCalls, (std::vector<RouteRow>{TunnelRow("10.0.0.0", "255.0.0.0"),
                                                       TunnelRow("0.0.0.0", "0.0.0.0"),
                                                       TunnelRow("0.0.0.0", "128.0.0.0")}));
  EXPECT_TRUE(table_.installed.empty());
  EXPECT_EQ(recorder_.reports(), (std::vector<Report>{kRestoring, kDisconnected}));
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_DISCONNECTED);
  EXPECT_EQ(vpn_->Status().error, 0);
  EXPECT_EQ(vpn_->TunnelRouteTemplate(), RouteRow{});
}

// In mode 1 a default route through the host's gateway would fight the tunnel for the default
// gateway: still refused there.
TEST_F(GeneralVpnTest, DefaultGatewayModeRefusesAListedDefaultRoute) {
  ConnectAndComeUp(RouteModeDefaultGateway, {L"0.0.0.0 mask 0.0.0.0"});
  EXPECT_EQ(vpn_->Status().failedRoutes, (std::vector<std::wstring>{L"0.0.0.0 mask 0.0.0.0"}));
  EXPECT_TRUE(table_.createCalls.empty());
}

// A listed line the host already had is the host's, whether the system refuses the second copy
// as existing or (as some do) answers success: disconnecting must not take it. A second report
// of the tunnel coming up keeps what the first one created.
TEST_F(GeneralVpnTest, RouteTheHostAlreadyHadSurvivesTheConnection) {
  const RouteRow refused = TunnelRow("172.16.0.0", "255.240.0.0");
  const RouteRow accepted = TunnelRow("192.168.0.0", "255.255.0.0");
  table_.installed = {refused, accepted};
  table_.forwardTable.push_back(refused);
  table_.forwardTable.push_back(accepted);
  table_.createErrors[Ip("172.16.0.0")] = 5010;
  ConnectAndComeUp(RouteModeListedRoutes,
                   {L"10.0.0.0 mask 255.0.0.0", L"172.16.0.0 mask 255.240.0.0",
                    L"192.168.0.0 mask 255.255.0.0"});
  table_.createErrors[Ip("10.0.0.0")] = 5010;  // now ours, so it exists
  vpn_->TunnelUp(L"10.8.0.6");
  vpn_->DisconnectNow();
  EXPECT_EQ(table_.deleteCalls, (std::vector<RouteRow>{TunnelRow("10.0.0.0", "255.0.0.0")}));
}

// Disconnect returns at once, also while route work runs and while the restore runs: it stops
// the work between two routes and the worker takes back exactly what was created by then; the
// connector's reports after that change nothing.
TEST_F(GeneralVpnTest, DisconnectDuringRouteWorkReturnsAtOnceAndRestoresWhatWasCreated) {
  std::vector<std::wstring> lines;
  for (int i = 0; i < 5000; ++i) {
    lines.push_back(L"10." + std::to_wstring(i / 256) + L"." + std::to_wstring(i % 256) +
                    L".0 mask 255.255.255.0");
  }
  vpn_->routeMode = RouteModeListedRoutes;
  vpn_->routeList = lines;
  ASSERT_EQ(vpn_->ConnectNow(), 0);
  table_.rowDelay = std::chrono::microseconds(50);
  // The restore's first deletion holds the worker until the window's Disconnect came back.
  std::mutex gate;
  std::unique_lock<std::mutex> held(gate);
  table_.beforeDelete = [&](const RouteRow&) {
    std::lock_guard wait(gate);
    return 0u;
  };
  vpn_->TunnelUpLater(L"10.8.0.6");
  while (table_.creates < 10) std::this_thread::yield();
  vpn_->Disconnect();
  held.unlock();
  vpn_->TunnelUpLater(L"10.8.0.6");
  vpn_->SetState(GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_ERROR_CONNECT, 0);
  ASSERT_TRUE(vpn_->WaitFinished(60000));

  EXPECT_LT(table_.createCalls.size(), lines.size());
  EXPECT_EQ(table_.deleteCalls.size(), table_.createCalls.size());
  EXPECT_TRUE(table_.installed.empty());
  EXPECT_EQ(recorder_.reports(), (std::vector<Report>{kModifying, kRestoring, kDisconnected}));
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_DISCONNECTED);
}

// Mode-3 host routes belong to the connection: made by the worker through the same table as
// every other route, refreshed when asked again, at most kMaxHostRoutes of them (the one asked
// for longest ago goes), and all deleted at Disconnect, when the tunnel's interface (a TAP
// adapter) may well stay.
TEST_F(GeneralVpnTest, HostRoutesAreTheConnectionsAndGoAtDisconnect) {
  ConnectAndComeUp(RouteModeApplications, {});
  EXPECT_FALSE(vpn_->RequestHostRoute(0));
  EXPECT_TRUE(server_->AddHostRoute(Ip("10.0.0.5")));
  EXPECT_TRUE(vpn_->RequestHostRoute(Ip("10.0.0.6")));
  EXPECT_TRUE(vpn_->RequestHostRoute(Ip("10.0.0.5")));
  EXPECT_EQ(table_.createCalls, (std::vector<RouteRow>{TunnelRow("10.0.0.5", "255.255.255.255"),
                                                       TunnelRow("10.0.0.6", "255.255.255.255")}));
  table_.createErrors[Ip("10.0.0.7")] = 87;
  EXPECT_FALSE(vpn_->RequestHostRoute(Ip("10.0.0.7")));
  table_.createErrors.clear();
  EXPECT_TRUE(vpn_->RequestHostRoute(Ip("10.0.0.7")));

  // Full: 10.0.0.6 was asked for longest ago (10.0.0.5 was asked again since).
  for (uint32_t i = 0; vpn_->HostRouteCount() < CGeneralVpn::kMaxHostRoutes; ++i) {
    ASSERT_TRUE(vpn_->RequestHostRoute(Ip("10.1.0.0") | (i & 0xFF) << 24 | (i >> 8) << 16));
  }
  EXPECT_TRUE(vpn_->RequestHostRoute(Ip("10.2.0.1")));
  EXPECT_EQ(vpn_->HostRouteCount(), CGeneralVpn::kMaxHostRoutes);
  EXPECT_EQ(table_.deleteCalls, (std::vector<RouteRow>{TunnelRow("10.0.0.6", "255.255.255.255")}));

  vpn_->DisconnectNow();
  EXPECT_TRUE(table_.installed.empty());
  EXPECT_FALSE(server_->IsRunning());
  // After Disconnect began: refused, nothing created.
  const size_t created = table_.createCalls.size();
  EXPECT_FALSE(vpn_->RequestHostRoute(Ip("10.0.0.9")));
  EXPECT_EQ(table_.createCalls.size(), created);
}

// The server's thread keeps asking while the window disconnects: whatever it was granted is
// gone afterwards, and no request made after Disconnect began creates a route.
TEST_F(GeneralVpnTest, HostRoutesGrantedDuringDisconnectAreDeletedToo) {
  server_->askWhileRunning = true;
  table_.rowDelay = std::chrono::microseconds(20);
  ConnectAndComeUp(RouteModeApplications, {});
  while (server_->granted < 20) std::this_thread::yield();
  vpn_->DisconnectNow();
  EXPECT_TRUE(table_.installed.empty()) << table_.installed.size() << " host routes left";
  EXPECT_EQ(table_.deleteCalls.size(), table_.createCalls.size());
}

// In mode 1 the template is the host's own gateway: deleting the list there would remove
// routes of the host's that this connection never made.
TEST_F(GeneralVpnTest, ConnectionThatNeverCameUpRestoresNothing) {
  vpn_->routeMode = RouteModeDefaultGateway;
  vpn_->routeList = {L"10.0.0.0 mask 255.0.0.0"};
  ASSERT_EQ(vpn_->ConnectNow(), 0);
  vpn_->SetState(GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_INTERNAL, 691);
  vpn_->Flush();
  vpn_->DisconnectNow();
  EXPECT_TRUE(table_.deleteCalls.empty());
}

TEST_F(GeneralVpnTest, ConnectedWithAnErrorIsReportedAsIsWithoutTouchingRoutes) {
  vpn_->routeMode = RouteModeListedRoutes;
  vpn_->routeList = {L"10.0.0.0 mask 255.0.0.0"};
  ASSERT_EQ(vpn_->ConnectNow(), 0);
  vpn_->SetState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_INTERNAL, 619);
  vpn_->Flush();
  EXPECT_EQ(recorder_.reports(), (std::vector<Report>{{GENERAL_VPN_STATE_CONNECTED, 1, 619}}));
  EXPECT_TRUE(table_.createCalls.empty());
}

TEST_F(GeneralVpnTest, ReportsAfterTheCallbackWasClearedGoNowhere) {
  vpn_->callback = nullptr;
  ConnectAndComeUp(RouteModeListedRoutes, {L"10.0.0.0 mask 255.0.0.0"});
  vpn_->DisconnectNow();
  EXPECT_TRUE(recorder_.reports().empty());
  EXPECT_EQ(table_.createCalls.size(), 1u);
}

TEST_F(GeneralVpnTest, CodesWithoutTextShowTheUnknownTexts) {
  EXPECT_EQ(vpn_->GetStateText(GENERAL_VPN_STATE_ALL_DONE), GetText("GENERAL_VPN_STATE_ALL_DONE"));
  EXPECT_EQ(vpn_->GetStateText(11), GetText("VpnUnknownState"));
  EXPECT_EQ(vpn_->GetErrorText(GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER),
            GetText("GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER"));
  for (const int32_t code : {8, 9, -1}) {
    EXPECT_EQ(vpn_->GetErrorText(code), GetText("VpnUnknownError")) << code;
  }
}

TEST_F(GeneralVpnTest, StatusReportHasThreeLinesEvenWithAnEmptyDetail) {
  vpn_->SetState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE, 0);
  vpn_->Flush();
  EXPECT_EQ(vpn_->BuildStatusReport(),
            GetText("VpnState") + L":" + GetText("GENERAL_VPN_STATE_MODIFY_ROUTE") + L"\r\n" +
                GetText("VpnErrorMessage") + L":" + GetText("GENERAL_VPN_ERROR_MODIFY_ROUTE") +
                L"\r\n" + GetText("VpnErrorDetail") + L":\r\n");
}

// The engine ends no sooner than two seconds after its cleanup began, so a hang-up still in
// progress in the system has settled before the next connection starts.
TEST_F(GeneralVpnTest, CleanupEndsNoSoonerThanTwoSecondsAfterItBegan) {
  clock_.now = 0xFFFFFF00u;  // the time that passed survives the tick count's wrap
  vpn_->DisconnectNow();
  EXPECT_TRUE(vpn_->Finished());
  EXPECT_EQ(clock_.sleeps, (std::vector<uint32_t>{2000}));
}

}  // namespace
