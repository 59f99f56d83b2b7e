#include "policy/bind_catalog_win.h"

#include <winsock2.h>
#include <ws2spi.h>
#include <sporder.h>

#include <algorithm>
#include <cstring>

namespace {

GUID ToGuid(const ProviderGuid& g) {
  GUID guid;
  guid.Data1 = g.data1;
  guid.Data2 = g.data2;
  guid.Data3 = g.data3;
  std::memcpy(guid.Data4, g.data4.data(), sizeof(guid.Data4));
  return guid;
}

ProviderGuid FromGuid(const GUID& guid) {
  ProviderGuid g;
  g.data1 = guid.Data1;
  g.data2 = guid.Data2;
  g.data3 = guid.Data3;
  std::memcpy(g.data4.data(), guid.Data4, sizeof(guid.Data4));
  return g;
}

CatalogEntry FromInfo(const WSAPROTOCOL_INFOW& info) {
  CatalogEntry e;
  e.serviceFlags = {info.dwServiceFlags1, info.dwServiceFlags2, info.dwServiceFlags3,
                    info.dwServiceFlags4};
  e.providerFlags = info.dwProviderFlags;
  e.provider = FromGuid(info.ProviderId);
  e.id = info.dwCatalogEntryId;
  e.chainLength = info.ProtocolChain.ChainLen;
  const int links = std::clamp(info.ProtocolChain.ChainLen, 0, MAX_PROTOCOL_CHAIN);
  std::copy_n(info.ProtocolChain.ChainEntries, links, e.chain.begin());
  e.version = info.iVersion;
  e.addressFamily = info.iAddressFamily;
  e.maxSockAddr = info.iMaxSockAddr;
  e.minSockAddr = info.iMinSockAddr;
  e.socketType = info.iSocketType;
  e.protocol = info.iProtocol;
  e.protocolMaxOffset = info.iProtocolMaxOffset;
  e.networkByteOrder = info.iNetworkByteOrder;
  e.securityScheme = info.iSecurityScheme;
  e.messageSize = info.dwMessageSize;
  e.providerReserved = info.dwProviderReserved;
  e.name.assign(info.szProtocol, wcsnlen(info.szProtocol, WSAPROTOCOL_LEN));
  return e;
}

WSAPROTOCOL_INFOW ToInfo(const CatalogEntry& e, const ProviderGuid& provider) {
  WSAPROTOCOL_INFOW info{};
  info.dwServiceFlags1 = e.serviceFlags[0];
  info.dwServiceFlags2 = e.serviceFlags[1];
  info.dwServiceFlags3 = e.serviceFlags[2];
  info.dwServiceFlags4 = e.serviceFlags[3];
  info.dwProviderFlags = e.providerFlags;
  info.ProviderId = ToGuid(provider);
  info.ProtocolChain.ChainLen = std::clamp(e.chainLength, 0, MAX_PROTOCOL_CHAIN);
  std::copy_n(e.chain.begin(), info.ProtocolChain.ChainLen, info.ProtocolChain.ChainEntries);
  info.iVersion = e.version;
  info.iAddressFamily = e.addressFamily;
  info.iMaxSockAddr = e.maxSockAddr;
  info.iMinSockAddr = e.minSockAddr;
  info.iSocketType = e.socketType;
  info.iProtocol = e.protocol;
  info.iProtocolMaxOffset = e.protocolMaxOffset;
  info.iNetworkByteOrder = e.networkByteOrder;
  info.iSecurityScheme = e.securityScheme;
  info.dwMessageSize = e.messageSize;
  info.dwProviderReserved = e.providerReserved;
  const size_t length = std::min<size_t>(e.name.size(), WSAPROTOCOL_LEN);
  std::copy_n(e.name.c_str(), length, info.szProtocol);
  return info;
}

std::wstring ProviderPath(const GUID& provider) {
  GUID id = provider;
  wchar_t path[MAX_PATH + 1] = {};
  int length = MAX_PATH;
  int error = 0;
  if (WSCGetProviderPath(&id, path, &length, &error) != 0) return {};
  return path;
}

// Whether the catalog keeps `path` as it is: its ANSI text, no character replaced, shorter than
// MAX_PATH.
bool CatalogKeeps(const std::wstring& path) {
  if (path.empty() || path.size() >= kCatalogPathLimit) return false;
  BOOL replaced = FALSE;
  char ansi[kCatalogPathLimit * 2] = {};
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(),
                                         static_cast<int>(path.size()), ansi, sizeof(ansi) - 1,
                                         nullptr, &replaced);
  if (length <= 0 || replaced || static_cast<size_t>(length) >= kCatalogPathLimit) return false;
  wchar_t back[kCatalogPathLimit] = {};
  const int wide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, length, back,
                                       static_cast<int>(kCatalogPathLimit) - 1);
  return wide > 0 && path == std::wstring(back, static_cast<size_t>(wide));
}

}  // namespace

