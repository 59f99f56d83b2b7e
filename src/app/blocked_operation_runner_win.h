// The blocked-operation dialog as the policy dialog's runner: the restart of the VPN-related
// services, and any other slow work, behind it.
#pragma once

#include <windows.h>

#include "base/clock.h"
#include "policy/blocked_operation_runner.h"
#include "vpn/system_services.h"

class DialogBlockedOperationRunner : public BlockedOperationRunner {
 public:
  // The dialog is owned by the last active window over `owner` (null: over the main window).
  // Null ports mean the system's service control manager and clock.
  explicit DialogBlockedOperationRunner(HWND owner = nullptr, ServiceControl* control = nullptr,
                                        TickClock* clock = nullptr)
      : owner_(owner), control_(control), clock_(clock) {}
  void SetOwner(HWND owner) { owner_ = owner; }

  // Each runs the dialog modally until the work has returned. Defined beside the dialog
  // (dlg_blocked_operation_win.cpp).
  void RestartVpnRelatedServices() override;
  void Run(const std::function<void()>& work) override;

 private:
  HWND owner_;
  ServiceControl* control_;
  TickClock* clock_;
};
