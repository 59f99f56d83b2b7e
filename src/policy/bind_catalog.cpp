#include "policy/bind_catalog.h"

#include <algorithm>
#include <map>
#include <optional>

namespace {

constexpr size_t kLongestName = 255;
constexpr int kLongestChain = 7;
constexpr int kChainLength = 2;
constexpr uint8_t kChainGuidMark = 0x90;

// Windows paths are compared without regard to case; folding ASCII letters covers the paths we
// write ourselves.
bool SamePath(const std::wstring& a, const std::wstring& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
    auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; };
    return fold(x) == fold(y);
  });
}

bool IsOurs(const CatalogEntry& entry) { return IsBindGuid(entry.provider); }

bool IsChainGuid(const ProviderGuid& provider) {
  ProviderGuid prefix = provider;
  prefix.data4[7] = 0;
  return prefix == BindChainGuid(0);
}

bool IsTcpOrUdp(const CatalogEntry& entry) {
  return (entry.addressFamily == kAfInet || entry.addressFamily == kAfInet6) &&
         ((entry.socketType == kSockStream && entry.protocol == kIpProtoTcp) ||
          (entry.socketType == kSockDgram && entry.protocol == kIpProtoUdp));
}

// The base entries we layer over: TCP and UDP over IPv4 and IPv6 of the system's TCP/IP
// provider, found by its module, the one of the first IPv4 TCP base. The IPv6 entries carry a
// provider GUID of their own, so the module is what they share. The module hands that provider's
// entries to the system for everything it does not steer, so it never sits over another's.
std::vector<CatalogEntry> Bases(const std::vector<CatalogEntry>& entries) {
  const auto isBase = [](const CatalogEntry& e) {
    return e.chainLength == CatalogEntry::kBase && !IsOurs(e) && IsTcpOrUdp(e);
  };
  const auto first = std::find_if(entries.begin(), entries.end(), [&](const CatalogEntry& e) {
    return isBase(e) && e.addressFamily == kAfInet && e.socketType == kSockStream;
  });
  std::vector<CatalogEntry> bases;
  if (first == entries.end()) return bases;
  for (const CatalogEntry& e : entries) {
    if (isBase(e) && (e.provider == first->provider || SamePath(e.path, first->path))) {
      bases.push_back(e);
    }
  }
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

// Our chain over `baseId`: the first entry of a chain GUID of ours that is [layer, base].
const CatalogEntry* FindChain(const std::vector<CatalogEntry>& entries, uint32_t layerId,
                              uint32_t baseId) {
  for (const CatalogEntry& e : entries) {
    if (IsChainGuid(e.provider) && e.chainLength == kChainLength && e.chain[0] == layerId &&
        e.chain[1] == baseId) {
      return &e;
    }
  }
  return nullptr;
}

size_t IndexOf(const std::vector<CatalogEntry>& entries, uint32_t id) {
  for (size_t n = 0; n < entries.size(); ++n) {
    if (entries[n].id == id) return n;
  }
  return entries.size();
}

bool IsCovered(const std::vector<CatalogEntry>& bases, uint32_t id) {
  return std::any_of(bases.begin(), bases.end(), [&](const CatalogEntry& b) { return b.id == id; });
}

bool Names(const CatalogEntry& e, uint32_t id) {
  if (IsOurs(e) || e.chainLength < kChainLength || e.chainLength > kLongestChain) return false;
  return std::find(e.chain.begin(), e.chain.begin() + e.chainLength, id) !=
         e.chain.begin() + e.chainLength;
}

// Another provider's chain over one of our bases that does not yet lead through us (and has
// room for us). A chain that holds our layer anywhere, with other layers below us, already
// does: a second link of ours would start us inside our own start-up.
bool NeedsMending(const CatalogEntry& e, const std::vector<CatalogEntry>& bases, uint32_t layerId) {
  if (IsOurs(e) || e.chainLength < kChainLength || e.chainLength >= kLongestChain) return false;
  const size_t last = static_cast<size_t>(e.chainLength - 1);
  return IsCovered(bases, e.chain[last]) && !Names(e, layerId);
}

// Our entries that belong to no complete set: chains over bases no longer there, duplicates,
// chains of an earlier version's shared GUID.
std::vector<ProviderGuid> StaleGuids(const std::vector<CatalogEntry>& entries,
                                     const std::vector<CatalogEntry>& bases,
                                     const CatalogEntry* layer) {
  std::vector<ProviderGuid> stale;
  for (const CatalogEntry& e : entries) {
    if (!IsOurs(e) || e.provider == kBindLayerGuid) continue;
    const bool kept = layer != nullptr && IsChainGuid(e.provider) &&
                      e.chainLength == kChainLength && IsCovered(bases, e.chain[1]) &&
                      FindChain(entries, layer->id, e.chain[1]) == &e;
    if (!kept && std::find(stale.begin(), stale.end(), e.provider) == stale.end()) {
      stale.push_back(e.provider);
    }
  }
  return stale;
}

// Shaped as the socket layer expects a layered entry: hidden, of no socket type or protocol of
// its own, so that no program is ever handed it.
CatalogEntry MakeLayer(const CatalogEntry& base) {
  CatalogEntry layer = base;
  layer.provider = kBindLayerGuid;
  layer.id = 0;
  layer.chainLength = CatalogEntry::kLayered;
  layer.chain = {};
  layer.socketType = 0;
  layer.protocol = 0;
  layer.protocolMaxOffset = 0;
  layer.providerFlags = (layer.providerFlags | kPflHidden) & ~kPflMatchesProtocolZero;
  layer.name = L"Kavrin layer";
  return layer;
}

// The base's description, its file-handle flag included: the sockets we hand out are the
// base's own handles.
CatalogEntry MakeChain(const CatalogEntry& base, uint32_t layerId) {
  CatalogEntry chain = base;
  chain.id = 0;
  chain.chainLength = kChainLength;
  chain.chain = {};
  chain.chain[0] = layerId;
  chain.chain[1] = base.id;
  chain.providerFlags &= ~kPflHidden;
  chain.name = (L"Kavrin over " + base.name).substr(0, kLongestName);
  return chain;
}

std::optional<ProviderGuid> FreeChainGuid(const std::vector<CatalogEntry>& entries) {
  for (int index = 0; index < 256; ++index) {
    const ProviderGuid guid = BindChainGuid(static_cast<uint8_t>(index));
    if (std::none_of(entries.begin(), entries.end(),
                     [&](const CatalogEntry& e) { return e.provider == guid; })) {
      return guid;
    }
  }
  return std::nullopt;
}

// Rewrites every entry of `provider` with `change` applied to it.
template <typename Change>
int UpdateProvider(SocketCatalog& catalog, const std::vector<CatalogEntry>& entries,
                   const ProviderGuid& provider, Change change) {
  std::vector<CatalogEntry> own;
  for (const CatalogEntry& e : entries) {
    if (e.provider == provider) own.push_back(e);
  }
  if (own.empty()) return 0;
  for (CatalogEntry& e : own) change(e);
  return catalog.Update(provider, own.front().path, own);
}

// Each of our chains directly in front of its base; everything else in its present order.
std::vector<uint32_t> OrderWithChains(const std::vector<CatalogEntry>& entries,
                                      const std::vector<CatalogEntry>& bases, uint32_t layerId) {
  std::map<uint32_t, uint32_t> chainOf;  // base id -> our chain id
  for (const CatalogEntry& base : bases) {
    if (const CatalogEntry* chain = FindChain(entries, layerId, base.id)) chainOf[base.id] = chain->id;
  }
  std::vector<uint32_t> order;
  for (const CatalogEntry& e : entries) {
    const bool placed = std::any_of(chainOf.begin(), chainOf.end(),
                                    [&](const auto& item) { return item.second == e.id; });
    if (placed) continue;
    if (const auto found = chainOf.find(e.id); found != chainOf.end()) {
      order.push_back(found->second);
    }
    order.push_back(e.id);
  }
  return order;
}

std::vector<uint32_t> Ids(const std::vector<CatalogEntry>& entries) {
  std::vector<uint32_t> ids;
  for (const CatalogEntry& e : entries) ids.push_back(e.id);
  return ids;
}

}  // namespace

