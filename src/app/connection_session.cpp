#include "app/connection_session.h"

#include <algorithm>
#include <random>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/text.h"
#include "config/text_table.h"
#include "policy/vpn_policy_controller.h"
#include "vpn/route_mode.h"
#include "vpn/route_modification.h"

using namespace connection_session;

namespace {

constexpr uint32_t kAddressNone = 0xFFFFFFFF;
// The question lists this many routes; more would make the box taller than the screen.
constexpr size_t kListedFailedRoutes = 10;

std::wstring TunnelName(int32_t type) {
  switch (type) {
    case kTunnelPptp:
      return L"PPTP";
    case kTunnelL2tp:
      return L"L2TP";
    case kTunnelOpenVpn:
      return L"OpenVPN";
    default:
      return L"类型 " + std::to_wstring(type);
  }
}

std::wstring PlanText(const ConnectionPlan& plan) {
  const VpnServerEntry& server = plan.server;
  std::wstring text = L"服务器 " + (server.title.empty() ? server.serverHost
                                                       : server.title + L"（" + server.serverHost +
                                                             L"）");
  text += L"，隧道 " + TunnelName(plan.tunnelType) + L"，路由 ";
  switch (plan.chosen.kind) {
    case RouteSetKind::kAllTraffic:
      text += L"全部流量";
      break;
    case RouteSetKind::kApplications:
      text += L"指定程序";
      break;
    case RouteSetKind::kServiceSet:
      text += L"路由集 " + std::to_wstring(plan.chosen.index + 1);
      break;
  }
  const size_t lines = std::visit(
      [](const auto& routes) -> size_t {
        using Routes = std::decay_t<decltype(routes)>;
        if constexpr (std::is_same_v<Routes, AllTrafficRoutes>) return routes.bypass.size();
        if constexpr (std::is_same_v<Routes, ListedRoutes>) return routes.lines.size();
        return 0;
      },
      plan.routes);
  return text + L"（" + std::to_wstring(lines) + L" 条）";
}

std::wstring DropCauseText(DropCause cause) {
  switch (cause) {
    case DropCause::kStatisticsFailed:
      return L"读不到流量统计";
    case DropCause::kLinkGone:
      return L"拨号连接已断开";
    case DropCause::kChildEnded:
      return L"OpenVPN程序已结束";
    case DropCause::kResumed:
      return L"睡眠后隧道已不在";
    case DropCause::kNetworkMoved:
      return L"默认路由换了网关";
  }
  return {};
}

std::wstring VerdictText(AttemptVerdict verdict) {
  switch (verdict) {
    case AttemptVerdict::kRetry:
      return L"稍后再拨";
    case AttemptVerdict::kRelogin:
      return L"先重新登录再拨";
    case AttemptVerdict::kStop:
      return L"不再重连";
  }
  return {};
}

std::function<uint32_t()> JitterSource(TickClock& clock) {
  auto engine = std::make_shared<std::minstd_rand>(clock.Ticks());
  return [engine] { return static_cast<uint32_t>((*engine)()); };
}

}  // namespace

std::wstring SessionReportText(const SessionReport& report) {
  using Kind = SessionReport::Kind;
  const std::wstring attempt = L"第 " + std::to_wstring(report.attempt) + L" 次重连";
  switch (report.kind) {
    case Kind::kStarted:
      return L"开始连接：" + report.text;
    case Kind::kUp:
      return report.reconnected ? L"已重新连接" : L"已连接";
    case Kind::kDropped:
      return L"连接中断：" + DropCauseText(report.cause);
    case Kind::kAttemptStarted:
      return attempt + L"开始";
    case Kind::kAttemptFailed:
      return attempt + L"失败（错误 " + std::to_wstring(report.error) + L"，详情 " +
             std::to_wstring(report.detail) + L"），" + VerdictText(report.verdict);
    case Kind::kLoginUnanswered:
      return attempt + L"：登录没有应答";
    case Kind::kStopped:
      return L"连接已结束";
    case Kind::kGuardOn:
      return L"断网保护已开启（隧道接口 " + std::to_wstring(report.interfaceIndex) + L"）";
    case Kind::kGuardOff:
      return L"断网保护已关闭";
    case Kind::kGuardRefused:
      return L"断网保护未生效：系统拒绝了过滤规则（错误 " + std::to_wstring(report.error) + L"）";
    case Kind::kNote:
      return report.text;
  }
  return report.text;
}

