#include "vpn/open_vpn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "config/text_table.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_console_child.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"
#include "vpn/error_advice.h"
#include "vpn/open_vpn_components.h"

namespace {

constexpr wchar_t kFolder[] = L"C:\\Program Files\\Kavrin\\openvpn\\";
constexpr char kAddressLine[] =
    "Notified TAP-Win32 driver to set a DHCP IP/netmask of 10.8.0.6/255.255.255.252 on "
    "interface {4A3B2C1D-0000-1111-2222-333344445555} [DHCP-serv: 10.8.0.5]\n";
constexpr char kPushLine[] =
    "PUSH: Received control message: 'PUSH_REPLY,route 10.8.0.1,route-gateway 10.8.0.5,"
    "ping 10'\n";

class OpenVpnTest : public ::testing::Test {
 protected:
  OpenVpnTest() {
    BuildTextTable();
    SetOpenVpnFolder(kFolder);
    table_.SetLanHost();

    auto child = std::make_unique<FakeConsoleChild>();
    auto signal = std::make_unique<FakeExitSignal>();
    child_ = child.get();
    signal_ = signal.get();
    vpn_ = std::make_unique<COpenVpn>(std::move(child), std::move(signal), table_, clock_);
    vpn_->callback = &recorder_;
    vpn_->routeMode = RouteModeListedRoutes;
    vpn_->serverAddress = L"vpn3.example.com";
    vpn_->userName = L"alice";
    vpn_->password = L"s3cret";
  }

  // A chunk from the reader thread, handled by the worker before this returns.
  void Feed(std::string_view text) {
    vpn_->OnOutput(text.data(), text.size());
    vpn_->Flush();
  }
  int32_t ConnectNow() {
    vpn_->Connect();
    vpn_->Flush();
    return vpn_->Status().error;
  }

  FakeRouteTable table_;
  FakeClock clock_;
  ReportRecorder recorder_;
  FakeConsoleChild* child_ = nullptr;
  FakeExitSignal* signal_ = nullptr;
  std::unique_ptr<COpenVpn> vpn_;
};

std::wstring Template(const std::wstring& exitEvent) {
  return std::wstring(L"\"") + kFolder +
         L"openvpn.exe\" --remote vpn3.example.com --dev tap --proto "
         L"udp --port 80 --auth-user-pass  --pull --ca \"" +
         kFolder + L"\\ca.crt\" --tls-client --service " + exitEvent +
         L" --remap-usr1 SIGTERM --verb 5 --cipher none --tun-mtu 1400 --ping 10 --ping-restart 60";
}

TEST_F(OpenVpnTest, CommandLineCarriesTheProxyOptionAndConnectStartsTheChild) {
  // Connect makes the child's exit event first and starts the child with its name, even on a
  // host without a default route.
  vpn_->routeMode = RouteModeApplications;
  table_.forwardTable.clear();
  ASSERT_EQ(ConnectNow(), 0);
  EXPECT_EQ(child_->commandLines, (std::vector<std::wstring>{Template(L"exit-1")}));
  EXPECT_EQ(signal_->calls, std::vector<std::wstring>{L"create exit-1"});
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_PREPARE);
  EXPECT_TRUE(recorder_.reports().empty());

  vpn_->routeMode = RouteModeListedRoutes;
  vpn_->SetProxy(1, L"192.168.1.1", 8080, nullptr, nullptr);
  EXPECT_EQ(vpn_->BuildCommandLine(), Template(L"exit-1") + L" --http-proxy 192.168.1.1 8080 stdin");
  vpn_->routeMode = RouteModeDefaultGateway;
  vpn_->SetProxy(2, L"socks.example.com", 1080, nullptr, nullptr);
  EXPECT_EQ(vpn_->BuildCommandLine(),
            Template(L"exit-1") + L" --redirect-gateway def1 --socks-proxy socks.example.com 1080");

  child_->refuseStart = true;
  EXPECT_EQ(ConnectNow(), OPEN_VPN_ERROR_EXEC);
  EXPECT_EQ(vpn_->Status().error, OPEN_VPN_ERROR_EXEC);
}

