#include "config/machine_registry_win.h"

namespace {

// A value may grow between asking its size and reading it; a few retries cover that.
constexpr int kQueryAttempts = 4;

}  // namespace

int32_t LocalMachineRegistryKey::Open(const std::wstring& path) {
  HKEY key = nullptr;
  const LSTATUS result =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WRITE, &key);
  if (result != ERROR_SUCCESS) return result;
  key_.reset(key);
  return ERROR_SUCCESS;
}

int32_t LocalMachineRegistryKey::QueryValue(const std::wstring& name, uint32_t& type,
                                            std::vector<uint8_t>& data) {
  if (!key_) return ERROR_INVALID_HANDLE;
  LSTATUS result = ERROR_MORE_DATA;
  for (int attempt = 0; attempt < kQueryAttempts && result == ERROR_MORE_DATA; ++attempt) {
    DWORD size = 0;
    DWORD valueType = 0;
    result = RegQueryValueExW(key_.get(), name.c_str(), nullptr, &valueType, nullptr, &size);
    if (result != ERROR_SUCCESS) return result;
    data.resize(size);
    result = RegQueryValueExW(key_.get(), name.c_str(), nullptr, &valueType,
                              size ? data.data() : nullptr, &size);
    if (result == ERROR_SUCCESS) {
      data.resize(size);
      type = valueType;
    }
  }
  return result;
}

int32_t LocalMachineRegistryKey::SetValue(const std::wstring& name, uint32_t type,
                                          const std::vector<uint8_t>& data) {
  if (!key_) return ERROR_INVALID_HANDLE;
  return RegSetValueExW(key_.get(), name.c_str(), 0, type, data.data(),
                        static_cast<DWORD>(data.size()));
}

int32_t LocalMachineRegistryKey::EnumSubKey(uint32_t index, std::wstring& name) {
  if (!key_) return ERROR_INVALID_HANDLE;
  wchar_t buffer[registry::kMaxKeyNameChars + 1] = {};
  DWORD length = static_cast<DWORD>(std::size(buffer));
  const LSTATUS result =
      RegEnumKeyExW(key_.get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_SUCCESS) name.assign(buffer, length);
  return result;
}

uint32_t OperatingSystemMajorVersion() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return 0;
#pragma GCC diagnostic pop
  return info.dwMajorVersion;
}
