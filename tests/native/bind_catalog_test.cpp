#include "policy/bind_catalog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "fakes/fake_socket_catalog.h"

namespace {

constexpr wchar_t kModule[] = L"C:\\Program Files\\OrumaVPN\\KavrinBind.dll";
constexpr ProviderGuid kForeign{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

std::vector<CatalogEntry> Ours(const std::vector<CatalogEntry>& entries) {
  std::vector<CatalogEntry> ours;
  std::copy_if(entries.begin(), entries.end(), std::back_inserter(ours),
               [](const CatalogEntry& e) { return IsBindGuid(e.provider); });
  return ours;
}

std::vector<CatalogEntry> Others(const std::vector<CatalogEntry>& entries) {
  std::vector<CatalogEntry> others;
  std::copy_if(entries.begin(), entries.end(), std::back_inserter(others),
               [](const CatalogEntry& e) { return !IsBindGuid(e.provider); });
  return others;
}

// The TCP/IP provider's TCP and UDP bases, IPv4 and IPv6: the first four of the typical catalog.
std::vector<uint32_t> TcpipBases(const FakeSocketCatalog& catalog) {
  return {catalog.entries[0].id, catalog.entries[1].id, catalog.entries[2].id,
          catalog.entries[3].id};
}

TEST(BindCatalogTest, InstallPutsAChainOfItsOwnInFrontOfEachTcpipBase) {
  FakeSocketCatalog catalog = FakeSocketCatalog::Typical();
  const std::vector<CatalogEntry> before = catalog.entries;
  const std::vector<uint32_t> bases = TcpipBases(catalog);
  ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);

  EXPECT_EQ(Others(catalog.entries), before);  // untouched and in their order
  const std::vector<CatalogEntry> ours = Ours(catalog.entries);
  ASSERT_EQ(ours.size(), 5u);  // not over the RSVP provider's bases
  std::set<std::array<uint8_t, 8>> guids;
  for (const CatalogEntry& e : ours) guids.insert(e.provider.data4);
  EXPECT_EQ(guids.size(), 5u);  // each chain under a GUID of its own
  const CatalogEntry layer = *std::find_if(ours.begin(), ours.end(), [](const CatalogEntry& e) {
    return e.provider == kBindLayerGuid;
  });
  EXPECT_EQ(layer.chainLength, CatalogEntry::kLayered);
  EXPECT_TRUE(layer.providerFlags & kPflHidden);
  EXPECT_FALSE(layer.providerFlags & kPflMatchesProtocolZero);
  EXPECT_EQ(layer.socketType, 0);
  EXPECT_EQ(layer.protocol, 0);
  for (const uint32_t base : bases) {
    const auto chain = std::find_if(ours.begin(), ours.end(), [&](const CatalogEntry& e) {
      return e.chainLength == 2 && e.chain[1] == base;
    });
    ASSERT_NE(chain, ours.end());
    EXPECT_EQ(chain->chain[0], layer.id);
    EXPECT_EQ(chain->path, kModule);
    EXPECT_TRUE(catalog.ServesFirst(chain->provider, base));
  }
  // The sockets handed out are the base's own file handles, and the chain says so.
  EXPECT_TRUE(ours[0].serviceFlags[0] & kXp1IfsHandles);
  EXPECT_EQ(ours[0].name, L"Kavrin over MSAFD Tcpip [TCP/IP]");
  EXPECT_TRUE(HasBindLayer(catalog.entries, L"c:\\program files\\orumavpn\\kavrinbind.dll"));
  EXPECT_FALSE(HasBindLayer(catalog.entries, L"D:\\Elsewhere\\KavrinBind.dll"));
}

TEST(BindCatalogTest, InstallAgainKeepsTheSetAndOnlyCorrectsWhatIsWrong) {
  FakeSocketCatalog catalog = FakeSocketCatalog::Typical();
  ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);
  const std::vector<CatalogEntry> installed = catalog.entries;
  const int writes = catalog.writes;
  EXPECT_EQ(InstallBindLayer(catalog, kModule), 0);
  EXPECT_EQ(catalog.entries, installed);
  EXPECT_EQ(catalog.writes, writes);

