// Private-profile calls answered from the file itself through IniFile, with the observable
// behaviour of the system's calls (value trimming and quote stripping, defaults, truncation and
// return lengths). The program's implementation natively; on Windows the tests compare it with
// the system's.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "config/private_profile.h"

class IniFile;

class NativePrivateProfile final : public PrivateProfile {
 public:
  // The contents of a file when they are to come from elsewhere than the disk; nothing reads
  // the file itself.
  using Source = std::function<std::optional<std::string>(const std::wstring& file)>;

  NativePrivateProfile() = default;
  explicit NativePrivateProfile(Source source) : source_(std::move(source)) {}

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
  IniFile Load(const std::wstring& file) const;

  Source source_;
};