ConnectionSession::ConnectionSession(SessionPorts ports)
    : ports_(std::move(ports)), reconnect_(ports_.clock, JitterSource(ports_.clock)) {}

ConnectionSession::~ConnectionSession() { retired_.reset(); }

void ConnectionSession::Emit(SessionReport report) {
  if (ports_.reports) ports_.reports(report);
}

void ConnectionSession::ShowStatus(const std::wstring& text) {
  statusText_ = text;
  ports_.view.SetStatus(text);
}

void ConnectionSession::SetConnectEnabled(bool enable) { ports_.view.EnableConnect(enable); }

// ---- the engines --------------------------------------------------------------------------------

void ConnectionSession::Begin(std::unique_ptr<CGeneralVpn> engine, const ConnectionPlan& plan) {
  routeChoice_ = plan.chosen;
  tunnelType_ = plan.tunnelType;
  engineSettings_ = VpnEngineSettings::Of(*engine);
  routeFailuresAccepted_ = false;
  reconnect_.OnLoggedIn();
  Emit({.kind = SessionReport::Kind::kStarted, .text = PlanText(plan)});
  StartEngine(std::move(engine));
}

void ConnectionSession::StartEngine(std::unique_ptr<CGeneralVpn> engine) {
  current_ = std::move(engine);
  handledReport_ = 0;
  routeQuestionAsked_ = false;
  allDoneHandled_ = false;
  if (retired_) {
    // Its restore is done (a reconnect may take it over while it runs); what is left the new
    // engine's worker waits for, not the window.
    retired_->callback = nullptr;
    current_->Follow(std::move(retired_));
    restoring_ = false;
  }
  // A failure to start arrives as a report.
  current_->Connect();
  SetConnectEnabled(false);
  ports_.view.EnableDisconnect(true);
}

void ConnectionSession::RetireEngine() {
  if (!current_) return;
  connected_ = false;
  // Returns at once; the engine's worker reports the restore, and Connect waits for its end.
  current_->Disconnect();
  // Reports of the engine this one replaces die with it.
  if (retired_) ports_.view.DropReportsOf(retired_.get());
  retired_ = std::move(current_);
  retiredReport_ = 0;
  restoring_ = true;
}

void ConnectionSession::Stop() {
  const bool had = current_ != nullptr || Reconnecting();
  CancelReconnect();
  if (BindsApplications()) {
    routeChoice_.reset();
    ports_.bind.Stop();
  }
  RetireEngine();
  SetConnectEnabled(!restoring_);
  ports_.view.EnableDisconnect(false);
  ports_.tray.SetIcon(kIconIdle);
  UnguardTraffic();
  if (had) Emit({.kind = SessionReport::Kind::kStopped});
}

void ConnectionSession::End() {
  ending_ = true;
  Stop();
  // The window goes away while the restore may still run.
  if (retired_) retired_->callback = nullptr;
}

// ---- engine reports -----------------------------------------------------------------------------

