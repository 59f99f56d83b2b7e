// The per-user profile: values kept under the program's registry key, one sub-key per section.
// On Windows the framework's application object implements it (HKCU\software\Kavrin\Kavrin);
// tests use an in-memory fake.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class RegistryProfile {
 public:
  virtual ~RegistryProfile() = default;

  // Stored DWORD, or `fallback` when the value is absent or of another type.
  virtual uint32_t GetProfileInt(const std::wstring& section, const std::wstring& entry,
                                 uint32_t fallback) = 0;
  // Stored text, or `fallback` when absent.
  virtual std::wstring GetProfileString(const std::wstring& section, const std::wstring& entry,
                                        const std::wstring& fallback) = 0;
  // Stored bytes, or nothing when the value is absent.
  virtual std::optional<std::vector<uint8_t>> GetProfileBinary(const std::wstring& section,
                                                               const std::wstring& entry) = 0;

  // Writers report success. Writing no text (nullopt) deletes the value.
  virtual bool WriteProfileInt(const std::wstring& section, const std::wstring& entry,
                               uint32_t value) = 0;
  virtual bool WriteProfileString(const std::wstring& section, const std::wstring& entry,
                                  const std::optional<std::wstring>& value) = 0;
  virtual bool WriteProfileBinary(const std::wstring& section, const std::wstring& entry,
                                  const std::vector<uint8_t>& bytes) = 0;
};