ProviderGuid BindChainGuid(uint8_t index) {
  ProviderGuid guid = kBindLayerGuid;
  guid.data4[6] = kChainGuidMark;
  guid.data4[7] = index;
  return guid;
}

bool IsBindGuid(const ProviderGuid& provider) {
  return provider == kBindLayerGuid || provider == kBindChainGuid || IsChainGuid(provider);
}

bool HasBindLayer(const std::vector<CatalogEntry>& entries, const std::wstring& modulePath) {
  const CatalogEntry* layer = FindLayer(entries);
  if (layer == nullptr || !SamePath(layer->path, modulePath)) return false;
  const std::vector<CatalogEntry> bases = Bases(entries);
  if (bases.empty() || !StaleGuids(entries, bases, layer).empty()) return false;
  for (const CatalogEntry& base : bases) {
    const CatalogEntry* chain = FindChain(entries, layer->id, base.id);
    if (chain == nullptr || !SamePath(chain->path, modulePath) ||
        IndexOf(entries, chain->id) > IndexOf(entries, base.id)) {
      return false;
    }
  }
  const size_t ours = static_cast<size_t>(std::count_if(entries.begin(), entries.end(), IsOurs));
  if (ours != bases.size() + 1) return false;
  return std::none_of(entries.begin(), entries.end(), [&](const CatalogEntry& e) {
    return NeedsMending(e, bases, layer->id);
  });
}

