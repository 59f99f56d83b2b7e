// The binding module's place in the socket layer's provider catalog.
//
// The module is a layered provider: one hidden layered entry of its own, and one protocol chain
// [layer, base] over each IPv4 and IPv6 TCP and UDP base entry of the system's TCP/IP provider,
// each chain under a GUID of its own. Our chains stand directly in front of their base entries,
// so programs asking for a TCP or UDP socket get a chain and so load the module; a provider
// layered before us keeps its place in front, and its chains over those bases lead through us
// (the system's own rules for chains over chains: a chain names every layer down to its base).
// Nothing is ever removed to be put back: an install completes what is missing and corrects what
// is stale; a removal first takes our layer out of every other provider's chain. Every step
// leaves a catalog in which each chain leads to entries that exist.
//
// Results are system error numbers: 0, kNothingOfOurs, or the catalog's own error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ProviderGuid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};
  bool operator==(const ProviderGuid&) const = default;
};

// One protocol entry as the catalog describes it (the fields of the system's protocol info).
struct CatalogEntry {
  static constexpr int kLayered = 0;  // chain length of a layered entry
  static constexpr int kBase = 1;     // chain length of a base entry

  std::array<uint32_t, 4> serviceFlags{};
  uint32_t providerFlags = 0;
  ProviderGuid provider;
  uint32_t id = 0;
  int chainLength = kBase;
  std::array<uint32_t, 7> chain{};
  int version = 2;
  int addressFamily = 0;
  int maxSockAddr = 0;
  int minSockAddr = 0;
  int socketType = 0;
  int protocol = 0;
  int protocolMaxOffset = 0;
  int networkByteOrder = 0;
  int securityScheme = 0;
  uint32_t messageSize = 0;
  uint32_t providerReserved = 0;
  std::wstring name;
  // The provider module as registered (environment strings not expanded).
  std::wstring path;
  bool operator==(const CatalogEntry&) const = default;
};

// The catalog of one bitness, as the socket layer's configuration calls give it.
class SocketCatalog {
 public:
  virtual ~SocketCatalog() = default;
  // Every entry, in catalog order.
  virtual int Entries(std::vector<CatalogEntry>& entries) = 0;
  // Installs `entries` under one provider GUID and module path; the catalog gives them fresh
  // ids and puts them last. Fails when the GUID is installed already.
  virtual int Install(const ProviderGuid& provider, const std::wstring& path,
                      const std::vector<CatalogEntry>& entries) = 0;
  // Removes every entry of the GUID; the others keep their order.
  virtual int Remove(const ProviderGuid& provider) = 0;
  // Rewrites the entries of an installed GUID in place (same number, same ids, same places):
  // its module path and each entry's description, chain included.
  virtual int Update(const ProviderGuid& provider, const std::wstring& path,
                     const std::vector<CatalogEntry>& entries) = 0;
  // The new order: every entry id exactly once.
  virtual int WriteOrder(const std::vector<uint32_t>& ids) = 0;
};

inline constexpr int kAfInet = 2;
inline constexpr int kAfInet6 = 23;
inline constexpr int kSockStream = 1;
inline constexpr int kSockDgram = 2;
inline constexpr int kIpProtoTcp = 6;
inline constexpr int kIpProtoUdp = 17;
inline constexpr uint32_t kXp1IfsHandles = 0x00020000;
inline constexpr uint32_t kPflHidden = 0x00000004;
inline constexpr uint32_t kPflMatchesProtocolZero = 0x00000008;

// {6E4A3D2B-1C7F-4B8E-9A51-3F0C2D7B8E41}: the layered entry. Chains are
// {6E4A3D2B-1C7F-4B8E-9A51-3F0C2D7B90nn}, nn counting from 0; earlier versions put every chain
// under {6E4A3D2B-1C7F-4B8E-9A51-3F0C2D7B8E42}, which is still ours to clear away.
inline constexpr ProviderGuid kBindLayerGuid{
    0x6E4A3D2B, 0x1C7F, 0x4B8E, {0x9A, 0x51, 0x3F, 0x0C, 0x2D, 0x7B, 0x8E, 0x41}};
inline constexpr ProviderGuid kBindChainGuid{
    0x6E4A3D2B, 0x1C7F, 0x4B8E, {0x9A, 0x51, 0x3F, 0x0C, 0x2D, 0x7B, 0x8E, 0x42}};
ProviderGuid BindChainGuid(uint8_t index);
// Whether an entry of this GUID is one of ours (layer, a chain, or an earlier version's chain).
bool IsBindGuid(const ProviderGuid& provider);

// ERROR_FILE_NOT_FOUND: a removal found nothing of ours.
inline constexpr int kNothingOfOurs = 2;
// ERROR_NOT_SUPPORTED: the catalog holds no TCP or UDP base entry to layer over.
inline constexpr int kNoBaseEntry = 50;
// ERROR_INSTALL_FAILURE: the catalog said yes but does not show what was installed.
inline constexpr int kInstallNotKept = 1603;
// ERROR_BAD_PATHNAME: the catalog would not keep the module's path as it is (it keeps provider
// paths as ANSI text shorter than MAX_PATH); nothing of it is left written.
inline constexpr int kPathNotKept = 161;
// The longest provider path the catalog keeps, its terminator included.
inline constexpr size_t kCatalogPathLimit = 260;

// Whether the catalog holds our whole set for `modulePath` (compared without regard to case),
// in order: the layered entry and exactly one chain over each TCP and UDP base entry of the
// system's TCP/IP provider, each in front of its base, every other provider's chain over those
// bases leading through our layer, and nothing stale of ours.
bool HasBindLayer(const std::vector<CatalogEntry>& entries, const std::wstring& modulePath);

// Makes the catalog hold our whole set for `modulePath`, keeping what is there and right. On
// failure the catalog is left consistent (every chain leads to entries that exist) and a later
// install completes it. Every path written is read back; kPathNotKept when the catalog changed
// it (the write undone).
int InstallBindLayer(SocketCatalog& catalog, const std::wstring& modulePath);

// The path to register the module under: `path` when the catalog keeps it unchanged (`keeps`
// says: it survives the ANSI code page and is shorter than kCatalogPathLimit), else its short
// form `shortPath` when that is kept; empty when neither is.
template <typename Keeps>
std::wstring CatalogModulePath(const std::wstring& path, const std::wstring& shortPath,
                               Keeps keeps) {
  if (!path.empty() && keeps(path)) return path;
  if (!shortPath.empty() && keeps(shortPath)) return shortPath;
  return {};
}

// Takes our layer out of other providers' chains, then removes every entry of ours; the others
// keep their order. kNothingOfOurs when there was none.
int RemoveBindLayer(SocketCatalog& catalog);
