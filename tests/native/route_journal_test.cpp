#include "vpn/route_journal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/file_path.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_folder_security.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"
#include "vpn/general_vpn.h"
#include "vpn/route_modification.h"

namespace {

// Thrown by the table where the process is to die: nothing after it runs, as after a kill.
struct Crash {};

constexpr uint32_t kAlreadyExists = 5010;
constexpr uint32_t kLanInterface = 7;
constexpr uint32_t kTunnelInterface = 23;

// The table as a multiset, ages aside.
std::vector<RouteKey> Keys(const std::vector<RouteRow>& rows) {
  std::vector<RouteKey> keys;
  for (const RouteRow& row : rows) keys.push_back(RouteKeyOf(row));
  std::sort(keys.begin(), keys.end());
  return keys;
}

RouteRow Row(const char* destination, const char* mask, const char* gateway,
             uint32_t protocol = kRouteProtocolNetMgmt) {
  RouteRow row{};
  row.destination = Ip(destination);
  row.mask = Ip(mask);
  row.nextHop = Ip(gateway);
  row.interfaceIndex = kLanInterface;
  row.type = 4;
  row.protocol = protocol;
  row.metric1 = 21;
  row.metric2 = row.metric3 = row.metric4 = row.metric5 = 0xFFFFFFFFu;
  return row;
}

std::wstring DottedLine(uint32_t n) {
  return std::to_wstring(20 + n / 65536) + L"." + std::to_wstring(n / 256 % 256) + L"." +
         std::to_wstring(n % 256) + L".0 mask 255.255.255.0";
}

class RouteJournalTest : public ::testing::Test {
 protected:
  RouteJournalTest() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    file_ = std::filesystem::temp_directory_path() /
            ("kv_route_journal_" + std::to_string(getpid()) + "_" + test->name() + ".dat");
    path_ = file_.wstring();
    std::filesystem::remove(file_);

    // The routing table as the system keeps it; the process may die inside a creation, before
    // the route exists or just after.
    table_.systemLike = true;
    table_.adapters = {{kLanInterface, "192.168.1.20"}, {kTunnelInterface, "10.8.0.6"}};
    table_.interfaceMetrics =
        std::vector<InterfaceMetric>{{kLanInterface, 20}, {kTunnelInterface, 1}};
    table_.beforeCreate = [this](const RouteRow&) -> uint32_t {
      if (int(table_.createCalls.size()) == crashAtCreation_) throw Crash{};
      return 0;
    };
    table_.afterCreate = [this](const RouteRow&) {
      if (int(table_.createCalls.size()) == crashAfterCreation_) throw Crash{};
    };

    RouteRow hostDefault = Row("0.0.0.0", "0.0.0.0", "192.168.1.1");
    hostDefault.metric1 = 20;
    table_.forwardTable = {
        hostDefault, Row("192.168.1.0", "255.255.255.0", "192.168.1.20", 2),
        Row("127.0.0.0", "255.0.0.0", "127.0.0.1", 2),
        // Put there by hand: same destination as a listed route, another gateway.
        Row("20.0.5.0", "255.255.255.0", "192.168.1.254")};
    for (RouteRow& row : table_.forwardTable) row.age = 900;
  }
  ~RouteJournalTest() override { std::filesystem::remove(file_); }

  // An engine in route mode 1 with `count` listed routes, journaling, connecting.
  std::unique_ptr<TestVpn> ConnectInModeOne(uint32_t count) {
    auto vpn = std::make_unique<TestVpn>(table_, clock_, nullptr);
    vpn->SetRouteJournal(std::make_unique<RouteJournal>(table_, path_));
    vpn->routeMode = RouteModeDefaultGateway;
    for (uint32_t n = 0; n < count; ++n) vpn->routeList.push_back(DottedLine(n));
    vpn->SetProxy(1, L"198.51.100.7", 8080, nullptr, nullptr);
    EXPECT_EQ(vpn->ConnectNow(), 0);
    return vpn;
  }

