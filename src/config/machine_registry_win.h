// RegistryKey over the local machine's registry, and the system's version.
#pragma once

#include <windows.h>

#include "base/unique_handle_win.h"
#include "config/machine_registry.h"

class LocalMachineRegistryKey : public RegistryKey {
 public:
  int32_t Open(const std::wstring& path) override;
  void Close() override { key_.reset(); }
  int32_t QueryValue(const std::wstring& name, uint32_t& type,
                     std::vector<uint8_t>& data) override;
  int32_t SetValue(const std::wstring& name, uint32_t type,
                   const std::vector<uint8_t>& data) override;
  int32_t EnumSubKey(uint32_t index, std::wstring& name) override;

 private:
  UniqueRegKey key_;
};

class LocalMachineRegistry : public RegistryKeyFactory {
 public:
  std::unique_ptr<RegistryKey> NewKey() override {
    return std::make_unique<LocalMachineRegistryKey>();
  }
};

// The major version the system reports to this program (its manifest names the systems it
// knows, so newer ones report their own number).
uint32_t OperatingSystemMajorVersion();
