#include "vpn/system_services.h"

#include "base/text.h"
#include "config/text_table.h"

namespace {

constexpr int kStartPolls = 10;
constexpr uint32_t kStartPollMs = 1000;
constexpr int kRestartPasses = 2;

}  // namespace

void StartServiceIfNeeded(const std::wstring& name, ServiceManager* manager, TickClock& clock) {
  if (!manager) return;
  std::unique_ptr<ServiceHandle> service = manager->Open(name);
  if (!service) return;
  ServiceStatus status;
  if (!service->QueryStatus(status)) return;
  if (status.currentState == service_state::kRunning ||
      status.currentState == service_state::kStartPending) {
    return;
  }
  uint32_t startType = 0;
  if (!service->QueryStartType(startType)) return;
  if (startType == service_start::kDisabled &&
      !service->ChangeStartType(service_start::kAutomatic)) {
    return;
  }
  if (!service->Start()) return;
  for (int poll = 0; poll < kStartPolls; ++poll) {
    if (!service->QueryStatus(status) || status.currentState != service_state::kStartPending) {
      break;
    }
    clock.Sleep(kStartPollMs);
  }
}

int ServiceStateMatches(ServiceManager* manager, const std::wstring& name, uint32_t mask) {
  std::unique_ptr<ServiceHandle> service = manager ? manager->Open(name) : nullptr;
  ServiceStatus status;
  if (!service || !service->QueryStatus(status)) return kStateUnknown;
  return (status.currentState & mask) != 0 ? kStateMatches : kStateDiffers;
}

const ServiceStatus* FindServiceInSnapshot(const ServiceSnapshot& snapshot,
                                           const std::wstring& name) {
  for (const ServiceSnapshotEntry& entry : snapshot) {
    if (EqualsNoCase(entry.serviceName, name)) return &entry.status;
  }
  return nullptr;
}

void EnsureRasServicesRunning(ServiceControl& control, TickClock& clock) {
  std::unique_ptr<ServiceManager> manager = control.OpenManager();
  if (!manager) return;
  if (ServiceStateMatches(manager.get(), kTapiService, service_state::kRunning) == kStateDiffers ||
      ServiceStateMatches(manager.get(), kRasManService, service_state::kRunning) ==
          kStateDiffers) {
    StartServiceIfNeeded(kTapiService, manager.get(), clock);
    StartServiceIfNeeded(kRasManService, manager.get(), clock);
  }
}

void RestartRasServices(ServiceControl& control, TickClock& clock) {
  control.EnableDebugPrivilege();
  std::unique_ptr<ServiceManager> manager = control.OpenManager();
  if (!manager) return;
  ServiceSnapshot before;
  if (!manager->EnumerateServices(before)) return;
  const ServiceStatus* rasMan = FindServiceInSnapshot(before, kRasManService);
  const ServiceStatus* tapi = FindServiceInSnapshot(before, kTapiService);
  if (!rasMan || !tapi) return;

  if (rasMan->processId != 0) control.TerminateProcess(rasMan->processId);
  // A fresh manager each time: a stale one may keep answering with the state it last saw.
  for (uint32_t poll = 0; poll < kRasManStopPolls; ++poll) {
    manager.reset();
    manager = control.OpenManager();
    if (!manager ||
        ServiceStateMatches(manager.get(), kRasManService, service_state::kStopped) !=
            kStateDiffers) {
      break;
    }
    clock.Sleep(kRasManStopPollMs);
  }

  // Process id 0: the telephony service was not running when the snapshot was taken, so the
  // passes below would leave it stopped; dialling needs it, so it is started here. One that was
  // running, in the RAS manager's process or its own, is the passes' business.
  if (tapi->processId == 0) StartServiceIfNeeded(kTapiService, manager.get(), clock);
  StartServiceIfNeeded(kRasManService, manager.get(), clock);

  // Ending the process took every service it hosted down with the RAS manager.
  for (int pass = 0; pass < kRestartPasses && manager; ++pass) {
    ServiceSnapshot now;
    if (!manager->EnumerateServices(now)) continue;
    for (const ServiceSnapshotEntry& entry : before) {
      if (entry.status.currentState != service_state::kRunning) continue;
      const ServiceStatus* current = FindServiceInSnapshot(now, entry.serviceName);
      if (!current || current->currentState == service_state::kRunning ||
          current->currentState == service_state::kStartPending) {
        continue;
      }
      StartServiceIfNeeded(entry.serviceName, manager.get(), clock);
    }
  }
}

void RestartVpnRelatedServices(ServiceControl& control, TickClock& clock,
                               const std::function<void(const std::wstring&)>& showText) {
  if (showText) showText(GetText("ApplyingNewConfigurationPleaseWait"));
  const uint32_t started = clock.Ticks();
  RestartRasServices(control, clock);
  const uint32_t elapsed = clock.Ticks() - started;
  if (elapsed < kRestartMinimumMs) clock.Sleep(kRestartMinimumMs - elapsed);
}