int EnumerateProtocols(std::vector<WSAPROTOCOL_INFOW>& entries, EnumProtocolsFn enumerate) {
  // The catalog may grow between sizing and reading; then it is sized again.
  DWORD bytes = 0;
  int error = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    entries.resize(bytes / sizeof(WSAPROTOCOL_INFOW) + 1);
    bytes = static_cast<DWORD>(entries.size() * sizeof(WSAPROTOCOL_INFOW));
    const int count = enumerate(nullptr, entries.data(), &bytes, &error);
    if (count != SOCKET_ERROR) {
      entries.resize(std::min(static_cast<size_t>(count), entries.size()));
      return 0;
    }
    if (error != WSAENOBUFS) break;
  }
  entries.clear();
  return error != 0 ? error : WSANO_RECOVERY;
}

std::wstring CatalogPathFor(const std::wstring& modulePath) {
  std::wstring shortPath(MAX_PATH, L'\0');
  const DWORD length = GetShortPathNameW(modulePath.c_str(), shortPath.data(), MAX_PATH);
  shortPath.resize(length > 0 && length < MAX_PATH ? length : 0);
  return CatalogModulePath(modulePath, shortPath, CatalogKeeps);
}

int SystemSocketCatalog::Entries(std::vector<CatalogEntry>& entries) {
  std::vector<WSAPROTOCOL_INFOW> infos;
  if (const int error = EnumerateProtocols(infos)) return error;
  entries.clear();
  for (const WSAPROTOCOL_INFOW& info : infos) {
    CatalogEntry entry = FromInfo(info);
    entry.path = ProviderPath(info.ProviderId);
    entries.push_back(std::move(entry));
  }
  return 0;
}

int SystemSocketCatalog::Install(const ProviderGuid& provider, const std::wstring& path,
                                 const std::vector<CatalogEntry>& entries) {
  std::vector<WSAPROTOCOL_INFOW> infos;
  for (const CatalogEntry& e : entries) infos.push_back(ToInfo(e, provider));
  GUID id = ToGuid(provider);
  int error = 0;
  if (WSCInstallProvider(&id, path.c_str(), infos.data(), static_cast<DWORD>(infos.size()),
                         &error) != 0) {
    return error != 0 ? error : WSANO_RECOVERY;
  }
  return 0;
}

int SystemSocketCatalog::Update(const ProviderGuid& provider, const std::wstring& path,
                                const std::vector<CatalogEntry>& entries) {
  std::vector<WSAPROTOCOL_INFOW> infos;
  for (const CatalogEntry& e : entries) {
    infos.push_back(ToInfo(e, provider));
    infos.back().dwCatalogEntryId = e.id;
  }
  GUID id = ToGuid(provider);
  int error = 0;
  if (WSCUpdateProvider(&id, path.c_str(), infos.data(), static_cast<DWORD>(infos.size()),
                        &error) != 0) {
    return error != 0 ? error : WSANO_RECOVERY;
  }
  return 0;
}

int SystemSocketCatalog::Remove(const ProviderGuid& provider) {
  GUID id = ToGuid(provider);
  int error = 0;
  if (WSCDeinstallProvider(&id, &error) != 0) return error != 0 ? error : WSANO_RECOVERY;
  return 0;
}

int SystemSocketCatalog::WriteOrder(const std::vector<uint32_t>& ids) {
  std::vector<DWORD> order(ids.begin(), ids.end());
  // Answers the error itself rather than through an out parameter.
  return WSCWriteProviderOrder(order.data(), static_cast<DWORD>(order.size()));
}
