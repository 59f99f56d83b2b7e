#include "app/diagnostics.h"

#include <algorithm>

#include "config/route_set_code.h"

namespace {

constexpr wchar_t kEol[] = L"\r\n";
constexpr wchar_t kRedacted[] = L"******";

std::wstring YesNo(bool value) { return value ? L"yes" : L"no"; }
std::wstring OnOff(bool value) { return value ? L"on" : L"off"; }

std::wstring RouteSetText(int32_t code) {
  switch (code) {
    case kRouteSetNone:
      return L"none";
    case kRouteSetAllTraffic:
      return L"all traffic";
    case kRouteSetApplications:
      return L"chosen applications";
    default:
      return (code >= 0 ? L"route set " : L"unknown ") + std::to_wstring(code);
  }
}

std::wstring TunnelTypeText(int32_t type) {
  const wchar_t* names[] = {L"", L"PPTP", L"L2TP", L"OpenVPN"};
  const std::wstring number = L" (" + std::to_wstring(type) + L")";
  return type >= 1 && type <= 3 ? names[type] + number : L"unknown" + number;
}

std::wstring ProxyText(const ConnectionSettingsFacts& s) {
  if (s.proxyType == 0) return L"none";
  std::wstring text = s.proxyType == 1   ? L"HTTP "
                      : s.proxyType == 2 ? L"SOCKS "
                                         : L"type " + std::to_wstring(s.proxyType) + L" ";
  text += s.proxyServer + L":" + std::to_wstring(s.proxyPort);
  if (s.proxyUserSet) text += L", with a user name";
  return text;
}

// The system's interface type numbers that support most often sees.
std::wstring AdapterTypeText(uint32_t type) {
  switch (type) {
    case 6:
      return L"Ethernet";
    case 23:
      return L"PPP";
    case 24:
      return L"loopback";
    case 71:
      return L"wireless";
    case 131:
      return L"tunnel";
    default:
      return L"type " + std::to_wstring(type);
  }
}

std::wstring NarrowToWide(const std::string& text) {
  // The adapter's description as the system gave it; bytes beyond ASCII are shown as they come.
  std::wstring wide;
  for (const char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

std::wstring CatalogText(const BindCatalogFacts& catalog) {
  if (catalog.readError != 0) {
    return L"Socket catalog: could not be read (error " + std::to_wstring(catalog.readError) +
           L")" + kEol;
  }
  std::wstring text = L"Socket catalog: " + std::to_wstring(catalog.entries) + L" entries, " +
                      std::to_wstring(catalog.ourEntries) + L" of ours; whole set present: " +
                      YesNo(catalog.wholeSet) + kEol;
  for (const BindCatalogFacts::First& first : catalog.first) {
    text += L"  first for " + std::wstring(first.kind) + L": ";
    text += first.name.empty() ? L"none" : (first.ours ? L"ours" : L"not ours") +
                                               std::wstring(L" (") + first.name + L")";
    text += kEol;
  }
  return text;
}

}  // namespace

ConnectionSettingsFacts ReadConnectionSettings(SettingsStore& store,
                                               std::vector<std::wstring> loginHosts) {
  ConnectionSettingsFacts facts;
  facts.routeSet = store.GetLastVpnRouteIndex();
  facts.tabGroup = store.GetLastVpnTabGroupIndex();
  facts.serverId = store.GetLastVpnServerId();
  facts.tunnelType = store.GetVpnType();
  facts.autoReconnect = store.GetAutoReconnect();
  facts.killSwitch = store.GetKillSwitch();
  facts.savePassword = store.GetSavePassword();
  const ProxySettings proxy = store.GetProxy();
  facts.proxyType = proxy.type;
  facts.proxyServer = proxy.server;
  facts.proxyPort = proxy.port;
  facts.proxyUserSet = !proxy.username.empty();
  facts.loginHosts = std::move(loginHosts);
  return facts;
}

std::vector<std::wstring> SettingsSecrets(SettingsStore& store) {
  std::vector<std::wstring> secrets;
  if (std::optional<std::wstring> saved = store.LoadPassword()) secrets.push_back(*saved);
  secrets.push_back(store.GetProxy().password);
  return secrets;
}

BindCatalogFacts DescribeBindCatalog(int readError, const std::vector<CatalogEntry>& entries,
                                     const std::wstring& modulePath) {
  BindCatalogFacts facts;
  facts.readError = readError;
  if (readError != 0) return facts;
  facts.entries = entries.size();
  facts.ourEntries = static_cast<size_t>(std::count_if(
      entries.begin(), entries.end(), [](const CatalogEntry& e) { return IsBindGuid(e.provider); }));
  facts.wholeSet = HasBindLayer(entries, modulePath);
  const auto layer = std::find_if(entries.begin(), entries.end(), [](const CatalogEntry& e) {
    return e.provider == kBindLayerGuid && e.chainLength == CatalogEntry::kLayered;
  });
  struct Kind {
    const wchar_t* name;
    int family, type, protocol;
  };
  for (const Kind& kind : {Kind{L"IPv4 TCP", kAfInet, kSockStream, kIpProtoTcp},
                           Kind{L"IPv4 UDP", kAfInet, kSockDgram, kIpProtoUdp},
                           Kind{L"IPv6 TCP", kAfInet6, kSockStream, kIpProtoTcp},
                           Kind{L"IPv6 UDP", kAfInet6, kSockDgram, kIpProtoUdp}}) {
    BindCatalogFacts::First first;
    first.kind = kind.name;
    // The socket layer gives a program the first entry in catalog order that matches.
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const CatalogEntry& e) {
      return e.chainLength != CatalogEntry::kLayered && e.addressFamily == kind.family &&
             e.socketType == kind.type && e.protocol == kind.protocol;
    });
    if (found != entries.end()) {
      first.name = found->name.empty() ? L"?" : found->name;
      const int length = std::clamp(found->chainLength, 0, static_cast<int>(found->chain.size()));
      first.ours = IsBindGuid(found->provider) ||
                   (layer != entries.end() &&
                    std::find(found->chain.begin(), found->chain.begin() + length, layer->id) !=
                        found->chain.begin() + length);
    }
    facts.first.push_back(std::move(first));
  }
  return facts;
}

