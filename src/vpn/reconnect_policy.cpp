#include "vpn/reconnect_policy.h"

#include <algorithm>
#include <utility>

#include "vpn/general_vpn.h"
#include "vpn/open_vpn.h"
#include "vpn/windows_vpn.h"

namespace {

// Dial-up errors (raserror.h) that no later dial gets past until the user does something.
constexpr int32_t kRasRestrictedLogonHours = 646;
constexpr int32_t kRasAccountDisabled = 647;
constexpr int32_t kRasPasswordExpired = 648;
constexpr int32_t kRasNoDialinPermission = 649;
constexpr int32_t kRasAuthenticationFailure = 691;
constexpr int32_t kRasAccountExpired = 708;

}  // namespace

bool IsCredentialsRefused(bool openVpn, int32_t error, int32_t detail) {
  if (openVpn) return error == OPEN_VPN_ERROR_AUTH_FAILED;
  return error != GENERAL_VPN_ERROR_SUCCESS && detail == kRasAuthenticationFailure;
}

bool IsRefusalForTheUser(bool openVpn, int32_t error, int32_t detail) {
  if (error == GENERAL_VPN_ERROR_SUCCESS) return false;
  // Another connection holds the entry, the phonebook cannot be written, the OpenVPN component
  // or its adapter is missing or the settings cannot be handed to it: the same next time. The
  // connectors number their own errors alike, so the tunnel tells which is meant.
  if (error == GENERAL_VPN_ERROR_ALREADY_CONNECTED) return true;
  if (openVpn && (error == OPEN_VPN_ERROR_EXEC || error == OPEN_VPN_ERROR_NO_ADAPTER ||
                  error == OPEN_VPN_ERROR_INVALID_SETTING)) {
    return true;
  }
  if (!openVpn && error == WINDOWS_VPN_ERROR_CREATE) return true;
  switch (detail) {
    case kRasRestrictedLogonHours:
    case kRasAccountDisabled:
    case kRasPasswordExpired:
    case kRasNoDialinPermission:
    case kRasAccountExpired:
      return true;
    default:
      return false;
  }
}

namespace {

std::vector<std::pair<uint32_t, uint32_t>> DefaultGateways(const std::vector<RouteRow>& rows) {
  std::vector<std::pair<uint32_t, uint32_t>> gateways;
  for (const RouteRow& row : rows) {
    if (row.destination == 0 && row.mask == 0) {
      gateways.emplace_back(row.nextHop, row.interfaceIndex);
    }
  }
  return gateways;
}

}  // namespace

bool DefaultRouteMoved(const std::vector<RouteRow>& before, const std::vector<RouteRow>& now) {
  const auto was = DefaultGateways(before);
  const auto is = DefaultGateways(now);
  const auto missingFrom = [](const auto& from, const auto& gateway) {
    return std::find(from.begin(), from.end(), gateway) == from.end();
  };
  const bool gone = std::any_of(was.begin(), was.end(),
                                [&](const auto& gateway) { return missingFrom(is, gateway); });
  const bool came = std::any_of(is.begin(), is.end(),
                                [&](const auto& gateway) { return missingFrom(was, gateway); });
  return gone && came;
}

ReconnectPolicy::ReconnectPolicy(TickClock& clock, std::function<uint32_t()> random)
    : clock_(clock), random_(std::move(random)) {}

void ReconnectPolicy::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (!enabled) Cancel();
}

void ReconnectPolicy::OnLoggedIn() {
  loggedInAt_ = clock_.Ticks();
}

void ReconnectPolicy::OnConnected() {
  up_ = true;
  phase_ = Phase::kIdle;
  attempt_ = 0;
  reloginRequested_ = false;
}

bool ReconnectPolicy::OnDrop(DropCause /*cause*/) {
  if (phase_ == Phase::kAttempting) {
    // The attempt's tunnel went before it was up, or right after: that attempt failed.
    return OnAttemptFailed(GENERAL_VPN_ERROR_CONNECT, 0) != AttemptVerdict::kStop;
  }
  if (phase_ == Phase::kWaiting || phase_ == Phase::kSuspended) return true;
  const bool wasUp = std::exchange(up_, false);
  if (!enabled_ || !wasUp) return false;
  attempt_ = 0;
  Schedule(BaseDelay(1));
  return true;
}

