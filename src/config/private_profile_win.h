// Private-profile calls passed to the system, except the byte read (see the .cpp).
#pragma once

#include "config/native_private_profile.h"
#include "config/private_profile.h"

class WinPrivateProfile final : public PrivateProfile {
 public:
  uint32_t GetString(const std::wstring& section, const std::wstring& key,
                     const std::wstring& fallback, wchar_t* buffer, uint32_t size,
                     const std::wstring& file) override;
  uint32_t GetStringBytes(const std::string& section, const std::string& key,
                          const std::string& fallback, char* buffer, uint32_t size,
                          const std::string& file) override;
  bool WriteString(const std::wstring& section, const std::optional<std::wstring>& key,
                   const std::optional<std::wstring>& value, const std::wstring& file) override;
  uint32_t GetSectionNames(wchar_t* buffer, uint32_t size, const std::wstring& file) override;

 private:
  NativePrivateProfile rawReader_;
};