void ConnectionSession::OnEngineReport(const CGeneralVpn* engine, const VpnStatus& status) {
  if (retired_ && engine == retired_.get()) {
    OnRetiredReport(status);
    return;
  }
  if (!current_ || engine != current_.get()) return;
  // Each change is handled once, also when it is reported again.
  if (status.sequence <= handledReport_) return;
  handledReport_ = status.sequence;
  CGeneralVpn& vpn = *current_;
  Note(EngineNote(vpn, status));
  const bool routeFailure = status.state == GENERAL_VPN_STATE_MODIFY_ROUTE &&
                            status.error == GENERAL_VPN_ERROR_MODIFY_ROUTE;
  if (Attempting() && status.error != GENERAL_VPN_ERROR_SUCCESS && !routeFailure) {
    OnAttemptFailed(status.error, status.errorDetail, &status);
    return;
  }
  if (status.error == GENERAL_VPN_ERROR_ALREADY_CONNECTED) {
    // Kept, so Disconnect can hang up the connection found.
    ports_.view.ShowMessage(GetText("VpnConnectionAlreadyExistsCloseFirst"));
    return;
  }
  if (routeFailure) {
    OnRouteFailures(status);
    return;
  }
  if (status.error != GENERAL_VPN_ERROR_SUCCESS) {
    // A tunnel that was up and fails now has dropped.
    if (connected_ && HandleDrop(DropCause::kLinkGone)) return;
    StopWithReport(status);
    return;
  }
  if (status.state == GENERAL_VPN_STATE_DISCONNECTED) {
    if (Attempting()) {
      OnAttemptFailed(GENERAL_VPN_ERROR_CONNECT, 0, nullptr);
      return;
    }
    if (connected_) {
      const DropCause cause =
          tunnelType_ == kTunnelOpenVpn ? DropCause::kChildEnded : DropCause::kLinkGone;
      if (HandleDrop(cause)) return;
      // Without reconnecting, a link found gone is the lost connection the watch reports.
      Watch();
      if (current_.get() != &vpn) return;
    }
  }
  // While an attempt runs, the status line keeps saying which one it is.
  if (Attempting() && status.state != GENERAL_VPN_STATE_ALL_DONE) return;
  ShowEngineReport(DescribeEngine(vpn, status));
  if (status.state == GENERAL_VPN_STATE_ALL_DONE) {
    // The binding module and the balloon belong to the connection, not to each report of it.
    if (!std::exchange(allDoneHandled_, true)) OnUp(status, true);
  } else if (status.state == GENERAL_VPN_STATE_DISCONNECTED) {
    Stop();
  }
}

void ConnectionSession::OnRetiredReport(const VpnStatus& status) {
  if (status.sequence <= retiredReport_) return;
  retiredReport_ = status.sequence;
  if (status.state == GENERAL_VPN_STATE_RESTORE_ROUTE) {
    Note(L"恢复路由（" + std::to_wstring(status.routesCreated) + L" 条）");
  } else if (status.state == GENERAL_VPN_STATE_DISCONNECTED) {
    Note(L"路由已恢复，隧道已关闭");
  }
  if (status.state == GENERAL_VPN_STATE_DISCONNECT ||
      status.state == GENERAL_VPN_STATE_RESTORE_ROUTE) {
    ports_.view.SetStatus(retired_->GetStateText(status.state));
  } else if (status.state == GENERAL_VPN_STATE_DISCONNECTED && restoring_) {
    // The restore is done: what the window said when it stopped the engine comes back.
    restoring_ = false;
    ports_.view.SetStatus(statusText_);
    if (!current_ && !ending_ && !Reconnecting()) SetConnectEnabled(true);
  }
}

void ConnectionSession::OnRouteFailures(const VpnStatus& status) {
  // Once per connection: a tunnel reported up again fails on the routes it already made.
  if (std::exchange(routeQuestionAsked_, true)) return;
  std::wstring list;
  size_t count = 0;
  for (const std::wstring& route : status.failedRoutes) {
    if (!list.empty()) list += L"\r\n";
    if (++count > kListedFailedRoutes) {
      list += L"...";
      break;
    }
    list += route;
  }
  // A reconnect goes on as the user chose for the connection it replaces.
  const bool goOn =
      routeFailuresAccepted_ ||
      ports_.view.AskYesNo(GetText("CannotModifyFollowingRoutesContinueYesOrNot") + list, false);
  if (!goOn) {
    ShowStatus(GetText("CannotModifyRoutes"));
    Stop();
    return;
  }
  routeFailuresAccepted_ = true;
  ShowStatus(GetText("LoginWithCannotModifyAllRoutes"));
  OnUp(status, false);
}