int InstallBindLayer(SocketCatalog& catalog, const std::wstring& modulePath) {
  std::vector<CatalogEntry> entries;
  if (const int error = catalog.Entries(entries)) return error;
  const std::vector<CatalogEntry> bases = Bases(entries);
  if (bases.empty()) return kNoBaseEntry;
  if (HasBindLayer(entries, modulePath)) return 0;

  // Each write of our path is read back: a catalog that keeps it changed (cut short, or letters
  // its code page lacks replaced) would have every program load a file that is not there, and
  // every socket on the machine would fail. Such a write is undone at once.
  const auto written = [&](const ProviderGuid& guid, const CatalogEntry* before) {
    if (const int error = catalog.Entries(entries)) return error;
    const bool kept = std::all_of(entries.begin(), entries.end(), [&](const CatalogEntry& e) {
      return e.provider != guid || e.path == modulePath;
    });
    if (kept) return 0;
    if (before == nullptr) {
      catalog.Remove(guid);
    } else {
      catalog.Update(guid, before->path, {*before});
    }
    catalog.Entries(entries);
    return kPathNotKept;
  };

  // The layer first: every chain of ours and every mended chain names it.
  if (const CatalogEntry* layer = FindLayer(entries); layer == nullptr) {
    if (const int error = catalog.Install(kBindLayerGuid, modulePath, {MakeLayer(bases.front())})) {
      return error;
    }
    if (const int error = written(kBindLayerGuid, nullptr)) return error;
    if (FindLayer(entries) == nullptr) return kInstallNotKept;
  } else if (!SamePath(layer->path, modulePath)) {
    const CatalogEntry before = *layer;
    if (const int error = catalog.Update(kBindLayerGuid, modulePath, {before})) return error;
    if (const int error = written(kBindLayerGuid, &before)) return error;
  }
  const uint32_t layerId = FindLayer(entries)->id;

  // A chain over each base that has none; a newer file for those that name another.
  for (const CatalogEntry& base : bases) {
    const CatalogEntry* chain = FindChain(entries, layerId, base.id);
    if (chain != nullptr) {
      if (SamePath(chain->path, modulePath)) continue;
      const CatalogEntry before = *chain;
      if (const int error = catalog.Update(before.provider, modulePath, {before})) return error;
      if (const int error = written(before.provider, &before)) return error;
    } else {
      const std::optional<ProviderGuid> guid = FreeChainGuid(entries);
      if (!guid) return kInstallNotKept;
      if (const int error = catalog.Install(*guid, modulePath, {MakeChain(base, layerId)})) {
        return error;
      }
      if (const int error = written(*guid, nullptr)) return error;
    }
    if (FindChain(entries, layerId, base.id) == nullptr) return kInstallNotKept;
  }

  // Other providers' chains over those bases lead through us, directly above the base.
  for (;;) {
    const auto unmended = std::find_if(entries.begin(), entries.end(), [&](const CatalogEntry& e) {
      return NeedsMending(e, bases, layerId);
    });
    if (unmended == entries.end()) break;
    const ProviderGuid provider = unmended->provider;
    const int error = UpdateProvider(catalog, entries, provider, [&](CatalogEntry& own) {
      if (!NeedsMending(own, bases, layerId)) return;
      const size_t last = static_cast<size_t>(own.chainLength - 1);
      own.chain[last + 1] = own.chain[last];
      own.chain[last] = layerId;
      ++own.chainLength;
    });
    if (error != 0) return error;
    if (const int reread = catalog.Entries(entries)) return reread;
    if (std::any_of(entries.begin(), entries.end(), [&](const CatalogEntry& e) {
          return e.provider == provider && NeedsMending(e, bases, layerId);
        })) {
      return kInstallNotKept;  // the update was not kept: no endless loop
    }
  }

  for (const ProviderGuid& stale : StaleGuids(entries, bases, FindLayer(entries))) {
    if (const int error = catalog.Remove(stale)) return error;
  }
  if (const int error = catalog.Entries(entries)) return error;

  const std::vector<uint32_t> order = OrderWithChains(entries, bases, layerId);
  if (order != Ids(entries)) {
    if (const int error = catalog.WriteOrder(order)) return error;
  }
  return 0;
}

