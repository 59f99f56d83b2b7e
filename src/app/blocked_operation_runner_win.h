// The restart of the VPN-related services behind the blocked-operation dialog, which keeps the
// calling window blocked but painting until the restart is over.
#pragma once

#include <windows.h>

#include "base/clock.h"
#include "policy/l2tp_preparation.h"
#include "vpn/system_services.h"

class DialogBlockedOperationRunner : public BlockedOperationRunner {
 public:
  // The dialog is owned by the last active window over `owner` (null: over the main window).
  // Null ports mean the system's service control manager and clock.
  explicit DialogBlockedOperationRunner(HWND owner = nullptr, ServiceControl* control = nullptr,
                                        TickClock* clock = nullptr)
      : owner_(owner), control_(control), clock_(clock) {}
  void SetOwner(HWND owner) { owner_ = owner; }

  // Runs the dialog modally until the restart has returned. Defined beside the dialog
  // (dlg_blocked_operation_win.cpp).
  void RestartVpnRelatedServices() override;

 private:
  HWND owner_;
  ServiceControl* control_;
  TickClock* clock_;
};