// The tunnel is up: the first time, or again after a drop.
void ConnectionSession::OnUp(const VpnStatus& status, bool allDone) {
  if (allDone && BindsApplications()) {
    const uint32_t address =
        TryParseIpv4(WideToAnsi(status.localAddress)).value_or(kAddressNone);
    if (!ports_.bind.Start(kBindStartCount, address)) {
      ports_.view.ShowMessage(GetText("VpnBindIsBroken"));
    }
  }
  const bool reconnected = Attempting();
  reconnect_.OnConnected();
  NoteConnectedTable();
  if (allDone || reconnected) ports_.tray.SetIcon(kIconConnected);
  connected_ = true;
  upStatus_ = status;
  Emit({.kind = SessionReport::Kind::kUp, .reconnected = reconnected});
  GuardTraffic(status);
  if (reconnected) {
    ports_.tray.SetTip(L"");
    ports_.tray.ShowBalloon(GetText("ReconnectedClickToOpenMainWindow"));
  } else if (allDone) {
    ports_.tray.ShowBalloon(GetText("LoginOKClickToOpenMainWindow"));
    ports_.view.HideToTray();
  }
  if (!allDone) return;
  ports_.repairs.FixBindingOrder();
  // The TAP adapter gets the tunnel's address by DHCP from its own driver: for OpenVPN a DHCP
  // address equal to the tunnel's is how it should be, and switching it off would cut the
  // tunnel.
  if (tunnelType_ != kTunnelOpenVpn) ports_.repairs.CheckDhcp(status.localAddress);
}

ConnectionSession::EngineReport ConnectionSession::DescribeEngine(CGeneralVpn& vpn,
                                                                  const VpnStatus& status) {
  EngineReport report;
  if (status.error == GENERAL_VPN_ERROR_SUCCESS) {
    report.status = vpn.GetStateText(status.state);
    if (const std::wstring warnings = CGeneralVpn::GuardWarnings(status, true); !warnings.empty()) {
      report.status += L" " + warnings;
    }
    return report;
  }
  report.status = vpn.GetErrorDetailText(status.errorDetail);
  if (report.status.empty()) report.status = vpn.GetErrorText(status.error);
  report.box = vpn.BuildStatusReport(status);
  // The advice follows what the window has always said.
  if (const std::wstring advice = vpn.ErrorAdvice(status.error, status.errorDetail);
      !advice.empty()) {
    report.status += L" " + advice;
    report.box += advice;
  }
  return report;
}

std::wstring ConnectionSession::EngineNote(CGeneralVpn& vpn, const VpnStatus& status) {
  std::wstring text = L"状态 " + std::to_wstring(status.state) + L"：" +
                      vpn.GetStateText(status.state);
  if (status.state == GENERAL_VPN_STATE_ALL_DONE) {
    text += L"，本机地址 " + status.localAddress + L"，已设置路由 " +
            std::to_wstring(status.routesCreated) + L" 条";
    if (const std::wstring warnings = CGeneralVpn::GuardWarnings(status); !warnings.empty()) {
      text += L"，" + warnings;
    }
  }
  if (status.error == GENERAL_VPN_ERROR_SUCCESS) return text;
  text += L"；错误 " + std::to_wstring(status.error) + L"：" + vpn.GetErrorText(status.error);
  if (status.errorDetail != 0) {
    text += L"，详情 " + std::to_wstring(status.errorDetail) + L"：" +
            vpn.GetErrorDetailText(status.errorDetail);
  }
  if (status.error == GENERAL_VPN_ERROR_MODIFY_ROUTE) {
    text += L"，" + std::to_wstring(status.failedRoutes.size()) + L" 条路由未能设置";
  }
  if (const std::wstring advice = vpn.ErrorAdvice(status.error, status.errorDetail);
      !advice.empty()) {
    text += L" " + advice;
  }
  return text;
}

void ConnectionSession::ShowEngineReport(const EngineReport& report) {
  ShowStatus(report.status);
  if (!report.box.empty()) ports_.view.ShowMessage(report.box);
}

