#include "vpn/windows_vpn.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "config/text_table.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_ras_dialer.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"
#include "vpn/ras_link_watch.h"

namespace {

constexpr uint32_t kConnectDevice = kRasStateConnectDevice;
constexpr uint32_t kAuthenticate = kRasStateAuthenticate;
constexpr uint32_t kAuthenticated = kRasStateAuthenticated;
constexpr uint32_t kConnected = kRasStateConnected;

class WindowsVpnTest : public ::testing::Test {
 protected:
  WindowsVpnTest() {
    table_.SetLanHost();
    vpn_ = MakeVpn(kWindowsVpnTunnelPptp);
  }

  std::unique_ptr<CWindowsVpn> MakeVpn(uint32_t tunnelType) {
    auto vpn = std::make_unique<CWindowsVpn>(tunnelType, dialer_, table_, clock_);
    vpn->callback = &recorder_;
    vpn->routeMode = RouteModeListedRoutes;
    vpn->serverAddress = L"vpn1.example.com";
    vpn->userName = L"alice";
    vpn->password = L"s3cret";
    return vpn;
  }

  // Connect, waiting for the worker's part; the error the attempt ended with.
  static int32_t ConnectNow(CWindowsVpn& vpn) {
    vpn.Connect();
    vpn.Flush();
    return vpn.Status().error;
  }
  static void DisconnectNow(CWindowsVpn& vpn) {
    vpn.Disconnect();
    ASSERT_TRUE(vpn.WaitFinished(60000));
  }
  // Progress from the system's thread, handled by the worker before this returns.
  std::vector<uint32_t> Deliver(const FakeRasDialer::Progress& reports) {
    auto results = dialer_.Deliver(reports);
    vpn_->Flush();
    return results;
  }

  FakeRouteTable table_;
  FakeClock clock_;
  FakeRasDialer dialer_;
  ReportRecorder recorder_;
  std::unique_ptr<CWindowsVpn> vpn_;
};

TEST_F(WindowsVpnTest, GoodConnectionReportsProgressThenModifyAndAllDone) {
  vpn_->routeList = {L"10.0.0.0 mask 255.0.0.0"};
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_PREPARE);
  EXPECT_EQ(vpn_->rasConnection, dialer_.dialHandle);
  EXPECT_TRUE(recorder_.reports().empty());

  const auto results = Deliver(
      {{0, 0}, {kConnectDevice, 0}, {kAuthenticate, 0}, {kAuthenticated, 0}, {kConnected, 0}});
  EXPECT_EQ(results, (std::vector<uint32_t>{1, 1, 1, 1, 1}));
  EXPECT_EQ(recorder_.reports(),
            (std::vector<Report>{{4, 0, 0}, {5, 0, 0}, {6, 0, 0}, {10, 0, 0}, {8, 0, 0}}));
  EXPECT_EQ(vpn_->GetLocalAddress(), L"10.8.0.6");
  ASSERT_EQ(table_.installed.size(), 1u);
  EXPECT_EQ(table_.installed[0].nextHop, Ip("10.8.0.6"));
  EXPECT_EQ(table_.installed[0].interfaceIndex, 23u);
  EXPECT_EQ(dialer_.projectionHandles.front(), dialer_.dialHandle);
}

// The link is watched once up; its end, told later on the system's thread, is reported as the
// engine's DISCONNECTED for the owner to act on.
TEST_F(WindowsVpnTest, ConnectionEndingLaterIsReportedDisconnected) {
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  Deliver({{kConnected, 0}});
  EXPECT_EQ(dialer_.watched, std::vector<RasConnectionHandle>{dialer_.dialHandle});
  Deliver({{kRasStateDisconnected, 0}});
  EXPECT_EQ(recorder_.reports().back(), (Report{GENERAL_VPN_STATE_DISCONNECTED, 0, 0}));
}

TEST_F(WindowsVpnTest, ProjectionIsReadAgainAtTheSizeTheSystemReports) {
  dialer_.projectionSize = 120;
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  Deliver({{kConnected, 0}});
  EXPECT_EQ(dialer_.projectionBufferSizes, (std::vector<uint32_t>{80, 120}));
  EXPECT_EQ(vpn_->GetLocalAddress(), L"10.8.0.6");

  // A smaller reported size must not shrink the buffer below the record we read.
  dialer_.projectionSize = 8;
  dialer_.projectionBufferSizes.clear();
  Deliver({{kConnected, 0}});
  EXPECT_EQ(dialer_.projectionBufferSizes, (std::vector<uint32_t>{80, 80}));
}

