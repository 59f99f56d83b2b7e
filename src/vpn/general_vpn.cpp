#include "vpn/general_vpn.h"

#include <map>
#include <string>

#include "base/text.h"
#include "config/text_table.h"
#include "vpn/route_modification.h"

namespace {

using CodeTexts = std::map<int64_t, std::wstring>;

CodeTexts TextsOf(std::initializer_list<std::pair<int64_t, const char*>> keys) {
  CodeTexts texts;
  for (const auto& [code, key] : keys) texts.emplace(code, GetText(key));
  return texts;
}

// Filled on first use and kept: the text table is complete before any engine exists.
const CodeTexts& ErrorTexts() {
  static const CodeTexts texts = TextsOf({
      {GENERAL_VPN_ERROR_SUCCESS, "GENERAL_VPN_ERROR_SUCCESS"},
      {GENERAL_VPN_ERROR_INTERNAL, "GENERAL_VPN_ERROR_INTERNAL"},
      {GENERAL_VPN_ERROR_CONNECT, "GENERAL_VPN_ERROR_CONNECT"},
      {GENERAL_VPN_ERROR_ALREADY_CONNECTED, "GENERAL_VPN_ERROR_ALREADY_CONNECTED"},
      {GENERAL_VPN_ERROR_GET_GATEWAY, "GENERAL_VPN_ERROR_GET_GATEWAY"},
      {GENERAL_VPN_ERROR_GET_LOCAL_IP, "GENERAL_VPN_ERROR_GET_LOCAL_IP"},
      {GENERAL_VPN_ERROR_MODIFY_ROUTE, "GENERAL_VPN_ERROR_MODIFY_ROUTE"},
      {GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER,
       "GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER"},
  });
  return texts;
}

const CodeTexts& StateTexts() {
  static const CodeTexts texts = TextsOf({
      {GENERAL_VPN_STATE_DISCONNECT, "GENERAL_VPN_STATE_DISCONNECT"},
      {GENERAL_VPN_STATE_DISCONNECTED, "GENERAL_VPN_STATE_DISCONNECTED"},
      {GENERAL_VPN_STATE_START, "GENERAL_VPN_STATE_START"},
      {GENERAL_VPN_STATE_PREPARE, "GENERAL_VPN_STATE_PREPARE"},
      {GENERAL_VPN_STATE_CONNECT, "GENERAL_VPN_STATE_CONNECT"},
      {GENERAL_VPN_STATE_AUTHENTICATE, "GENERAL_VPN_STATE_AUTHENTICATE"},
      {GENERAL_VPN_STATE_AUTHENTICATED, "GENERAL_VPN_STATE_AUTHENTICATED"},
      {GENERAL_VPN_STATE_CONNECTED, "GENERAL_VPN_STATE_CONNECTED"},
      {GENERAL_VPN_STATE_ALL_DONE, "GENERAL_VPN_STATE_ALL_DONE"},
      {GENERAL_VPN_STATE_RESTORE_ROUTE, "GENERAL_VPN_STATE_RESTORE_ROUTE"},
      {GENERAL_VPN_STATE_MODIFY_ROUTE, "GENERAL_VPN_STATE_MODIFY_ROUTE"},
  });
  return texts;
}

constexpr const char* kHostMaskText = "255.255.255.255";

}  // namespace

CGeneralVpn::CGeneralVpn(RouteTable& routeTable, TickClock& clock,
                         std::unique_ptr<CVpnRouteRequestBaseServer> server)
    : routeServer(std::move(server)), routeTable_(routeTable), clock_(clock) {}

CGeneralVpn::~CGeneralVpn() = default;

int32_t CGeneralVpn::Connect() {
  failedRoutes.clear();
  state = GENERAL_VPN_STATE_START;
  error = GENERAL_VPN_ERROR_SUCCESS;
  errorDetail = 0;
  createdListedRoutes_.clear();
  proxyRouteCreated_ = false;

  RouteRow found{};
  if (FindDefaultRoute(routeTable_, found) != 0) {
    error = GENERAL_VPN_ERROR_GET_GATEWAY;
    errorDetail = kRouteErrorInvalidData;
    return error;
  }
  hostDefaultRoute = found;
  // In mode 1 the tunnel takes over the default gateway, so the listed routes must keep the
  // host's own gateway.
  tunnelRouteTemplate = routeMode == RouteModeDefaultGateway ? hostDefaultRoute : RouteRow{};
  return GENERAL_VPN_ERROR_SUCCESS;
}

int32_t CGeneralVpn::Disconnect() {
  lastCleanupTick = clock_.Ticks();
  RestoreRoutes();
  routeList.clear();
  tunnelRouteTemplate = RouteRow{};
  if (routeServer) routeServer->Stop();
  error = GENERAL_VPN_ERROR_SUCCESS;
  errorDetail = 0;
  state = GENERAL_VPN_STATE_DISCONNECTED;
  return 0;
}

std::wstring CGeneralVpn::GetErrorText(int32_t code) {
  const CodeTexts& texts = ErrorTexts();
  const auto found = texts.find(code);
  return found != texts.end() ? found->second : GetText("VpnUnknownError");
}