void ConnectionSession::ReportEngineState() {
  if (current_) ShowEngineReport(DescribeEngine(*current_, current_->Status()));
}

// The engine is stopped before its error is shown: the box is modal, and a connection watch
// tick while it is open would take the failed engine for a lost connection and report that
// instead. The report is taken first, because stopping resets the engine's state.
void ConnectionSession::StopWithReport(const VpnStatus& status) {
  if (!current_) return;
  const EngineReport report = DescribeEngine(*current_, status);
  Stop();
  ShowEngineReport(report);
}

void ConnectionSession::Watch(DropCause cause) {
  if (Reconnecting() && !connected_) {
    // The connecting picture: the two pictures in turn.
    blink_ = !blink_;
    ports_.tray.SetIcon(blink_ ? kIconConnected : kIconIdle);
  }
  if (!current_) return;
  uint32_t sent = 0;
  uint32_t received = 0;
  int32_t detail = 0;
  if (const int32_t error = current_->GetStatistics(sent, received, detail); error != 0) {
    lastSent_ = lastReceived_ = 0;
    if (Attempting()) {
      // A failed dial is reported by the engine with its reason (a refused password among
      // them), and that report may still be on its way: a failing reading decides the attempt
      // only at the next tick.
      if (!std::exchange(attemptReadingFailed_, true)) return;
      OnAttemptFailed(error, detail, nullptr);
      return;
    }
    Note(L"读不到流量统计：错误 " + std::to_wstring(error) + L"，详情 " + std::to_wstring(detail));
    if (connected_ && HandleDrop(cause)) return;
    const bool wasConnected = connected_;
    ports_.view.ShowMainWindow();
    const std::wstring text = GetText("VpnErrorMessage") + L":" + current_->GetErrorText(error) +
                              L"\r\n" + GetText("VpnErrorDetail") + L":" +
                              current_->GetErrorDetailText(detail) + L"\r\n" +
                              current_->ErrorAdvice(error, detail);
    const std::wstring advice = current_->ErrorAdvice(error, detail);
    Stop();
    ShowStatus(GetText("DisconnectedUnexcepted") + (advice.empty() ? L"" : L" " + advice));
    if (wasConnected) ports_.view.ShowMessage(text);
    return;
  }
  attemptReadingFailed_ = false;
  // Until the tunnel is up the icon stays idle: the traffic pictures say "connected".
  if (!connected_ || Attempting()) return;
  const bool sentMoved = sent != lastSent_;
  const bool receivedMoved = received != lastReceived_;
  uint32_t icon = kIconConnected;
  if (sentMoved && receivedMoved) {
    icon = kIconBoth;
  } else if (sentMoved) {
    icon = kIconSent;
  } else if (receivedMoved) {
    icon = kIconReceived;
  }
  ports_.tray.SetIcon(icon);
  lastSent_ = sent;
  lastReceived_ = received;
}

// ---- reconnecting -------------------------------------------------------------------------------

bool ConnectionSession::HandleDrop(DropCause cause) {
  if (ending_ || !reconnect_.OnDrop(cause)) return false;
  Emit({.kind = SessionReport::Kind::kDropped, .cause = cause});
  // The binding module follows the connection; the next one starts it again.
  if (BindsApplications()) ports_.bind.Stop();
  // Its routes are restored first: the direct network works while the attempts wait.
  RetireEngine();
  ScheduleAttempt();
  return true;
}

void ConnectionSession::ScheduleAttempt() {
  const std::optional<uint32_t> left = reconnect_.DelayLeft();
  if (!left) return;
  ShowReconnecting(reconnect_.attempt() + 1);
  ports_.view.StartTimer(kReconnectTimer, std::max<uint32_t>(*left, 1));
}

void ConnectionSession::ShowReconnecting(uint32_t number) {
  std::wstring text = GetText("ReconnectingAttempt");
  if (const size_t at = text.find(L"%1"); at != std::wstring::npos) {
    text.replace(at, 2, std::to_wstring(number));
  }
  ShowStatus(text);
  ports_.tray.SetTip(text);
  SetConnectEnabled(false);
  // Disconnect ends the attempts.
  ports_.view.EnableDisconnect(true);
}

