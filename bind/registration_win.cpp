#include "registration_win.h"

#include <string_view>

#include "base/unique_handle_win.h"
#include "policy/bind_catalog_win.h"

namespace {

// regsvr32 answers 0 when the entry point returned success.
constexpr DWORD kRegistrationWaitMs = 60000;

bool IsWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// The 64-bit twin beside the module at `path`: "KavrinBind64.dll" for "KavrinBind.dll", and for
// the versioned copy an upgrade registers first ("KavrinBind.<version>.dll") its own twin
// ("KavrinBind64.<version>.dll"), so neither catalog ever names a file an upgrade moves aside.
std::wstring Twin64(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
  const std::wstring file = slash == std::wstring::npos ? path : path.substr(slash + 1);
  constexpr std::wstring_view kStem = L"KavrinBind.";
  if (file.size() > kStem.size() &&
      CompareStringOrdinal(file.c_str(), static_cast<int>(kStem.size()), kStem.data(),
                           static_cast<int>(kStem.size()), TRUE) == CSTR_EQUAL) {
    return folder + L"KavrinBind64." + file.substr(kStem.size());
  }
  return folder + kBindModule64File;
}

// 0 when the 64-bit module's own entry point succeeded; otherwise the reason. A 32-bit process
// reaches the 64-bit system folder through "Sysnative".
DWORD Run64BitRegistration(const std::wstring& modulePath, bool install) {
  const std::wstring module64 = Twin64(modulePath);
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
  // A folder whose name the ANSI code page cannot spell, or too deep for MAX_PATH, and with no
  // short name either: refused before anything is written ("The specified path is invalid").
  const std::wstring catalogPath = CatalogPathFor(modulePath);
  if (catalogPath.empty()) return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
  SystemSocketCatalog catalog;
  if (const int error = InstallBindLayer(catalog, catalogPath)) return HRESULT_FROM_WIN32(error);
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
