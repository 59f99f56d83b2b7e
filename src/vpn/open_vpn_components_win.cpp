#include "vpn/open_vpn_components_win.h"

#include <windows.h>
// Needs the types of <windows.h>.
#include <shellapi.h>

#include <memory>

#include "base/unique_handle_win.h"
#include "vpn/piped_console_child_win.h"

bool SystemOpenVpnComponents::CheckOpenVpnComponents(const std::wstring& moduleFolder) {
  return CheckOpenVpnComponentFiles(moduleFolder, [](const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  });
}

bool SystemOpenVpnComponents::HasTapAdapter() {
  return ProbeTapAdapter(std::make_unique<PipedConsoleChild>());
}

bool SystemOpenVpnComponents::InstallTapAdapter() {
  const std::wstring file = OpenVpnFolder() + L"tapinstall.exe";
  const std::wstring parameters = BuildTapInstallParameters();
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = L"";
  info.nShow = SW_HIDE;
  if (ShellExecuteExW(&info) && info.hProcess != nullptr) {
    UniqueHandle installer(info.hProcess);
    WaitForSingleObject(installer.get(), INFINITE);
  }
  return true;
}
