#include "vpn/general_vpn.h"

#include <algorithm>
#include <chrono>
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

CGeneralVpn::~CGeneralVpn() {
  StopWorker();
  if (routeServer) routeServer->Stop();
}

void CGeneralVpn::Enqueue(std::function<void()> event, bool always) {
  std::lock_guard lock(queueMutex_);
  if (quit_) return;
  if (!worker_.joinable()) worker_ = std::thread([this] { WorkerLoop(); });
  queue_.push_back(Event{std::move(event), always});
  queueChanged_.notify_all();
}

void CGeneralVpn::WorkerLoop() {
  std::unique_lock lock(queueMutex_);
  while (true) {
    queueChanged_.wait(lock, [this] { return !queue_.empty() || quit_; });
    if (queue_.empty()) return;
    Event event = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    if (event.always || !stopping_) event.run();
    lock.lock();
    busy_ = false;
    queueChanged_.notify_all();
  }
}

void CGeneralVpn::StopWorker() {
  std::thread worker;
  {
    std::lock_guard lock(queueMutex_);
    quit_ = true;
    queueChanged_.notify_all();
    if (!worker_.joinable() || worker_.get_id() == std::this_thread::get_id()) return;
    worker = std::move(worker_);
  }
  worker.join();
}

void CGeneralVpn::Flush() {
  std::unique_lock lock(queueMutex_);
  queueChanged_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

bool CGeneralVpn::Finished() const {
  std::lock_guard lock(queueMutex_);
  return finished_;
}

bool CGeneralVpn::WaitFinished(uint32_t milliseconds) {
  std::unique_lock lock(queueMutex_);
  return queueChanged_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [this] { return finished_; });
}

int32_t CGeneralVpn::Connect() {
  Post([this] {
    if (previous_) {
      // Its worker may still be waiting for the system to let its tunnel go.
      while (!previous_->WaitFinished(kCleanupSettleMs)) {
        if (stopping_) return;
      }
      previous_.reset();
    }
    if (StartTunnel() != 0 && !stopping_) Report();
  });
  return 0;
}

int32_t CGeneralVpn::Prepare() {
  failedRoutes_.clear();
  StoreState(GENERAL_VPN_STATE_START, GENERAL_VPN_ERROR_SUCCESS, 0);
  createdListedRoutes_.clear();
  proxyRouteCreated_ = false;
  createdIpv6Routes_.clear();
  ipv6Unguarded_ = false;
  dnsUnguarded_ = false;
  RouteStrategy().Prepare(*this);

  RouteRow found{};
  std::vector<RouteRow> rows;
  if (FindDefaultRoute(routeTable_, found, &rows) != 0) {
    StoreError(GENERAL_VPN_ERROR_GET_GATEWAY, kRouteErrorInvalidData);
    return GENERAL_VPN_ERROR_GET_GATEWAY;
  }
  hostRows_.clear();
  for (const RouteRow& row : rows) hostRows_.insert(RouteKeyOf(row));
  hostDefaultRoute_ = found;
  // In mode 1 the tunnel takes over the default gateway, so the listed routes must keep the
  // host's own gateway.
  tunnelRouteTemplate_ = RouteStrategy().TunnelIsDefaultGateway() ? hostDefaultRoute_ : RouteRow{};
  return GENERAL_VPN_ERROR_SUCCESS;
}

int32_t CGeneralVpn::Disconnect() {
  if (stopping_.exchange(true)) return 0;
  {
    // Under the requests' lock, so a request about to wait cannot miss the flag.
    std::lock_guard lock(requestMutex_);
  }
  requestAnswered_.notify_all();
  Enqueue([this] { Cleanup(); }, true);
  return 0;
}

void CGeneralVpn::Cleanup() {
  lastCleanupTick_ = clock_.Ticks();
  StopTunnel();
  // Before the restore: its thread takes no more requests, and the one it may be waiting on
  // was answered 0 when the stop flag went up.
  if (routeServer) routeServer->Stop();
  RestoreRoutes();
  routeList.clear();
  tunnelRouteTemplate_ = RouteRow{};
  AfterRestore();
  ChangeState(GENERAL_VPN_STATE_DISCONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
  const uint32_t elapsed = clock_.Ticks() - lastCleanupTick_;
  if (elapsed < kCleanupSettleMs) clock_.Sleep(kCleanupSettleMs - elapsed);
  std::lock_guard lock(queueMutex_);
  finished_ = true;
  queueChanged_.notify_all();
}

bool CGeneralVpn::RequestHostRoute(uint32_t address, uint32_t milliseconds) {
  if (address == 0 || stopping_) return false;
  struct Answer {
    bool given = false;
    bool routed = false;
  };
  auto answer = std::make_shared<Answer>();
  Post([this, address, answer] {
    const bool routed = AddHostRoute(address);
    {
      std::lock_guard lock(requestMutex_);
      answer->given = true;
      answer->routed = routed;
    }
    requestAnswered_.notify_all();
  });
  std::unique_lock lock(requestMutex_);
  requestAnswered_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [&] { return answer->given || stopping_; });
  return answer->given && answer->routed;
}

