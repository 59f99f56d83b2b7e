// In-memory local-machine registry: keys by path holding raw values,
// sub-keys found by path, failures and changes between two reads on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/machine_registry.h"

class FakeLocalMachineRegistry : public RegistryKeyFactory {
 public:
  struct Value {
    uint32_t type = 0;
    std::vector<uint8_t> data;
  };
  struct Key {
    std::map<std::wstring, Value> values;
    // Enumeration errors at single indices.
    std::map<uint32_t, int32_t> enumErrors;
    // From this index on every enumeration fails with kKeyBroken.
    uint32_t brokenFromIndex = UINT32_MAX;
  };
  // What the system answers for a key handle that went bad (ERROR_KEY_DELETED).
  static constexpr int32_t kKeyBroken = 1018;

  std::unique_ptr<RegistryKey> NewKey() override;

  // Raw UTF-16 data; embedded NULs are kept (build with the ""s literal).
  void SetUnits(const std::wstring& path, const std::wstring& name, uint32_t type,
                const std::u16string& units);
  void SetDword(const std::wstring& path, const std::wstring& name, uint32_t value);
  // The value's data as UTF-16 units; empty when absent.
  std::u16string Units(const std::wstring& path, const std::wstring& name) const;
  // The value when it is a REG_DWORD; nothing otherwise.
  std::optional<uint32_t> Dword(const std::wstring& path, const std::wstring& name) const;
  const Value* Find(const std::wstring& path, const std::wstring& name) const;

  std::map<std::wstring, Key> keys;
  // Runs before every value query, so a test can change the registry between two reads.
  std::function<void(const std::wstring& path, const std::wstring& name)> beforeQuery;
  bool failWrites = false;
  // "path|name" of every write, in order.
  std::vector<std::wstring> writes;
  // Key objects holding an open key right now.
  int openKeys = 0;
};
