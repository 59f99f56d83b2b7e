// The binding module's place in the socket layer's provider catalog.
//
// The module is a layered provider: one hidden layered entry of its own, and one protocol chain
// [layer, base] over each IPv4 TCP and UDP base entry, put first in the catalog order so that
// programs asking for a TCP or UDP socket get a chain and so load the module. Our entries carry
// our own provider GUIDs (one for the layered entry, one shared by the chains), which is how
// they are found again. A broken catalog breaks every program's networking, so every change is
// undone when a later step fails, and a set left half-written by a crash is repaired by the next
// install or removal.
//
// Results are system error numbers: 0, kNothingOfOurs, or the catalog's own error.
#pragma once

#include <array>
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
  // The new order: every entry id exactly once.
  virtual int WriteOrder(const std::vector<uint32_t>& ids) = 0;
};

inline constexpr int kAfInet = 2;
inline constexpr int kSockStream = 1;
inline constexpr int kSockDgram = 2;
inline constexpr int kIpProtoTcp = 6;
inline constexpr int kIpProtoUdp = 17;
inline constexpr uint32_t kXp1IfsHandles = 0x00020000;
inline constexpr uint32_t kPflHidden = 0x00000004;

// {6E4A3D2B-1C7F-4B8E-9A51-3F0C2D7B8E41} and {6E4A3D2B-1C7F-4B8E-9A51-3F0C2D7B8E42}.
inline constexpr ProviderGuid kBindLayerGuid{
    0x6E4A3D2B, 0x1C7F, 0x4B8E, {0x9A, 0x51, 0x3F, 0x0C, 0x2D, 0x7B, 0x8E, 0x41}};
inline constexpr ProviderGuid kBindChainGuid{
    0x6E4A3D2B, 0x1C7F, 0x4B8E, {0x9A, 0x51, 0x3F, 0x0C, 0x2D, 0x7B, 0x8E, 0x42}};

// ERROR_FILE_NOT_FOUND: a removal found nothing of ours.
inline constexpr int kNothingOfOurs = 2;
// ERROR_NOT_SUPPORTED: the catalog holds no IPv4 TCP or UDP base entry to layer over.
inline constexpr int kNoBaseEntry = 50;
// ERROR_INSTALL_FAILURE: the catalog said yes but does not show what was installed.
inline constexpr int kInstallNotKept = 1603;

// Whether the catalog holds our whole set for `modulePath` (compared without regard to case):
// the layered entry and exactly one chain over each IPv4 TCP and UDP base entry. With
// `requireFirst`, the chains must also come before every other entry.
bool HasBindLayer(const std::vector<CatalogEntry>& entries, const std::wstring& modulePath,
                  bool requireFirst);

// Makes the catalog hold our set for `modulePath`, first in order; an existing complete set
// stays as it is. On failure the catalog is as it was, or, when a stale or half-written set of
// ours found at the start was already taken out, as it was without that set.
int InstallBindLayer(SocketCatalog& catalog, const std::wstring& modulePath);

// Removes every entry of ours and leaves the others in their order. kNothingOfOurs when there
// was none; on failure the catalog is as it was.
int RemoveBindLayer(SocketCatalog& catalog);