  // Moved behind its bases: one reorder, same entries.
  std::rotate(catalog.entries.begin(), catalog.entries.begin() + 1, catalog.entries.end());
  EXPECT_FALSE(HasBindLayer(catalog.entries, kModule));
  EXPECT_EQ(InstallBindLayer(catalog, kModule), 0);
  EXPECT_EQ(catalog.entries, installed);
  EXPECT_EQ(catalog.writes, writes + 1);

  // A newer file: every entry names it, in place, with its id.
  const std::wstring upgraded = L"C:\\Program Files\\OrumaVPN\\KavrinBind-2.dll";
  ASSERT_EQ(InstallBindLayer(catalog, upgraded), 0);
  EXPECT_TRUE(HasBindLayer(catalog.entries, upgraded));
  for (size_t n = 0; n < installed.size(); ++n) EXPECT_EQ(catalog.entries[n].id, installed[n].id);
  EXPECT_EQ(catalog.writes, writes + 1 + 5);

  // A base the system added later gets its chain; the others stay as they are.
  catalog.Base(kAfInet6, kSockStream, kIpProtoTcp, L"MSAFD Tcpip [TCP/IPv6] 2");
  EXPECT_FALSE(HasBindLayer(catalog.entries, upgraded));
  ASSERT_EQ(InstallBindLayer(catalog, upgraded), 0);
  EXPECT_TRUE(HasBindLayer(catalog.entries, upgraded));
  EXPECT_EQ(Ours(catalog.entries).size(), 6u);
}

TEST(BindCatalogTest, AProviderLayeredBeforeUsKeepsItsPlaceAndLeadsThroughUs) {
  FakeSocketCatalog catalog = FakeSocketCatalog::Typical();
  const std::vector<uint32_t> bases = TcpipBases(catalog);
  catalog.InstallForeignLayer(kForeign, {bases[0], bases[1]});
  ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);
  EXPECT_TRUE(catalog.Broken().empty());
  EXPECT_TRUE(HasBindLayer(catalog.entries, kModule));
  const uint32_t layer = Ours(catalog.entries).back().id;
  for (const CatalogEntry& e : catalog.entries) {
    if (e.provider != kForeign) continue;
    EXPECT_EQ(e.chainLength, 3);
    EXPECT_EQ(e.chain[1], layer);  // directly above the base, under the other layer
    EXPECT_TRUE(catalog.ServesFirst(kForeign, e.chain[2]));
  }

  // Removing ours first mends its chains: it goes on working, where it stood.
  ASSERT_EQ(RemoveBindLayer(catalog), 0);
  EXPECT_TRUE(Ours(catalog.entries).empty());
  EXPECT_TRUE(catalog.Broken().empty());
  for (const CatalogEntry& e : catalog.entries) {
    if (e.provider != kForeign) continue;
    EXPECT_EQ(e.chainLength, 2);
    EXPECT_TRUE(catalog.ServesFirst(kForeign, e.chain[1]));
  }
}

TEST(BindCatalogTest, AProviderLayeredOverOursSurvivesRepairUpgradeAndRemoval) {
  FakeSocketCatalog catalog = FakeSocketCatalog::Typical();
  const uint32_t tcp = TcpipBases(catalog)[0];
  ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);
  const uint32_t layer = Ours(catalog.entries).back().id;
  // Another vendor layers over our TCP chain, as the socket layer's rules have it: its chain
  // names every layer down to the base.
  ProviderGuid foreignLayerGuid = kForeign;
  foreignLayerGuid.data4[0] = 9;
  CatalogEntry foreignChain = catalog.entries[0];
  foreignChain.chainLength = 3;
  foreignChain.chain = {catalog.InstallLayerEntry(foreignLayerGuid), layer, tcp};
  ASSERT_EQ(catalog.Install(kForeign, L"C:\\F\\f.dll", {foreignChain}), 0);
  std::rotate(catalog.entries.rbegin(), catalog.entries.rbegin() + 1, catalog.entries.rend());

  const int writes = catalog.writes;
  EXPECT_TRUE(HasBindLayer(catalog.entries, kModule));  // repair leaves it alone
  ASSERT_EQ(InstallBindLayer(catalog, L"C:\\New\\KavrinBind.dll"), 0);  // upgrade
  EXPECT_EQ(catalog.writes, writes + 5);                                // paths only
  EXPECT_TRUE(catalog.ServesFirst(kForeign, tcp));

  ASSERT_EQ(RemoveBindLayer(catalog), 0);
  EXPECT_TRUE(catalog.Broken().empty());
  EXPECT_TRUE(catalog.ServesFirst(kForeign, tcp));
  EXPECT_EQ(catalog.entries.front().chainLength, 2);
}