// Without an event only we hold, the child is not started at all: nobody could stop it in
// order (or anybody could).
TEST_F(OpenVpnTest, NoChildStartsWithoutAnExitEventOfItsOwn) {
  signal_->refuseCreate = true;
  EXPECT_EQ(ConnectNow(), OPEN_VPN_ERROR_EXEC);
  EXPECT_TRUE(child_->commandLines.empty());
}

TEST_F(OpenVpnTest, SettingsThatWouldInjectAnswersOrOptionsAreRefusedBeforeTheChildStarts) {
  struct Case {
    const char* name;
    void (*spoil)(COpenVpn&);
  };
  const Case cases[] = {
      {"line feed in password", [](COpenVpn& v) { v.password = L"pw\nEnter Auth Password:"; }},
      {"carriage return in user", [](COpenVpn& v) { v.userName = L"bob\r"; }},
      {"line feed in proxy user", [](COpenVpn& v) { v.SetProxy(1, L"proxy", 8080, L"u\nx", L""); }},
      {"blank in server", [](COpenVpn& v) { v.serverAddress = L"vpn --up evil.bat"; }},
      {"option as server", [](COpenVpn& v) { v.serverAddress = L"--config"; }},
      {"option as proxy host", [](COpenVpn& v) { v.SetProxy(1, L"-v", 8080, L"", L""); }},
      {"quote in proxy host", [](COpenVpn& v) { v.SetProxy(2, L"p\"", 1080, L"", L""); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vpn_->serverAddress = L"vpn3.example.com";
    vpn_->userName = L"alice";
    vpn_->password = L"s3cret";
    vpn_->SetProxy(0, nullptr, 0, nullptr, nullptr);
    c.spoil(*vpn_);
    child_->commandLines.clear();
    EXPECT_EQ(ConnectNow(), OPEN_VPN_ERROR_INVALID_SETTING);
    EXPECT_EQ(vpn_->Status().error, OPEN_VPN_ERROR_INVALID_SETTING);
    EXPECT_TRUE(child_->commandLines.empty());
  }
  // Proxy values do not matter without a proxy.
  vpn_->serverAddress = L"vpn3.example.com";
  vpn_->password = L"s3cret";
  vpn_->SetProxy(0, L"bad host", 0, L"a\nb", nullptr);
  EXPECT_EQ(ConnectNow(), 0);
}

TEST_F(OpenVpnTest, PromptsAtTheEndAreAnsweredOnceAndEmptyTheBuffer) {
  vpn_->SetProxy(1, L"proxy", 8080, L"puser", L"ppass");
  Feed("Some banner\nEnter HTTP Proxy Username:");
  Feed("Enter HTTP Proxy Password:");
  Feed("Enter SOCKS5 Proxy Username:");
  Feed("Enter SOCKS5 Proxy Password:");
  Feed("Enter Auth Username:");
  EXPECT_EQ(vpn_->GetOutput(), "");
  Feed("Enter Auth Password:");
  EXPECT_EQ(child_->written, (std::vector<std::string>{"puser\n", "ppass\n", "puser\n", "ppass\n",
                                                       "alice\n", "s3cret\n"}));
  EXPECT_EQ(vpn_->GetOutput(), "");

  child_->written.clear();
  Feed("Enter Auth Username: is asked next\n");
  Feed("Enter Auth Password:\n");
  EXPECT_TRUE(child_->written.empty());
  EXPECT_NE(vpn_->GetOutput(), "");
}

TEST_F(OpenVpnTest, PromptSplitAcrossTwoChunksAtAnyByteIsAnsweredOnce) {
  const std::pair<std::string, std::string> prompts[] = {
      {"Enter Auth Username:", "alice\n"},
      {"Enter Auth Password:", "s3cret\n"},
      {"Enter HTTP Proxy Username:", "pu\n"},
      {"Enter SOCKS5 Proxy Password:", "pp\n"},
  };
  vpn_->SetProxy(2, L"proxy", 1080, L"pu", L"pp");
  for (const auto& [prompt, answer] : prompts) {
    for (size_t cut = 0; cut <= prompt.size(); ++cut) {
      SCOPED_TRACE(prompt + " cut at " + std::to_string(cut));
      child_->written.clear();
      vpn_->ClearOutput();
      Feed("line before\n" + prompt.substr(0, cut));
      Feed(prompt.substr(cut));
      EXPECT_EQ(child_->written, std::vector<std::string>{answer});
    }
  }
}

TEST_F(OpenVpnTest, FullSessionLearnsAddressesModifiesRoutesThenCountsPackets) {
  vpn_->routeList = {L"172.16.0.0 mask 255.240.0.0"};
  ASSERT_EQ(ConnectNow(), 0);
  Feed("Enter Auth Username:");
  Feed("Enter Auth Password:");
  Feed("[server] Peer Connection Initiated with [AF_INET]203.0.113.9:80 wrote\n");
  Feed(kPushLine);
  // The address line and the completion in one chunk: the address is stored first.
  Feed(std::string(kAddressLine) + "Initialization Sequence Completed\n");

  EXPECT_EQ(vpn_->GetLocalAddress(), L"10.8.0.6");
  EXPECT_EQ(vpn_->TunnelGateway(), L"10.8.0.5");
  // "Peer Connection Initiated" stays in the buffer until completion, so each chunk repeats it.
  EXPECT_EQ(recorder_.reports(),
            (std::vector<Report>{{4, 0, 0}, {4, 0, 0}, {4, 0, 0}, {10, 0, 0}, {8, 0, 0}}));
  EXPECT_EQ(recorder_.statuses()[3].localAddress, L"10.8.0.6");  // at the report of 10
  ASSERT_EQ(table_.installed.size(), 1u);
  EXPECT_EQ(table_.installed[0].nextHop, Ip("10.8.0.5"));
  EXPECT_EQ(table_.installed[0].interfaceIndex, 23u);

  // Packet letters count from here on only ("wrote" above did not). Upper case are the
  // network's packets: a packet out is read from the adapter ("r") and written ("W").
  uint32_t sent = 0;
  uint32_t received = 0;
  int32_t detail = -1;
  Feed("rW");
  EXPECT_EQ(vpn_->GetStatistics(sent, received, detail), 0);
  EXPECT_EQ(sent, 1u);
  EXPECT_EQ(received, 0u);
  Feed("RwRw");
  Feed("rW");
  vpn_->GetStatistics(sent, received, detail);
  EXPECT_EQ(sent, 2u);
  EXPECT_EQ(received, 2u);
  EXPECT_EQ(vpn_->GetOutput(), "");

  // A key renegotiation repeats the peer line; the tunnel stays up and keeps counting.
  recorder_.Clear();
  Feed("[server] Peer Connection Initiated with [AF_INET]203.0.113.9:80\n");
  vpn_->GetStatistics(sent, received, detail);
  Feed("WR");
  uint32_t sentAfter = 0;
  uint32_t receivedAfter = 0;
  vpn_->GetStatistics(sentAfter, receivedAfter, detail);
  EXPECT_TRUE(recorder_.reports().empty());
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_EQ(sentAfter, sent + 1);
  EXPECT_EQ(receivedAfter, received + 1);
}

TEST_F(OpenVpnTest, ConsoleLinesGiveTheirErrors) {
  const std::pair<std::string, Report> lines[] = {
      {"TCP/UDP: Socket bind failed on local address [undef]:80: Address in use\n", {4, 2, 0}},
      {"There are no TAP-Win32 adapters on this system.  You should be able to create one\n",
       {4, 10, 0}},
      // No "/": no address, and no route modification even when completion follows.
      {"Notified TAP-Win32 driver to set a DHCP IP/netmask of 10.8.0.6 on interface {X}\n"
       "Initialization Sequence Completed\n",
       {7, 5, 0}},
      // The server refused the credentials: the refusal a fresh login may cure, as RAS 691.
      {"AUTH: Received control message: AUTH_FAILED\n",
       {GENERAL_VPN_STATE_AUTHENTICATE, OPEN_VPN_ERROR_AUTH_FAILED, 0}},
  };
  for (const auto& [line, report] : lines) {
    SCOPED_TRACE(line);
    vpn_->ClearOutput();
    recorder_.Clear();
    Feed(line);
    EXPECT_EQ(recorder_.reports(), std::vector<Report>{report});
  }
  EXPECT_TRUE(vpn_->GetLocalAddress().empty());
  EXPECT_TRUE(table_.createCalls.empty());
}

// The log gets the connection's own lines, whole however they were cut, and nothing that
// answers a prompt or carries what the server pushed.
TEST_F(OpenVpnTest, SignificantLinesGoToTheLogAndNoSecretDoes) {
  std::vector<std::wstring> noted;
  vpn_->note = [&noted](const std::wstring& line) { noted.push_back(line); };
  ASSERT_EQ(ConnectNow(), 0);
  Feed("Enter Auth Username:");
  Feed("Enter Auth Password:");
  Feed("\nPUSH: Received control message: 'PUSH_REPLY,auth-token s3cret,ERROR'\n");
  Feed("WRwrWR\nTLS Error: TLS key nego");
  Feed("tiation failed to occur within 60 seconds\r\nUDPv4 READ [84] from [AF_INET]x\n");
  EXPECT_EQ(vpn_->ErrorAdvice(OPEN_VPN_ERROR_CHILD_ENDED, 0),
            OpenVpnAdvice(OpenVpnCondition::kTlsFailed));
  Feed("AUTH: Received control message: AUTH_FAILED\n");
  EXPECT_EQ(noted, (std::vector<std::wstring>{
                       L"OpenVPN: TLS Error: TLS key negotiation failed to occur within 60 seconds",
                       L"OpenVPN: AUTH: Received control message: AUTH_FAILED"}));
  EXPECT_EQ(vpn_->ErrorAdvice(OPEN_VPN_ERROR_AUTH_FAILED, 0),
            OpenVpnAdvice(OpenVpnCondition::kAuthFailed));
}

TEST_F(OpenVpnTest, DisconnectSignalsTheChildWaitsThenCleansUp) {
  ASSERT_EQ(ConnectNow(), 0);
  Feed(std::string(kAddressLine) + "Initialization Sequence Completed\n");
  vpn_->callback = nullptr;
  const int stopsBefore = child_->stops;

  EXPECT_EQ(vpn_->Disconnect(), 0);
  ASSERT_TRUE(vpn_->WaitFinished(60000));
  EXPECT_EQ(signal_->calls,
            (std::vector<std::wstring>{L"create exit-1", L"raise exit-1", L"clear"}));
  // Time for the child's own route clean-up, on the worker.
  EXPECT_EQ(child_->waits, std::vector<uint32_t>{10000});
  EXPECT_EQ(child_->stops, stopsBefore);  // the child left by itself
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_DISCONNECTED);
  EXPECT_EQ(vpn_->Status().error, 0);
  EXPECT_TRUE(table_.installed.empty());

  // A child that ignores the event is ended rather than left holding the tunnel.
  auto child = std::make_unique<FakeConsoleChild>();
  FakeConsoleChild* stubborn = child.get();
  stubborn->readerEnds = false;
  COpenVpn other(std::move(child), std::make_unique<FakeExitSignal>(), table_, clock_);
  other.Connect();
  other.Disconnect();
  ASSERT_TRUE(other.WaitFinished(60000));
  EXPECT_EQ(stubborn->stops, 1);
}

// The child's own routes (--redirect-gateway's halves through the tunnel's gateway and the
// host route to the server through the host's) are taken back when it was ended before it
// could; the host's rows, and rows through other interfaces, stay.
TEST_F(OpenVpnTest, RoutesTheChildLeftBehindAreRemoved) {
  table_.systemLike = true;
  vpn_->routeMode = RouteModeDefaultGateway;
  vpn_->serverAddress = L"203.0.113.9";
  ASSERT_EQ(ConnectNow(), 0);
  Feed(kPushLine);
  Feed(std::string(kAddressLine) + "Initialization Sequence Completed\n");
  auto row = [](const char* destination, const char* mask, const char* hop, uint32_t index) {
    RouteRow r{};
    r.destination = Ip(destination);
    r.mask = Ip(mask);
    r.nextHop = Ip(hop);
    r.interfaceIndex = index;
    r.type = 4;
    r.protocol = 3;
    return r;
  };
  const RouteRow others = row("198.51.100.0", "255.255.255.0", "192.168.1.1", 7);
  for (const RouteRow& r : {row("0.0.0.0", "128.0.0.0", "10.8.0.5", 23),
                            row("128.0.0.0", "128.0.0.0", "10.8.0.5", 23),
                            row("203.0.113.9", "255.255.255.255", "192.168.1.1", 7), others}) {
    table_.forwardTable.push_back(r);
  }
  const size_t hostRows = table_.forwardTable.size() - 4;
  vpn_->Disconnect();
  ASSERT_TRUE(vpn_->WaitFinished(60000));
  ASSERT_EQ(table_.forwardTable.size(), hostRows + 1);
  EXPECT_EQ(table_.forwardTable.back(), others);
}

// The owner destroys the engine right after Disconnect (Exit). The child is ended only after
// the cleanup gave it its time: ended at once, as TerminateProcess does, it would never run its
// own restore of the host's routes.
TEST_F(OpenVpnTest, DestroyedRightAfterDisconnectTheChildStillLeavesInOrder) {
  auto piped = std::make_unique<PipedConsoleChild>();
  PipedConsoleChild* child = piped.get();
  auto signal = std::make_unique<FakeExitSignal>();
  signal->child = child;
  child->script = std::string(kAddressLine) + "Initialization Sequence Completed\n";
  std::atomic<bool> leftInOrder = false;
  child->goodbye = [&] { leftInOrder = true; };
  auto vpn = std::make_unique<COpenVpn>(std::move(piped), std::move(signal), table_, clock_);
  vpn->serverAddress = L"vpn3.example.com";
  vpn->Connect();
  vpn->Flush();
  vpn->Disconnect();
  vpn.reset();
  EXPECT_TRUE(leftInOrder);
}

// A child that ends on its own (a dead server's --ping-restart, a crash) is a drop: reported,
// and from then on the statistics fail too, for a watch that missed the report.
TEST_F(OpenVpnTest, ChildEndingOnItsOwnIsReportedAndFailsTheStatistics) {
  auto piped = std::make_unique<PipedConsoleChild>();
  PipedConsoleChild* child = piped.get();
  child->script = std::string(kAddressLine) + "Initialization Sequence Completed\n";
  COpenVpn vpn(std::move(piped), std::make_unique<FakeExitSignal>(), table_, clock_);
  ReportRecorder recorder;
  vpn.callback = &recorder;
  vpn.serverAddress = L"vpn3.example.com";
  vpn.Connect();
  while (vpn.Status().state != GENERAL_VPN_STATE_ALL_DONE) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  uint32_t sent = 0;
  uint32_t received = 0;
  int32_t detail = 0;
  EXPECT_EQ(vpn.GetStatistics(sent, received, detail), 0);
  child->AskToExit();
  ASSERT_TRUE(child->WaitForReader(60000));
  vpn.Flush();
  EXPECT_EQ(recorder.reports().back(), (Report{GENERAL_VPN_STATE_DISCONNECTED, 0, 0}));
  EXPECT_EQ(vpn.GetStatistics(sent, received, detail), OPEN_VPN_ERROR_CHILD_ENDED);
  vpn.Disconnect();
  ASSERT_TRUE(vpn.WaitFinished(60000));
}

// The console is drained while the worker applies a long route list: a verbose child never
// waits long for room in its pipe, so it keeps forwarding (keepalives included).
TEST_F(OpenVpnTest, ConsoleIsDrainedWhileRoutesAreApplied) {
  auto piped = std::make_unique<PipedConsoleChild>();
  PipedConsoleChild* child = piped.get();
  auto signal = std::make_unique<FakeExitSignal>();
  signal->child = child;
  child->script = std::string(kAddressLine) + "Initialization Sequence Completed\n";
  table_.rowDelay = std::chrono::microseconds(1000);
  COpenVpn vpn(std::move(piped), std::move(signal), table_, clock_);
  ReportRecorder recorder;
  vpn.callback = &recorder;
  vpn.routeMode = RouteModeListedRoutes;
  vpn.serverAddress = L"vpn3.example.com";
  vpn.userName = L"alice";
  for (int i = 0; i < 1000; ++i) {
    vpn.routeList.push_back(L"10.1." + std::to_wstring(i / 250) + L"." +
                            std::to_wstring(i % 250) + L" mask 255.255.255.255");
  }
  vpn.Connect();
  while (table_.creates < 1000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  vpn.Disconnect();
  ASSERT_TRUE(vpn.WaitFinished(60000));
  EXPECT_LT(child->LongestBlockedWrite(), std::chrono::milliseconds(200));
  EXPECT_EQ(recorder.reports().back(), (Report{GENERAL_VPN_STATE_DISCONNECTED, 0, 0}));
  EXPECT_TRUE(table_.installed.empty());
}

}  // namespace
