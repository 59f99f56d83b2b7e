// A provider catalog that behaves as the system's does: installs append with fresh ids, a GUID
// installs once, removal keeps the others' order, a new order must name every entry once. Any
// one call can be made to fail, and installs can be accepted without being kept (as a socket
// layer that takes no layered providers does).
#pragma once

#include <string>
#include <vector>

#include "policy/bind_catalog.h"

class FakeSocketCatalog : public SocketCatalog {
 public:
  static constexpr int kInvalid = 10022;     // WSAEINVAL
  static constexpr int kNoRecovery = 11003;  // WSANO_RECOVERY
  static constexpr int kInjected = 10055;    // WSAENOBUFS

  // Two IPv4 base entries of each kind we layer over, and some we do not.
  static FakeSocketCatalog Typical();

  int Entries(std::vector<CatalogEntry>& out) override;
  int Install(const ProviderGuid& provider, const std::wstring& path,
              const std::vector<CatalogEntry>& list) override;
  int Remove(const ProviderGuid& provider) override;
  int WriteOrder(const std::vector<uint32_t>& ids) override;

  CatalogEntry& Base(int family, int type, int protocol, const std::wstring& name);

  std::vector<CatalogEntry> entries;
  uint32_t nextId = 1001;
  int calls = 0;
  // The call (counted from 1) that fails with kInjected; 0 = none.
  int failCall = 0;
  bool keepInstalls = true;
  int writes = 0;  // successful installs, removals and orders

 private:
  bool Fails() { return ++calls == failCall; }
};