int RemoveBindLayer(SocketCatalog& catalog) {
  std::vector<CatalogEntry> entries;
  if (const int error = catalog.Entries(entries)) return error;
  if (std::none_of(entries.begin(), entries.end(), IsOurs)) return kNothingOfOurs;

  // Chains others built over ours are mended first, so they never name a layer that is gone.
  if (const CatalogEntry* layer = FindLayer(entries)) {
    const uint32_t layerId = layer->id;
    for (;;) {
      const auto naming = std::find_if(entries.begin(), entries.end(),
                                       [&](const CatalogEntry& e) { return Names(e, layerId); });
      if (naming == entries.end()) break;
      const ProviderGuid provider = naming->provider;
      const int error = UpdateProvider(catalog, entries, provider, [&](CatalogEntry& own) {
        if (!Names(own, layerId)) return;
        const auto end = own.chain.begin() + own.chainLength;
        std::fill(std::remove(own.chain.begin(), end, layerId), own.chain.end(), 0u);
        --own.chainLength;
      });
      if (error != 0) return error;
      if (const int reread = catalog.Entries(entries)) return reread;
      if (std::any_of(entries.begin(), entries.end(), [&](const CatalogEntry& e) {
            return e.provider == provider && Names(e, layerId);
          })) {
        return kInstallNotKept;
      }
    }
  }
  // Chains before the layer they name.
  std::vector<ProviderGuid> guids;
  for (const CatalogEntry& e : entries) {
    if (IsOurs(e) && e.provider != kBindLayerGuid &&
        std::find(guids.begin(), guids.end(), e.provider) == guids.end()) {
      guids.push_back(e.provider);
    }
  }
  if (FindLayer(entries) != nullptr) guids.push_back(kBindLayerGuid);
  for (const ProviderGuid& guid : guids) {
    if (const int error = catalog.Remove(guid)) return error;
  }
  return 0;
}