std::wstring CGeneralVpn::GetStateText(uint32_t code) {
  const CodeTexts& texts = StateTexts();
  const auto found = texts.find(code);
  return found != texts.end() ? found->second : GetText("VpnUnknownState");
}

void CGeneralVpn::SetProxy(uint32_t type, const wchar_t* host, int32_t port, const wchar_t* user,
                           const wchar_t* pass) {
  proxyType = type;
  proxyHost = host != nullptr ? host : L"";
  proxyPort = port;
  proxyUser = user != nullptr ? user : L"";
  proxyPassword = pass != nullptr ? pass : L"";
}

void CGeneralVpn::SetState(uint32_t newState, int32_t newError, int32_t newDetail) {
  state = newState;
  error = newError;
  errorDetail = newDetail;
  if (newState == GENERAL_VPN_STATE_CONNECTED && newError == GENERAL_VPN_ERROR_SUCCESS) {
    if (!ModifyRoutes()) return;
    state = GENERAL_VPN_STATE_ALL_DONE;
    error = GENERAL_VPN_ERROR_SUCCESS;
    errorDetail = 0;
  }
  if (CGeneralVpnCallbackInterface* receiver = callback.load()) receiver->OnVpnStateChanged(this);
}

std::wstring CGeneralVpn::BuildStatusReport() {
  return GetText("VpnState") + L":" + GetCurrentStateText() + L"\r\n" + GetText("VpnErrorMessage") +
         L":" + GetCurrentErrorText() + L"\r\n" + GetText("VpnErrorDetail") + L":" +
         GetCurrentErrorDetailText() + L"\r\n";
}

void CGeneralVpn::WaitCleanupSettled() {
  const uint32_t elapsed = clock_.Ticks() - lastCleanupTick;
  if (elapsed <= kCleanupSettleMs) clock_.Sleep(kCleanupSettleMs - elapsed);
}

bool CGeneralVpn::ModifyRoutes() {
  const std::string local = WideToAnsi(localAddress);
  failedRoutes.clear();
  SetState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_SUCCESS, 0);

  if (routeMode == RouteModeApplications || routeMode == RouteModeListedRoutes) {
    if (const uint32_t result = BuildTunnelRoute(routeTable_, tunnelRouteTemplate, local)) {
      SetState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_GET_GATEWAY,
               static_cast<int32_t>(result));
      return false;
    }
  }
  if (routeMode == RouteModeApplications) {
    ApplyInterfaceMetric(routeTable_, tunnelRouteTemplate);
    if (!routeServer || !routeServer->Start(tunnelRouteTemplate)) {
      SetState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER, 0);
      return false;
    }
    return true;
  }
  if (routeMode == RouteModeListedRoutes && !tunnelGateway.empty()) {
    const auto gateway = ParseIpv4Address(WideToAnsi(tunnelGateway));
    if (gateway) tunnelRouteTemplate.nextHop = *gateway;
  }
  if (routeMode != RouteModeDefaultGateway && routeMode != RouteModeListedRoutes) return true;

  ApplyInterfaceMetric(routeTable_, tunnelRouteTemplate);
  ApplyInterfaceMetric(routeTable_, hostDefaultRoute);

  if (proxyType != 0) {
    // The tunnel runs through the proxy, so the proxy must stay reachable the host's own way.
    if (CreateRoute(ChangedRoutes(), WideToAnsi(proxyHost), kHostMaskText, hostDefaultRoute) == 0) {
      proxyRouteCreated_ = true;
    } else {
      failedRoutes.push_back(proxyHost);
    }
  }

  std::string destination;
  std::string netmask;
  for (const std::wstring& line : routeList) {
    if (!SplitRouteLine(line, destination, netmask)) continue;
    if (destination.empty() || netmask.empty()) continue;
    if (CreateRoute(ChangedRoutes(), destination, netmask, tunnelRouteTemplate) != 0) {
      failedRoutes.push_back(line);
    } else {
      createdListedRoutes_.emplace_back(destination, netmask);
    }
  }

  if (!failedRoutes.empty()) {
    SetState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE, 0);
    return false;
  }
  return true;
}

bool CGeneralVpn::RestoreRoutes() {
  SetState(GENERAL_VPN_STATE_RESTORE_ROUTE, GENERAL_VPN_ERROR_SUCCESS, 0);
  // Only the lines this connection created: a failed line may be a route the host already had
  // (the same destination through the same gateway fails as existing), and it stays.
  for (const auto& [destination, netmask] : createdListedRoutes_) {
    DeleteRoute(ChangedRoutes(), destination, netmask, tunnelRouteTemplate);
  }
  // A host route to the proxy left behind would make the next connection's identical route
  // fail as already existing.
  if (proxyRouteCreated_) {
    DeleteRoute(ChangedRoutes(), WideToAnsi(proxyHost), kHostMaskText, hostDefaultRoute);
  }
  createdListedRoutes_.clear();
  proxyRouteCreated_ = false;
  if (routeJournal_) routeJournal_->Settle();
  return true;
}
