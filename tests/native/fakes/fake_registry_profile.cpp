#include "fakes/fake_registry_profile.h"

#include "base/text.h"

FakeRegistryProfile::Key FakeRegistryProfile::MakeKey(const std::wstring& section,
                                                      const std::wstring& entry) {
  return {LowerAscii(section), LowerAscii(entry)};
}

uint32_t FakeRegistryProfile::GetProfileInt(const std::wstring& section, const std::wstring& entry,
                                            uint32_t fallback) {
  const auto value = Get(section, entry);
  if (!value || !std::holds_alternative<uint32_t>(*value)) return fallback;
  return std::get<uint32_t>(*value);
}

std::wstring FakeRegistryProfile::GetProfileString(const std::wstring& section,
                                                   const std::wstring& entry,
                                                   const std::wstring& fallback) {
  const auto value = Get(section, entry);
  if (!value || !std::holds_alternative<std::wstring>(*value)) return fallback;
  return std::get<std::wstring>(*value);
}

std::optional<std::vector<uint8_t>> FakeRegistryProfile::GetProfileBinary(
    const std::wstring& section, const std::wstring& entry) {
  const auto value = Get(section, entry);
  if (!value || !std::holds_alternative<std::vector<uint8_t>>(*value)) return std::nullopt;
  return std::get<std::vector<uint8_t>>(*value);
}

bool FakeRegistryProfile::WriteProfileInt(const std::wstring& section, const std::wstring& entry,
                                          uint32_t value) {
  if (failWrites_) return false;
  Put(section, entry, value);
  return true;
}

bool FakeRegistryProfile::WriteProfileString(const std::wstring& section, const std::wstring& entry,
                                             const std::optional<std::wstring>& value) {
  if (failWrites_) return false;
  if (value) {
    Put(section, entry, *value);
  } else {
    values_.erase(MakeKey(section, entry));
  }
  return true;
}

bool FakeRegistryProfile::WriteProfileBinary(const std::wstring& section, const std::wstring& entry,
                                             const std::vector<uint8_t>& bytes) {
  if (failWrites_) return false;
  Put(section, entry, bytes);
  return true;
}

bool FakeRegistryProfile::Has(const std::wstring& section, const std::wstring& entry) const {
  return values_.count(MakeKey(section, entry)) != 0;
}

std::optional<FakeRegistryProfile::Value> FakeRegistryProfile::Get(
    const std::wstring& section, const std::wstring& entry) const {
  const auto found = values_.find(MakeKey(section, entry));
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

void FakeRegistryProfile::Put(const std::wstring& section, const std::wstring& entry, Value value) {
  values_[MakeKey(section, entry)] = std::move(value);
}