std::wstring FormatDiagnostics(const DiagnosticsFacts& facts) {
  std::wstring text = L"OrumaVPN diagnostics";
  text += kEol;
  text += L"Program: " + facts.programVersion;
  if (!facts.buildDate.empty()) text += L" (built " + facts.buildDate + L")";
  text += kEol;
  text += L"Windows: " + facts.windowsVersion + L", " + facts.systemArchitecture +
          L" (program: " + facts.processArchitecture + L")" + kEol;

  if (!facts.adapters) {
    text += L"Adapters: could not be read";
    text += kEol;
  } else {
    text += L"Adapters: " + std::to_wstring(facts.adapters->size()) + kEol;
    for (const AdapterRecord& adapter : *facts.adapters) {
      text += L"  " + AdapterTypeText(adapter.type) + L": " + NarrowToWide(adapter.description) +
              kEol;
    }
  }
  text += CatalogText(facts.catalog);

  const ConnectionSettingsFacts& s = facts.settings;
  text += L"Connection settings:";
  text += kEol;
  text += L"  route set: " + RouteSetText(s.routeSet) + L", region tab " +
          std::to_wstring(s.tabGroup) + kEol;
  text += L"  server: " + (s.serverId < 0 ? std::wstring(L"none") : std::to_wstring(s.serverId)) +
          kEol;
  text += L"  tunnel type: " + TunnelTypeText(s.tunnelType) + kEol;
  text += L"  reconnect after a drop: " + OnOff(s.autoReconnect) + kEol;
  text += L"  kill switch: " + OnOff(s.killSwitch) + kEol;
  text += L"  save password: " + OnOff(s.savePassword) + kEol;
  text += L"  proxy: " + ProxyText(s) + kEol;
  text += L"  login hosts: ";
  for (size_t i = 0; i < s.loginHosts.size(); ++i) text += (i ? L"; " : L"") + s.loginHosts[i];
  text += kEol;

  if (!facts.logKept) {
    text += L"Connection log: not kept (the data folder is not the program's own)";
    text += kEol;
  } else {
    text += L"Connection log (last " + std::to_wstring(facts.logLines.size()) + L" lines):" + kEol;
    for (const std::wstring& line : facts.logLines) text += line + kEol;
  }
  return RedactSecrets(std::move(text), facts.secrets);
}

std::wstring RedactSecrets(std::wstring text, const std::vector<std::wstring>& secrets) {
  // Longest first, so a secret that contains another is hidden whole.
  std::vector<std::wstring> order(secrets);
  std::sort(order.begin(), order.end(),
            [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  for (const std::wstring& secret : order) {
    if (secret.empty()) continue;
    for (size_t at = text.find(secret); at != std::wstring::npos;
         at = text.find(secret, at + std::size(kRedacted) - 1)) {
      text.replace(at, secret.size(), kRedacted);
    }
  }
  return text;
}
