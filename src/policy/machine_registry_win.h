// The local machine's registry and version, for the L2TP preparation.
#pragma once

#include <cstdint>

#include "policy/l2tp_preparation.h"

class SystemMachineRegistry : public MachineRegistry {
 public:
  std::unique_ptr<RegistryValueKey> OpenForWriting(const std::wstring& path) override;
};

// The major version the system reports to this program (its manifest names the systems it
// knows, so newer ones report their own number).
uint32_t OperatingSystemMajorVersion();