bool CGeneralVpn::AddHostRoute(uint32_t address) {
  constexpr uint32_t kHostMask = 0xFFFFFFFFu;
  if (address == 0 || stopping_) return false;
  const uint64_t request = ++hostRouteRequests_;
  if (auto found = hostRoutes_.find(address); found != hostRoutes_.end()) {
    found->second = request;
    return true;
  }
  RouteRow row = tunnelRouteTemplate_;
  row.mask = kHostMask;
  if (hostRoutes_.size() >= kMaxHostRoutes) {
    const auto oldest =
        std::min_element(hostRoutes_.begin(), hostRoutes_.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    row.destination = oldest->first;
    ChangedRoutes().DeleteRow(row);
    hostRoutes_.erase(oldest);
  }
  row.destination = address;
  if (ChangedRoutes().CreateRow(row) != 0) return false;
  hostRoutes_.emplace(address, request);
  return true;
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
  Post([this, newState, newError, newDetail] { ChangeState(newState, newError, newDetail); });
}

VpnStatus CGeneralVpn::Status() const {
  std::lock_guard lock(statusMutex_);
  return status_;
}

uint32_t CGeneralVpn::CurrentState() const {
  std::lock_guard lock(statusMutex_);
  return status_.state;
}

void CGeneralVpn::StoreState(uint32_t newState, int32_t newError, int32_t newDetail) {
  std::lock_guard lock(statusMutex_);
  status_.state = newState;
  status_.error = newError;
  status_.errorDetail = newDetail;
}

void CGeneralVpn::StoreError(int32_t newError, int32_t newDetail) {
  std::lock_guard lock(statusMutex_);
  status_.error = newError;
  status_.errorDetail = newDetail;
}

void CGeneralVpn::ChangeState(uint32_t newState, int32_t newError, int32_t newDetail) {
  StoreState(newState, newError, newDetail);
  if (newState == GENERAL_VPN_STATE_CONNECTED && newError == GENERAL_VPN_ERROR_SUCCESS) {
    if (!ModifyRoutes()) return;
    StoreState(GENERAL_VPN_STATE_ALL_DONE, GENERAL_VPN_ERROR_SUCCESS, 0);
  }
  Report();
}

void CGeneralVpn::Report() {
  VpnStatus copy;
  {
    std::lock_guard lock(statusMutex_);
    ++status_.sequence;
    status_.localAddress = localAddress_;
    status_.failedRoutes = failedRoutes_;
    status_.ipv6Unguarded = ipv6Unguarded_;
    status_.dnsUnguarded = dnsUnguarded_;
    status_.routesCreated = static_cast<uint32_t>(createdListedRoutes_.size());
    copy = status_;
  }
  if (CGeneralVpnCallbackInterface* receiver = callback.load()) {
    receiver->OnVpnStateChanged(this, copy);
  }
}

std::wstring CGeneralVpn::BuildStatusReport(const VpnStatus& status) {
  return GetText("VpnState") + L":" + GetStateText(status.state) + L"\r\n" +
         GetText("VpnErrorMessage") + L":" + GetErrorText(status.error) + L"\r\n" +
         GetText("VpnErrorDetail") + L":" + DetailText(status) + L"\r\n";
}

std::wstring CGeneralVpn::DetailText(const VpnStatus& status) {
  std::wstring text = GetErrorDetailText(status.errorDetail);
  const std::wstring warnings = GuardWarnings(status);
  if (warnings.empty()) return text;
  if (!text.empty()) text += L" ";
  return text + warnings;
}

std::wstring CGeneralVpn::GuardWarnings(const VpnStatus& status, bool brief) {
  std::wstring text;
  for (const auto& [unguarded, key] : {std::pair{status.ipv6Unguarded, "VpnIpv6NotGuarded"},
                                       std::pair{status.dnsUnguarded, "VpnDnsNotGuarded"}}) {
    if (!unguarded) continue;
    if (!text.empty()) text += L" ";
    const std::wstring warning = GetText(key);
    text += brief ? warning.substr(0, warning.find(L'\uFF1A')) : warning;
  }
  return text;
}

uint32_t CGeneralVpn::CreateOwnRoute(const std::string& destination, const std::string& netmask,
                                     const RouteRow& row, bool& ours) {
  // A listed default route is what a mode-2 route set asks for: one more default route, into
  // the tunnel. In mode 1 it would fight the tunnel for the default gateway.
  const bool defaultAllowed = RouteStrategy().ListedDefaultAllowed();
  const uint32_t result = CreateRoute(ChangedRoutes(), destination, netmask, row, defaultAllowed);
  ours = false;
  if (result != 0) return result;
  // Some systems answer success for a row that is already there; one the host had at Connect
  // is the host's whatever the answer.
  RouteRow created = row;
  created.destination = TryParseIpv4(destination).value_or(0);
  created.mask = TryParseIpv4(netmask).value_or(0);
  ours = !hostRows_.contains(RouteKeyOf(created));
  return result;
}

bool CGeneralVpn::ModifyRoutes() {
  failedRoutes_.clear();
  ChangeState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_SUCCESS, 0);
  return RouteStrategy().ModifyRoutes(*this);
}

