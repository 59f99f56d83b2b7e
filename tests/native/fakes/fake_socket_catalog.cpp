#include "fakes/fake_socket_catalog.h"

#include <algorithm>
#include <set>

FakeSocketCatalog FakeSocketCatalog::Typical() {
  FakeSocketCatalog catalog;
  catalog.Base(kAfInet, kSockStream, kIpProtoTcp, L"MSAFD Tcpip [TCP/IP]").serviceFlags[0] =
      0x00066 | kXp1IfsHandles;
  catalog.Base(kAfInet, kSockDgram, kIpProtoUdp, L"MSAFD Tcpip [UDP/IP]");
  catalog.Base(23, kSockStream, kIpProtoTcp, L"MSAFD Tcpip [TCP/IPv6]");
  catalog.Base(kAfInet, 3, 0, L"MSAFD Tcpip [RAW/IP]");
  catalog.Base(kAfInet, kSockStream, kIpProtoTcp, L"RSVP TCP Service Provider");
  catalog.Base(kAfInet, kSockDgram, kIpProtoUdp, L"RSVP UDP Service Provider");
  return catalog;
}

CatalogEntry& FakeSocketCatalog::Base(int family, int type, int protocol,
                                      const std::wstring& name) {
  CatalogEntry entry;
  entry.provider = {nextId, 1, 2, {}};
  entry.id = nextId++;
  entry.chain[0] = entry.id;
  entry.addressFamily = family;
  entry.socketType = type;
  entry.protocol = protocol;
  entry.name = name;
  entry.path = L"%SystemRoot%\\system32\\mswsock.dll";
  entries.push_back(entry);
  return entries.back();
}

int FakeSocketCatalog::Entries(std::vector<CatalogEntry>& out) {
  if (Fails()) return kInjected;
  out = entries;
  return 0;
}

int FakeSocketCatalog::Install(const ProviderGuid& provider, const std::wstring& path,
                               const std::vector<CatalogEntry>& list) {
  if (Fails()) return kInjected;
  if (list.empty()) return kInvalid;
  if (std::any_of(entries.begin(), entries.end(),
                  [&](const CatalogEntry& e) { return e.provider == provider; })) {
    return kNoRecovery;
  }
  ++writes;
  if (!keepInstalls) return 0;
  for (CatalogEntry entry : list) {
    entry.provider = provider;
    entry.id = nextId++;
    entry.path = path;
    entries.push_back(entry);
  }
  return 0;
}

int FakeSocketCatalog::Remove(const ProviderGuid& provider) {
  if (Fails()) return kInjected;
  const auto gone = std::remove_if(entries.begin(), entries.end(),
                                   [&](const CatalogEntry& e) { return e.provider == provider; });
  if (gone == entries.end()) return kInvalid;
  entries.erase(gone, entries.end());
  ++writes;
  return 0;
}

int FakeSocketCatalog::WriteOrder(const std::vector<uint32_t>& ids) {
  if (Fails()) return kInjected;
  std::set<uint32_t> wanted(ids.begin(), ids.end());
  if (wanted.size() != ids.size() || ids.size() != entries.size()) return kInvalid;
  std::vector<CatalogEntry> ordered;
  for (const uint32_t id : ids) {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const CatalogEntry& e) { return e.id == id; });
    if (found == entries.end()) return kInvalid;
    ordered.push_back(*found);
  }
  entries = ordered;
  ++writes;
  return 0;
}