// A link without an address would stay up with no routes; the owner hangs it up on the error.
TEST_F(WindowsVpnTest, FailedProjectionQueryIsAnInternalErrorAndTheLinkIsHungUp) {
  vpn_->routeList = {L"10.0.0.0 mask 255.0.0.0"};
  dialer_.projectionResult = 718;
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  const auto results = Deliver({{kAuthenticated, 0}, {kConnected, 0}});
  EXPECT_EQ(results, (std::vector<uint32_t>{1, 1}));
  EXPECT_EQ(recorder_.reports(), (std::vector<Report>{{6, 0, 0}, {7, 1, 718}}));
  EXPECT_TRUE(table_.createCalls.empty());
  DisconnectNow(*vpn_);
  EXPECT_EQ(dialer_.hangUps, (std::vector<RasConnectionHandle>{dialer_.dialHandle}));
}

TEST_F(WindowsVpnTest, ProgressErrorsAreInternalErrorsWithTheDialUpNumber) {
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  const auto results = Deliver({{kAuthenticate, 691},
                                        {kConnected, 619},
                                        {kRasStateDisconnected, 628},
                                        {3, 0},
                                        {3, 633},
                                        {kRasStateDisconnected, 0}});
  EXPECT_EQ(results, (std::vector<uint32_t>{1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(recorder_.reports(),
            (std::vector<Report>{{5, 1, 691}, {7, 1, 619}, {1, 1, 628}, {1, 1, 633}, {1, 0, 0}}));
  EXPECT_TRUE(table_.createCalls.empty());
}

TEST_F(WindowsVpnTest, ReportsAfterTheCallbackWasClearedGoNowhere) {
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  vpn_->callback = nullptr;
  Deliver({{kConnectDevice, 0}, {kConnected, 0}});
  EXPECT_TRUE(recorder_.reports().empty());
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_ALL_DONE);
}

TEST_F(WindowsVpnTest, ExistingConnectionOfOursIsRefusedAndHungUpAtDisconnect) {
  dialer_.connections = {
      {0x11, L"Kavrin"}, {0x22, L"Office"}, {0x33, L"Kavrin"}, {0x44, L"kavrin"}};
  EXPECT_EQ(ConnectNow(*vpn_), GENERAL_VPN_ERROR_ALREADY_CONNECTED);
  EXPECT_EQ(vpn_->Status().error, GENERAL_VPN_ERROR_ALREADY_CONNECTED);
  EXPECT_EQ(vpn_->rasConnection, 0x33u);
  EXPECT_EQ(dialer_.enumBufferSizes, (std::vector<uint32_t>{1356, 4 * 1356}));
  EXPECT_TRUE(dialer_.dials.empty());
  EXPECT_EQ(table_.forwardTableReads, 0);

  // Asked again, the engine refuses without looking.
  EXPECT_EQ(ConnectNow(*vpn_), GENERAL_VPN_ERROR_ALREADY_CONNECTED);
  EXPECT_EQ(dialer_.enumBufferSizes.size(), 2u);

  DisconnectNow(*vpn_);
  EXPECT_EQ(dialer_.hangUps, (std::vector<RasConnectionHandle>{0x33}));
}

TEST_F(WindowsVpnTest, ConnectionListThatNeverFitsIsGivenUpAfterFiveCalls) {
  dialer_.enumNeverFits = true;
  EXPECT_EQ(ConnectNow(*vpn_), 0);
  EXPECT_EQ(dialer_.enumBufferSizes.size(), 5u);
  EXPECT_EQ(dialer_.dials.size(), 1u);
}

TEST_F(WindowsVpnTest, NoDefaultRouteFailsBeforeAnythingIsWrittenOrDialled) {
  table_.forwardTable.clear();
  EXPECT_EQ(ConnectNow(*vpn_), GENERAL_VPN_ERROR_GET_GATEWAY);
  EXPECT_EQ(vpn_->Status().errorDetail, 13);
  EXPECT_TRUE(dialer_.entries.empty());
  EXPECT_TRUE(dialer_.dials.empty());
}

TEST_F(WindowsVpnTest, EntryAndDialParametersDescribeTheChosenServer) {
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  ASSERT_EQ(dialer_.entries.size(), 1u);
  const auto& [name, entry] = dialer_.entries[0];
  EXPECT_EQ(name, L"Kavrin");
  EXPECT_EQ(entry.localPhoneNumber, L"vpn1.example.com");
  EXPECT_EQ(
      std::tie(entry.netProtocols, entry.framingProtocol, entry.entryType, entry.encryptionType),
      std::make_tuple(4u, 1u, 2u, 3u));
  EXPECT_EQ(entry.deviceType + L"/" + entry.deviceName, L"vpn/Kavrin");

  ASSERT_EQ(dialer_.dials.size(), 1u);
  const RasDialParameters& dial = dialer_.dials[0];
  EXPECT_EQ(dial.entryName + L"|" + dial.phoneNumber + L"|" + dial.callbackNumber + L"|" +
                dial.userName + L"|" + dial.password + L"|" + dial.domain,
            L"Kavrin|vpn1.example.com|*|alice|s3cret|");
  // The system gets a receiver of its own, never the engine itself.
  EXPECT_NE(dialer_.events, nullptr);
}

TEST_F(WindowsVpnTest, OptionWordsFollowTunnelTypeEncryptionAndRouteMode) {
  struct Case {
    uint32_t tunnelType;
    uint32_t useMppe;
    uint32_t routeMode;
    uint32_t options;
    uint32_t strategy;
  };
  for (const Case c : {Case{kWindowsVpnTunnelPptp, 1, 2, 0x25141800, 1},
                       Case{kWindowsVpnTunnelPptp, 0, 2, 0x3d140000, 1},
                       Case{kWindowsVpnTunnelL2tp, 1, 3, 0x3d140000, 3},
                       Case{kWindowsVpnTunnelL2tp, 0, 2, 0x3d140000, 3},
                       Case{kWindowsVpnTunnelPptp, 1, 1, 0x25141810, 1},
                       Case{kWindowsVpnTunnelL2tp, 0, 1, 0x3d140010, 3}}) {
    dialer_.entries.clear();
    auto vpn = MakeVpn(c.tunnelType);
    vpn->useMppe = c.useMppe;
    vpn->routeMode = c.routeMode;
    ASSERT_EQ(ConnectNow(*vpn), 0);
    ASSERT_EQ(dialer_.entries.size(), 1u);
    EXPECT_EQ(dialer_.entries[0].second.options, c.options) << c.tunnelType << c.useMppe;
    EXPECT_EQ(dialer_.entries[0].second.vpnStrategy, c.strategy);
  }
}

TEST_F(WindowsVpnTest, EntryThatCannotBeWrittenIsNotDialled) {
  dialer_.setEntryResult = 621;
  EXPECT_EQ(ConnectNow(*vpn_), WINDOWS_VPN_ERROR_CREATE);
  EXPECT_EQ(vpn_->Status().errorDetail, 621);
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_PREPARE);
  EXPECT_TRUE(dialer_.dials.empty());
}

// The entry's field holds 128 characters; cutting a longer name would dial another host.
TEST_F(WindowsVpnTest, ServerAddressLongerThanTheEntryFieldIsRefused) {
  vpn_->serverAddress = std::wstring(128, L'a');
  EXPECT_EQ(ConnectNow(*vpn_), 0);

  auto longer = MakeVpn(kWindowsVpnTunnelPptp);
  longer->serverAddress = std::wstring(129, L'a');
  dialer_.entries.clear();
  dialer_.dials.clear();
  EXPECT_EQ(ConnectNow(*longer), WINDOWS_VPN_ERROR_CREATE);
  EXPECT_EQ(longer->Status().errorDetail, 87);
  EXPECT_TRUE(dialer_.entries.empty());
  EXPECT_TRUE(dialer_.dials.empty());

  auto longPassword = MakeVpn(kWindowsVpnTunnelPptp);
  longPassword->password = std::wstring(257, L'p');
  EXPECT_EQ(ConnectNow(*longPassword), WINDOWS_VPN_ERROR_DIAL);
  EXPECT_EQ(longPassword->Status().errorDetail, 87);
  EXPECT_TRUE(dialer_.dials.empty());
}

TEST_F(WindowsVpnTest, RefusedDialKeepsTheHandleForDisconnectToHangUp) {
  dialer_.dialResult = 623;
  EXPECT_EQ(ConnectNow(*vpn_), WINDOWS_VPN_ERROR_DIAL);
  EXPECT_EQ(vpn_->Status().errorDetail, 623);
  DisconnectNow(*vpn_);
  EXPECT_EQ(dialer_.hangUps, (std::vector<RasConnectionHandle>{dialer_.dialHandle}));
}

TEST_F(WindowsVpnTest, UnknownTunnelTypeIsAFailureTheOwnerCanSee) {
  auto vpn = MakeVpn(3);
  EXPECT_EQ(ConnectNow(*vpn), GENERAL_VPN_ERROR_INTERNAL);
  EXPECT_EQ(vpn->Status().errorDetail, 87);
  EXPECT_TRUE(dialer_.entries.empty());
}

TEST_F(WindowsVpnTest, DisconnectHangsUpOnceAndRestoresTheRoutes) {
  vpn_->routeList = {L"10.0.0.0 mask 255.0.0.0"};
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  Deliver({{kConnected, 0}});
  ASSERT_EQ(table_.installed.size(), 1u);
  clock_.now = 5000;

  DisconnectNow(*vpn_);
  EXPECT_EQ(dialer_.hangUps, (std::vector<RasConnectionHandle>{dialer_.dialHandle}));
  EXPECT_EQ(vpn_->rasConnection, 0u);
  EXPECT_TRUE(table_.installed.empty());
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_DISCONNECTED);
  const auto reports = recorder_.reports();
  EXPECT_EQ(std::vector<Report>(reports.end() - 3, reports.end()),
            (std::vector<Report>{{0, 0, 0}, {9, 0, 0}, {1, 0, 0}}));

  vpn_->Disconnect();
  EXPECT_EQ(dialer_.hangUps.size(), 1u);
}