// [X, ours, Z, base]: another vendor put a layer of its own below ours. The chain leads through
// us already; another link of ours under Z would start us again inside our own start-up.
TEST(BindCatalogTest, AChainWithALayerBelowOursIsLeftAsItIs) {
  FakeSocketCatalog catalog = FakeSocketCatalog::Typical();
  const uint32_t tcp = TcpipBases(catalog)[0];
  ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);
  const uint32_t layer = Ours(catalog.entries).back().id;
  std::vector<uint32_t> layers;
  for (const uint8_t mark : {11, 12, 13, 14, 15}) {
    ProviderGuid guid = kForeign;
    guid.data4[0] = mark;
    layers.push_back(catalog.InstallLayerEntry(guid));
  }
  CatalogEntry chain = catalog.entries[0];
  chain.chainLength = 4;
  chain.chain = {layers[0], layer, layers[1], tcp};
  CatalogEntry longest = chain;  // seven links, the most a chain holds
  longest.chainLength = 7;
  longest.chain = {layers[0], layers[1], layers[2], layer, layers[3], layers[4], tcp};
  ASSERT_EQ(catalog.Install(kForeign, L"C:\\F\\f.dll", {chain, longest}), 0);

  EXPECT_TRUE(HasBindLayer(catalog.entries, kModule));
  const std::vector<CatalogEntry> before = catalog.entries;
  ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);
  EXPECT_EQ(catalog.entries, before);
  ASSERT_EQ(InstallBindLayer(catalog, L"C:\\New\\KavrinBind.dll"), 0);
  for (const CatalogEntry& e : catalog.entries) {
    if (e.provider != kForeign) continue;
    EXPECT_EQ(std::count(e.chain.begin(), e.chain.end(), layer), 1) << e.chainLength;
  }
  ASSERT_EQ(RemoveBindLayer(catalog), 0);
  EXPECT_TRUE(catalog.Broken().empty());
}

// The catalog keeps provider paths as ANSI text shorter than MAX_PATH. A path it would change is
// never left registered: every program would load a file that is not there.
TEST(BindCatalogTest, APathTheCatalogWouldChangeIsRefusedAndNothingOfItStays) {
  const std::wstring unicode = L"C:\\Program Files\\\u6570\u636e VPN\\KavrinBind.dll";
  const std::wstring deep = L"C:\\" + std::wstring(260, L'd') + L"\\KavrinBind.dll";
  for (const std::wstring& path : {unicode, deep}) {
    FakeSocketCatalog catalog = FakeSocketCatalog::Typical();
    const std::vector<CatalogEntry> before = catalog.entries;
    EXPECT_EQ(InstallBindLayer(catalog, path), kPathNotKept);
    EXPECT_EQ(catalog.entries, before);

    // An upgrade to such a path keeps the set that works.
    ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);
    const std::vector<CatalogEntry> installed = catalog.entries;
    EXPECT_EQ(InstallBindLayer(catalog, path), kPathNotKept);
    EXPECT_EQ(catalog.entries, installed);
  }
  const auto keeps = [](const std::wstring& path) { return FakeSocketCatalog::Kept(path) == path; };
  EXPECT_EQ(CatalogModulePath(unicode, L"C:\\PROGRA~1\\VPN~1\\KAVRIN~1.DLL", keeps),
            L"C:\\PROGRA~1\\VPN~1\\KAVRIN~1.DLL");
  EXPECT_EQ(CatalogModulePath(unicode, L"", keeps), L"");  // no short names on that volume
  EXPECT_EQ(CatalogModulePath(std::wstring(kModule), L"C:\\X~1", keeps), kModule);
}

