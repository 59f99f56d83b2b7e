#include "fakes/fake_socket_catalog.h"

#include <algorithm>
#include <set>

FakeSocketCatalog FakeSocketCatalog::Typical() {
  FakeSocketCatalog catalog;
  catalog.Base(kAfInet, kSockStream, kIpProtoTcp, L"MSAFD Tcpip [TCP/IP]").serviceFlags[0] =
      0x00066 | kXp1IfsHandles;
  catalog.Base(kAfInet, kSockDgram, kIpProtoUdp, L"MSAFD Tcpip [UDP/IP]");
  catalog.Base(kAfInet6, kSockStream, kIpProtoTcp, L"MSAFD Tcpip [TCP/IPv6]");
  catalog.Base(kAfInet6, kSockDgram, kIpProtoUdp, L"MSAFD Tcpip [UDP/IPv6]");
  catalog.Base(kAfInet, 3, 0, L"MSAFD Tcpip [RAW/IP]");
  const ProviderGuid rsvp{0x9D60A9E0, 0x337A, 0x11D0, {0xBD, 0x88, 0, 0, 0xC0, 0x82, 0xE6, 0x9A}};
  constexpr wchar_t kRsvpPath[] = L"%SystemRoot%\\system32\\rsvpsp.dll";
  catalog.Base(kAfInet, kSockStream, kIpProtoTcp, L"RSVP TCP Service Provider", &rsvp, kRsvpPath);
  catalog.Base(kAfInet, kSockDgram, kIpProtoUdp, L"RSVP UDP Service Provider", &rsvp, kRsvpPath);
  return catalog;
}

CatalogEntry& FakeSocketCatalog::Base(int family, int type, int protocol,
                                      const std::wstring& name, const ProviderGuid* provider,
                                      const wchar_t* path) {
  CatalogEntry entry;
  entry.provider = provider != nullptr ? *provider : family == kAfInet6 ? kTcpip6 : kTcpip;
  entry.id = nextId++;
  entry.chain[0] = entry.id;
  entry.addressFamily = family;
  entry.socketType = type;
  entry.protocol = protocol;
  entry.name = name;
  entry.path = path;
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
  if (list.empty() || !ChainsValid(list)) return kInvalid;
  if (std::any_of(entries.begin(), entries.end(),
                  [&](const CatalogEntry& e) { return e.provider == provider; })) {
    return kNoRecovery;
  }
  ++writes;
  if (!keepInstalls) return 0;
  for (CatalogEntry entry : list) {
    entry.provider = provider;
    entry.id = nextId++;
    entry.path = Kept(path);
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


int FakeSocketCatalog::Update(const ProviderGuid& provider, const std::wstring& path,
                              const std::vector<CatalogEntry>& list) {
  if (Fails()) return kInjected;
  if (!ChainsValid(list)) return kInvalid;
  std::vector<CatalogEntry*> own;
  for (CatalogEntry& e : entries) {
    if (e.provider == provider) own.push_back(&e);
  }
  if (own.empty() || own.size() != list.size()) return kInvalid;
  for (size_t n = 0; n < own.size(); ++n) {
    const uint32_t id = own[n]->id;
    *own[n] = list[n];
    own[n]->id = id;
    own[n]->provider = provider;
    own[n]->path = Kept(path);
  }
  ++writes;
  return 0;
}

std::wstring FakeSocketCatalog::Kept(const std::wstring& path) {
  std::wstring kept = path.substr(0, kCatalogPathLimit - 1);
  for (wchar_t& c : kept) {
    if (c >= 0x80) c = L'?';  // an ASCII-only code page: what no code page is sure to hold
  }
  return kept;
}

bool FakeSocketCatalog::ChainsValid(const std::vector<CatalogEntry>& list) const {
  const auto find = [&](uint32_t id) -> const CatalogEntry* {
    for (const CatalogEntry& e : entries) {
      if (e.id == id) return &e;
    }
    return nullptr;
  };
  for (const CatalogEntry& e : list) {
    if (e.chainLength < 2) continue;
    if (e.chainLength > 7) return false;
    for (int n = 0; n < e.chainLength; ++n) {
      const CatalogEntry* link = find(e.chain[static_cast<size_t>(n)]);
      const bool last = n == e.chainLength - 1;
      if (link == nullptr ||
          link->chainLength != (last ? CatalogEntry::kBase : CatalogEntry::kLayered)) {
        return false;
      }
    }
  }
  return true;
}

uint32_t FakeSocketCatalog::InstallLayerEntry(const ProviderGuid& provider) {
  CatalogEntry layer;
  layer.chainLength = CatalogEntry::kLayered;
  layer.providerFlags = kPflHidden;
  layer.name = L"Foreign layer";
  Install(provider, L"C:\\Foreign\\foreign.dll", {layer});
  return entries.back().id;
}

void FakeSocketCatalog::InstallForeignLayer(const ProviderGuid& provider,
                                            const std::vector<uint32_t>& baseIds) {
  ProviderGuid layerGuid = provider;
  layerGuid.data4[7] ^= 0xFF;
  const uint32_t layerId = InstallLayerEntry(layerGuid);
  std::vector<CatalogEntry> chains;
  for (const uint32_t baseId : baseIds) {
    CatalogEntry chain = *std::find_if(entries.begin(), entries.end(),
                                       [&](const CatalogEntry& e) { return e.id == baseId; });
    chain.chainLength = 2;
    chain.chain = {layerId, baseId};
    chain.name = L"Foreign over " + chain.name;
    chains.push_back(chain);
  }
  Install(provider, L"C:\\Foreign\\foreign.dll", chains);
  std::vector<uint32_t> order;
  for (const CatalogEntry& e : entries) {
    if (e.provider == provider) order.push_back(e.id);
  }
  for (const CatalogEntry& e : entries) {
    if (e.provider != provider) order.push_back(e.id);
  }
  WriteOrder(order);
}

std::vector<CatalogEntry> FakeSocketCatalog::Broken() const {
  std::vector<CatalogEntry> broken;
  for (const CatalogEntry& e : entries) {
    if (!ChainsValid({e})) broken.push_back(e);
  }
  return broken;
}

bool FakeSocketCatalog::ServesFirst(const ProviderGuid& provider, uint32_t baseId) const {
  const CatalogEntry* base = nullptr;
  for (const CatalogEntry& e : entries) {
    if (e.id == baseId) base = &e;
  }
  if (base == nullptr) return false;
  for (const CatalogEntry& e : entries) {
    if ((e.providerFlags & kPflHidden) != 0 || e.chainLength == CatalogEntry::kLayered ||
        e.addressFamily != base->addressFamily || e.socketType != base->socketType ||
        e.protocol != base->protocol) {
      continue;
    }
    return e.provider == provider && e.chain[static_cast<size_t>(e.chainLength - 1)] == baseId;
  }
  return false;
}
