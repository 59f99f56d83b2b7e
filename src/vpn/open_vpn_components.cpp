#include "vpn/open_vpn_components.h"

#include <mutex>
#include <utility>

#include "vpn/console_redirector_simple.h"

namespace {

std::mutex& FolderLock() {
  static std::mutex lock;
  return lock;
}

std::wstring& FolderSlot() {
  static std::wstring folder;
  return folder;
}

}  // namespace

std::wstring OpenVpnFolder() {
  std::lock_guard lock(FolderLock());
  return FolderSlot();
}

void SetOpenVpnFolder(std::wstring folder) {
  std::lock_guard lock(FolderLock());
  FolderSlot() = std::move(folder);
}

bool CheckOpenVpnComponentFiles(const std::wstring& moduleFolder,
                                const std::function<bool(const std::wstring&)>& fileExists) {
  const std::wstring folder = moduleFolder + L"openvpn\\";
  SetOpenVpnFolder(folder);
  for (const wchar_t* name : kOpenVpnComponentFiles) {
    if (!fileExists(folder + name)) return false;
  }
  return true;
}

std::wstring BuildShowAdaptersCommandLine() {
  return L"\"" + OpenVpnFolder() + L"openvpn.exe\" --show-adapters";
}

std::wstring BuildTapInstallParameters() {
  return L"install \"" + OpenVpnFolder() + L"tap_kavrin.inf\" tap_kavrin";
}

bool ProbeTapAdapter(std::unique_ptr<ConsoleChild> child) {
  CCConsoleRedirectorSimple redirector(std::move(child));
  if (!redirector.Start(BuildShowAdaptersCommandLine())) return false;
  // The reader thread ends only after the child has ended and its last output was read.
  redirector.WaitForReader(kConsoleWaitForever);
  return redirector.OutputContains("{");
}

bool PrepareOpenVpnComponents(OpenVpnComponents& components, const std::wstring& moduleFolder,
                              const std::function<void(const char* textKey)>& showMessage) {
  if (!components.CheckOpenVpnComponents(moduleFolder)) {
    showMessage("VpnAppWithoutOpenVPNPleaseDownload");
    return false;
  }
  if (components.HasTapAdapter()) return true;
  showMessage("InstallOpenVPNTapTip");
  components.InstallTapAdapter();
  if (components.HasTapAdapter()) return true;
  showMessage("CannotInstallOpenVPN");
  return false;
}
