#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "bind/app_list_reader.h"
#include "bind/steering.h"

namespace {

// Addresses in network byte order, as a socket address holds them.
constexpr uint32_t Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8) |
         (static_cast<uint32_t>(c) << 16) | (static_cast<uint32_t>(d) << 24);
}
constexpr uint32_t kTunnel = Address(10, 8, 0, 6);
constexpr uint32_t kDestination = Address(93, 184, 216, 34);
constexpr uint32_t kOwnProcess = 4242;
constexpr uint32_t kClientProcess = 77;
const std::wstring kProgram = L"C:\\Games\\Client\\Game.exe";

// Bytes stand for themselves, as a Latin-1 code page would decode them.
std::wstring Latin1(std::string_view bytes) {
  std::wstring text;
  for (const char c : bytes) text.push_back(static_cast<unsigned char>(c));
  return text;
}

std::string Section(const std::string& program, const std::string& keys) {
  return "[" + program + "]\r\nAppFullname=" + program + "\r\n" + keys;
}

class FakeSteeringSystem : public SteeringSystem {
 public:
  uint64_t NowMs() override { return now; }
  BindState ReadBindState() override {
    ++stateReads;
    return state;
  }
  FileStamp AppListStamp() override {
    ++stampReads;
    return {!list.empty(), listVersion, list.size()};
  }
  // Read on a thread of its own, as the module's worker does; `hold` keeps the file locked (an
  // opportunistic lock someone holds) until `Release`.
  std::string ReadAppList() override {
    std::unique_lock lock(mutex);
    readers.push_back(std::this_thread::get_id());
    released.wait(lock, [this] { return !hold; });
    ++listReads;
    return list;
  }
  bool ReadAppListInBackground(Steering& steering) override {
    threads.emplace_back([&steering] { steering.ReadAppList(); });
    return true;
  }
  void Release() {
    std::lock_guard lock(mutex);
    hold = false;
    released.notify_all();
  }
  void Join() {
    Release();
    for (auto& thread : threads) thread.join();
    threads.clear();
  }
  std::wstring DecodeAnsi(std::string_view bytes) override { return Latin1(bytes); }
  std::vector<LocalSubnet> LocalSubnets() override { return subnets; }

  void Write(const std::string& text) {
    list = text;
    ++listVersion;
  }

  uint64_t now = 100000;
  BindState state{true, kTunnel, kClientProcess};
  std::string list;
  uint64_t listVersion = 1;
  std::vector<LocalSubnet> subnets;
  std::atomic<int> stateReads = 0, stampReads = 0, listReads = 0;
  std::mutex mutex;
  std::condition_variable released;
  bool hold = false;
  std::vector<std::thread::id> readers;
  std::vector<std::thread> threads;
};

TEST(AppListReaderTest, ReadsSectionsInEveryEncodingTheSystemWrites) {
  const std::string plain = Section("C:\\A\\a.exe", "Active=1\r\nUseAsyncMode=1\r\n") +
                            Section("C:\\B\\b.exe", "Active=0\r\nForceWSPBind=0x1\r\n") +
                            "[C:\\C\\c.lnk]\r\nActive=1\r\n";  // no program: nothing to bind
  const auto apps = ReadBoundApps(plain, Latin1);
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0].program, L"c:\\a\\a.exe");
  EXPECT_TRUE(apps[0].active && apps[0].useAsyncMode && !apps[0].forceBind);
  EXPECT_TRUE(!apps[1].active && apps[1].forceBind);

  // UTF-16LE with its mark, as the wide profile calls keep a file that has one.
  const std::u16string wide = u"[x]\r\nAppFullname=C:\\\u6E38\u620F\\G.exe\r\n";
  std::string utf16 = "\xFF\xFE";
  for (const char16_t c : wide) {
    utf16.push_back(static_cast<char>(c & 0xFF));
    utf16.push_back(static_cast<char>(c >> 8));
  }
  const auto fromUtf16 = ReadBoundApps(utf16, Latin1);
  ASSERT_EQ(fromUtf16.size(), 1u);
  EXPECT_EQ(fromUtf16[0].program, L"c:\\\u6E38\u620F\\g.exe");
  EXPECT_TRUE(fromUtf16[0].active);  // "Active" absent counts as 1

  const auto fromUtf8 =
      ReadBoundApps("\xEF\xBB\xBF[x]\nAppFullname=C:\\\xE6\xB8\xB8\\G.exe\n", Latin1);
  ASSERT_EQ(fromUtf8.size(), 1u);
  EXPECT_EQ(fromUtf8[0].program, L"c:\\\u6E38\\g.exe");
}

