#include "vpn/open_vpn.h"

#include <map>
#include <string_view>
#include <utility>

#include "base/text.h"
#include "config/text_table.h"
#include "vpn/error_advice.h"
#include "vpn/open_vpn_components.h"
#include "vpn/route_journal.h"
#include "vpn/route_modification.h"

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
// The server's refusal of the credentials ("AUTH: Received control message: AUTH_FAILED").
constexpr std::string_view kAuthFailedLine = "AUTH_FAILED";

// What of the child's console goes to the log, as its manual names the lines. Matched anywhere
// in the line; the first list wins.
constexpr std::string_view kSecretMarks[] = {"PUSH", "auth-token", "Auth Password", "Enter "};
constexpr std::string_view kSignificantMarks[] = {
    "OpenVPN ",      "Peer Connection Initiated", "Initialization Sequence Completed",
    "AUTH_FAILED",   "TLS Error",                 "TLS key negotiation failed",
    "TLS handshake", "VERIFY ERROR",              "Connection reset",
    "Inactivity timeout", "SIGTERM",              "SIGUSR1",
    "SIGHUP",        "Exiting",                   "Restart pause",
    "RESOLVE",       "Cannot resolve",            "TCP connection established",
    "link remote",   "There are no TAP",          "Socket bind failed",
    "DHCP IP/netmask", "ERROR",                   "Options error",
};
constexpr std::string_view kTlsFailedMarks[] = {"TLS Error", "TLS key negotiation failed",
                                                "TLS handshake failed"};
constexpr size_t kLongestNotedLine = 400;

bool IsSignificantLine(std::string_view line) {
  const auto in = [line](std::string_view mark) { return line.find(mark) != line.npos; };
  for (const std::string_view mark : kSecretMarks) {
    if (in(mark)) return false;
  }
  for (const std::string_view mark : kSignificantMarks) {
    if (in(mark)) return true;
  }
  return false;
}