TEST(BindCatalogTest, AnEarlierVersionsSharedChainsOrAHalfWrittenSetAreCompleted) {
  const std::vector<CatalogEntry> clean = FakeSocketCatalog::Typical().entries;

  // Every chain under one GUID, as earlier versions installed them.
  FakeSocketCatalog shared = FakeSocketCatalog::Typical();
  CatalogEntry layer = clean[0];
  layer.chainLength = CatalogEntry::kLayered;
  ASSERT_EQ(shared.Install(kBindLayerGuid, L"D:\\Old\\KavrinBind.dll", {layer}), 0);
  CatalogEntry chain = clean[0];
  chain.chainLength = 2;
  chain.chain = {shared.entries.back().id, clean[0].id};
  CatalogEntry udp = clean[1];
  udp.chainLength = 2;
  udp.chain = {shared.entries.back().id, clean[1].id};
  ASSERT_EQ(shared.Install(kBindChainGuid, L"D:\\Old\\KavrinBind.dll", {chain, udp}), 0);
  ASSERT_EQ(InstallBindLayer(shared, kModule), 0);
  EXPECT_TRUE(HasBindLayer(shared.entries, kModule));
  EXPECT_EQ(Ours(shared.entries).size(), 5u);
  EXPECT_TRUE(shared.Broken().empty());

  // The layer alone, as a failure right after it was installed leaves it.
  FakeSocketCatalog layerOnly = FakeSocketCatalog::Typical();
  ASSERT_EQ(layerOnly.Install(kBindLayerGuid, kModule, {layer}), 0);
  ASSERT_EQ(InstallBindLayer(layerOnly, kModule), 0);
  EXPECT_TRUE(HasBindLayer(layerOnly.entries, kModule));
  ASSERT_EQ(RemoveBindLayer(layerOnly), 0);
  EXPECT_EQ(layerOnly.entries, clean);
  EXPECT_EQ(RemoveBindLayer(layerOnly), kNothingOfOurs);
}

TEST(BindCatalogTest, CatalogWithoutBasesOrThatKeepsNothingIsReportedAndLeftAlone) {
  FakeSocketCatalog empty;
  empty.Base(kAfInet, 3, 0, L"RAW/IP");
  EXPECT_EQ(InstallBindLayer(empty, kModule), kNoBaseEntry);
  EXPECT_EQ(empty.writes, 0);

  FakeSocketCatalog forgetful = FakeSocketCatalog::Typical();
  forgetful.keepInstalls = false;
  const std::vector<CatalogEntry> before = forgetful.entries;
  EXPECT_EQ(InstallBindLayer(forgetful, kModule), kInstallNotKept);
  EXPECT_EQ(forgetful.entries, before);
}

// Every call fails once in turn: no chain may ever name an entry that is gone, the other
// provider must keep working, and the next attempt must finish the job.
TEST(BindCatalogTest, AFailureAtAnyStepLeavesEveryChainWorkingAndTheNextAttemptFinishes) {
  for (const bool removing : {false, true}) {
    FakeSocketCatalog start = FakeSocketCatalog::Typical();
    const std::vector<uint32_t> bases = TcpipBases(start);
    start.InstallForeignLayer(kForeign, {bases[0]});
    if (removing) ASSERT_EQ(InstallBindLayer(start, kModule), 0);
    start.calls = 0;
    for (int step = 1;; ++step) {
      FakeSocketCatalog catalog = start;
      catalog.failCall = step;
      const int result = removing ? RemoveBindLayer(catalog) : InstallBindLayer(catalog, kModule);
      if (catalog.calls < step) break;  // every step has failed once
      SCOPED_TRACE(testing::Message() << "removing " << removing << ", step " << step);
      EXPECT_NE(result, 0);
      EXPECT_TRUE(catalog.Broken().empty());
      EXPECT_TRUE(catalog.ServesFirst(kForeign, bases[0]));
      catalog.failCall = 0;
      if (removing) {
        ASSERT_EQ(RemoveBindLayer(catalog), 0);
        EXPECT_TRUE(Ours(catalog.entries).empty());
      } else {
        ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);
        EXPECT_TRUE(HasBindLayer(catalog.entries, kModule));
      }
      EXPECT_TRUE(catalog.Broken().empty());
    }
  }
}

}  // namespace
