#include "policy/bind_module_win.h"

#include <windows.h>

#include <utility>

#include "base/file_path.h"
#include "policy/bind_catalog_win.h"

namespace {

using RegistrationEntry = HRESULT(__stdcall*)();
using StartEntry = void(__stdcall*)(DWORD, DWORD);
using StopEntry = void(__stdcall*)();

constexpr int kNotFound = 1;

std::wstring ProgramFolder() {
  constexpr size_t kLongestPath = 32768;
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= kLongestPath) return {};
    path.resize(path.size() * 2);
  }
  return FolderOf(path);
}

// The file a bare name stands for, as LoadModuleFile finds it.
std::wstring ModuleFilePath(const std::wstring& moduleFile) {
  if (moduleFile.find_first_of(L"\\/:") != std::wstring::npos) return moduleFile;
  const std::wstring folder = ProgramFolder();
  return folder.empty() ? std::wstring() : folder + moduleFile;
}

// The client runs elevated. Left to the normal search order, a bare name that is missing from
// the program folder would next be looked for in the system folders, the current folder and
// PATH, where anyone could have put a file of that name; so only the program folder is tried.
HMODULE LoadModuleFile(const std::wstring& moduleFile) {
  const std::wstring path = ModuleFilePath(moduleFile);
  return path.empty() ? nullptr : LoadLibraryW(path.c_str());
}

template <typename Entry>
Entry FindEntry(HMODULE module, const char* name) {
  return reinterpret_cast<Entry>(GetProcAddress(module, name));
}

HMODULE LoadedModule(const std::wstring& moduleFile) {
  return moduleFile.empty() ? nullptr : GetModuleHandleW(moduleFile.c_str());
}

}  // namespace

SystemBindModule::SystemBindModule(std::wstring moduleFile) : moduleFile_(std::move(moduleFile)) {}

int SystemBindModule::Register(bool install) {
  // Never freed: the client relies on the module staying loaded (start-up's presence test and
  // the later start look for it in the process).
  const HMODULE module = LoadModuleFile(moduleFile_);
  if (module == nullptr) return kNotFound;
  const auto entry =
      FindEntry<RegistrationEntry>(module, install ? "DllRegisterServer" : "DllUnregisterServer");
  if (entry == nullptr) return kNotFound;
  return static_cast<int>(entry());
}

bool SystemBindModule::IsLoaded(const std::wstring& moduleFile) {
  return LoadedModule(moduleFile) != nullptr;
}

bool SystemBindModule::IsRegistered() {
  const std::wstring path = ModuleFilePath(moduleFile_);
  SystemSocketCatalog catalog;
  std::vector<CatalogEntry> entries;
  // Registered under the path the catalog can keep, perhaps the short one.
  const std::wstring catalogPath = path.empty() ? path : CatalogPathFor(path);
  return !catalogPath.empty() && catalog.Entries(entries) == 0 &&
         HasBindLayer(entries, catalogPath);
}

bool SystemBindModule::Start(uint32_t count, uint32_t localAddress) {
  const HMODULE module = LoadedModule(moduleFile_);
  if (module == nullptr) return false;
  const auto entry = FindEntry<StartEntry>(module, "VpnBindStart");
  if (entry == nullptr) return false;
  entry(count, localAddress);
  return true;
}

bool SystemBindModule::Stop() {
  const HMODULE module = LoadedModule(moduleFile_);
  if (module == nullptr) return false;
  const auto entry = FindEntry<StopEntry>(module, "VpnBindStop");
  if (entry == nullptr) return false;
  entry();
  return true;
}
