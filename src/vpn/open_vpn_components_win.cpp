#include "vpn/open_vpn_components_win.h"

#include <windows.h>
// Needs the types of <windows.h>.
#include <shellapi.h>

#include <memory>

#include "base/unique_handle_win.h"
#include "vpn/piped_console_child_win.h"

namespace {

// Termination is asynchronous; the process is normally gone well within this.
constexpr DWORD kEndedInstallerWaitMs = 5000;

}  // namespace

bool SystemOpenVpnComponents::CheckOpenVpnComponents(const std::wstring& moduleFolder) {
  return CheckOpenVpnComponentFiles(moduleFolder, [](const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  });
}

TapAdapterProbe SystemOpenVpnComponents::HasTapAdapter() {
  return ProbeTapAdapter(std::make_unique<PipedConsoleChild>(), bounds_.listingMs);
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
    if (WaitForSingleObject(installer.get(), bounds_.installMs) == WAIT_TIMEOUT) {
      // Ended, so the adapter check that judges the installation does not race a late finish.
      TerminateProcess(installer.get(), ERROR_TIMEOUT);
      WaitForSingleObject(installer.get(), kEndedInstallerWaitMs);
    }
  }
  return true;
}
