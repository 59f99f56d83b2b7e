// The per-user profile in the registry: HKCU\Software\<registry key>\<app name>\<section>, one
// value per entry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "config/registry_profile.h"

class CUserRegistryProfile : public RegistryProfile {
 public:
  CUserRegistryProfile() = default;
  CUserRegistryProfile(std::wstring registryKey, std::wstring appName);

  // Until both names are set the profile has no home: reads give defaults, writes fail.
  void SetRegistryKey(std::wstring registryKey) { registryKey_ = std::move(registryKey); }
  void SetAppName(std::wstring appName) { appName_ = std::move(appName); }
  // "Software\<registry key>\<app name>", relative to HKEY_CURRENT_USER; empty when unset.
  std::wstring AppKeyPath() const;

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

 private:
  std::wstring SectionPath(const std::wstring& section) const;
  UniqueRegKey OpenSection(const std::wstring& section) const;
  UniqueRegKey CreateSection(const std::wstring& section) const;
  std::optional<std::vector<uint8_t>> ReadValue(const std::wstring& section,
                                                const std::wstring& entry, DWORD wantedType) const;
  bool DeleteValue(const std::wstring& section, const std::wstring& entry) const;
  bool WriteValue(const std::wstring& section, const std::wstring& entry, DWORD type,
                  const void* data, size_t size) const;

  std::wstring registryKey_;
  std::wstring appName_;
};