TEST(AppListReaderTest, FirstSectionAndFirstKeyOfANameCountLikeTheSystemsReads) {
  const std::string text = "[P]\nappfullname = \"C:\\one.exe\"\nAppFullname=C:\\two.exe\n"
                           "ACTIVE=01\nActive=0\n"
                           "[p]\nAppFullname=C:\\three.exe\n"
                           "garbage line\n[unterminated\nActive=7abc\n";
  const auto apps = ReadBoundApps(text, Latin1);
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].program, L"c:\\one.exe");
  EXPECT_TRUE(apps[0].active);
  EXPECT_EQ(ParseProfileInteger(L"0x10", 0), 16);
  EXPECT_EQ(ParseProfileInteger(L"010", 0), 8);
  EXPECT_EQ(ParseProfileInteger(L"7abc", 0), 7);
  EXPECT_EQ(ParseProfileInteger(L"  ", 5), 5);
}

TEST(AppListReaderTest, PathsOfOneFileCompareEqualAfterNormalising) {
  const std::wstring expected = L"c:\\program files\\game\\game.exe";
  for (const wchar_t* path :
       {L"C:\\Program Files\\Game\\Game.exe", L"c:/program files//game/./GAME.EXE",
        L"C:\\Program Files\\Other\\..\\Game\\Game.exe", L"\\\\?\\C:\\Program Files\\Game\\Game.exe",
        L"  \"C:\\Program Files\\Game\\Game.exe\" "}) {
    EXPECT_EQ(NormalizeProgramPath(path), expected) << path;
  }
  EXPECT_EQ(NormalizeProgramPath(L"\\\\?\\UNC\\Server\\Share\\..\\..\\a.exe"),
            L"\\\\server\\share\\a.exe");  // never above the share
  EXPECT_EQ(NormalizeProgramPath(L"C:\\..\\..\\a.exe"), L"c:\\a.exe");
  EXPECT_EQ(NormalizeProgramPath(L"C:\\\u00C9T\u00C9\\\u0416.exe"), L"c:\\\u00E9t\u00E9\\\u0436.exe");
}

class SteeringTest : public ::testing::Test {
 protected:
  ~SteeringTest() override { system_.Join(); }
  void List(const std::string& keys) { system_.Write(Section("c:/games/client/GAME.exe", keys)); }

  FakeSteeringSystem system_;
  Steering steering_{system_, kProgram, kOwnProcess};
};

TEST_F(SteeringTest, OnlyAListedActiveProgramIsSteeredWhileBindingIsOn) {
  List("Active=1\r\n");
  const SteerPlan plan = steering_.Plan(kDestination, true);
  EXPECT_TRUE(plan.steer && plan.askRoute && plan.wait);
  EXPECT_EQ(plan.bindTo, 0u);

  Steering other(system_, L"C:\\Games\\Client\\Launcher.exe", kOwnProcess);
  EXPECT_FALSE(other.Plan(kDestination, true).steer);
  Steering client(system_, kProgram, kClientProcess);  // the client's own process
  EXPECT_FALSE(client.Plan(kDestination, true).steer);
  system_.Join();  // the readings of these two are done before they go

  List("Active=0\r\n");
  system_.now += kSteeringRefreshMs;
  EXPECT_FALSE(steering_.Plan(kDestination, true).steer);

  List("Active=1\r\n");
  system_.state = {};
  system_.now += kSteeringRefreshMs;
  EXPECT_FALSE(steering_.Plan(kDestination, true).steer);
}

