#include "framework/user_registry_profile_win.h"

#include <cstring>
#include <utility>

namespace {

// Read access for the queries, and only what a writer needs on top (no KEY_ALL_ACCESS, so a
// key with a tightened ACL still works as long as the user may set values in it).
constexpr REGSAM kWriteAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;

// The registry can change between the size query and the read; a few retries are enough.
constexpr int kReadAttempts = 4;

}  // namespace

CUserRegistryProfile::CUserRegistryProfile(std::wstring registryKey, std::wstring appName)
    : registryKey_(std::move(registryKey)), appName_(std::move(appName)) {}

std::wstring CUserRegistryProfile::AppKeyPath() const {
  if (registryKey_.empty() || appName_.empty()) return {};
  return L"Software\\" + registryKey_ + L"\\" + appName_;
}

std::wstring CUserRegistryProfile::SectionPath(const std::wstring& section) const {
  const std::wstring app = AppKeyPath();
  if (app.empty() || section.empty()) return {};
  return app + L"\\" + section;
}

UniqueRegKey CUserRegistryProfile::OpenSection(const std::wstring& section) const {
  UniqueRegKey key;
  const std::wstring path = SectionPath(section);
  if (path.empty()) return key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    key.release();
  }
  return key;
}

UniqueRegKey CUserRegistryProfile::CreateSection(const std::wstring& section) const {
  UniqueRegKey key;
  const std::wstring path = SectionPath(section);
  if (path.empty()) return key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      kWriteAccess, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    key.release();
  }
  return key;
}

std::optional<std::vector<uint8_t>> CUserRegistryProfile::ReadValue(const std::wstring& section,
                                                                    const std::wstring& entry,
                                                                    DWORD wantedType) const {
  UniqueRegKey key = OpenSection(section);
  if (!key) return std::nullopt;
  std::vector<uint8_t> data;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), entry.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != wantedType) {
      return std::nullopt;
    }
    data.resize(size);
    const LONG status = RegQueryValueExW(key.get(), entry.c_str(), nullptr, &type,
                                         size ? data.data() : nullptr, &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS || type != wantedType) return std::nullopt;
    data.resize(size);
    return data;
  }
  return std::nullopt;
}

bool CUserRegistryProfile::WriteValue(const std::wstring& section, const std::wstring& entry,
                                      DWORD type, const void* data, size_t size) const {
  if (size > MAXDWORD) return false;
  UniqueRegKey key = CreateSection(section);
  if (!key) return false;
  return RegSetValueExW(key.get(), entry.c_str(), 0, type, static_cast<const BYTE*>(data),
                        static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

bool CUserRegistryProfile::DeleteValue(const std::wstring& section,
                                       const std::wstring& entry) const {
  const std::wstring path = SectionPath(section);
  if (path.empty()) return false;
  UniqueRegKey key;
  LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, key.put());
  if (status == ERROR_SUCCESS) {
    status = RegDeleteValueW(key.get(), entry.c_str());
  } else {
    key.release();
  }
  // Forgetting a value (or a whole section) that is already gone leaves the profile as the
  // caller wants it.
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

uint32_t CUserRegistryProfile::GetProfileInt(const std::wstring& section, const std::wstring& entry,
                                             uint32_t fallback) {
  const auto data = ReadValue(section, entry, REG_DWORD);
  if (!data || data->size() != sizeof(DWORD)) return fallback;
  uint32_t value = 0;
  std::memcpy(&value, data->data(), sizeof(value));
  return value;
}

std::wstring CUserRegistryProfile::GetProfileString(const std::wstring& section,
                                                    const std::wstring& entry,
                                                    const std::wstring& fallback) {
  const auto data = ReadValue(section, entry, REG_SZ);
  if (!data) return fallback;
  // Stored data need not be terminated, nor even a whole number of characters: take the whole
  // characters there are and stop at the first NUL.
  std::wstring text(data->size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), data->data(), text.size() * sizeof(wchar_t));
  const size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  return text;
}

std::optional<std::vector<uint8_t>> CUserRegistryProfile::GetProfileBinary(
    const std::wstring& section, const std::wstring& entry) {
  return ReadValue(section, entry, REG_BINARY);
}

bool CUserRegistryProfile::WriteProfileInt(const std::wstring& section, const std::wstring& entry,
                                           uint32_t value) {
  const DWORD data = value;
  return WriteValue(section, entry, REG_DWORD, &data, sizeof(data));
}

bool CUserRegistryProfile::WriteProfileString(const std::wstring& section,
                                              const std::wstring& entry,
                                              const std::optional<std::wstring>& value) {
  if (!value) return DeleteValue(section, entry);
  return WriteValue(section, entry, REG_SZ, value->c_str(), (value->size() + 1) * sizeof(wchar_t));
}

bool CUserRegistryProfile::WriteProfileBinary(const std::wstring& section,
                                              const std::wstring& entry,
                                              const std::vector<uint8_t>& bytes) {
  return WriteValue(section, entry, REG_BINARY, bytes.data(), bytes.size());
}
