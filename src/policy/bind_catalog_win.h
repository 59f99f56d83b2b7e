// The provider catalog of this process's bitness, through the socket layer's configuration
// calls (a 32-bit process on 64-bit Windows sees the 32-bit catalog). Changing it needs
// administrator rights.
#pragma once

#include "policy/bind_catalog.h"

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