// The system calls on its own thread at any moment: while Dial has not returned (the progress
// waits for the dial's result behind it), after the hang-up (told to stop calling) and after the
// engine is gone (told to stop, and nothing of the engine is touched).
TEST_F(WindowsVpnTest, ProgressAtAnyMomentIsQueuedAndStopsOnceDisconnectBegan) {
  vpn_->routeList = {L"10.0.0.0 mask 255.0.0.0"};
  dialer_.duringDial = {{kConnectDevice, 0}, {kAuthenticate, 0}};
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  EXPECT_EQ(recorder_.reports(), (std::vector<Report>{{4, 0, 0}, {5, 0, 0}}));
  EXPECT_EQ(Deliver({{kConnected, 0}}), std::vector<uint32_t>{1});
  ASSERT_EQ(table_.installed.size(), 1u);

  vpn_->Disconnect();
  EXPECT_EQ(dialer_.Deliver({{kRasStateDisconnected, 0}, {kConnected, 0}}),
            std::vector<uint32_t>{0});
  ASSERT_TRUE(vpn_->WaitFinished(60000));
  EXPECT_TRUE(table_.installed.empty());
  EXPECT_EQ(std::get<0>(recorder_.reports().back()), GENERAL_VPN_STATE_DISCONNECTED);

  vpn_.reset();
  EXPECT_EQ(dialer_.Deliver({{kRasStateDisconnected, 0}}), std::vector<uint32_t>{0});
}

