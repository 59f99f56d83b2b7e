#include "policy/bind_catalog.h"

#include <gtest/gtest.h>

#include "fakes/fake_socket_catalog.h"

namespace {

constexpr wchar_t kModule[] = L"C:\\Program Files\\OrumaVPN\\KavrinBind.dll";

std::vector<CatalogEntry> Ours(const std::vector<CatalogEntry>& entries) {
  std::vector<CatalogEntry> ours;
  for (const CatalogEntry& e : entries) {
    if (e.provider == kBindLayerGuid || e.provider == kBindChainGuid) ours.push_back(e);
  }
  return ours;
}

std::vector<CatalogEntry> Others(const std::vector<CatalogEntry>& entries) {
  std::vector<CatalogEntry> others;
  for (const CatalogEntry& e : entries) {
    if (e.provider != kBindLayerGuid && e.provider != kBindChainGuid) others.push_back(e);
  }
  return others;
}

TEST(BindCatalogTest, InstallLayersOneChainOverEachIpv4TcpAndUdpBaseFirstInOrder) {
  FakeSocketCatalog catalog = FakeSocketCatalog::Typical();
  const std::vector<CatalogEntry> before = catalog.entries;
  ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);

  const auto& after = catalog.entries;
  ASSERT_EQ(after.size(), before.size() + 5);
  EXPECT_EQ(Others(after), before);  // untouched and in their order
  const CatalogEntry& layer = after.back();
  EXPECT_EQ(layer.provider, kBindLayerGuid);
  EXPECT_EQ(layer.chainLength, CatalogEntry::kLayered);
  EXPECT_TRUE(layer.providerFlags & kPflHidden);
  // TCP, UDP, then the second TCP and UDP base, as the bases stand in the catalog.
  const uint32_t bases[] = {before[0].id, before[1].id, before[4].id, before[5].id};
  for (int i = 0; i < 4; ++i) {
    const CatalogEntry& chain = after[static_cast<size_t>(i)];
    EXPECT_EQ(chain.provider, kBindChainGuid);
    EXPECT_EQ(chain.chainLength, 2);
    EXPECT_EQ(chain.chain[0], layer.id);
    EXPECT_EQ(chain.chain[1], bases[i]);
    EXPECT_EQ(chain.path, kModule);
    EXPECT_FALSE(chain.serviceFlags[0] & kXp1IfsHandles);
  }
  EXPECT_EQ(after[0].name, L"Kavrin over MSAFD Tcpip [TCP/IP]");
  EXPECT_TRUE(HasBindLayer(after, L"c:\\program files\\orumavpn\\kavrinbind.dll", true));
  EXPECT_FALSE(HasBindLayer(after, L"D:\\Elsewhere\\KavrinBind.dll", false));
}

TEST(BindCatalogTest, InstallAgainKeepsOneSetAndOnlyPutsItBackInFront) {
  FakeSocketCatalog catalog = FakeSocketCatalog::Typical();
  ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);
  const std::vector<CatalogEntry> installed = catalog.entries;
  const int writes = catalog.writes;
  EXPECT_EQ(InstallBindLayer(catalog, kModule), 0);
  EXPECT_EQ(catalog.entries, installed);
  EXPECT_EQ(catalog.writes, writes);

  // Another provider put itself ahead of us: one reorder, same entries.
  std::rotate(catalog.entries.begin(), catalog.entries.begin() + 4, catalog.entries.end());
  EXPECT_FALSE(HasBindLayer(catalog.entries, kModule, true));
  EXPECT_TRUE(HasBindLayer(catalog.entries, kModule, false));
  EXPECT_EQ(InstallBindLayer(catalog, kModule), 0);
  EXPECT_EQ(catalog.entries, installed);
  EXPECT_EQ(catalog.writes, writes + 1);
}

TEST(BindCatalogTest, StaleOrHalfWrittenSetsAreReplacedOrRemovedWhole) {
  const std::vector<CatalogEntry> clean = FakeSocketCatalog::Typical().entries;

  FakeSocketCatalog moved = FakeSocketCatalog::Typical();
  ASSERT_EQ(InstallBindLayer(moved, L"D:\\Old\\KavrinBind.dll"), 0);
  ASSERT_EQ(InstallBindLayer(moved, kModule), 0);
  EXPECT_TRUE(HasBindLayer(moved.entries, kModule, true));
  EXPECT_EQ(Ours(moved.entries).size(), 5u);

  // What a crash between the two installs, or during a removal, leaves.
  CatalogEntry layer = clean[0];
  layer.chainLength = CatalogEntry::kLayered;
  CatalogEntry chain = clean[0];
  chain.chainLength = 2;
  chain.chain = {999, clean[0].id};
  FakeSocketCatalog layerOnly = FakeSocketCatalog::Typical();
  ASSERT_EQ(layerOnly.Install(kBindLayerGuid, kModule, {layer}), 0);
  FakeSocketCatalog chainsOnly = FakeSocketCatalog::Typical();
  ASSERT_EQ(chainsOnly.Install(kBindChainGuid, kModule, {chain}), 0);

  ASSERT_EQ(InstallBindLayer(layerOnly, kModule), 0);
  EXPECT_TRUE(HasBindLayer(layerOnly.entries, kModule, true));
  EXPECT_EQ(Ours(layerOnly.entries).size(), 5u);
  EXPECT_EQ(RemoveBindLayer(chainsOnly), 0);
  EXPECT_EQ(chainsOnly.entries, clean);
  EXPECT_EQ(RemoveBindLayer(chainsOnly), kNothingOfOurs);
  EXPECT_EQ(chainsOnly.entries, clean);
}

