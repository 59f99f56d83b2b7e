// In-memory RegistryProfile: one value per (section, entry), typed like registry values, with
// section and entry names matched without case as the registry does.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "config/registry_profile.h"

class FakeRegistryProfile : public RegistryProfile {
 public:
  using Value = std::variant<uint32_t, std::wstring, std::vector<uint8_t>>;

  uint32_t GetProfileInt(const std::wstring& section, const std::wstring& entry,
                         uint32_t fallback) override;
  std::wstring GetProfileString(const std::wstring& section, const std::wstring& entry,
                                const std::wstring& fallback) override;
  std::optional<std::vector<uint8_t>> GetProfileBinary(const std::wstring& section,
                                                       const std::wstring& entry) override;
  bool WriteProfileInt(const std::wstring& section, const std::wstring& entry,
                       uint32_t value) override;
  bool WriteProfileString(const std::wstring& section, const std::wstring& entry,
                          const std::optional<std::wstring>& value) override;
  bool WriteProfileBinary(const std::wstring& section, const std::wstring& entry,
                          const std::vector<uint8_t>& bytes) override;

  bool Has(const std::wstring& section, const std::wstring& entry) const;
  std::optional<Value> Get(const std::wstring& section, const std::wstring& entry) const;
  void Put(const std::wstring& section, const std::wstring& entry, Value value);
  size_t size() const { return values_.size(); }

  // Makes every write fail (and change nothing), as when the key cannot be created.
  void setFailWrites(bool fail) { failWrites_ = fail; }

 private:
  using Key = std::pair<std::wstring, std::wstring>;
  static Key MakeKey(const std::wstring& section, const std::wstring& entry);

  std::map<Key, Value> values_;
  bool failWrites_ = false;
};