void ConnectionSession::OnTimer(uint32_t id) {
  if (id == kRouteSettleTimer) {
    ports_.view.StopTimer(kRouteSettleTimer);
    std::vector<RouteRow> now;
    if (connected_ && !connectedTable_.empty() && ports_.routeTable &&
        ports_.routeTable->ReadForwardTable(now) == 0 && DefaultRouteMoved(connectedTable_, now)) {
      HandleDrop(DropCause::kNetworkMoved);
    }
  } else if (id == kReconnectTimer) {
    ports_.view.StopTimer(kReconnectTimer);
    if (const uint32_t number = reconnect_.BeginAttempt(); number != 0) {
      attemptReadingFailed_ = false;
      StartAttempt(number);
    } else {
      ScheduleAttempt();
    }
  }
}

void ConnectionSession::StartAttempt(uint32_t number) {
  ShowReconnecting(number);
  Emit({.kind = SessionReport::Kind::kAttemptStarted, .attempt = number});
  std::unique_ptr<CGeneralVpn> engine;
  if (reconnect_.LoginDue()) {
    SessionView::Relogin login = ports_.view.LogInAgain();
    if (!login.outcome.engine) {
      // No answer is one failed attempt; the login stays due. A refusal ends the attempts,
      // and only then is it shown.
      const AttemptVerdict verdict = reconnect_.OnLoginFailed(!login.unanswered);
      if (verdict != AttemptVerdict::kStop) {
        Emit({.kind = SessionReport::Kind::kLoginUnanswered, .attempt = number});
        ScheduleAttempt();
        return;
      }
      Stop();
      ShowStatus(GetText("LoginError"));
      for (const std::wstring& text : login.held) ports_.view.ShowMessage(text);
      return;
    }
    reconnect_.OnLoggedIn();
    engineSettings_ = VpnEngineSettings::Of(*login.outcome.engine);
    engine = std::move(login.outcome.engine);
    ShowReconnecting(number);
  } else {
    engine = ports_.engines.CreateEngine(tunnelType_);
    if (!engine) {
      Stop();
      ShowStatus(GetText("VpnUnknownError"));
      ports_.view.ShowMessage(GetText("VpnUnknownError"));
      return;
    }
    engineSettings_.ApplyTo(*engine);
    engine->callback = &ports_.engineCallback;
  }
  StartEngine(std::move(engine));
}

void ConnectionSession::OnAttemptFailed(int32_t error, int32_t detail, const VpnStatus* report) {
  const AttemptVerdict verdict =
      reconnect_.OnAttemptFailed(error, detail, tunnelType_ == kTunnelOpenVpn);
  Emit({.kind = SessionReport::Kind::kAttemptFailed,
        .attempt = reconnect_.attempt(),
        .error = error,
        .detail = detail,
        .verdict = verdict});
  if (verdict == AttemptVerdict::kStop) {
    // A refusal the user must act on: shown as any failed connection is.
    if (report != nullptr) {
      StopWithReport(*report);
    } else {
      Stop();
      ShowStatus(GetText("DisconnectedUnexcepted"));
    }
    return;
  }
  RetireEngine();
  ScheduleAttempt();
}

void ConnectionSession::CancelReconnect() {
  reconnect_.Cancel();
  ports_.view.StopTimer(kReconnectTimer);
  ports_.tray.SetTip(L"");
}

void ConnectionSession::SetAutoReconnect(bool on) {
  if (on) {
    reconnect_.SetEnabled(true);
    return;
  }
  // Turned off while reconnecting: the drop ends as it would have without the option.
  const bool wasReconnecting = Reconnecting();
  if (wasReconnecting) Stop();
  reconnect_.SetEnabled(false);
  if (wasReconnecting) ShowStatus(GetText("DisconnectedUnexcepted"));
}