// Asked now, while a name still resolves the host's own way.
void CGeneralVpn::LearnTunnelServer() {
  if (routeServer) routeServer->LearnTunnelServer();
}

bool CGeneralVpn::MakeTunnelRoute() {
  const uint32_t result =
      BuildTunnelRoute(routeTable_, tunnelRouteTemplate_, WideToAnsi(localAddress_));
  if (result == 0) return true;
  ChangeState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_GET_GATEWAY,
              static_cast<int32_t>(result));
  return false;
}

void CGeneralVpn::UseTunnelGateway() {
  if (tunnelGateway_.empty()) return;
  const auto gateway = TryParseIpv4(WideToAnsi(tunnelGateway_));
  if (gateway) tunnelRouteTemplate_.nextHop = *gateway;
}

void CGeneralVpn::ApplyTunnelMetric() { ApplyInterfaceMetric(routeTable_, tunnelRouteTemplate_); }

void CGeneralVpn::ApplyHostMetric() { ApplyInterfaceMetric(routeTable_, hostDefaultRoute_); }

void CGeneralVpn::RouteProxyAroundTunnel() {
  if (proxyType == 0 || stopping_) return;
  // The tunnel runs through the proxy, so the proxy must stay reachable the host's own way.
  bool ours = false;
  if (CreateOwnRoute(WideToAnsi(proxyHost), kHostMaskText, hostDefaultRoute_, ours) != 0) {
    failedRoutes_.push_back(proxyHost);
  }
  proxyRouteCreated_ = proxyRouteCreated_ || ours;
}

void CGeneralVpn::CloseIpv6AroundTunnel() {
  if (!stopping_) GuardIpv6();
}

void CGeneralVpn::KeepLookupsInTunnel() {
  if (!stopping_) GuardDns();
}

bool CGeneralVpn::CreateListedRoutes() {
  std::string destination;
  std::string netmask;
  for (const std::wstring& line : routeList) {
    // Disconnect is waiting: what was created so far is its to restore.
    if (stopping_) return false;
    if (!SplitRouteLine(line, destination, netmask)) continue;
    if (destination.empty() || netmask.empty()) continue;
    bool ours = false;
    if (CreateOwnRoute(destination, netmask, tunnelRouteTemplate_, ours) != 0) {
      failedRoutes_.push_back(line);
    } else if (ours) {
      createdListedRoutes_.emplace_back(destination, netmask);
    }
  }
  if (stopping_) return false;

  if (!failedRoutes_.empty()) {
    ChangeState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE, 0);
    return false;
  }
  return true;
}

bool CGeneralVpn::StartHostRouteServer() {
  // A tunnel reported up again finds its server running, and asking already.
  if (routeServer && !routeServer->IsRunning()) {
    routeServer->grantHostRoute = [this](uint32_t address) { return RequestHostRoute(address); };
  }
  if (!routeServer || !routeServer->Start(tunnelRouteTemplate_)) {
    ChangeState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER, 0);
    return false;
  }
  return true;
}