const std::map<int32_t, std::wstring>& OwnErrorTexts() {
  static const std::map<int32_t, std::wstring> texts = {
      {OPEN_VPN_ERROR_EXEC, GetText("OPEN_VPN_ERROR_EXEC")},
      {OPEN_VPN_ERROR_NO_ADAPTER, GetText("OPEN_VPN_ERROR_NO_ADAPTER")},
      {OPEN_VPN_ERROR_TLS_ERROR, GetText("OPEN_VPN_ERROR_TLS_ERROR")},
      {OPEN_VPN_ERROR_INVALID_SETTING, GetText("OPEN_VPN_ERROR_INVALID_SETTING")},
      {OPEN_VPN_ERROR_AUTH_FAILED, GetText("OPEN_VPN_ERROR_AUTH_FAILED")},
      {OPEN_VPN_ERROR_CHILD_ENDED, GetText("OPEN_VPN_ERROR_CHILD_ENDED")},
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

COpenVpn::~COpenVpn() {
  // Ending the child first would take its orderly exit from it: with --redirect-gateway it
  // restores the host's routes only there.
  StopWorker();
  Stop();
}

std::wstring COpenVpn::BuildCommandLine() const {
  const std::wstring folder = OpenVpnFolder();
  std::wstring line = L"\"" + folder + L"openvpn.exe\" --remote " + serverAddress +
                      L" --dev tap --proto udp --port 80 --auth-user-pass  --pull --ca \"" +
                      folder + L"\\ca.crt\" --tls-client --service " + exitEventName_ +
                      L" --remap-usr1 SIGTERM --verb 5";
  // A dead server is noticed within a minute; the restart this asks for becomes the child's
  // exit (--remap-usr1), which is reported as a drop.
  line += L" --cipher none --tun-mtu 1400 --ping 10 --ping-restart 60";
  // def1: two /1 routes over the host's default route, which stays as it is, so a child that
  // dies without its own clean-up leaves the host its default route.
  if (RouteStrategy().TunnelIsDefaultGateway()) line += L" --redirect-gateway def1";
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

int32_t COpenVpn::StartTunnel() {
  // Unlike the dial-up tunnel, the child finds its own way to the server; the default route
  // only matters for route modification later, and the table read here tells the child's own
  // routes apart from the host's at the end.
  Prepare();
  ClearOutput();
  noteLine_.clear();
  tlsFailed_ = false;
  childEnded_ = false;
  StoreState(GENERAL_VPN_STATE_PREPARE, GENERAL_VPN_ERROR_SUCCESS, 0);
  if (!SettingsAreSafe()) {
    StoreError(OPEN_VPN_ERROR_INVALID_SETTING, 0);
    return OPEN_VPN_ERROR_INVALID_SETTING;
  }
  // Without an event only we hold, the child could be stopped by anyone, or never by us.
  exitEventName_ = exitSignal_->Create();
  if (exitEventName_.empty() || !Start(BuildCommandLine())) {
    StoreError(OPEN_VPN_ERROR_EXEC, 0);
    return OPEN_VPN_ERROR_EXEC;
  }
  return GENERAL_VPN_ERROR_SUCCESS;
}

void COpenVpn::StopTunnel() {
  exitSignal_->Raise();
  // The reader goes on draining the console meanwhile, so the child never blocks on a write.
  // A child that ignores the event would keep its tunnel up after the routes were restored.
  if (!WaitForReader(kExitWaitMs)) Stop();
  exitSignal_->Clear();
}

void COpenVpn::AfterRestore() {
  std::vector<RouteRow> rows;
  if (routeTable().ReadForwardTable(rows) != 0) return;
  uint32_t tunnelInterface = 0;
  std::vector<AdapterAddress> adapters;
  const std::string local = WideToAnsi(localAddress_);
  if (!local.empty() && routeTable().ReadAdapters(adapters) == 0) {
    for (const AdapterAddress& adapter : adapters) {
      if (adapter.firstIpAddress == local) tunnelInterface = adapter.index;
    }
  }
  const uint32_t gateway = TryParseIpv4(WideToAnsi(tunnelGateway_)).value_or(0);
  const uint32_t server = TryParseIpv4(WideToAnsi(serverAddress)).value_or(0);
  const RouteRow hostDefault = HostDefaultRouteRow();
  for (const RouteRow& row : rows) {
    // Only rows that came while we were connected, never a default route.
    if (row.mask == 0 || HostRows().contains(RouteKeyOf(row))) continue;
    const bool intoTunnel = (tunnelInterface != 0 && row.interfaceIndex == tunnelInterface) ||
                            (gateway != 0 && row.nextHop == gateway);
    // --redirect-gateway keeps the server reachable through the host's gateway.
    const bool toServer = server != 0 && row.destination == server && row.mask == 0xFFFFFFFFu &&
                          row.nextHop == hostDefault.nextHop;
    if (intoTunnel || toServer) routeTable().DeleteRow(row);
  }
}

int32_t COpenVpn::GetStatistics(uint32_t& sent, uint32_t& received, int32_t& errorDetail) {
  sent = sentCount.load();
  received = receivedCount.load();
  errorDetail = 0;
  return childEnded_ ? OPEN_VPN_ERROR_CHILD_ENDED : 0;
}

std::wstring COpenVpn::GetErrorDetailText(int32_t) { return {}; }

std::wstring COpenVpn::GetErrorText(int32_t code) {
  const auto& texts = OwnErrorTexts();
  const auto found = texts.find(code);
  return found != texts.end() ? found->second : CGeneralVpn::GetErrorText(code);
}

std::wstring COpenVpn::ErrorAdvice(int32_t code, int32_t) {
  switch (code) {
    case OPEN_VPN_ERROR_AUTH_FAILED:
      return OpenVpnAdvice(OpenVpnCondition::kAuthFailed);
    case OPEN_VPN_ERROR_NO_ADAPTER:
      return OpenVpnAdvice(OpenVpnCondition::kNoAdapter);
    case OPEN_VPN_ERROR_EXEC:
      return OpenVpnAdvice(OpenVpnCondition::kNotStarted);
    case OPEN_VPN_ERROR_TLS_ERROR:
      return OpenVpnAdvice(OpenVpnCondition::kTlsFailed);
    default:
      return tlsFailed_ ? OpenVpnAdvice(OpenVpnCondition::kTlsFailed) : std::wstring();
  }
}

std::vector<std::string> SignificantConsoleLines(std::string& partial, std::string_view chunk) {
  std::vector<std::string> lines;
  for (const char c : chunk) {
    if (c != '\n' && c != '\r') {
      // The packet marks come without line ends; a "line" that long is nothing to log.
      if (partial.size() < kLongestNotedLine) partial += c;
      continue;
    }
    if (IsSignificantLine(partial)) lines.push_back(TrimText(partial));
    partial.clear();
  }
  return lines;
}

void COpenVpn::OnOutput(const char* data, size_t length) {
  if (Stopping()) return;
  bool first = false;
  {
    std::lock_guard lock(pendingMutex_);
    first = pendingOutput_.empty();
    pendingOutput_.append(data, length);
    if (pendingOutput_.size() > kMaxPendingOutput) {
      pendingOutput_.erase(0, pendingOutput_.size() - kMaxPendingOutput);
    }
  }
  // One event takes everything that came until it runs.
  if (first) Post([this] { TakePendingOutput(); });
}

void COpenVpn::TakePendingOutput() {
  std::string chunk;
  {
    std::lock_guard lock(pendingMutex_);
    chunk.swap(pendingOutput_);
  }
  if (!chunk.empty()) HandleOutput(chunk.data(), chunk.size());
}

void COpenVpn::HandleOutput(const char* data, size_t length) {
  AppendOutput(data, length);
  for (const std::string& line : SignificantConsoleLines(noteLine_, {data, length})) {
    for (const std::string_view mark : kTlsFailedMarks) {
      if (line.find(mark) != line.npos) tlsFailed_ = true;
    }
    if (note) note(L"OpenVPN: " + AnsiToWide(line));
  }

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
    ChangeState(GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_ERROR_CONNECT, 0);
  }
  // The child prints this line again whenever it renegotiates keys; once the tunnel is up it
  // says nothing about the connection.
  const uint32_t now = CurrentState();
  const bool up = now == GENERAL_VPN_STATE_CONNECTED || now == GENERAL_VPN_STATE_ALL_DONE ||
                  now == GENERAL_VPN_STATE_MODIFY_ROUTE;
  if (!up && OutputContains(kPeerInitiatedLine)) {
    ChangeState(GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_ERROR_SUCCESS, 0);
  }
  if (OutputContains(kAuthFailedLine)) {
    ClearOutput();
    ChangeState(GENERAL_VPN_STATE_AUTHENTICATE, OPEN_VPN_ERROR_AUTH_FAILED, 0);
    return false;
  }
  if (OutputContains(kNoAdapterLine)) {
    ChangeState(GENERAL_VPN_STATE_CONNECT, OPEN_VPN_ERROR_NO_ADAPTER, 0);
  }
  std::string text;
  if (ExtractBetween(kAddressStart, kAddressEnd, text)) {
    const std::string address = TrimText(text);
    const size_t slash = address.find('/');
    if (slash == std::string::npos) {
      ChangeState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_GET_LOCAL_IP, 0);
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
    ChangeState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
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
  // Asked to leave by our own cleanup: no news. Otherwise the tunnel is gone whatever the
  // state says, and the statistics say so too from now on, for a report that comes late.
  if (Stopping()) return;
  childEnded_ = true;
  // Behind the output still queued: the child's last words come first.
  SetState(GENERAL_VPN_STATE_DISCONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
}
