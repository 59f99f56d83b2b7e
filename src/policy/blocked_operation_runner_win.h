// Stand-in for the restart of the VPN-related services behind the blocked-operation dialog
// until that dialog exists: restarts nothing, as if the restart had finished at once.
#pragma once

#include <windows.h>

#include "policy/l2tp_preparation.h"

class PendingBlockedOperationRunner : public BlockedOperationRunner {
 public:
  // `owner` is the window the blocked-operation dialog will block.
  explicit PendingBlockedOperationRunner(HWND owner = nullptr) : owner_(owner) {}
  void SetOwner(HWND owner) { owner_ = owner; }
  void RestartVpnRelatedServices() override {}

 private:
  HWND owner_;
};
