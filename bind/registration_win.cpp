#include "registration_win.h"

#include "base/unique_handle_win.h"
#include "policy/bind_catalog_win.h"

namespace {

// regsvr32 answers 0 when the entry point returned success.
constexpr DWORD kRegistrationWaitMs = 60000;

bool IsWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::wstring Folder(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// 0 when the 64-bit module's own entry point succeeded; otherwise the reason. A 32-bit process
// reaches the 64-bit system folder through "Sysnative".
DWORD Run64BitRegistration(const std::wstring& modulePath, bool install) {
  const std::wstring module64 = Folder(modulePath) + kBindModule64File;
  if (GetFileAttributesW(module64.c_str()) == INVALID_FILE_ATTRIBUTES) return ERROR_MOD_NOT_FOUND;
  wchar_t windows[MAX_PATH];
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return ERROR_PATH_NOT_FOUND;
  const std::wstring regsvr32 = std::wstring(windows, length) + L"\\Sysnative\\regsvr32.exe";
  std::wstring command =
      L"\"" + regsvr32 + L"\" /s " + (install ? L"" : L"/u ") + L"\"" + module64 + L"\"";

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(regsvr32.c_str(), command.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
    return GetLastError();
  }
  UniqueHandle thread(process.hThread);
  UniqueHandle child(process.hProcess);
  if (WaitForSingleObject(child.get(), kRegistrationWaitMs) != WAIT_OBJECT_0) {
    return ERROR_TIMEOUT;
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(child.get(), &exitCode)) return GetLastError();
  return exitCode == 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace

HRESULT RegisterBindModule(const std::wstring& modulePath) {
  SystemSocketCatalog catalog;
  if (const int error = InstallBindLayer(catalog, modulePath)) return HRESULT_FROM_WIN32(error);
  if (!IsWow64()) return S_OK;
  if (const DWORD error = Run64BitRegistration(modulePath, true)) {
    RemoveBindLayer(catalog);
    return HRESULT_FROM_WIN32(error);
  }
  return S_OK;
}

HRESULT UnregisterBindModule(const std::wstring& modulePath) {
  SystemSocketCatalog catalog;
  const int removed = RemoveBindLayer(catalog);
  if (!IsWow64()) return HRESULT_FROM_WIN32(removed);
  // The 64-bit run cannot tell "nothing there" from a failure. After our own registration both
  // catalogs hold the set or neither does, so a failure beside a set we removed here is real.
  const DWORD removed64 = Run64BitRegistration(modulePath, false);
  if (removed != 0 && removed != kNothingOfOurs) return HRESULT_FROM_WIN32(removed);
  if (removed64 == ERROR_SUCCESS) return S_OK;
  return HRESULT_FROM_WIN32(removed == kNothingOfOurs ? kNothingOfOurs : removed64);
}
