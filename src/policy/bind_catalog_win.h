// The provider catalog of this process's bitness, through the socket layer's configuration
// calls (a 32-bit process on 64-bit Windows sees the 32-bit catalog). Changing it needs
// administrator rights.
#pragma once

#include <winsock2.h>
#include <ws2spi.h>

#include <string>
#include <vector>

#include "policy/bind_catalog.h"

// Every protocol entry of the catalog, read again when it grew between sizing and reading. 0 or
// the socket layer's error. `enumerate` is the socket layer's WSCEnumProtocols, or a test's.
using EnumProtocolsFn = int(WSAAPI*)(LPINT, LPWSAPROTOCOL_INFOW, LPDWORD, LPINT);
int EnumerateProtocols(std::vector<WSAPROTOCOL_INFOW>& entries,
                       EnumProtocolsFn enumerate = WSCEnumProtocols);

// The path to register the module at `modulePath` under (CatalogModulePath): the path itself
// when it survives the ANSI code page with no character replaced and is shorter than MAX_PATH,
// else its short (8.3) form; empty when neither does.
std::wstring CatalogPathFor(const std::wstring& modulePath);

class SystemSocketCatalog : public SocketCatalog {
 public:
  int Entries(std::vector<CatalogEntry>& entries) override;
  int Install(const ProviderGuid& provider, const std::wstring& path,
              const std::vector<CatalogEntry>& entries) override;
  int Remove(const ProviderGuid& provider) override;
  int Update(const ProviderGuid& provider, const std::wstring& path,
             const std::vector<CatalogEntry>& entries) override;
  int WriteOrder(const std::vector<uint32_t>& ids) override;
};
