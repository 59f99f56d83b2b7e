// Before the first L2TP connection the dial-up manager must be told not to insist on IPsec
// ("ProhibitIpSec" = 1 among its parameters); older systems only notice after its services have
// been restarted, which the user is offered.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "config/machine_registry.h"
#include "policy/blocked_operation_runner.h"

inline constexpr wchar_t kRasManParametersKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\RasMan\\Parameters";
inline constexpr wchar_t kProhibitIpSecValue[] = L"ProhibitIpSec";

class L2tpPreparation {
 public:
  // Vista's major version: from here on the value takes effect without a restart.
  static constexpr uint32_t kFirstVersionWithoutRestart = 6;

  // `osMajorVersion` is 0 when unknown.
  L2tpPreparation(RegistryKeyFactory& registry, BlockedOperationRunner& runner,
                  uint32_t osMajorVersion)
      : registry_(registry), runner_(runner), osMajorVersion_(osMajorVersion) {}

  // Sets the value when it is not already 1. Only when that write succeeded, and only on a
  // system older than Vista (Windows 2000, XP, Server 2003), asks `askRestart` and restarts on
  // yes: the restart ends the RAS manager's process with every service it hosts.
  // Registry failures are silent: the connection may still work, and there is nothing the user
  // could do about them here.
  void Prepare(const std::function<bool()>& askRestart);

 private:
  RegistryKeyFactory& registry_;
  BlockedOperationRunner& runner_;
  uint32_t osMajorVersion_;
};
