// "复制诊断信息": what the user hands to support with the connection log, as one text. Gathered
// on Windows (diagnostics_win), put together here so that what it holds, and what it never
// holds (a password), is decided and tested in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "policy/bind_catalog.h"
#include "service/adapter_list.h"

// The log lines the diagnostics carry.
inline constexpr size_t kDiagnosticsLogLines = 300;

// The connection's settings as the user left them; nothing secret.
struct ConnectionSettingsFacts {
  int32_t routeSet = 0;
  uint32_t tabGroup = 0;
  int32_t serverId = -1;
  int32_t tunnelType = 0;
  bool autoReconnect = false;
  bool killSwitch = false;
  bool savePassword = false;
  uint32_t proxyType = 0;
  std::wstring proxyServer;
  uint32_t proxyPort = 0;
  bool proxyUserSet = false;
  std::vector<std::wstring> loginHosts;
};

ConnectionSettingsFacts ReadConnectionSettings(SettingsStore& store,
                                               std::vector<std::wstring> loginHosts);
// What the text must never show: the saved password and the proxy's, as far as they can be read.
std::vector<std::wstring> SettingsSecrets(SettingsStore& store);

// Our entries in the socket layer's provider catalog.
struct BindCatalogFacts {
  // The catalog could not be read: its error (the rest is then empty).
  int readError = 0;
  size_t entries = 0;
  size_t ourEntries = 0;
  // The whole set for the module's path, in order (HasBindLayer).
  bool wholeSet = false;
  struct First {
    const wchar_t* kind = L"";
    // Which entry a program asking for this kind of socket gets: its name, and whether its
    // chain leads through our layer. Empty name: the catalog has none of the kind.
    std::wstring name;
    bool ours = false;
  };
  // IPv4 TCP, IPv4 UDP, IPv6 TCP, IPv6 UDP.
  std::vector<First> first;
};

BindCatalogFacts DescribeBindCatalog(int readError, const std::vector<CatalogEntry>& entries,
                                     const std::wstring& modulePath);

struct DiagnosticsFacts {
  std::wstring programVersion;
  std::wstring buildDate;
  // Version and build of Windows as the system reports it, with the way it was read.
  std::wstring windowsVersion;
  // The machine's (not this process's) processor architecture, and this process's.
  std::wstring systemArchitecture;
  std::wstring processArchitecture;
  // Nothing when the list could not be read.
  std::optional<std::vector<AdapterRecord>> adapters;
  BindCatalogFacts catalog;
  ConnectionSettingsFacts settings;
  // False when the data folder is not the program's own: no log is kept.
  bool logKept = true;
  std::vector<std::wstring> logLines;
  // Texts replaced by "******" wherever they appear.
  std::vector<std::wstring> secrets;
};

// The text, CRLF line ends.
std::wstring FormatDiagnostics(const DiagnosticsFacts& facts);

// `text` with every occurrence of each non-empty secret replaced by "******".
std::wstring RedactSecrets(std::wstring text, const std::vector<std::wstring>& secrets);