TEST_F(SteeringTest, OnlyBlockingCallsOfProgramsWithoutAsyncModeWait) {
  List("ForceWSPBind=1\r\n");
  SteerPlan plan = steering_.Plan(kDestination, /*mayWait=*/false);
  EXPECT_TRUE(plan.steer && plan.askRoute && !plan.wait && !plan.granted);
  EXPECT_EQ(plan.bindTo, kTunnel);  // but only once granted

  List("UseAsyncMode=1\r\n");
  system_.now += kSteeringRefreshMs;
  plan = steering_.Plan(Address(1, 2, 3, 4), true);
  EXPECT_TRUE(plan.askRoute && !plan.wait);
  EXPECT_EQ(plan.bindTo, 0u);
}

TEST_F(SteeringTest, OnlyPublicUnicastDestinationsOffThisMachinesSubnetsAreSteered) {
  List("");
  for (const uint32_t address :
       {Address(0, 0, 0, 0), Address(255, 255, 255, 255), Address(127, 0, 0, 1),
        Address(10, 1, 2, 3), Address(172, 16, 0, 1), Address(172, 31, 255, 255),
        Address(192, 168, 1, 1), Address(192, 168, 1, 255), Address(100, 64, 0, 1),
        Address(100, 127, 255, 254), Address(169, 254, 1, 1), Address(224, 0, 0, 251),
        Address(239, 255, 255, 250), Address(240, 0, 0, 1)}) {
    EXPECT_FALSE(steering_.Plan(address, true).steer) << std::hex << address;
  }
  for (const uint32_t address : {Address(172, 32, 0, 1), Address(100, 128, 0, 1),
                                 Address(192, 169, 0, 1), Address(223, 255, 255, 254)}) {
    EXPECT_TRUE(steering_.Plan(address, true).steer) << std::hex << address;
  }
  // A public address on a subnet of this machine's own is on-link.
  system_.subnets = {{Address(203, 0, 113, 7), Address(255, 255, 255, 0)}};
  system_.now += kSteeringRefreshMs;
  EXPECT_FALSE(steering_.Plan(Address(203, 0, 113, 1), true).steer);
  EXPECT_TRUE(steering_.Plan(Address(203, 0, 114, 1), true).steer);
}

TEST_F(SteeringTest, IPv4MappedDestinationsOfDualStackSocketsAreIPv4) {
  uint8_t in[16] = {2, 0, 0, 80, 93, 184, 216, 34};
  EXPECT_EQ(Ipv4Destination(in, sizeof(in)), kDestination);
  EXPECT_EQ(Ipv4Destination(in, 7), std::nullopt);
  uint8_t in6[28] = {23, 0, 0, 80};
  in6[18] = in6[19] = 0xFF;
  std::memcpy(in6 + 20, &kDestination, 4);
  EXPECT_EQ(Ipv4Destination(in6, sizeof(in6)), kDestination);
  EXPECT_EQ(Ipv4Destination(in6, 23), std::nullopt);
  in6[8] = 0x20;  // a pure IPv6 address
  EXPECT_EQ(Ipv4Destination(in6, sizeof(in6)), std::nullopt);
}

