#include "vpn/open_vpn.h"

#include <map>
#include <string_view>
#include <utility>

#include "base/text.h"
#include "config/text_table.h"
#include "vpn/open_vpn_components.h"

namespace {

constexpr std::string_view kUserPrompt = "Enter Auth Username:";
constexpr std::string_view kPasswordPrompt = "Enter Auth Password:";
constexpr std::string_view kSocksUserPrompt = "Enter SOCKS5 Proxy Username:";
constexpr std::string_view kHttpUserPrompt = "Enter HTTP Proxy Username:";
constexpr std::string_view kSocksPasswordPrompt = "Enter SOCKS5 Proxy Password:";
constexpr std::string_view kHttpPasswordPrompt = "Enter HTTP Proxy Password:";

constexpr std::string_view kBindFailedLine = "Socket bind failed on local address";
constexpr std::string_view kPeerInitiatedLine = "Peer Connection Initiated";
constexpr std::string_view kNoAdapterLine = "There are no TAP-Win32 adapters on this system";
constexpr std::string_view kAddressStart = "Notified TAP-Win32 driver to set a DHCP IP/netmask of ";
constexpr std::string_view kAddressEnd = " on interface ";
constexpr std::string_view kGatewayStart = "route-gateway";
constexpr std::string_view kGatewayEnd = ",";
constexpr std::string_view kCompletedLine = "Initialization Sequence Completed";

const std::map<int32_t, std::wstring>& OwnErrorTexts() {
  static const std::map<int32_t, std::wstring> texts = {
      {OPEN_VPN_ERROR_EXEC, GetText("OPEN_VPN_ERROR_EXEC")},
      {OPEN_VPN_ERROR_NO_ADAPTER, GetText("OPEN_VPN_ERROR_NO_ADAPTER")},
      {OPEN_VPN_ERROR_TLS_ERROR, GetText("OPEN_VPN_ERROR_TLS_ERROR")},
      {OPEN_VPN_ERROR_INVALID_SETTING, GetText("OPEN_VPN_ERROR_INVALID_SETTING")},
  };
  return texts;
}

// A line end inside an answer would be read by the child as the answer to its next prompt.
bool IsSafeAnswer(const std::wstring& value) {
  return value.find_first_of(L"\r\n") == std::wstring::npos;
}

// Host names and addresses go unquoted onto the command line; a blank or a quote would let the
// text add options of its own, and a leading "-" would make it one.
bool IsSafeHost(const std::wstring& host) {
  if (host.empty() || host.front() == L'-') return false;
  for (const wchar_t c : host) {
    if (c <= L' ' || c == L'"' || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

COpenVpn::COpenVpn(std::unique_ptr<ConsoleChild> child, std::unique_ptr<ExitSignal> exitSignal,
                   RouteTable& routeTable, TickClock& clock,
                   std::unique_ptr<CVpnRouteRequestBaseServer> routeServer)
    : CGeneralVpn(routeTable, clock, std::move(routeServer)),
      CConsoleRedirector(std::move(child)),
      exitSignal_(std::move(exitSignal)) {}

COpenVpn::~COpenVpn() { Stop(); }

std::wstring COpenVpn::BuildCommandLine() const {
  const std::wstring folder = OpenVpnFolder();
  std::wstring line = L"\"" + folder + L"openvpn.exe\" --remote " + serverAddress +
                      L" --dev tap --proto udp --port 80 --auth-user-pass  --pull --ca \"" +
                      folder + L"\\ca.crt\" --tls-client --service " + kOpenVpnExitEventName +
                      L" --remap-usr1 SIGTERM --verb 5";
  line += L" --cipher none --tun-mtu 1400";
  if (routeMode == RouteModeDefaultGateway) line += L" --redirect-gateway";
  if (proxyType == 1) {
    line += L" --http-proxy " + proxyHost + L" " + std::to_wstring(proxyPort) + L" stdin";
  } else if (proxyType == 2) {
    line += L" --socks-proxy " + proxyHost + L" " + std::to_wstring(proxyPort);
  }
  return line;
}

bool COpenVpn::SettingsAreSafe() const {
  if (!IsSafeHost(serverAddress) || !IsSafeAnswer(userName) || !IsSafeAnswer(password)) {
    return false;
  }
  if (proxyType == 1 || proxyType == 2) {
    return IsSafeHost(proxyHost) && IsSafeAnswer(proxyUser) && IsSafeAnswer(proxyPassword);
  }
  return true;
}

int32_t COpenVpn::Connect() {
  {
    auto strand = EnterStrand();
    // Unlike the dial-up tunnel, the child finds its own way to the server; the default route
    // only matters for route modification later.
    Prepare();
    ClearOutput();
    StoreState(GENERAL_VPN_STATE_PREPARE, GENERAL_VPN_ERROR_SUCCESS, 0);
    if (!SettingsAreSafe()) {
      StoreError(OPEN_VPN_ERROR_INVALID_SETTING, 0);
      return OPEN_VPN_ERROR_INVALID_SETTING;
    }
  }
  // Outside the strand: the reader thread it starts delivers its first chunk as an event.
  if (!Start(BuildCommandLine())) {
    auto strand = EnterStrand();
    StoreError(OPEN_VPN_ERROR_EXEC, 0);
    return OPEN_VPN_ERROR_EXEC;
  }
  // The error is left alone from here: the reader thread may already have reported one.
  return GENERAL_VPN_ERROR_SUCCESS;
}

int32_t COpenVpn::Disconnect() {
  StopEvents();
  exitSignal_->Raise(kOpenVpnExitEventName);
  // Outside the strand, which the reader may be waiting for. A child that ignores the event
  // would keep its tunnel up after the routes were restored.
  if (!WaitForReader(kExitWaitMs)) Stop();
  CGeneralVpn::Disconnect();
  exitSignal_->Clear();
  return 0;
}

int32_t COpenVpn::GetStatistics(uint32_t& sent, uint32_t& received, int32_t& errorDetail) {
  sent = sentCount.load();
  received = receivedCount.load();
  errorDetail = 0;
  return 0;
}

std::wstring COpenVpn::GetErrorDetailText(int32_t) { return {}; }

std::wstring COpenVpn::GetErrorText(int32_t code) {
  const auto& texts = OwnErrorTexts();
  const auto found = texts.find(code);
  return found != texts.end() ? found->second : CGeneralVpn::GetErrorText(code);
}

void COpenVpn::OnOutput(const char* data, size_t length) {
  RunEvent([&] { HandleOutput(data, length); });
}

void COpenVpn::HandleOutput(const char* data, size_t length) {
  AppendOutput(data, length);

  // Prompts come without a line end, so one that is not last is not being asked now.
  if (OutputEndsWith(kUserPrompt)) {
    SendInput(userName + L"\n");
  } else if (OutputEndsWith(kPasswordPrompt)) {
    SendInput(password + L"\n");
  } else if (OutputEndsWith(kSocksUserPrompt) || OutputEndsWith(kHttpUserPrompt)) {
    SendInput(proxyUser + L"\n");
  } else if (OutputEndsWith(kSocksPasswordPrompt) || OutputEndsWith(kHttpPasswordPrompt)) {
    SendInput(proxyPassword + L"\n");
  }

  if (!ReadStatusLines()) return;
  if (CurrentState() == GENERAL_VPN_STATE_ALL_DONE) CountPacketMarks();
}

bool COpenVpn::ReadStatusLines() {
  if (OutputContains(kBindFailedLine)) {
    SetState(GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_ERROR_CONNECT, 0);
  }
  // The child prints this line again whenever it renegotiates keys; once the tunnel is up it
  // says nothing about the connection.
  const uint32_t now = CurrentState();
  const bool up = now == GENERAL_VPN_STATE_CONNECTED || now == GENERAL_VPN_STATE_ALL_DONE ||
                  now == GENERAL_VPN_STATE_MODIFY_ROUTE;
  if (!up && OutputContains(kPeerInitiatedLine)) {
    SetState(GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_ERROR_SUCCESS, 0);
  }
  if (OutputContains(kNoAdapterLine)) {
    SetState(GENERAL_VPN_STATE_CONNECT, OPEN_VPN_ERROR_NO_ADAPTER, 0);
  }
  std::string text;
  if (ExtractBetween(kAddressStart, kAddressEnd, text)) {
    const std::string address = TrimText(text);
    const size_t slash = address.find('/');
    if (slash == std::string::npos) {
      SetState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_GET_LOCAL_IP, 0);
      return false;
    }
    localAddress_ = AnsiToWide(TrimText(std::string_view(address).substr(0, slash)));
  }
  if (ExtractBetween(kGatewayStart, kGatewayEnd, text)) {
    tunnelGateway_ = AnsiToWide(TrimText(text));
  }
  if (OutputContains(kCompletedLine)) {
    // Cleared first: the lines above must not be acted on again once the tunnel is up.
    ClearOutput();
    SetState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
  }
  return true;
}

void COpenVpn::CountPacketMarks() {
  // At this verbosity the child prints one letter per packet: upper case for the network side
  // ("W" written to the server, "R" read from it), lower case for the adapter side, which sees
  // the same packets the other way round and so is not counted. Other W's and R's in its output
  // count too, which is noise the traffic display tolerates.
  uint32_t sent = 0;
  uint32_t received = 0;
  for (const char c : TakeOutput()) {
    if (c == 'W') ++sent;
    if (c == 'R') ++received;
  }
  sentCount += sent;
  receivedCount += received;
}

void COpenVpn::OnProcessEnded() {
  SetState(GENERAL_VPN_STATE_DISCONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
}
