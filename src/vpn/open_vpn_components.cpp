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

TapAdapterProbe ProbeTapAdapter(std::unique_ptr<ConsoleChild> child, uint32_t boundMs) {
  CCConsoleRedirectorSimple redirector(std::move(child));
  if (!redirector.Start(BuildShowAdaptersCommandLine())) return TapAdapterProbe::kAbsent;
  // The reader thread ends only after the child has ended and its last output was read.
  if (!redirector.WaitForReader(boundMs)) {
    redirector.Stop();
    return TapAdapterProbe::kTimedOut;
  }
  return redirector.OutputContains("{") ? TapAdapterProbe::kPresent : TapAdapterProbe::kAbsent;
}

bool PrepareOpenVpnComponents(OpenVpnComponents& components, const std::wstring& moduleFolder,
                              const std::function<void(const char* textKey)>& showMessage) {
  if (!components.CheckOpenVpnComponents(moduleFolder)) {
    showMessage("VpnAppWithoutOpenVPNPleaseDownload");
    return false;
  }
  switch (components.HasTapAdapter()) {
    case TapAdapterProbe::kPresent:
      return true;
    case TapAdapterProbe::kTimedOut:
      showMessage("VpnAppWithoutOpenVPNPleaseDownload");
      return false;
    case TapAdapterProbe::kAbsent:
      break;
  }
  showMessage("InstallOpenVPNTapTip");
  components.InstallTapAdapter();
  if (components.HasTapAdapter() == TapAdapterProbe::kPresent) return true;
  showMessage("CannotInstallOpenVPN");
  return false;
}
