#include "policy/machine_registry_win.h"

#include <windows.h>

#include "base/unique_handle_win.h"

namespace {

class SystemRegistryKey : public RegistryValueKey {
 public:
  explicit SystemRegistryKey(HKEY key) : key_(key) {}

  std::optional<uint32_t> ReadDword(const std::wstring& name) override {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value) {
      return std::nullopt;
    }
    return value;
  }

  bool WriteDword(const std::wstring& name, uint32_t value) override {
    const DWORD data = value;
    return RegSetValueExW(key_.get(), name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
  }

 private:
  UniqueRegKey key_;
};

}  // namespace

std::unique_ptr<RegistryValueKey> SystemMachineRegistry::OpenForWriting(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<SystemRegistryKey>(key);
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
