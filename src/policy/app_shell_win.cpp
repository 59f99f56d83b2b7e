#include "policy/app_shell_win.h"

#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "config/program_data_folder_win.h"
#include "framework/module_win.h"
#include "vpn/route_request_pipe_server_win.h"

namespace {

constexpr DWORD kPathCapacity = 520;
constexpr int kInstallStateLocal = 3;  // INSTALLSTATE_LOCAL
// No window, no update of the link, no tracking, no link information, and let the installer
// repair an advertised target.
constexpr DWORD kResolveFlags = DWORD{SLR_NO_UI} | DWORD{SLR_NOUPDATE} | DWORD{SLR_NOTRACK} |
                                DWORD{SLR_NOLINKINFO} | DWORD{SLR_INVOKE_MSI};
static_assert(kResolveFlags == 0xE9);

using MsiGetShortcutTargetFn = UINT(WINAPI*)(LPCWSTR, LPWSTR, LPWSTR, LPWSTR);
using MsiGetComponentPathFn = INT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);

bool Exists(const std::wstring& path) {
  return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Loaded once, from the system folder, and kept: shortcuts are resolved again at every load.
HMODULE InstallerModule() {
  if (HMODULE loaded = GetModuleHandleW(L"msi.dll")) return loaded;
  static UniqueModule module = LoadSystemModule(L"msi.dll");
  return module.get();
}

bool ResolveInstallerShortcut(const std::wstring& shortcut, std::wstring& target) {
  const HMODULE msi = InstallerModule();
  if (msi == nullptr) return false;
  const auto getTarget = reinterpret_cast<MsiGetShortcutTargetFn>(
      reinterpret_cast<void*>(GetProcAddress(msi, "MsiGetShortcutTargetW")));
  const auto getPath = reinterpret_cast<MsiGetComponentPathFn>(
      reinterpret_cast<void*>(GetProcAddress(msi, "MsiGetComponentPathW")));
  if (getTarget == nullptr || getPath == nullptr) return false;
  wchar_t product[39] = {};
  wchar_t component[39] = {};
  if (getTarget(shortcut.c_str(), product, nullptr, component) != ERROR_SUCCESS) return false;
  std::vector<wchar_t> path(kPathCapacity, L'\0');
  DWORD size = kPathCapacity;
  if (getPath(product, component, path.data(), &size) != kInstallStateLocal) return false;
  target.assign(path.data());
  return true;
}

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (pointer_) pointer_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }
  void** put() { return reinterpret_cast<void**>(&pointer_); }

 private:
  Interface* pointer_ = nullptr;
};

bool ResolveShellLink(const std::wstring& shortcut, std::wstring& target) {
  ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_ALL, IID_IShellLinkW,
                              link.put()))) {
    return false;
  }
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put()))) return false;
  if (FAILED(file->Load(shortcut.c_str(), STGM_READ))) return false;
  if (FAILED(link->Resolve(nullptr, kResolveFlags))) return false;
  std::vector<wchar_t> path(kPathCapacity, L'\0');
  if (FAILED(link->GetPath(path.data(), static_cast<int>(path.size()), nullptr,
                           SLGP_UNCPRIORITY))) {
    return false;
  }
  std::wstring resolved(path.data());
  if (!Exists(resolved)) return false;
  target = std::move(resolved);
  return true;
}

}  // namespace

bool ResolveShortcutTarget(const std::wstring& shortcut, std::wstring& target) {
  if (!Exists(shortcut)) return false;
  if (ResolveInstallerShortcut(shortcut, target)) return true;
  return ResolveShellLink(shortcut, target);
}

bool SystemAppShell::ResolveShortcut(const std::wstring& shortcut, std::wstring& target) {
  return ResolveShortcutTarget(shortcut, target);
}

void SystemAppShell::LowerIntegrity(const std::wstring& file) {
  // The label is set by name: only on a file that is ours alone in a folder of ours, so it can
  // never land on whatever someone else's link leads to (the data folder may not be ours).
  const size_t cut = file.find_last_of(L"\\/");
  if (cut == std::wstring::npos ||
      !IsOwnFileInOwnFolder(SystemFolderSecurityInstance(), file.substr(0, cut + 1),
                            file.substr(cut + 1))) {
    return;
  }
  SetLowIntegrityLabel(file);
}

HIMAGELIST SystemImageList(bool small) {
  SHFILEINFOW info = {};
  return reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoW(L"C:\\", 0, &info, sizeof(info),
                     SHGFI_SYSICONINDEX | (small ? SHGFI_SMALLICON : SHGFI_LARGEICON)));
}

int SystemIconIndex(const std::wstring& path) {
  SHFILEINFOW info = {};
  if (SHGetFileInfoW(path.c_str(), 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON)) {
    return info.iIcon;
  }
  if (SHGetFileInfoW(path.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof(info),
                     SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES)) {
    return info.iIcon;
  }
  return 0;
}

std::wstring ShellFolderPath(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return {};
  return path;
}

std::wstring ChooseApplicationFile(HWND owner, const std::wstring& folder,
                                   const std::wstring& filter) {
  std::wstring patterns = filter;
  for (wchar_t& c : patterns) {
    if (c == L'|') c = L'\0';
  }
  patterns.push_back(L'\0');
  std::vector<wchar_t> chosen(kPathCapacity, L'\0');
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = patterns.c_str();
  dialog.lpstrFile = chosen.data();
  dialog.nMaxFile = static_cast<DWORD>(chosen.size());
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST;
  if (!GetOpenFileNameW(&dialog)) return {};
  return chosen.data();
}
