// One user's connection, from the engine the login built to Disconnect or Exit: the engines that
// follow each other across drops, when a drop is dialled again (the reconnect policy), the
// connection's steps that happen once (the binding module, the balloon, the adapter repairs),
// the failed-routes question, and what the window is told. What happens when the tunnel drops
// is here: HandleDrop, then ScheduleAttempt and StartAttempt until the tunnel is back.
//
// The session has no window: it talks to a SessionView (the main window's controller, which
// opens the session's boxes inside its box scope) and emits a SessionReport for every step of the
// connection, so that a log can follow the connection without knowing the window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/main_window_ports.h"
#include "config/route_set_code.h"
#include "policy/bind_module.h"
#include "resource.h"
#include "service/login_exchange.h"
#include "vpn/general_vpn.h"
#include "vpn/reconnect_policy.h"
#include "vpn/traffic_guard.h"

namespace connection_session {

// Timers the session asks its view to run.
inline constexpr uint32_t kReconnectTimer = 4;
inline constexpr uint32_t kRouteSettleTimer = 5;
inline constexpr uint32_t kRouteSettleMs = 1000;

// Tray pictures.
inline constexpr uint32_t kIconIdle = IDI_TRAY_IDLE;
inline constexpr uint32_t kIconBoth = IDI_TRAY_BOTH;
inline constexpr uint32_t kIconSent = IDI_TRAY_SENT;
inline constexpr uint32_t kIconConnected = IDI_TRAY_CONNECTED;
inline constexpr uint32_t kIconReceived = IDI_TRAY_RECEIVED;

}  // namespace connection_session

// One step of the connection: what happened, and why.
struct SessionReport {
  enum class Kind {
    kStarted,         // an engine of the login was started
    kUp,              // the tunnel is up (`reconnected` when after a drop)
    kDropped,         // a connection that was up has gone (`cause`)
    kAttemptStarted,  // attempt `attempt` dials again
    kAttemptFailed,   // attempt `attempt` failed with `error`/`detail`; `verdict` says what next
    kLoginUnanswered, // the login of attempt `attempt` got no answer
    kStopped,         // the connection ended: Disconnect, Exit, a refusal or a failure
    kGuardOn,         // the kill switch's filters are in place, permitting tunnel `interface`
    kGuardOff,        // the kill switch's filters are gone
    kGuardRefused,    // the system refused the kill switch's filters (`error`)
    kNote,            // something else for the log: `text`
  };
  Kind kind;
  bool reconnected = false;
  DropCause cause = DropCause::kStatisticsFailed;
  uint32_t attempt = 0;
  int32_t error = 0;
  int32_t detail = 0;
  AttemptVerdict verdict = AttemptVerdict::kRetry;
  uint32_t interfaceIndex = 0;
  // kNote's line; for kStarted the server, tunnel type and routes chosen.
  std::wstring text = {};
};

// The report as one line of the connection log.
std::wstring SessionReportText(const SessionReport& report);

// What the session needs of the window.
class SessionView {
 public:
  virtual ~SessionView() = default;
  virtual void SetStatus(const std::wstring& text) = 0;
  virtual void EnableConnect(bool enable) = 0;
  virtual void EnableDisconnect(bool enable) = 0;
  // An OK box, and a Yes/No box (true for Yes), each inside the window's box scope.
  virtual void ShowMessage(const std::wstring& text) = 0;
  virtual bool AskYesNo(const std::wstring& text, bool defaultNo) = 0;
  virtual void ShowMainWindow() = 0;
  // Hides the window to the tray where there is an icon to bring it back with.
  virtual void HideToTray() = 0;
  virtual void StartTimer(uint32_t id, uint32_t milliseconds) = 0;
  virtual void StopTimer(uint32_t id) = 0;
  // Reports of `engine` waiting for a box to close are dropped: the engine is being replaced.
  virtual void DropReportsOf(const CGeneralVpn* engine) = 0;

  // The login over HTTP again for a reconnect, with the choice made before, opening no box.
  struct Relogin {
    LoginOutcome outcome;
    // No usable answer came: the network or the service, not the account.
    bool unanswered = false;
    // What the login would have shown.
    std::vector<std::wstring> held;
  };
  virtual Relogin LogInAgain() = 0;
};

struct SessionPorts {
  SessionView& view;
  TrayIcon& tray;
  AdapterRepairs& repairs;
  BindModule& bind;
  EngineFactory& engines;
  CGeneralVpnCallbackInterface& engineCallback;
  TickClock& clock;
  // The host's table, read in route mode 1 to see its default route move; none: not watched.
  RouteTable* routeTable = nullptr;
  // Every step of the connection, in order; none: nobody listens.
  std::function<void(const SessionReport&)> reports;
  // The kill switch's filters; none: the option does nothing.
  TrafficGuard* trafficGuard = nullptr;
  // What the client needs to reach to log in and dial `server` again, resolved now (the tunnel
  // is up, so the names resolve): the server and the login hosts.
  std::function<std::vector<uint32_t>(const std::wstring& server)> keepReachable;
};

class ConnectionSession {
 public:
  explicit ConnectionSession(SessionPorts ports);
  // Lets the last engine's worker restore its routes before the program ends.
  ~ConnectionSession();
  ConnectionSession(const ConnectionSession&) = delete;
  ConnectionSession& operator=(const ConnectionSession&) = delete;

