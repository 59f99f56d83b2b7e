// Before the first L2TP connection the dial-up manager must be told not to insist on IPsec
// ("ProhibitIpSec" = 1 among its parameters); older systems only notice after its services have
// been restarted, which the user is offered.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "config/machine_registry.h"

inline constexpr wchar_t kRasManParametersKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\RasMan\\Parameters";
inline constexpr wchar_t kProhibitIpSecValue[] = L"ProhibitIpSec";

// Runs the restart of the VPN-related services behind the blocked-operation dialog, which keeps
// the calling window blocked but painting until the restart is over.
class BlockedOperationRunner {
 public:
  virtual ~BlockedOperationRunner() = default;
  virtual void RestartVpnRelatedServices() = 0;
};

class L2tpPreparation {
 public:
  L2tpPreparation(RegistryKeyFactory& registry, BlockedOperationRunner& runner,
                  uint32_t osMajorVersion)
      : registry_(registry), runner_(runner), osMajorVersion_(osMajorVersion) {}

  // Sets the value when it is not already 1. Only when that write succeeded, and not on major
  // version 6 (which applies it without a restart), asks `askRestart` and restarts on yes.
  // Registry failures are silent: the connection may still work, and there is nothing the user
  // could do about them here.
  void Prepare(const std::function<bool()>& askRestart);

 private:
  RegistryKeyFactory& registry_;
  BlockedOperationRunner& runner_;
  uint32_t osMajorVersion_;
};
