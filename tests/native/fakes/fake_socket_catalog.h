// A provider catalog that behaves as the system's does ("WSCInstallProvider", "WSCUpdateProvider",
// "WSCDeinstallProvider", "WSCWriteProviderOrder" on Microsoft Learn): installs append with fresh
// ids, a GUID installs once, an entry's chain may name only entries that are there (layered
// entries above, a base last), an update rewrites a GUID's entries in place, removal keeps the
// others' order and, like the system, does not look at chains that name what it removes (Broken
// finds them), a new order must name every entry once. Any one call can be made to fail, and
// installs can be accepted without being kept (as a socket layer that takes no layered
// providers does). Paths are kept as the catalog keeps them, ANSI text shorter than MAX_PATH
// (ReactOS's ws2_32 and the SDK's layered-provider sample read them back through the ANSI
// "LibraryPath" value): longer ones are cut, letters outside the code page become '?'. The
// IPv6 base entries of the TCP/IP provider carry a provider GUID of their own, as on Windows.
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
  int Update(const ProviderGuid& provider, const std::wstring& path,
             const std::vector<CatalogEntry>& list) override;

  // The system's TCP/IP provider, whose base entries we layer over.
  static constexpr ProviderGuid kTcpip{0xE70F1AA0, 0xAB8B, 0x11CF, {0x8C, 0xA3, 0, 0x80, 0x5F, 0x48, 0xA1, 0x92}};
  static constexpr ProviderGuid kTcpip6{0xF9EAB0C0, 0x26D4, 0x11D0, {0xBB, 0xBF, 0, 0xAA, 0, 0x6C, 0x34, 0xE4}};
  static constexpr wchar_t kTcpipPath[] = L"%SystemRoot%\\system32\\mswsock.dll";
  // A base entry; the TCP/IP provider's (its IPv6 entries under their GUID) unless `provider`
  // and `path` say otherwise.
  CatalogEntry& Base(int family, int type, int protocol, const std::wstring& name,
                     const ProviderGuid* provider = nullptr, const wchar_t* path = kTcpipPath);
  // Another vendor's layered entry alone, under `provider`: its id (chains name it as tests
  // build them, above ours or below).
  uint32_t InstallLayerEntry(const ProviderGuid& provider);
  // Another vendor's layered provider over the bases `baseIds`, installed as such vendors do:
  // its layered entry, one chain per base, the chains put first.
  void InstallForeignLayer(const ProviderGuid& provider, const std::vector<uint32_t>& baseIds);
  // What the catalog keeps of a path.
  static std::wstring Kept(const std::wstring& path);
  // Entries whose chain names an entry that is not there: every socket of theirs would fail.
  std::vector<CatalogEntry> Broken() const;
  // Whether a chain of `provider` over `baseId` is the first entry for its kind of socket.
  bool ServesFirst(const ProviderGuid& provider, uint32_t baseId) const;

  std::vector<CatalogEntry> entries;
  uint32_t nextId = 1001;
  int calls = 0;
  // The call (counted from 1) that fails with kInjected; 0 = none.
  int failCall = 0;
  bool keepInstalls = true;
  int writes = 0;  // successful installs, removals and orders

 private:
  bool Fails() { return ++calls == failCall; }
  bool ChainsValid(const std::vector<CatalogEntry>& list) const;
};