void ConnectionSession::OnSuspend() {
  if (!Reconnecting()) return;
  // An attempt under way stops with its routes restored; nothing is dialled in sleep.
  if (Attempting()) RetireEngine();
  reconnect_.Suspend();
  ports_.view.StopTimer(kReconnectTimer);
}

void ConnectionSession::OnResume() {
  if (reconnect_.phase() == ReconnectPolicy::Phase::kSuspended) {
    reconnect_.Resume();
    ScheduleAttempt();
    return;
  }
  // A tunnel the sleep took down answers no statistics.
  if (connected_) Watch(DropCause::kResumed);
}

void ConnectionSession::NoteConnectedTable() {
  connectedTable_.clear();
  if (ports_.routeTable &&
      RouteModeStrategyFor(engineSettings_.routeMode).TunnelIsDefaultGateway() &&
      ports_.routeTable->ReadForwardTable(connectedTable_) != 0) {
    connectedTable_.clear();
  }
}

void ConnectionSession::OnRouteTableChanged() {
  if (!connected_ || connectedTable_.empty()) return;
  ports_.view.StartTimer(kRouteSettleTimer, kRouteSettleMs);
}

// ---- the kill switch ----------------------------------------------------------------------------

bool ConnectionSession::TunnelIsDefaultGateway() const {
  return RouteModeStrategyFor(engineSettings_.routeMode).TunnelIsDefaultGateway();
}

void ConnectionSession::SetKillSwitch(bool on) {
  killSwitch_ = on;
  if (!on) {
    UnguardTraffic();
  } else if (connected_) {
    GuardTraffic(upStatus_);
  }
}

void ConnectionSession::GuardTraffic(const VpnStatus& status) {
  if (!killSwitch_ || ports_.trafficGuard == nullptr || !TunnelIsDefaultGateway()) return;
  uint32_t tunnel = 0;
  std::vector<AdapterAddress> adapters;
  const std::string local = WideToAnsi(status.localAddress);
  if (ports_.routeTable && !local.empty() && ports_.routeTable->ReadAdapters(adapters) == 0) {
    for (const AdapterAddress& adapter : adapters) {
      if (adapter.firstIpAddress == local) tunnel = adapter.index;
    }
  }
  // Up again on the same interface: the filters in place already permit it.
  if (guardOn_ && tunnel == guardInterface_) return;
  if (ports_.keepReachable) {
    for (const uint32_t address : ports_.keepReachable(engineSettings_.serverAddress)) {
      if (address != 0 && std::find(keptAddresses_.begin(), keptAddresses_.end(), address) ==
                              keptAddresses_.end()) {
        keptAddresses_.push_back(address);
      }
    }
  }
  TrafficGuardPermits permits;
  permits.tunnelInterface = tunnel;
  permits.addresses = keptAddresses_;
  std::vector<RouteRow> rows;
  if (ports_.routeTable && ports_.routeTable->ReadForwardTable(rows) == 0) {
    permits.localSubnets = LocalSubnets(rows, tunnel);
  }
  // One transaction: the permit of the old interface goes as the new one comes.
  const uint32_t result = ports_.trafficGuard->Apply(TrafficGuardFilters(permits));
  if (result != 0) {
    // The connection stays; the status line says the traffic is not kept to it.
    Emit({.kind = SessionReport::Kind::kGuardRefused, .error = static_cast<int32_t>(result)});
    std::wstring warning = GetText("KillSwitchNotOn");
    if (const size_t colon = warning.find(L'：'); colon != std::wstring::npos) {
      warning.resize(colon);
    }
    ShowStatus(statusText_ + L" " + warning);
    return;
  }
  guardOn_ = true;
  guardInterface_ = tunnel;
  Emit({.kind = SessionReport::Kind::kGuardOn, .interfaceIndex = tunnel});
}

void ConnectionSession::UnguardTraffic() {
  if (!guardOn_) return;
  ports_.trafficGuard->Remove();
  guardOn_ = false;
  guardInterface_ = 0;
  keptAddresses_.clear();
  Emit({.kind = SessionReport::Kind::kGuardOff});
}