void CGeneralVpn::RestoreRoutes() {
  ChangeState(GENERAL_VPN_STATE_RESTORE_ROUTE, GENERAL_VPN_ERROR_SUCCESS, 0);
  // Only the rows this connection created: a failed line may be a route the host already had
  // (the same destination through the same gateway fails as existing), and it stays.
  const bool defaultAllowed = RouteStrategy().ListedDefaultAllowed();
  for (const auto& [destination, netmask] : createdListedRoutes_) {
    DeleteRoute(ChangedRoutes(), destination, netmask, tunnelRouteTemplate_, defaultAllowed);
  }
  // A host route to the proxy left behind would make the next connection's identical route
  // fail as already existing.
  if (proxyRouteCreated_) {
    DeleteRoute(ChangedRoutes(), WideToAnsi(proxyHost), kHostMaskText, hostDefaultRoute_);
  }
  for (const Ipv6RouteRow& row : createdIpv6Routes_) ChangedIpv6Routes().DeleteRow(row);
  if (dnsGuardInterface_ != 0) dnsGuard_->Remove();
  dnsGuardInterface_ = 0;
  // The tunnel's interface may outlive the connection (the TAP adapter does), and so would
  // host routes through it.
  RouteRow host = tunnelRouteTemplate_;
  host.mask = 0xFFFFFFFFu;
  for (const auto& [address, request] : hostRoutes_) {
    host.destination = address;
    ChangedRoutes().DeleteRow(host);
  }
  hostRoutes_.clear();
  createdListedRoutes_.clear();
  proxyRouteCreated_ = false;
  createdIpv6Routes_.clear();
  if (routeJournal_) routeJournal_->Settle();
}

void CGeneralVpn::GuardIpv6() {
  if (ipv6Routes_ == nullptr) return;
  std::vector<Ipv6RouteRow> rows;
  if (const uint32_t read = ChangedIpv6Routes().ReadForwardTable(rows); read != 0) {
    // A system without the IPv6 routing functions is skipped; one whose table cannot be read
    // may well route IPv6 around the tunnel.
    ipv6Unguarded_ = read != kIpv6RoutesUnsupported;
    return;
  }
  // The tunnel's own interface, should it ever carry an IPv6 default route of its own.
  const uint32_t tunnelInterface = TunnelInterface();
  const Ipv6Bytes loopbackAddress{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  bool aroundTheTunnel = false;
  const Ipv6RouteRow* loopback = nullptr;
  for (const Ipv6RouteRow& row : rows) {
    if (row.prefixLength == 0 && row.interfaceIndex != tunnelInterface) aroundTheTunnel = true;
    if (row.prefixLength == 128 && row.destination == loopbackAddress) loopback = &row;
  }
  if (!aroundTheTunnel) return;
  if (loopback == nullptr) {
    ipv6Unguarded_ = true;
    return;
  }

  std::vector<Ipv6RouteRow> created;
  for (const uint8_t firstByte : {uint8_t{0x00}, uint8_t{0x80}}) {
    if (stopping_) break;
    Ipv6RouteRow half{};
    half.destination[0] = firstByte;
    half.prefixLength = 1;
    half.interfaceIndex = loopback->interfaceIndex;
    half.protocol = kRouteProtocolNetMgmt;
    const auto same = [&](const Ipv6RouteRow& row) {
      return row.destination == half.destination && row.prefixLength == half.prefixLength &&
             row.interfaceIndex == half.interfaceIndex;
    };
    // Already there (the tunnel reported up again, or the host's own): it does the job.
    if (std::any_of(rows.begin(), rows.end(), same)) continue;
    if (ChangedIpv6Routes().CreateRow(half) != 0) {
      // Half a guard still leaks; take back the other half too.
      for (const Ipv6RouteRow& row : created) ChangedIpv6Routes().DeleteRow(row);
      ipv6Unguarded_ = true;
      return;
    }
    created.push_back(half);
  }
  createdIpv6Routes_.insert(createdIpv6Routes_.end(), created.begin(), created.end());
}

uint32_t CGeneralVpn::TunnelInterface() {
  uint32_t tunnelInterface = 0;
  std::vector<AdapterAddress> adapters;
  if (routeTable_.ReadAdapters(adapters) == 0) {
    const std::string local = LowerAscii(WideToAnsi(localAddress_));
    for (const AdapterAddress& adapter : adapters) {
      if (LowerAscii(adapter.firstIpAddress) == local) tunnelInterface = adapter.index;
    }
  }
  return tunnelInterface;
}

void CGeneralVpn::GuardDns() {
  if (dnsGuard_ == nullptr) return;
  const uint32_t tunnel = TunnelInterface();
  // The tunnel reported up again on the same interface: the guard in place does the job.
  if (tunnel != 0 && tunnel == dnsGuardInterface_) return;
  std::vector<uint32_t> servers;
  // No tunnel interface found (0) is an interface the system does not know.
  const uint32_t read = dnsGuard_->ReadDnsServers(tunnel, servers);
  if (read == kDnsGuardUnsupported) return;
  if (dnsGuardInterface_ != 0) dnsGuard_->Remove();
  dnsGuardInterface_ = 0;
  if (read != 0 || servers.empty()) {
    dnsUnguarded_ = true;
    return;
  }
  const uint32_t added = dnsGuard_->Add(DnsGuardFilters(tunnel, servers));
  if (added == 0) dnsGuardInterface_ = tunnel;
  dnsUnguarded_ = added != 0 && added != kDnsGuardUnsupported;
}
