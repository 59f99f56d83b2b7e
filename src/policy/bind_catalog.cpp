#include "policy/bind_catalog.h"

#include <algorithm>
#include <map>

namespace {

constexpr size_t kLongestName = 255;
constexpr int kChainLength = 2;

bool IsOurs(const CatalogEntry& entry) {
  return entry.provider == kBindLayerGuid || entry.provider == kBindChainGuid;
}

// Windows paths are compared without regard to case; folding ASCII letters covers the paths we
// write ourselves.
bool SamePath(const std::wstring& a, const std::wstring& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
    auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; };
    return fold(x) == fold(y);
  });
}

bool IsIpv4TcpOrUdpBase(const CatalogEntry& entry) {
  if (entry.chainLength != CatalogEntry::kBase || entry.addressFamily != kAfInet || IsOurs(entry)) {
    return false;
  }
  return (entry.socketType == kSockStream && entry.protocol == kIpProtoTcp) ||
         (entry.socketType == kSockDgram && entry.protocol == kIpProtoUdp);
}

std::vector<CatalogEntry> Bases(const std::vector<CatalogEntry>& entries) {
  std::vector<CatalogEntry> bases;
  std::copy_if(entries.begin(), entries.end(), std::back_inserter(bases), IsIpv4TcpOrUdpBase);
  return bases;
}

const CatalogEntry* FindLayer(const std::vector<CatalogEntry>& entries) {
  for (const CatalogEntry& entry : entries) {
    if (entry.provider == kBindLayerGuid && entry.chainLength == CatalogEntry::kLayered) {
      return &entry;
    }
  }
  return nullptr;
}

bool Has(const std::vector<CatalogEntry>& entries, const ProviderGuid& provider) {
  return std::any_of(entries.begin(), entries.end(),
                     [&](const CatalogEntry& e) { return e.provider == provider; });
}

// Described like the first base, so it takes the same addresses; hidden, since programs must
// only ever be handed our chains.
CatalogEntry MakeLayer(const CatalogEntry& base) {
  CatalogEntry layer = base;
  layer.provider = kBindLayerGuid;
  layer.id = 0;
  layer.chainLength = CatalogEntry::kLayered;
  layer.chain = {};
  layer.serviceFlags[0] &= ~kXp1IfsHandles;
  layer.providerFlags |= kPflHidden;
  layer.name = L"Kavrin layer";
  return layer;
}

// Our handles are not the base's file handles, so the chain cannot promise them.
CatalogEntry MakeChain(const CatalogEntry& base, uint32_t layerId) {
  CatalogEntry chain = base;
  chain.provider = kBindChainGuid;
  chain.id = 0;
  chain.chainLength = kChainLength;
  chain.chain = {};
  chain.chain[0] = layerId;
  chain.chain[1] = base.id;
  chain.serviceFlags[0] &= ~kXp1IfsHandles;
  chain.providerFlags &= ~kPflHidden;
  chain.name = (L"Kavrin over " + base.name).substr(0, kLongestName);
  return chain;
}

std::vector<CatalogEntry> Chains(const std::vector<CatalogEntry>& entries) {
  std::vector<CatalogEntry> chains;
  std::copy_if(entries.begin(), entries.end(), std::back_inserter(chains),
               [](const CatalogEntry& e) { return e.provider == kBindChainGuid; });
  return chains;
}

// Our chains first, everything else after them in its present order.
std::vector<uint32_t> OursFirst(const std::vector<CatalogEntry>& entries) {
  std::vector<uint32_t> ids;
  for (const CatalogEntry& e : entries) {
    if (e.provider == kBindChainGuid) ids.push_back(e.id);
  }
  for (const CatalogEntry& e : entries) {
    if (e.provider != kBindChainGuid) ids.push_back(e.id);
  }
  return ids;
}

// After the layer could not be removed: puts back the chains removed before it, each again over
// its base and at its old place in the order. Best effort: the caller reports the first failure.
void RestoreChains(SocketCatalog& catalog, const std::vector<CatalogEntry>& before) {
  const std::vector<CatalogEntry> chains = Chains(before);
  if (chains.empty()) return;
  if (catalog.Install(kBindChainGuid, chains.front().path, chains) != 0) return;
  std::vector<CatalogEntry> now;
  if (catalog.Entries(now) != 0) return;
  std::map<uint32_t, uint32_t> byBase;  // base id -> new chain id
  for (const CatalogEntry& e : Chains(now)) byBase[e.chain[1]] = e.id;
  std::vector<uint32_t> order;
  for (const CatalogEntry& e : before) {
    if (e.provider != kBindChainGuid) {
      order.push_back(e.id);
    } else if (const auto found = byBase.find(e.chain[1]); found != byBase.end()) {
      order.push_back(found->second);
    }
  }
  catalog.WriteOrder(order);
}