AttemptVerdict ReconnectPolicy::OnAttemptFailed(int32_t error, int32_t detail, bool openVpn) {
  // Cancelled, or the system went to sleep meanwhile: whatever the engine says now starts
  // nothing.
  if (phase_ == Phase::kIdle) return AttemptVerdict::kStop;
  if (phase_ == Phase::kSuspended) return AttemptVerdict::kRetry;
  if (IsRefusalForTheUser(openVpn, error, detail)) {
    Cancel();
    return AttemptVerdict::kStop;
  }
  if (IsCredentialsRefused(openVpn, error, detail)) {
    // Once: the credentials may have changed at the service, and a fresh login says so. A
    // refusal right after one is the account's.
    if (std::exchange(reloginRequested_, true)) {
      Cancel();
      return AttemptVerdict::kStop;
    }
    loggedInAt_.reset();
    Schedule(BaseDelay(attempt_ + 1));
    return AttemptVerdict::kRelogin;
  }
  Schedule(BaseDelay(attempt_ + 1));
  return AttemptVerdict::kRetry;
}

AttemptVerdict ReconnectPolicy::OnLoginFailed(bool refused) {
  if (phase_ != Phase::kAttempting) return phase_ == Phase::kIdle ? AttemptVerdict::kStop
                                                                   : AttemptVerdict::kRetry;
  if (refused) {
    Cancel();
    return AttemptVerdict::kStop;
  }
  Schedule(BaseDelay(attempt_ + 1));
  return AttemptVerdict::kRetry;
}

uint32_t ReconnectPolicy::BaseDelay(uint32_t number) {
  if (number == 0) number = 1;
  uint32_t delay = kFirstDelayMs;
  for (uint32_t i = 1; i < number && delay < kMaxDelayMs; ++i) delay *= 2;
  return std::min(delay, kMaxDelayMs);
}

void ReconnectPolicy::Schedule(uint32_t delayMs) {
  // Up to a tenth either way, so clients dropped by one server restart do not all call back
  // in the same second; never past the longest wait.
  const uint32_t spread = delayMs / 5;
  const uint32_t jitter = spread == 0 ? 0 : random_() % (spread + 1);
  delay_ = std::min(delayMs - delayMs / 10 + jitter, kMaxDelayMs);
  dueFrom_ = clock_.Ticks();
  phase_ = Phase::kWaiting;
}

std::optional<uint32_t> ReconnectPolicy::DelayLeft() {
  if (phase_ != Phase::kWaiting) return std::nullopt;
  const uint32_t waited = clock_.Ticks() - dueFrom_;
  return waited >= delay_ ? 0 : delay_ - waited;
}

uint32_t ReconnectPolicy::BeginAttempt() {
  const std::optional<uint32_t> left = DelayLeft();
  if (!left || *left != 0) return 0;
  phase_ = Phase::kAttempting;
  return ++attempt_;
}

bool ReconnectPolicy::LoginDue() {
  return !loggedInAt_ || clock_.Ticks() - *loggedInAt_ >= kLoginLifetimeMs;
}

void ReconnectPolicy::Cancel() {
  phase_ = Phase::kIdle;
  up_ = false;
  attempt_ = 0;
  reloginRequested_ = false;
}

void ReconnectPolicy::Suspend() {
  if (phase_ == Phase::kWaiting || phase_ == Phase::kAttempting) phase_ = Phase::kSuspended;
}

void ReconnectPolicy::Resume() {
  if (phase_ == Phase::kSuspended) Schedule(kFirstDelayMs);
}

VpnEngineSettings VpnEngineSettings::Of(const CGeneralVpn& engine) {
  VpnEngineSettings settings;
  settings.routeList = engine.routeList;
  settings.serverAddress = engine.serverAddress;
  settings.userName = engine.userName;
  settings.password = engine.password;
  settings.routeMode = engine.routeMode;
  settings.proxyType = engine.proxyType;
  settings.proxyHost = engine.proxyHost;
  settings.proxyUser = engine.proxyUser;
  settings.proxyPassword = engine.proxyPassword;
  settings.proxyPort = engine.proxyPort;
  settings.useMppe = engine.useMppe;
  return settings;
}

void VpnEngineSettings::ApplyTo(CGeneralVpn& engine) const {
  engine.routeList = routeList;
  engine.serverAddress = serverAddress;
  engine.userName = userName;
  engine.password = password;
  engine.routeMode = routeMode;
  engine.SetProxy(proxyType, proxyHost.c_str(), proxyPort, proxyUser.c_str(),
                  proxyPassword.c_str());
  engine.useMppe = useMppe;
}
