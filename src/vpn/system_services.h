// The two system services dial-up networking needs, the Remote Access Connection Manager
// ("RasMan") and the telephony service ("TapiSrv"): making sure they run before a connection,
// and restarting them so that a changed dial-up configuration takes effect. The decisions are
// portable; the service control manager and the process list are reached through
// ServiceControl. Failures are silent everywhere: a step that cannot be done is skipped and the
// sequence goes on, because a connection may still work and the user could do nothing about it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"

inline constexpr wchar_t kRasManService[] = L"RasMan";
inline constexpr wchar_t kTapiService[] = L"TapiSrv";

namespace service_state {
inline constexpr uint32_t kStopped = 1;
inline constexpr uint32_t kStartPending = 2;
inline constexpr uint32_t kStopPending = 3;
inline constexpr uint32_t kRunning = 4;
inline constexpr uint32_t kContinuePending = 5;
inline constexpr uint32_t kPausePending = 6;
inline constexpr uint32_t kPaused = 7;
}  // namespace service_state

namespace service_start {
inline constexpr uint32_t kAutomatic = 2;
inline constexpr uint32_t kDisabled = 4;
}  // namespace service_start

// The system's status record of a service with its process, field for field.
struct ServiceStatus {
  uint32_t serviceType = 0;
  uint32_t currentState = 0;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
  uint32_t processId = 0;
  uint32_t serviceFlags = 0;
};

struct ServiceSnapshotEntry {
  std::wstring serviceName;
  std::wstring displayName;
  ServiceStatus status;
};

// One enumeration of every Win32 service (own and shared process) in every state.
using ServiceSnapshot = std::vector<ServiceSnapshotEntry>;

// One opened service; closed when destroyed.
class ServiceHandle {
 public:
  virtual ~ServiceHandle() = default;
  virtual bool QueryStatus(ServiceStatus& status) = 0;
  virtual bool QueryStartType(uint32_t& startType) = 0;
  // Changes the start type and nothing else of the configuration.
  virtual bool ChangeStartType(uint32_t startType) = 0;
  // Starts the service without arguments.
  virtual bool Start() = 0;
};

// The opened service control manager; closed when destroyed.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Null when the service cannot be opened.
  virtual std::unique_ptr<ServiceHandle> Open(const std::wstring& name) = 0;
  virtual bool EnumerateServices(ServiceSnapshot& snapshot) = 0;
};

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  // Null when the manager cannot be opened.
  virtual std::unique_ptr<ServiceManager> OpenManager() = 0;
  // Lets this process end the processes of services; failures are ignored.
  virtual void EnableDebugPrivilege() = 0;
  // Ends the process with exit code 0, and with it every service it hosts.
  virtual bool TerminateProcess(uint32_t processId) = 0;
};

// Starts `name` unless it runs or is starting, switching a disabled service to automatic start
// first, and waits up to ten seconds for it to leave the start-pending state. Does nothing
// without a manager.
void StartServiceIfNeeded(const std::wstring& name, ServiceManager* manager, TickClock& clock);

inline constexpr int kStateDiffers = 0;
inline constexpr int kStateMatches = 1;
inline constexpr int kStateUnknown = 2;
// Whether the service's current state value shares a bit with `mask`: with mask 1 the stopped
// states (1, 3, 5, 7) match, with mask 4 the running ones (4 to 7). kStateUnknown when the
// state cannot be read.
int ServiceStateMatches(ServiceManager* manager, const std::wstring& name, uint32_t mask);

// The status of the entry named `name` in any case, or null.
const ServiceStatus* FindServiceInSnapshot(const ServiceSnapshot& snapshot,
                                           const std::wstring& name);

// Starts the telephony service and the RAS manager when either is not running.
void EnsureRasServicesRunning(ServiceControl& control, TickClock& clock);

inline constexpr uint32_t kRasManStopPolls = 100;
inline constexpr uint32_t kRasManStopPollMs = 100;
// Ends the RAS manager's process, waits for it to stop, starts it again (and the telephony
// service when it ran in the same process), then twice starts whatever ran before and has
// stopped since.
void RestartRasServices(ServiceControl& control, TickClock& clock);

inline constexpr uint32_t kRestartMinimumMs = 3000;
// The restart behind the blocked-operation dialog: shows its message through `showText`,
// restarts, and takes at least kRestartMinimumMs so the user can read what is happening.
void RestartVpnRelatedServices(ServiceControl& control, TickClock& clock,
                               const std::function<void(const std::wstring&)>& showText);