// Chains first, since a chain over a missing layer would fail every socket of its kind. When the
// layer then cannot go, the chains are put back, so a failure leaves the set whole.
int RemoveOurs(SocketCatalog& catalog, const std::vector<CatalogEntry>& before) {
  const bool hadChains = Has(before, kBindChainGuid);
  if (hadChains) {
    if (const int error = catalog.Remove(kBindChainGuid)) return error;
  }
  if (Has(before, kBindLayerGuid)) {
    if (const int error = catalog.Remove(kBindLayerGuid)) {
      if (hadChains) RestoreChains(catalog, before);
      return error;
    }
  }
  return 0;
}

// Takes back what an unfinished install put in. Best effort, like RestoreChains.
int Undo(SocketCatalog& catalog, int error) {
  catalog.Remove(kBindChainGuid);
  catalog.Remove(kBindLayerGuid);
  return error;
}

}  // namespace

bool HasBindLayer(const std::vector<CatalogEntry>& entries, const std::wstring& modulePath,
                  bool requireFirst) {
  const CatalogEntry* layer = FindLayer(entries);
  if (layer == nullptr || !SamePath(layer->path, modulePath)) return false;
  const std::vector<CatalogEntry> bases = Bases(entries);
  const std::vector<CatalogEntry> chains = Chains(entries);
  const size_t ours = static_cast<size_t>(std::count_if(entries.begin(), entries.end(), IsOurs));
  if (bases.empty() || chains.size() != bases.size() || ours != chains.size() + 1) return false;
  for (const CatalogEntry& base : bases) {
    const bool covered = std::any_of(chains.begin(), chains.end(), [&](const CatalogEntry& c) {
      return c.chainLength == kChainLength && c.chain[0] == layer->id && c.chain[1] == base.id &&
             SamePath(c.path, modulePath);
    });
    if (!covered) return false;
  }
  if (!requireFirst) return true;
  return std::all_of(entries.begin(), entries.begin() + static_cast<long>(chains.size()),
                     [](const CatalogEntry& e) { return e.provider == kBindChainGuid; });
}

int InstallBindLayer(SocketCatalog& catalog, const std::wstring& modulePath) {
  std::vector<CatalogEntry> entries;
  if (const int error = catalog.Entries(entries)) return error;
  if (HasBindLayer(entries, modulePath, true)) return 0;
  if (HasBindLayer(entries, modulePath, false)) return catalog.WriteOrder(OursFirst(entries));

  const std::vector<CatalogEntry> bases = Bases(entries);
  if (bases.empty()) return kNoBaseEntry;
  // A set for another path, or one a crash left half-written, is replaced whole.
  if (const int error = RemoveOurs(catalog, entries)) return error;

  if (const int error = catalog.Install(kBindLayerGuid, modulePath, {MakeLayer(bases.front())})) {
    return error;
  }
  if (const int error = catalog.Entries(entries)) return Undo(catalog, error);
  const CatalogEntry* layer = FindLayer(entries);
  if (layer == nullptr) return Undo(catalog, kInstallNotKept);

  std::vector<CatalogEntry> chains;
  for (const CatalogEntry& base : Bases(entries)) chains.push_back(MakeChain(base, layer->id));
  if (const int error = catalog.Install(kBindChainGuid, modulePath, chains)) {
    return Undo(catalog, error);
  }
  if (const int error = catalog.Entries(entries)) return Undo(catalog, error);
  if (!HasBindLayer(entries, modulePath, false)) return Undo(catalog, kInstallNotKept);
  if (const int error = catalog.WriteOrder(OursFirst(entries))) return Undo(catalog, error);
  return 0;
}

int RemoveBindLayer(SocketCatalog& catalog) {
  std::vector<CatalogEntry> before;
  if (const int error = catalog.Entries(before)) return error;
  if (!std::any_of(before.begin(), before.end(), IsOurs)) return kNothingOfOurs;
  return RemoveOurs(catalog, before);
}
