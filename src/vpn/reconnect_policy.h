// When a dropped tunnel is dialled again, and when not: which drops count, how long to wait
// between attempts, which refusals end the attempts, and what a cancel or a sleep does to them.
// No threads and no timers of its own: the owner asks how long to wait and says when it waited,
// with time taken from a TickClock, so the rules run against a fake clock.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "vpn/route_table.h"

class CGeneralVpn;

// What told the owner that a connection which was up has gone.
enum class DropCause {
  kStatisticsFailed,  // the once-a-second watch could not read the counters
  kLinkGone,          // the dial-up connection was reported gone, or the engine said disconnected
  kChildEnded,        // the OpenVPN child ended, or restarted and could not finish
  kResumed,           // the system woke from sleep and the tunnel was gone
  kNetworkMoved,      // route mode 1: the host's default route moved to another gateway
};

// What the owner does after an attempt failed.
enum class AttemptVerdict {
  kRetry,    // wait and dial again
  kRelogin,  // log in over HTTP again before the next dial
  kStop,     // a refusal the user must act on: the attempts end and the error is shown
};

class ReconnectPolicy {
 public:
  enum class Phase {
    kIdle,        // nothing to reconnect
    kWaiting,     // an attempt is due after the backoff
    kAttempting,  // an attempt's engine runs
    kSuspended,   // the system sleeps; nothing is dialled until it wakes
  };

  static constexpr uint32_t kFirstDelayMs = 2000;
  static constexpr uint32_t kMaxDelayMs = 60000;
  // The login's answer is taken as still good this long; a later attempt logs in again first.
  static constexpr uint32_t kLoginLifetimeMs = 30 * 60 * 1000;

  // `random` gives the jitter: any 32-bit value.
  ReconnectPolicy(TickClock& clock, std::function<uint32_t()> random);

  void SetEnabled(bool enabled);
  bool enabled() const { return enabled_; }

  // A login over HTTP has just been answered and accepted.
  void OnLoggedIn();
  // The tunnel is up (the first time or again): the count starts over.
  void OnConnected();
  // A connection that was up has gone. True when attempts follow (the first after the first
  // delay); false when the option is off or there was no connection up, and the owner reports
  // the drop as it always did. A drop during an attempt is that attempt failing.
  bool OnDrop(DropCause cause);
  // The running attempt failed with the engine's `error` and `detail`; `openVpn` for the
  // OpenVPN engine, whose own error numbers mean other things than the dial-up engine's.
  AttemptVerdict OnAttemptFailed(int32_t error, int32_t detail, bool openVpn = false);
  // The running attempt's login over HTTP failed. A service that did not answer (the network is
  // often still down right after a drop or a wake) is one failed attempt: the next waits its
  // turn and logs in again. Only `refused` (the account, its password or its time) ends the
  // attempts.
  AttemptVerdict OnLoginFailed(bool refused);

  // Milliseconds until the next attempt is due, 0 when it is due now; nothing unless waiting.
  std::optional<uint32_t> DelayLeft();
  // Starts the attempt that is due and answers its number (1, 2, …); 0 when none is due.
  uint32_t BeginAttempt();
  // Whether the attempt about to begin (or running) must log in first.
  bool LoginDue();

  // Disconnect or Exit: every attempt ends here, and nothing reported afterwards starts one.
  void Cancel();
  // The system goes to sleep. A waiting or running attempt stops (the owner stops its engine).
  void Suspend();
  // The system woke: the suspended attempts go on after the first delay.
  void Resume();

  Phase phase() const { return phase_; }
  uint32_t attempt() const { return attempt_; }
  // The wait before attempt `number` without jitter: 2, 4, 8 … 60 s.
  static uint32_t BaseDelay(uint32_t number);

 private:
  void Schedule(uint32_t delayMs);

  TickClock& clock_;
  std::function<uint32_t()> random_;
  bool enabled_ = true;
  bool up_ = false;
  Phase phase_ = Phase::kIdle;
  uint32_t attempt_ = 0;
  uint32_t dueFrom_ = 0;
  uint32_t delay_ = 0;
  std::optional<uint32_t> loggedInAt_;
  // A credentials refusal after a fresh login means the account itself is refused.
  bool reloginRequested_ = false;
};

// Whether an engine's error is one the user must act on before any dial can succeed.
bool IsRefusalForTheUser(bool openVpn, int32_t error, int32_t detail);
// Whether the server refused the credentials the dial carried (RAS 691, OpenVPN's AUTH_FAILED).
bool IsCredentialsRefused(bool openVpn, int32_t error, int32_t detail);

// Whether the host moved to another gateway or interface between two reads of the table: a
// default route of `before` is gone and one not there before has come. A tunnel that only lost
// its own default route, or a table that gained one, is no move.
bool DefaultRouteMoved(const std::vector<RouteRow>& before, const std::vector<RouteRow>& now);

// What an engine was configured with, so the same server, tunnel and route set can be dialled
// again by a new engine without asking anyone.
struct VpnEngineSettings {
  static VpnEngineSettings Of(const CGeneralVpn& engine);
  void ApplyTo(CGeneralVpn& engine) const;

  std::vector<std::wstring> routeList;
  std::wstring serverAddress;
  std::wstring userName;
  std::wstring password;
  uint32_t routeMode = 0;
  uint32_t proxyType = 0;
  std::wstring proxyHost;
  std::wstring proxyUser;
  std::wstring proxyPassword;
  int32_t proxyPort = 0;
  uint32_t useMppe = 0;
};