  // The login built `engine` for `plan`: the connection starts.
  void Begin(std::unique_ptr<CGeneralVpn> engine, const ConnectionPlan& plan);
  // Disconnect: every attempt ends, the engine restores its routes.
  void Stop();
  // Exit: as Stop, and nothing the engines report afterwards reaches the window.
  void End();

  void OnEngineReport(const CGeneralVpn* engine, const VpnStatus& status);
  // The once-a-second watch.
  void Watch(DropCause cause = DropCause::kStatisticsFailed);
  // The session's timers.
  void OnTimer(uint32_t id);
  void OnSuspend();
  void OnResume();
  // The host's routes or interfaces changed; in route mode 1 the table is read once they settle.
  void OnRouteTableChanged();
  // The auto-reconnect option; turned off while reconnecting, the drop ends as it would have.
  void SetAutoReconnect(bool on);
  bool autoReconnect() const { return reconnect_.enabled(); }
  // The kill switch: from the first time a route mode 1 connection is up, through its drops,
  // waits and sleeps, until Disconnect, Exit or the option turned off, only the tunnel and what
  // gets it back may carry traffic. Off by default.
  void SetKillSwitch(bool on);
  bool killSwitch() const { return killSwitch_; }
  bool trafficGuarded() const { return guardOn_; }
  // Shows the current engine's state in the status line.
  void ReportEngineState();

  bool connected() const { return connected_; }
  bool restoring() const { return restoring_; }
  bool Reconnecting() const { return reconnect_.phase() != ReconnectPolicy::Phase::kIdle; }
  bool HasEngine() const { return current_ != nullptr; }
  CGeneralVpn* currentEngine() const { return current_.get(); }
  CGeneralVpn* retiredEngine() const { return retired_.get(); }
  const std::optional<RouteSetChoice>& routeChoice() const { return routeChoice_; }
  const ReconnectPolicy& reconnectPolicy() const { return reconnect_; }
  // The status line the session set last, shown again once a restore is done.
  const std::wstring& statusText() const { return statusText_; }
  void ShowStatus(const std::wstring& text);

 private:
  struct EngineReport {
    std::wstring status;
    std::wstring box;  // empty without an error
  };

  void Emit(SessionReport report);
  void Note(std::wstring text) {
    Emit({.kind = SessionReport::Kind::kNote, .text = std::move(text)});
  }
  // What the engine's report says, for the log: its state, and its error with the advice.
  std::wstring EngineNote(CGeneralVpn& vpn, const VpnStatus& status);
  void SetConnectEnabled(bool enable);
  void StartEngine(std::unique_ptr<CGeneralVpn> engine);
  // Stops the current engine, which restores its routes; the reconnecting goes on.
  void RetireEngine();
  void OnRetiredReport(const VpnStatus& status);
  void OnRouteFailures(const VpnStatus& status);
  void OnUp(const VpnStatus& status, bool allDone);
  EngineReport DescribeEngine(CGeneralVpn& vpn, const VpnStatus& status);
  void ShowEngineReport(const EngineReport& report);
  void StopWithReport(const VpnStatus& status);
  bool BindsApplications() const {
    return routeChoice_ && routeChoice_->kind == RouteSetKind::kApplications;
  }
  bool Attempting() const { return reconnect_.phase() == ReconnectPolicy::Phase::kAttempting; }
  bool HandleDrop(DropCause cause);
  void ScheduleAttempt();
  void StartAttempt(uint32_t number);
  void OnAttemptFailed(int32_t error, int32_t detail, const VpnStatus* report);
  void ShowReconnecting(uint32_t number);
  void CancelReconnect();
  void NoteConnectedTable();
  bool TunnelIsDefaultGateway() const;
  // Puts the kill switch's filters in place for the tunnel now up, or moves their permit to it.
  void GuardTraffic(const VpnStatus& status);
  void UnguardTraffic();

  SessionPorts ports_;
  std::unique_ptr<CGeneralVpn> current_;
  // The engine stopped last, until the next one takes it over; restoring_ while its restore
  // runs, which keeps Connect disabled.
  std::unique_ptr<CGeneralVpn> retired_;
  uint32_t retiredReport_ = 0;
  bool restoring_ = false;
  bool ending_ = false;
  bool connected_ = false;
  std::wstring statusText_;
  std::optional<RouteSetChoice> routeChoice_;
  int32_t tunnelType_ = 0;
  // Of the current engine: the number of the last report handled, and what happens only once
  // per connection.
  uint32_t handledReport_ = 0;
  bool routeQuestionAsked_ = false;
  bool allDoneHandled_ = false;
  // The attempt's statistics failed at the last tick (OnTick waits one tick for the report).
  bool attemptReadingFailed_ = false;
  uint32_t lastSent_ = 0;
  uint32_t lastReceived_ = 0;

  ReconnectPolicy reconnect_;
  // What the last login configured: what a reconnect dials again.
  VpnEngineSettings engineSettings_;
  // The user chose to go on with routes that could not be made; reconnects do not ask again.
  bool routeFailuresAccepted_ = false;
  // The tray alternates its pictures while reconnecting.
  bool blink_ = false;
  // Route mode 1: the host's table as the connection found it once up.
  std::vector<RouteRow> connectedTable_;
  bool killSwitch_ = false;
  bool guardOn_ = false;
  uint32_t guardInterface_ = 0;
  // Kept across attempts: the addresses learnt while a tunnel was up.
  std::vector<uint32_t> keptAddresses_;
  // The last status of the tunnel up, for the option turned on while connected.
  VpnStatus upStatus_;
};
