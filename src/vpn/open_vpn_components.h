// The OpenVPN component folder and the checks the policy step runs before it accepts an OpenVPN
// tunnel: are the outside programs and files there, is a TAP adapter installed, install one.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "vpn/console_child.h"

// The component folder: the program's folder followed by "openvpn\"; ends with a backslash.
// Set by the component check, which runs before any OpenVPN connection; read by the connector.
std::wstring OpenVpnFolder();
void SetOpenVpnFolder(std::wstring folder);

// The files that must all be in the component folder, in the order they are looked for.
inline constexpr const wchar_t* kOpenVpnComponentFiles[] = {
    L"openvpn.exe", L"ca.crt", L"tap_kavrin.inf", L"tap_kavrin.sys", L"tapinstall.exe"};

// Sets the component folder from `moduleFolder` (ending with a backslash) and asks `fileExists`
// about each component's full path, stopping at the first that is missing.
bool CheckOpenVpnComponentFiles(const std::wstring& moduleFolder,
                                const std::function<bool(const std::wstring&)>& fileExists);
// The adapter listing command for the current component folder.
std::wstring BuildShowAdaptersCommandLine();
// The installer's parameters for the current component folder.
std::wstring BuildTapInstallParameters();

// How long the outside programs may take before they are ended. A hung listing, or an
// installer waiting on a driver prompt nobody sees, must not hold the client for good.
struct OpenVpnComponentBounds {
  uint32_t listingMs = 30000;
  // Long enough for the user to find and allow the system's driver prompt.
  uint32_t installMs = 120000;
};

enum class TapAdapterProbe {
  kAbsent,    // the listing names no adapter, or could not be started
  kPresent,
  kTimedOut,  // the listing did not end within its bound and was ended
};

// Runs the adapter listing with `child` until it has ended, at most `boundMs`; adapters are
// listed with their GUIDs, so any "{" in the output means one exists.
TapAdapterProbe ProbeTapAdapter(std::unique_ptr<ConsoleChild> child, uint32_t boundMs);

class OpenVpnComponents {
 public:
  virtual ~OpenVpnComponents() = default;
  // True when every component file is in `moduleFolder` + "openvpn\"; sets OpenVpnFolder().
  virtual bool CheckOpenVpnComponents(const std::wstring& moduleFolder) = 0;
  virtual TapAdapterProbe HasTapAdapter() = 0;
  // Runs the driver installer and waits for it, ending it once its bound has passed. Its
  // outcome is judged by asking HasTapAdapter again, so this always answers true.
  virtual bool InstallTapAdapter() = 0;
};

// What the policy step does before it accepts an OpenVPN tunnel: the component check, then the
// adapter check with one installation attempt. `showMessage` gets the text key of each message
// to show (and return from) on the way. True when the tunnel may be used. A first listing that
// never ends means openvpn.exe itself does not work, which the component check's message says;
// after the installation any listing without an adapter is the installation's failure.
bool PrepareOpenVpnComponents(OpenVpnComponents& components, const std::wstring& moduleFolder,
                              const std::function<void(const char* textKey)>& showMessage);