TEST(BindCatalogTest, RemoveLeavesEveryOtherEntryInItsOrder) {
  FakeSocketCatalog catalog = FakeSocketCatalog::Typical();
  EXPECT_EQ(RemoveBindLayer(catalog), kNothingOfOurs);
  EXPECT_EQ(catalog.writes, 0);
  ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);
  // A provider installed after us stays, and where it stands.
  catalog.Base(kAfInet, kSockStream, kIpProtoTcp, L"Other layered TCP");
  std::rotate(catalog.entries.rbegin(), catalog.entries.rbegin() + 1, catalog.entries.rend());
  std::vector<CatalogEntry> expected = Others(catalog.entries);
  EXPECT_EQ(RemoveBindLayer(catalog), 0);
  EXPECT_EQ(catalog.entries, expected);
  EXPECT_EQ(expected.front().name, L"Other layered TCP");
}

TEST(BindCatalogTest, CatalogWithoutBasesOrThatKeepsNothingIsReportedAndLeftAlone) {
  FakeSocketCatalog empty;
  empty.Base(23, kSockStream, kIpProtoTcp, L"TCP/IPv6");
  EXPECT_EQ(InstallBindLayer(empty, kModule), kNoBaseEntry);
  EXPECT_EQ(empty.writes, 0);

  FakeSocketCatalog forgetful = FakeSocketCatalog::Typical();
  forgetful.keepInstalls = false;
  const std::vector<CatalogEntry> before = forgetful.entries;
  EXPECT_EQ(InstallBindLayer(forgetful, kModule), kInstallNotKept);
  EXPECT_EQ(forgetful.entries, before);
}

// Every call fails once in turn; the catalog must never be left with part of a set.
TEST(BindCatalogTest, AFailureAtAnyStepOfInstallLeavesTheCatalogAsBefore) {
  for (const bool stale : {false, true}) {
    FakeSocketCatalog start = FakeSocketCatalog::Typical();
    if (stale) {
      ASSERT_EQ(InstallBindLayer(start, L"D:\\Old\\KavrinBind.dll"), 0);
      start.calls = 0;
    }
    for (int step = 1;; ++step) {
      FakeSocketCatalog catalog = start;
      catalog.failCall = step;
      const int result = InstallBindLayer(catalog, kModule);
      if (catalog.calls < step) break;  // every step has failed once
      SCOPED_TRACE(testing::Message() << "stale " << stale << ", step " << step);
      ASSERT_NE(result, 0);
      if (stale && !Ours(catalog.entries).empty()) {
        // The failure came while the old set was being taken out: it is there as it was.
        EXPECT_TRUE(HasBindLayer(catalog.entries, L"D:\\Old\\KavrinBind.dll", true));
        EXPECT_EQ(Others(catalog.entries), Others(start.entries));
      } else {
        // No old set, or it was gone before the failure: none of ours is left.
        EXPECT_EQ(catalog.entries, Others(start.entries));
      }
    }
  }
}

TEST(BindCatalogTest, AFailureAtAnyStepOfRemovalLeavesTheSetWhole) {
  FakeSocketCatalog start = FakeSocketCatalog::Typical();
  ASSERT_EQ(InstallBindLayer(start, kModule), 0);
  start.calls = 0;
  for (int step = 1;; ++step) {
    FakeSocketCatalog catalog = start;
    catalog.failCall = step;
    const int result = RemoveBindLayer(catalog);
    if (catalog.calls < step) break;
    SCOPED_TRACE(testing::Message() << "step " << step);
    ASSERT_NE(result, 0);
    // Put back with new ids, but the same shape and at the same places.
    EXPECT_TRUE(HasBindLayer(catalog.entries, kModule, true));
    EXPECT_EQ(Others(catalog.entries), Others(start.entries));
    ASSERT_EQ(RemoveBindLayer(catalog), 0);  // the next attempt still removes it all
    EXPECT_EQ(catalog.entries, Others(start.entries));
  }
}

}  // namespace
