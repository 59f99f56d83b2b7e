#include "config/private_profile_win.h"

#include <windows.h>

uint32_t WinPrivateProfile::GetString(const std::wstring& section, const std::wstring& key,
                                      const std::wstring& fallback, wchar_t* buffer, uint32_t size,
                                      const std::wstring& file) {
  return GetPrivateProfileStringW(section.c_str(), key.c_str(), fallback.c_str(), buffer, size,
                                  file.c_str());
}

// The narrow system call is no way to get a file's bytes: it decodes the file with the ANSI
// code page and encodes the text again, which mangles UTF-8 that is not valid GBK (the last
// character of many Chinese titles). Our own reader, equal to the system's in every other
// respect, hands the bytes over untouched.
uint32_t WinPrivateProfile::GetStringBytes(const std::string& section, const std::string& key,
                                           const std::string& fallback, char* buffer, uint32_t size,
                                           const std::string& file) {
  return rawReader_.GetStringBytes(section, key, fallback, buffer, size, file);
}

bool WinPrivateProfile::WriteString(const std::wstring& section,
                                    const std::optional<std::wstring>& key,
                                    const std::optional<std::wstring>& value,
                                    const std::wstring& file) {
  return WritePrivateProfileStringW(section.c_str(), key ? key->c_str() : nullptr,
                                    value ? value->c_str() : nullptr, file.c_str()) != FALSE;
}

uint32_t WinPrivateProfile::GetSectionNames(wchar_t* buffer, uint32_t size,
                                            const std::wstring& file) {
  return GetPrivateProfileSectionNamesW(buffer, size, file.c_str());
}

PrivateProfile& SystemPrivateProfile() {
  static WinPrivateProfile profile;
  return profile;
}
