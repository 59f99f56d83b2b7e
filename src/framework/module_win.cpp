#include "framework/module_win.h"

#include <vector>

namespace {

std::wstring SystemFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  UINT length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
  }
  if (length == 0 || length >= buffer.size()) return {};
  std::wstring folder(buffer.data(), length);
  if (folder.back() != L'\\') folder += L'\\';
  return folder;
}

bool IsBareFileName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  return name.find_first_of(L"\\/:") == std::wstring::npos;
}

}  // namespace

UniqueModule LoadSystemModule(const std::wstring& name) {
  if (!IsBareFileName(name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return UniqueModule();
  }
  const std::wstring folder = SystemFolder();
  if (folder.empty()) return UniqueModule();
  // The module's own dependencies come from the system folder too, not from the program's
  // folder: through the search flags where the system has them (Vista and 7 with KB2533623,
  // every later one), through the altered search path, which starts in the module's folder,
  // where it refuses them as unknown.
  const std::wstring path = folder + name;
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return UniqueModule(module);
}

void HardenModuleSearchPath() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  // Every call is looked up because a static import would stop the program from starting on
  // systems older than they are (SetDllDirectoryW arrived with XP SP1, SetSearchPathMode with
  // Vista SP2 updates).
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
  using SetSearchPathModeFn = BOOL(WINAPI*)(DWORD);
  if (auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")))) {
    setDllDirectory(L"");
  }
  // Every later load by name looks in the program's own folder and the system folder, nothing
  // else: not the current folder, not PATH, not the Windows folder. Vista and 7 have it with
  // KB2533623, XP never; there the two steps around it are all there is.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  if (auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))) {
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  if (auto setSearchPathMode = reinterpret_cast<SetSearchPathModeFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "SetSearchPathMode")))) {
    setSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
  }
}