// A hung-up connection stays listed for a while; the engine is done, and the next one dials
// the same entry, only once the system no longer knows it, and neither waits on the window.
TEST_F(WindowsVpnTest, TheNextConnectionDialsOnlyOnceTheSystemLetTheLastOneGo) {
  dialer_.hangUpPolls = 5;
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  Deliver({{kConnected, 0}});
  dialer_.connections = {{dialer_.dialHandle, L"Kavrin"}};
  vpn_->Disconnect();

  auto next = MakeVpn(kWindowsVpnTunnelPptp);
  next->Follow(std::move(vpn_));
  EXPECT_EQ(ConnectNow(*next), 0) << "the old connection was still listed";
  EXPECT_EQ(dialer_.dials.size(), 2u);
  EXPECT_EQ(dialer_.statusQueries, 6);
  // At least two seconds from the cleanup's start, however quickly the system let go.
  EXPECT_GE(clock_.now, CGeneralVpn::kCleanupSettleMs);
}

// The watch asks every second; a failed query must not overwrite an error it has not shown yet.
TEST_F(WindowsVpnTest, StatisticsAreByteCountsOrAnInternalErrorAndNeverChangeTheState) {
  uint32_t none = 7;
  int32_t noDetail = -1;
  // Before the queued Connect has dialled there is nothing to ask about.
  EXPECT_EQ(vpn_->GetStatistics(none, none, noDetail), 0);
  EXPECT_EQ(none, 0u);
  dialer_.projectionResult = 718;
  ASSERT_EQ(ConnectNow(*vpn_), 0);
  Deliver({{kConnected, 0}});
  dialer_.bytesSent = 1200;
  dialer_.bytesReceived = 3400;
  uint32_t sent = 0;
  uint32_t received = 0;
  int32_t detail = -1;
  EXPECT_EQ(vpn_->GetStatistics(sent, received, detail), 0);
  EXPECT_EQ(sent, 1200u);
  EXPECT_EQ(received, 3400u);
  EXPECT_EQ(detail, 0);

  dialer_.statisticsResult = 6;
  EXPECT_EQ(vpn_->GetStatistics(sent, received, detail), GENERAL_VPN_ERROR_INTERNAL);
  EXPECT_EQ(detail, 6);
  EXPECT_EQ(sent, 1200u);
  const VpnStatus status = vpn_->Status();
  EXPECT_EQ(std::tie(status.state, status.error, status.errorDetail),
            std::make_tuple(uint32_t{GENERAL_VPN_STATE_CONNECTED}, 1, 718));
}

