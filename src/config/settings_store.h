// What the program remembers per user, kept in the registry profile: the saved credentials, the
// last choices of the policy dialog, the one-time connect tip and the hand-set proxy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "config/data_protection.h"
#include "config/registry_profile.h"

// Proxy for the OpenVPN connector, in the order the engine takes it.
struct ProxySettings {
  uint32_t type = 0;  // 0 none, 1 HTTP, 2 SOCKS
  std::wstring server;
  uint32_t port = 0;
  std::wstring username;
  std::wstring password;
};

class SettingsStore {
 public:
  SettingsStore(RegistryProfile& profile, DataProtection& protection);

  // State of the save-password box; checked until the user clears it.
  bool GetSavePassword();
  void SetSavePassword(bool save);

  std::wstring GetUsername();
  // The saved password, or nothing when none is saved or it cannot be unprotected.
  std::optional<std::wstring> LoadPassword();
  // Remembers the user name and the protected password. When protection fails no password is
  // kept, rather than leaving an older one beside the new name.
  void SaveCredentials(const std::wstring& username, const std::wstring& password);
  void ForgetCredentials();

  // Route-set code: -2 all traffic (the default), -3 chosen applications, n >= 0 route set n.
  int32_t GetLastVpnRouteIndex();
  void SetLastVpnRouteIndex(int32_t index);
  uint32_t GetLastVpnTabGroupIndex();
  void SetLastVpnTabGroupIndex(uint32_t index);
  // Server id, -1 for none.
  int32_t GetLastVpnServerId();
  void SetLastVpnServerId(int32_t id);
  // Tunnel type code, PPTP (1) unless chosen otherwise.
  int32_t GetVpnType();
  void SetVpnType(int32_t type);

  // Whether the one-time tip of the first Connect has been shown.
  bool GetTipHideAfterConnection();
  void SetTipHideAfterConnection(bool shown);

  // Whether a dropped tunnel is dialled again by itself; on until the user turns it off.
  bool GetAutoReconnect();
  void SetAutoReconnect(bool on);
  // The kill switch of route mode 1 (Main/KillSwitch); off when absent.
  bool GetKillSwitch();
  void SetKillSwitch(bool on);

  // Only ever set by hand; read at every connection attempt.
  ProxySettings GetProxy();

  // Screen position of the main window's top-left corner when the program last ended; nothing
  // before the first exit (or when the value is not ours).
  std::optional<std::pair<int32_t, int32_t>> GetMainWindowPosition();
  void SetMainWindowPosition(int32_t left, int32_t top);

 private:
  RegistryProfile& profile_;
  DataProtection& protection_;
};
