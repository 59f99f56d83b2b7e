#include "vpn/open_vpn.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/text_table.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"
#include "vpn/open_vpn_components.h"

namespace {

// A child that never runs: the test plays its output through OnOutput and sees what would
// have gone to its standard input.
class FakeConsoleChild : public ConsoleChild {
 public:
  bool Start(const std::wstring& commandLine, ConsoleChildEvents&) override {
    commandLines.push_back(commandLine);
    return !refuseStart;
  }
  void Stop() override { ++stops; }
  bool WriteInput(std::string_view bytes) override {
    written.emplace_back(bytes);
    return true;
  }
  bool WaitForReader(uint32_t milliseconds) override {
    waits.push_back(milliseconds);
    return readerEnds;
  }

  bool refuseStart = false;
  bool readerEnds = true;
  std::vector<std::wstring> commandLines;
  std::vector<std::string> written;
  std::vector<uint32_t> waits;
  int stops = 0;
};

class FakeExitSignal : public ExitSignal {
 public:
  void Raise(const std::wstring& name) override { calls.push_back(L"raise " + name); }
  void Clear() override { calls.push_back(L"clear"); }
  std::vector<std::wstring> calls;
};

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

  void Feed(std::string_view text) { vpn_->OnOutput(text.data(), text.size()); }

  FakeRouteTable table_;
  FakeClock clock_;
  ReportRecorder recorder_;
  FakeConsoleChild* child_ = nullptr;
  FakeExitSignal* signal_ = nullptr;
  std::unique_ptr<COpenVpn> vpn_;
};

const std::wstring kTemplate =
    std::wstring(L"\"") + kFolder +
    L"openvpn.exe\" --remote vpn3.example.com --dev tap --proto "
    L"udp --port 80 --auth-user-pass  --pull --ca \"" +
    kFolder +
    L"\\ca.crt\" --tls-client --service "
    L"KAVRIN_OPENVPN_EXIT_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88} --remap-usr1 SIGTERM --verb 5"
    L" --cipher none --tun-mtu 1400";

TEST_F(OpenVpnTest, CommandLineCarriesTheProxyOptionAndConnectStartsTheChild) {
  vpn_->SetProxy(1, L"192.168.1.1", 8080, nullptr, nullptr);
  EXPECT_EQ(vpn_->BuildCommandLine(), kTemplate + L" --http-proxy 192.168.1.1 8080 stdin");

  vpn_->routeMode = RouteModeDefaultGateway;
  vpn_->SetProxy(2, L"socks.example.com", 1080, nullptr, nullptr);
  EXPECT_EQ(vpn_->BuildCommandLine(),
            kTemplate + L" --redirect-gateway --socks-proxy socks.example.com 1080");

  // Connect starts the child with it, even on a host without a default route.
  vpn_->routeMode = RouteModeApplications;
  vpn_->SetProxy(0, L"ignored", 1, nullptr, nullptr);
  table_.forwardTable.clear();
  ASSERT_EQ(vpn_->Connect(), 0);
  EXPECT_EQ(child_->commandLines, (std::vector<std::wstring>{kTemplate}));
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_PREPARE);
  EXPECT_TRUE(recorder_.reports().empty());
  child_->refuseStart = true;
  EXPECT_EQ(vpn_->Connect(), OPEN_VPN_ERROR_EXEC);
  EXPECT_EQ(vpn_->Status().error, OPEN_VPN_ERROR_EXEC);
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
    EXPECT_EQ(vpn_->Connect(), OPEN_VPN_ERROR_INVALID_SETTING);
    EXPECT_EQ(vpn_->Status().error, OPEN_VPN_ERROR_INVALID_SETTING);
    EXPECT_TRUE(child_->commandLines.empty());
  }
  // Proxy values do not matter without a proxy.
  vpn_->serverAddress = L"vpn3.example.com";
  vpn_->password = L"s3cret";
  vpn_->SetProxy(0, L"bad host", 0, L"a\nb", nullptr);
  EXPECT_EQ(vpn_->Connect(), 0);
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
  ASSERT_EQ(vpn_->Connect(), 0);
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

TEST_F(OpenVpnTest, DisconnectSignalsTheChildWaitsThenCleansUp) {
  ASSERT_EQ(vpn_->Connect(), 0);
  Feed(std::string(kAddressLine) + "Initialization Sequence Completed\n");
  vpn_->callback = nullptr;
  const int stopsBefore = child_->stops;

  EXPECT_EQ(vpn_->Disconnect(), 0);
  EXPECT_EQ(signal_->calls,
            (std::vector<std::wstring>{std::wstring(L"raise ") + kOpenVpnExitEventName, L"clear"}));
  EXPECT_EQ(child_->waits, std::vector<uint32_t>{2000});
  EXPECT_EQ(child_->stops, stopsBefore);  // the child left by itself
  EXPECT_EQ(vpn_->Status().state, GENERAL_VPN_STATE_DISCONNECTED);
  EXPECT_EQ(vpn_->Status().error, 0);
  EXPECT_TRUE(table_.installed.empty());

  // A child that ignores the event is ended rather than left holding the tunnel.
  child_->readerEnds = false;
  EXPECT_EQ(vpn_->Disconnect(), 0);
  EXPECT_EQ(child_->stops, stopsBefore + 1);
}

}  // namespace