TEST_F(WindowsVpnTest, DetailTextIsTheSystemTextWithRebootAdviceForPortErrors) {
  dialer_.errorStrings = {{633, L"port busy."}, {692, L"port hardware."}, {678, L"no answer."}};
  EXPECT_EQ(vpn_->GetErrorDetailText(633), L"port busy." + GetText("PleaseRebootSystem"));
  EXPECT_EQ(vpn_->GetErrorDetailText(692), L"port hardware." + GetText("PleaseRebootSystem"));
  EXPECT_EQ(vpn_->GetErrorDetailText(678), L"no answer.");
  EXPECT_EQ(vpn_->GetErrorDetailText(0), L"");
}

TEST_F(WindowsVpnTest, ErrorTextsCoverOwnCodesAndFallBackToTheEngine) {
  EXPECT_EQ(vpn_->GetErrorText(9), GetText("WINDOWS_VPN_ERROR_CREATE"));
  EXPECT_EQ(vpn_->GetErrorText(10), GetText("WINDOWS_VPN_ERROR_DIAL"));
  EXPECT_EQ(vpn_->GetErrorText(6), GetText("GENERAL_VPN_ERROR_MODIFY_ROUTE"));
  EXPECT_EQ(vpn_->GetErrorText(8), GetText("VpnUnknownError"));
  EXPECT_EQ(vpn_->GetErrorText(11), GetText("VpnUnknownError"));
}

}  // namespace

// The link watch against a system that loses its notice or lists a link that is gone.
namespace {

class RecordingProgress : public RasDialEvents {
 public:
  uint32_t OnRasProgress(RasConnectionHandle, uint32_t state, uint32_t error) override {
    told.emplace_back(state, error);
    return 1;
  }
  std::vector<std::pair<uint32_t, uint32_t>> told;
};

}  // namespace

TEST(RasLinkWatchTest, GoneLinksAreFoundWhateverTheNoticeDoes) {
  FakeRasDialer dialer;
  constexpr RasConnectionHandle kLink = 0x5150;
  dialer.links[kLink] = RasLinkStatus{};
  // The notice is lost: only timeouts come, and the status query finds the link still listed,
  // but disconnected with the error that ended it.
  RecordingProgress events;
  int waits = 0;
  std::vector<uint32_t> periods;
  RunRasLinkWatch(dialer, kLink, true, [&](uint32_t ms) {
    periods.push_back(ms);
    if (++waits == 3) dialer.links[kLink] = RasLinkStatus{kRasStateDisconnected, 619};
    return LinkWake::kTimeout;
  }, events);
  EXPECT_EQ(events.told, (std::vector<std::pair<uint32_t, uint32_t>>{{kRasStateDisconnected, 619}}));
  EXPECT_EQ(periods, std::vector<uint32_t>(3, kRasStatusPollMs));

  // The system refused the notice: the queries watch alone, more often, until the handle is
  // gone.
  RecordingProgress alone;
  dialer.links[kLink] = RasLinkStatus{};
  periods.clear();
  RunRasLinkWatch(dialer, kLink, false, [&](uint32_t ms) {
    periods.push_back(ms);
    dialer.links.clear();
    return LinkWake::kTimeout;
  }, alone);
  EXPECT_EQ(alone.told.size(), 1u);
  EXPECT_EQ(periods, std::vector<uint32_t>{kRasStatusPollWithoutNoticeMs});

  // A notice is believed at once; quitting tells nothing.
  RecordingProgress noticed;
  RunRasLinkWatch(dialer, kLink, true, [](uint32_t) { return LinkWake::kNotice; }, noticed);
  EXPECT_EQ(noticed.told.size(), 1u);
  RecordingProgress quit;
  RunRasLinkWatch(dialer, kLink, true, [](uint32_t) { return LinkWake::kQuit; }, quit);
  EXPECT_TRUE(quit.told.empty());
}
