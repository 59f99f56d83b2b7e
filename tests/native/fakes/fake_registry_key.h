// In-memory local-machine registry: keys by path, 32-bit values by name, with failures on demand.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "policy/l2tp_preparation.h"

class FakeMachineRegistry : public MachineRegistry {
 public:
  struct Key {
    std::map<std::wstring, uint32_t> dwords;
    std::map<std::wstring, std::wstring> texts;  // values of another type
  };

  std::unique_ptr<RegistryValueKey> OpenForWriting(const std::wstring& path) override;

  std::map<std::wstring, Key> keys;
  bool fail_writes = false;
  int writes = 0;
};