TEST_F(SteeringTest, AnswersAreRememberedGrantsLongestAndOneRequestIsInFlight) {
  List("");
  ASSERT_TRUE(steering_.Plan(kDestination, true).askRoute);
  // A second caller while the first asks: no second request; a blocking one waits for it.
  SteerPlan second = steering_.Plan(kDestination, true);
  EXPECT_TRUE(second.steer && !second.askRoute && second.wait);
  EXPECT_FALSE(steering_.Plan(kDestination, false).wait);
  steering_.Answered(kDestination, RouteAnswer::kGranted);
  EXPECT_TRUE(steering_.AwaitAnswer(kDestination, 0));
  system_.now += kRouteMemoryMs - 1;
  second = steering_.Plan(kDestination, true);
  EXPECT_TRUE(second.granted && !second.askRoute && !second.wait);
  EXPECT_TRUE(steering_.Plan(Address(1, 2, 3, 4), true).askRoute);  // per address
  system_.now += 1;
  EXPECT_TRUE(steering_.Plan(kDestination, true).askRoute);  // asked again while in use
  static_assert(kRouteMemoryMs < 6 * 60 * 1000);

  // A refusal is remembered for a while, a failure for a shorter one.
  steering_.Answered(kDestination, RouteAnswer::kRefused);
  EXPECT_FALSE(steering_.AwaitAnswer(kDestination, 0));
  system_.now += kRefusalMemoryMs - 1;
  second = steering_.Plan(kDestination, true);
  EXPECT_TRUE(second.steer && !second.askRoute && !second.granted && !second.wait);
  system_.now += 1;
  ASSERT_TRUE(steering_.Plan(kDestination, true).askRoute);
  steering_.Answered(kDestination, RouteAnswer::kFailed);
  system_.now += kFailureMemoryMs;
  EXPECT_TRUE(steering_.Plan(kDestination, true).askRoute);

  // One that never reports back stops counting after the longest wait.
  system_.now += kRouteReplyWaitMs + 1000;
  EXPECT_TRUE(steering_.Plan(kDestination, true).askRoute);

  // A new connection forgets what the last one routed.
  steering_.Answered(kDestination, RouteAnswer::kGranted);
  system_.state.tunnelAddress = Address(10, 8, 0, 10);
  system_.now += kSteeringRefreshMs;
  EXPECT_TRUE(steering_.Plan(kDestination, true).askRoute);
}

TEST_F(SteeringTest, AGrantStillInUseIsRenewedBeforeItEnds) {
  List("");
  const uint32_t idle = Address(1, 2, 3, 4);
  for (const uint32_t address : {kDestination, idle}) {
    ASSERT_TRUE(steering_.Plan(address, true).askRoute);
    steering_.Answered(address, RouteAnswer::kGranted);
  }
  const std::vector<uint32_t> inUse = {kDestination, Address(5, 6, 7, 8)};
  EXPECT_TRUE(steering_.DueForRenewal(inUse).empty());
  system_.now += kRouteMemoryMs - kRenewAheadMs;
  EXPECT_EQ(steering_.DueForRenewal(inUse), std::vector<uint32_t>{kDestination});
  EXPECT_TRUE(steering_.DueForRenewal(inUse).empty());  // asked for already
  EXPECT_TRUE(steering_.Plan(kDestination, false).granted);  // still granted meanwhile
  // A renewal whose exchange failed keeps the grant and is tried again next round.
  steering_.Renewed(kDestination, RouteAnswer::kFailed);
  EXPECT_TRUE(steering_.Plan(kDestination, false).granted);
  system_.now += kRenewAheadMs / 2;
  ASSERT_EQ(steering_.DueForRenewal(inUse), std::vector<uint32_t>{kDestination});
  steering_.Renewed(kDestination, RouteAnswer::kGranted);
  system_.now += kRenewAheadMs;
  EXPECT_TRUE(steering_.Plan(kDestination, true).granted);
  EXPECT_TRUE(steering_.Plan(idle, true).askRoute);  // nobody used it: asked only when next used

  // Only a refusal ends it.
  system_.now += kRouteMemoryMs - kRenewAheadMs;
  ASSERT_EQ(steering_.DueForRenewal(inUse), std::vector<uint32_t>{kDestination});
  steering_.Renewed(kDestination, RouteAnswer::kRefused);
  EXPECT_FALSE(steering_.Plan(kDestination, false).granted);
  EXPECT_TRUE(steering_.DueForRenewal(inUse).empty());
}

// Any user may hold an opportunistic lock on the list file; a socket call never waits on it.
TEST_F(SteeringTest, TheListIsReadOffTheCallersThreadAndAHeldFileCostsOneBoundedWait) {
  system_.hold = true;
  List("");
  std::atomic<bool> planned = false;
  std::thread watchdog([&] {
    for (int n = 0; n < 500 && !planned; ++n) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    system_.Release();  // would free a caller stuck on the file
  });
  EXPECT_FALSE(steering_.Plan(kDestination, true).steer);  // not read yet: unsteered
  const bool heldWhilePlanned = [&] {
    std::lock_guard lock(system_.mutex);
    return system_.hold;
  }();
  planned = true;
  watchdog.join();
  EXPECT_TRUE(heldWhilePlanned) << "the call waited for the held file";
  {
    std::lock_guard lock(system_.mutex);
    ASSERT_FALSE(system_.readers.empty());
    EXPECT_NE(system_.readers.front(), std::this_thread::get_id());
  }
  system_.Join();
  system_.now += kSteeringRefreshMs;
  EXPECT_TRUE(steering_.Plan(kDestination, true).steer);  // read meanwhile
}

