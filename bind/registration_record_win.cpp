#include "registration_record_win.h"

#include "framework/unique_handle_win.h"

namespace {

constexpr wchar_t kKeyPath[] = L"SOFTWARE\\Kavrin\\Bind";
constexpr wchar_t kValueName[] = L"ModulePath";

LSTATUS WriteUnder(HKEY root, const std::wstring& modulePath) {
  UniqueRegKey key;
  const LSTATUS status = RegCreateKeyExW(root, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  const DWORD bytes = static_cast<DWORD>((modulePath.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), kValueName, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(modulePath.c_str()), bytes);
}

bool IsRecordedUnder(HKEY root) {
  UniqueRegKey key;
  if (RegOpenKeyExW(root, kKeyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  return RegQueryValueExW(key.get(), kValueName, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

// ERROR_SUCCESS when a record was removed, ERROR_FILE_NOT_FOUND when there was none.
LSTATUS RemoveUnder(HKEY root) {
  UniqueRegKey key;
  const LSTATUS status = RegOpenKeyExW(root, kKeyPath, 0, KEY_SET_VALUE, key.put());
  if (status == ERROR_ACCESS_DENIED) {
    // A user without write access to the machine key must not be told the module is gone
    // while its machine-wide record is still there.
    return IsRecordedUnder(root) ? status : ERROR_FILE_NOT_FOUND;
  }
  if (status != ERROR_SUCCESS) return status;
  return RegDeleteValueW(key.get(), kValueName);
}

}  // namespace

HRESULT WriteRegistrationRecord(const std::wstring& modulePath) {
  if (WriteUnder(HKEY_LOCAL_MACHINE, modulePath) == ERROR_SUCCESS) return S_OK;
  const LSTATUS status = WriteUnder(HKEY_CURRENT_USER, modulePath);
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT RemoveRegistrationRecord() {
  const LSTATUS machine = RemoveUnder(HKEY_LOCAL_MACHINE);
  const LSTATUS user = RemoveUnder(HKEY_CURRENT_USER);
  for (const LSTATUS status : {machine, user}) {
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      return HRESULT_FROM_WIN32(status);
    }
  }
  if (machine == ERROR_FILE_NOT_FOUND && user == ERROR_FILE_NOT_FOUND) {
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  return S_OK;
}
