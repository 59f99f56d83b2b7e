#include "config/settings_store.h"

#include "config/route_set_code.h"

namespace {

const std::wstring kMain = L"Main";
const std::wstring kProxy = L"Proxy";

}  // namespace

SettingsStore::SettingsStore(RegistryProfile& profile, DataProtection& protection)
    : profile_(profile), protection_(protection) {}

bool SettingsStore::GetSavePassword() {
  return profile_.GetProfileInt(kMain, L"SavePassword", 1) != 0;
}

void SettingsStore::SetSavePassword(bool save) {
  profile_.WriteProfileInt(kMain, L"SavePassword", save ? 1 : 0);
}

std::wstring SettingsStore::GetUsername() {
  return profile_.GetProfileString(kMain, L"Username", std::wstring());
}

std::optional<std::wstring> SettingsStore::LoadPassword() {
  const auto blob = profile_.GetProfileBinary(kMain, L"Password");
  if (!blob || blob->empty()) return std::nullopt;
  return protection_.Unprotect(*blob);
}

void SettingsStore::SaveCredentials(const std::wstring& username, const std::wstring& password) {
  profile_.WriteProfileString(kMain, L"Username", username);
  const auto blob = protection_.Protect(password);
  if (blob) {
    profile_.WriteProfileBinary(kMain, L"Password", *blob);
  } else {
    profile_.WriteProfileString(kMain, L"Password", std::nullopt);
  }
}

void SettingsStore::ForgetCredentials() {
  profile_.WriteProfileString(kMain, L"Username", std::nullopt);
  profile_.WriteProfileString(kMain, L"Password", std::nullopt);
}

int32_t SettingsStore::GetLastVpnRouteIndex() {
  return static_cast<int32_t>(profile_.GetProfileInt(kMain, L"LastVpnRouteIndex",
                                                     static_cast<uint32_t>(kRouteSetAllTraffic)));
}

void SettingsStore::SetLastVpnRouteIndex(int32_t index) {
  profile_.WriteProfileInt(kMain, L"LastVpnRouteIndex", static_cast<uint32_t>(index));
}

uint32_t SettingsStore::GetLastVpnTabGroupIndex() {
  return profile_.GetProfileInt(kMain, L"LastVpnTabGroupIndex", 0);
}

void SettingsStore::SetLastVpnTabGroupIndex(uint32_t index) {
  profile_.WriteProfileInt(kMain, L"LastVpnTabGroupIndex", index);
}

int32_t SettingsStore::GetLastVpnServerId() {
  return static_cast<int32_t>(
      profile_.GetProfileInt(kMain, L"LastVpnServerId", static_cast<uint32_t>(-1)));
}

void SettingsStore::SetLastVpnServerId(int32_t id) {
  profile_.WriteProfileInt(kMain, L"LastVpnServerId", static_cast<uint32_t>(id));
}

int32_t SettingsStore::GetVpnType() {
  return static_cast<int32_t>(profile_.GetProfileInt(kMain, L"VpnType", 1));
}

void SettingsStore::SetVpnType(int32_t type) {
  profile_.WriteProfileInt(kMain, L"VpnType", static_cast<uint32_t>(type));
}

bool SettingsStore::GetTipHideAfterConnection() {
  return profile_.GetProfileInt(kMain, L"Tip_HideAfterConnection", 0) != 0;
}

void SettingsStore::SetTipHideAfterConnection(bool shown) {
  profile_.WriteProfileInt(kMain, L"Tip_HideAfterConnection", shown ? 1 : 0);
}

bool SettingsStore::GetAutoReconnect() {
  return profile_.GetProfileInt(kMain, L"AutoReconnect", 1) != 0;
}

void SettingsStore::SetAutoReconnect(bool on) {
  profile_.WriteProfileInt(kMain, L"AutoReconnect", on ? 1 : 0);
}

bool SettingsStore::GetKillSwitch() { return profile_.GetProfileInt(kMain, L"KillSwitch", 0) != 0; }

void SettingsStore::SetKillSwitch(bool on) {
  profile_.WriteProfileInt(kMain, L"KillSwitch", on ? 1 : 0);
}

ProxySettings SettingsStore::GetProxy() {
  ProxySettings proxy;
  proxy.type = profile_.GetProfileInt(kProxy, L"Type", 0);
  proxy.server = profile_.GetProfileString(kProxy, L"Server", std::wstring());
  proxy.port = profile_.GetProfileInt(kProxy, L"Port", 0);
  proxy.username = profile_.GetProfileString(kProxy, L"Username", std::wstring());
  proxy.password = profile_.GetProfileString(kProxy, L"Password", std::wstring());
  return proxy;
}

// Two little-endian 32-bit numbers, left then top; they may be negative (a monitor left of or
// above the main one).
std::optional<std::pair<int32_t, int32_t>> SettingsStore::GetMainWindowPosition() {
  const auto blob = profile_.GetProfileBinary(kMain, L"WindowPosition");
  if (!blob || blob->size() != 8) return std::nullopt;
  auto read = [&](size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>((*blob)[at + i]) << (8 * i);
    return static_cast<int32_t>(value);
  };
  return std::make_pair(read(0), read(4));
}

void SettingsStore::SetMainWindowPosition(int32_t left, int32_t top) {
  std::vector<uint8_t> blob;
  for (const int32_t number : {left, top}) {
    const auto value = static_cast<uint32_t>(number);
    for (size_t i = 0; i < 4; ++i) blob.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  profile_.WriteProfileBinary(kMain, L"WindowPosition", blob);
}