TEST_F(SteeringTest, AWaitingCallerWakesWhenTheRequestOnItsWayIsAnswered) {
  List("");
  ASSERT_TRUE(steering_.Plan(kDestination, true).askRoute);
  std::thread asker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    steering_.Answered(kDestination, RouteAnswer::kGranted);
  });
  EXPECT_TRUE(steering_.AwaitAnswer(kDestination, 10000));
  asker.join();
}

TEST_F(SteeringTest, TheSystemIsLookedAtAtMostOnceASecondAndTheListReadOnlyWhenChanged) {
  List("");
  for (int n = 0; n < 50; ++n) steering_.Plan(kDestination, true);
  EXPECT_EQ(system_.stateReads, 1);
  EXPECT_EQ(system_.stampReads, 1);
  EXPECT_EQ(system_.listReads, 1);

  system_.now += kSteeringRefreshMs;
  steering_.Plan(kDestination, true);
  EXPECT_EQ(system_.stampReads, 2);
  EXPECT_EQ(system_.listReads, 1);  // unchanged

  // While the binding is off the list is not even looked at, nor the state within the second.
  system_.state = {};
  system_.now += kSteeringRefreshMs;
  steering_.Plan(kDestination, true);
  steering_.Plan(kDestination, true);
  EXPECT_EQ(system_.stampReads, 2);
  EXPECT_EQ(system_.stateReads, 3);
}

// Full of live answers, the memory lets the soonest ending refusal go, never a live grant.
TEST_F(SteeringTest, RememberingIsBoundedAndKeepsLiveGrants) {
  List("");
  const auto address = [](uint32_t n) {
    return Address(11, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                   static_cast<uint8_t>(n));
  };
  for (uint32_t n = 0; n < kMaxRememberedRoutes; ++n) {
    steering_.Plan(address(n), false);
    steering_.Answered(address(n), n == 7 ? RouteAnswer::kRefused : RouteAnswer::kGranted);
  }
  system_.now += 1;
  for (const uint32_t n : {kMaxRememberedRoutes, kMaxRememberedRoutes + 1}) {
    steering_.Plan(address(n), false);
    steering_.Answered(address(n), RouteAnswer::kGranted);
  }
  // The grants made first are still known; only the refusal and, with no other choice, the
  // soonest ending grant went.
  int granted = 0;
  for (uint32_t n = 0; n < kMaxRememberedRoutes + 2; n += 97) {
    granted += steering_.Plan(address(n), false).granted;
  }
  EXPECT_GE(granted, static_cast<int>((kMaxRememberedRoutes + 2) / 97) - 2);
  EXPECT_TRUE(steering_.Plan(address(kMaxRememberedRoutes + 1), false).granted);
}

TEST(BindStateTest, OnlyACompleteRecordOfOursTurnsBindingOn) {
  PublishedBindState record;
  record.on = 1;
  record.tunnelAddress = kTunnel;
  record.clientProcessId = kClientProcess;
  EXPECT_EQ(DecodeBindState(&record, sizeof(record)), (BindState{true, kTunnel, kClientProcess}));
  EXPECT_FALSE(DecodeBindState(&record, sizeof(record) - 1).on);
  EXPECT_FALSE(DecodeBindState(nullptr, 0).on);
  PublishedBindState other = record;
  other.magic = 0;
  EXPECT_FALSE(DecodeBindState(&other, sizeof(other)).on);
  other = record;
  other.tunnelAddress = 0xFFFFFFFFu;
  EXPECT_FALSE(DecodeBindState(&other, sizeof(other)).on);
}

}  // namespace