  std::string JournalBytes() {
    std::ifstream in(file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void WriteJournal(const std::string& bytes) {
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << bytes;
  }

  std::filesystem::path file_;
  std::wstring path_;
  FakeRouteTable table_;
  int crashAtCreation_ = 0;
  int crashAfterCreation_ = 0;
  FakeClock clock_;
};

TEST_F(RouteJournalTest, CrashHalfwayThroughThreeThousandRoutesIsUndoneAtTheNextStart) {
  const std::vector<RouteRow> before = table_.forwardTable;
  auto vpn = ConnectInModeOne(3000);
  // The proxy host route first, then 1,500 listed routes; the process dies as the system
  // finishes the last of them.
  crashAfterCreation_ = 1 + 1500;
  EXPECT_THROW(vpn->TunnelUpHere(L"10.8.0.6"), Crash);
  vpn.reset();
  ASSERT_EQ(table_.forwardTable.size(), before.size() + 1 + 1500);
  ASSERT_TRUE(std::filesystem::exists(file_));

  const RouteRecovery recovery = RecoverRouteJournal(table_, path_);

  EXPECT_EQ(recovery.deleted, 1u + 1500u);
  EXPECT_FALSE(recovery.kept);
  EXPECT_EQ(Keys(table_.forwardTable), Keys(before));
  EXPECT_NE(table_.Find(Row("20.0.5.0", "255.255.255.0", "192.168.1.254")),
            table_.forwardTable.end());
  EXPECT_FALSE(std::filesystem::exists(file_));

  // Twice is harmless: nothing left to read, nothing touched.
  const int readsBefore = table_.forwardTableReads;
  const RouteRecovery again = RecoverRouteJournal(table_, path_);
  EXPECT_EQ(again.listed, 0u);
  EXPECT_EQ(again.deleted, 0u);
  EXPECT_EQ(table_.forwardTableReads, readsBefore);
  EXPECT_EQ(Keys(table_.forwardTable), Keys(before));
}

TEST_F(RouteJournalTest, NormalConnectionMakesTheSameCallsAndLeavesNoJournal) {
  FakeRouteTable plain;
  FakeRouteTable journaled;
  for (FakeRouteTable* table : {&plain, &journaled}) {
    table->forwardTable = {Row("0.0.0.0", "0.0.0.0", "192.168.1.1")};
    table->adapters = {{kLanInterface, "192.168.1.20"}, {kTunnelInterface, "10.8.0.6"}};
    table->interfaceMetrics = std::vector<InterfaceMetric>{{kLanInterface, 20}};
    table->createErrors[Ip("20.0.1.0")] = 87;
    table->createErrors[Ip("198.51.100.7")] = 87;
  }
  auto run = [&](FakeRouteTable& table, bool journal) {
    TestVpn vpn(table, clock_, nullptr);
    if (journal) vpn.SetRouteJournal(std::make_unique<RouteJournal>(table, path_));
    vpn.routeMode = RouteModeDefaultGateway;
    vpn.routeList = {DottedLine(0), DottedLine(1), L"no route here", DottedLine(2)};
    vpn.SetProxy(2, L"198.51.100.7", 1080, nullptr, nullptr);
    EXPECT_EQ(vpn.ConnectNow(), 0);
    vpn.TunnelUp(L"10.8.0.6");
    EXPECT_EQ(std::filesystem::exists(file_), journal);
    const VpnStatus status = vpn.Status();
    const auto results = std::make_tuple(status.state, status.error, status.failedRoutes);
    vpn.DisconnectNow();
    return results;
  };
  const auto withoutJournal = run(plain, false);
  const auto withJournal = run(journaled, true);

  EXPECT_EQ(withJournal, withoutJournal);
  EXPECT_EQ(journaled.createCalls, plain.createCalls);
  EXPECT_EQ(journaled.deleteCalls, plain.deleteCalls);
  EXPECT_TRUE(journaled.installed.empty());
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(RouteJournalTest, JournalCutAnywhereInItsLastRecordStillRecoversTheCompleteOnes) {
  {
    RouteJournal journal(table_, path_);
    for (const char* to : {"20.0.0.0", "20.0.1.0", "20.0.2.0"}) {
      ASSERT_EQ(journal.CreateRow(Row(to, "255.255.255.0", "192.168.1.1")), 0u);
    }
  }
  const std::string whole = JournalBytes();
  const std::vector<RouteRow> crashed = table_.forwardTable;
  const size_t lastRecord = whole.size() - route_journal::kRecordSize;

  for (size_t cut = lastRecord; cut <= whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    table_.forwardTable = crashed;
    WriteJournal(whole.substr(0, cut));
    const RouteRecovery recovery = RecoverRouteJournal(table_, path_);
    const bool lastComplete = cut == whole.size();
    EXPECT_EQ(recovery.deleted, lastComplete ? 3u : 2u);
    EXPECT_EQ(
        table_.Find(Row("20.0.2.0", "255.255.255.0", "192.168.1.1")) != table_.forwardTable.end(),
        !lastComplete);
    EXPECT_FALSE(std::filesystem::exists(file_));
  }
  // A tail the system extended with zeros ends the journal there; so does a garbled record,
  // even one that now reads as a route of someone else's.
  const RouteRow handMade = Row("20.0.5.0", "255.255.255.0", "192.168.1.254");
  const std::string garbled =
      whole.substr(0, lastRecord) +
      route_journal::EncodeRecord(route_journal::kCreated, handMade).substr(0, 57) +
      whole.substr(lastRecord + 57);
  for (const std::string& bytes :
       {whole + std::string(route_journal::kRecordSize, '\0'), garbled}) {
    table_.forwardTable = crashed;
    WriteJournal(bytes);
    EXPECT_EQ(RecoverRouteJournal(table_, path_).deleted, bytes == garbled ? 2u : 3u);
    EXPECT_NE(table_.Find(handMade), table_.forwardTable.end());
  }
  // Cut inside the header, or a file of another format: nothing is taken, the file goes.
  for (const std::string& bytes :
       {whole.substr(0, 5), std::string("KVRJ\x02\x00", 6) + whole.substr(6)}) {
    table_.forwardTable = crashed;
    WriteJournal(bytes);
    EXPECT_EQ(RecoverRouteJournal(table_, path_).deleted, 0u);
    EXPECT_EQ(table_.forwardTable, crashed);
    EXPECT_FALSE(std::filesystem::exists(file_));
  }
}

TEST_F(RouteJournalTest, RowsChangedGoneOrThereBeforeAreLeftAlone) {
  const RouteRow kept = Row("20.0.0.0", "255.255.255.0", "192.168.1.1");
  const RouteRow changed = Row("20.0.1.0", "255.255.255.0", "192.168.1.1");
  const RouteRow gone = Row("20.0.2.0", "255.255.255.0", "192.168.1.1");
  const RouteRow before = Row("20.0.3.0", "255.255.255.0", "192.168.1.1");
  table_.forwardTable.push_back(before);
  {
    RouteJournal journal(table_, path_);
    for (const RouteRow& row : {kept, changed, gone}) ASSERT_EQ(journal.CreateRow(row), 0u);
    EXPECT_EQ(journal.CreateRow(before), kAlreadyExists);
    // The process dies inside the system call, after the record and before the route.
    crashAtCreation_ = int(table_.createCalls.size()) + 1;
    EXPECT_THROW(journal.CreateRow(before), Crash);
    EXPECT_EQ(journal.ListedRows(), 3u);
  }
  // Someone else changes one route's metric and deletes another meanwhile.
  table_.Find(changed)->metric1 = 5;
  table_.forwardTable.erase(table_.Find(gone));
  const std::vector<RouteRow> expected = [&] {
    std::vector<RouteRow> rows = table_.forwardTable;
    rows.erase(std::find(rows.begin(), rows.end(), *table_.Find(kept)));
    return rows;
  }();

  const RouteRecovery recovery = RecoverRouteJournal(table_, path_);
  EXPECT_EQ(recovery.listed, 3u);
  EXPECT_EQ(recovery.deleted, 1u);
  EXPECT_EQ(table_.forwardTable, expected);
}

TEST_F(RouteJournalTest, PlantedJournalNeverTakesDefaultOrSystemRoutes) {
  std::string bytes = route_journal::Header();
  for (const RouteRow& row : table_.forwardTable) {
    bytes += route_journal::EncodeRecord(route_journal::kCreated, row);
  }
  WriteJournal(bytes);
  const std::vector<RouteRow> before = table_.forwardTable;

  const RouteRecovery recovery = RecoverRouteJournal(table_, path_);
  // Only the hand-made network-management route could have been one of ours.
  EXPECT_EQ(recovery.listed, 4u);
  EXPECT_EQ(recovery.deleted, 1u);
  EXPECT_EQ(Keys(table_.forwardTable), Keys({before[0], before[1], before[2]}));
}

TEST_F(RouteJournalTest, JournalOthersCouldHaveWrittenIsNeitherReadNorRemoved) {
  const std::filesystem::path folder = file_.parent_path() / (file_.stem().string() + "_folder");
  std::filesystem::create_directories(folder);
  const std::wstring bare = folder.wstring();
  const std::wstring journal = bare + L"/" + kRouteJournalFileName;
  path_ = journal;
  std::string bytes = route_journal::Header();
  bytes += route_journal::EncodeRecord(route_journal::kCreated, table_.forwardTable[3]);
  std::ofstream(FileSystemPath(journal), std::ios::binary) << bytes;

  FakeFolderSecurity security;
  security.entries[bare] = FakeFolderSecurity::OwnFolder();
  security.entries[journal] = FakeFolderSecurity::OwnFile();
  FolderEntryFacts openFolder = FakeFolderSecurity::OwnFolder();
  openFolder.othersMayWrite = true;
  FolderEntryFacts foreignFile = FakeFolderSecurity::OwnFile();
  foreignFile.trustedOwner = false;
  FolderEntryFacts secondName = FakeFolderSecurity::OwnFile();
  secondName.hardLinks = 2;
  const std::vector<std::pair<std::wstring, FolderEntryFacts>> untrusted = {
      {bare, openFolder}, {journal, foreignFile}, {journal, secondName}};
  for (const auto& [path, facts] : untrusted) {
    FakeFolderSecurity planted = security;
    planted.entries[path] = facts;
    const RouteRecovery recovery = RecoverOwnRouteJournal(table_, planted, bare + L"/");
    EXPECT_TRUE(recovery.ignored);
    EXPECT_EQ(table_.deleteCalls.size(), 0u);
    EXPECT_TRUE(std::filesystem::exists(folder / kRouteJournalFileName));
  }

  const RouteRecovery own = RecoverOwnRouteJournal(table_, security, bare + L"/");
  EXPECT_FALSE(own.ignored);
  EXPECT_EQ(own.deleted, 1u);
  EXPECT_FALSE(std::filesystem::exists(folder / kRouteJournalFileName));
  std::filesystem::remove_all(folder);
}

// Attack: a journal planted after start-up, for the first connection's journal to take up and
// act on. One that is not ours is replaced unread.
TEST_F(RouteJournalTest, JournalFoundWhenAConnectionBeginsIsReadOnlyWhenOurs) {
  std::string bytes = route_journal::Header();
  bytes += route_journal::EncodeRecord(route_journal::kCreated, table_.forwardTable[3]);
  WriteJournal(bytes);
  FakeFolderSecurity security;
  security.entries[file_.parent_path().wstring()] = FakeFolderSecurity::OwnFolder();
  security.entries[path_] = FakeFolderSecurity::UsersFile();
  {
    RouteJournal journal(table_, path_, nullptr, &security);
    journal.CreateRow(Row("20.0.9.0", "255.255.255.0", "192.168.1.1"));
  }
  EXPECT_EQ(table_.deleteCalls.size(), 0u) << "the planted row stays in the table";
}

TEST_F(RouteJournalTest, JournalStaysWhileItsRowsMayStillBeThere) {
  const RouteRow row = Row("20.0.0.0", "255.255.255.0", "192.168.1.1");
  {
    RouteJournal journal(table_, path_);
    ASSERT_EQ(journal.CreateRow(row), 0u);
    table_.deleteError = 5;  // access denied
    EXPECT_EQ(journal.DeleteRow(row), 5u);
    journal.Settle();
    EXPECT_TRUE(std::filesystem::exists(file_));
  }
  EXPECT_TRUE(RecoverRouteJournal(table_, path_).kept);
  table_.deleteError = 0;
  table_.forwardTableError = 21;
  EXPECT_TRUE(RecoverRouteJournal(table_, path_).kept);
  table_.forwardTableError = 0;

  // The next connection takes the leftover back before it starts a journal of its own.
  const RouteRow next = Row("20.0.9.0", "255.255.255.0", "192.168.1.1");
  RouteJournal journal(table_, path_);
  ASSERT_EQ(journal.CreateRow(next), 0u);
  EXPECT_EQ(table_.Find(row), table_.forwardTable.end());
  EXPECT_EQ(journal.ListedRows(), 1u);
  EXPECT_EQ(journal.DeleteRow(next), 0u);
  journal.Settle();
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(RouteJournalTest, UnwritableJournalNeverStopsTheRoutes) {
  path_ = (std::filesystem::temp_directory_path() / "kv-no-such-folder" / "journal.dat").wstring();
  auto vpn = ConnectInModeOne(20);
  vpn->TunnelUp(L"10.8.0.6");
  EXPECT_EQ(vpn->Status().state, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_EQ(table_.forwardTable.size(), 4u + 1u + 20u);
  vpn->DisconnectNow();
  EXPECT_EQ(table_.forwardTable.size(), 4u);
}

}  // namespace
