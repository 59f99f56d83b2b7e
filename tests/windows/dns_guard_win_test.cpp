#include "vpn/dns_guard_win.h"

#include "vpn/traffic_guard_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Stand-ins for the filtering engine's functions: they log each call and fail the one asked.
struct Calls {
  std::vector<std::string> log;
  UINT32 sessionFlags = 0;
  std::vector<FWPM_FILTER0> filters;
  // Per filter: whether it names an interface, and the LUID it names.
  std::vector<UINT64> interfaces;
  // Per filter: the remote IPv4 address it names (host byte order, as the platform takes it).
  std::vector<UINT32> remoteAddresses;
  std::string fail;
  size_t failFilterAt = 0;
};
Calls* calls = nullptr;
const HANDLE kEngine = reinterpret_cast<HANDLE>(0x5150);
constexpr DWORD kError = 0x80320009;
constexpr GUID kConnectV4 = {
    0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
constexpr GUID kLocalInterface = {
    0x4cd62a49, 0x59c3, 0x4969, {0xb7, 0xf3, 0xbd, 0xa5, 0xd3, 0x28, 0x90, 0xa4}};
constexpr GUID kRemoteAddress = {
    0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
// 8.8.8.8 as the system keeps it (network byte order) and as the platform takes it.
constexpr uint32_t kResolver = 0x08080808;

// Named functions: a lambda does not convert to a WINAPI (stdcall) pointer in 32-bit builds.
DWORD WINAPI Open(const wchar_t*, UINT32, SEC_WINNT_AUTH_IDENTITY_W*, const FWPM_SESSION0* session,
                  HANDLE* engine) {
  calls->log.push_back("open");
  if (calls->fail == "open") return kError;
  calls->sessionFlags = session->flags;
  *engine = kEngine;
  return 0;
}
DWORD WINAPI Close(HANDLE engine) {
  calls->log.push_back(engine == kEngine ? "close" : "close of another");
  return 0;
}
DWORD WINAPI AddSubLayer(HANDLE, const FWPM_SUBLAYER0*, PSECURITY_DESCRIPTOR) {
  calls->log.push_back("sublayer");
  return calls->fail == "sublayer" ? kError : 0;
}
DWORD WINAPI AddFilter(HANDLE, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR, UINT64* id) {
  calls->log.push_back("filter");
  calls->filters.push_back(*filter);
  UINT64 luid = 0;
  UINT32 remote = 0;
  for (UINT32 i = 0; i < filter->numFilterConditions; ++i) {
    const FWPM_FILTER_CONDITION0& c = filter->filterCondition[i];
    if (std::memcmp(&c.fieldKey, &kLocalInterface, sizeof(GUID)) == 0) {
      luid = *c.conditionValue.uint64;
    }
    if (std::memcmp(&c.fieldKey, &kRemoteAddress, sizeof(GUID)) == 0 &&
        c.conditionValue.type == FWP_UINT32) {
      remote = c.conditionValue.uint32;
    }
  }
  calls->interfaces.push_back(luid);
  calls->remoteAddresses.push_back(remote);
  if (id != nullptr) *id = calls->filters.size();
  return calls->filters.size() == calls->failFilterAt ? kError : 0;
}
DWORD WINAPI IndexToLuid(NET_IFINDEX index, PNET_LUID luid) {
  if (calls->fail == "luid") return ERROR_FILE_NOT_FOUND;
  luid->Value = 0x0017000000000000ULL | index;
  return 0;
}

DWORD WINAPI DeleteById(HANDLE, UINT64 id) {
  calls->log.push_back("delete " + std::to_string(id));
  return 0;
}
DWORD WINAPI TransactionBegin(HANDLE, UINT32) {
  calls->log.push_back("begin");
  return 0;
}
DWORD WINAPI TransactionCommit(HANDLE) {
  calls->log.push_back("commit");
  return 0;
}
DWORD WINAPI TransactionAbort(HANDLE) {
  calls->log.push_back("abort");
  return 0;
}
FWP_BYTE_BLOB ownAppId = {4, reinterpret_cast<UINT8*>(const_cast<char*>("self"))};
DWORD WINAPI AppId(const wchar_t*, FWP_BYTE_BLOB** blob) {
  *blob = &ownAppId;
  return 0;
}
void WINAPI FreeMemory(void** memory) { *memory = nullptr; }

WfpDnsGuard::Functions Recorded() {
  return {Open, Close, AddSubLayer, AddFilter, IndexToLuid};
}

// The system's engine of Vista and later, with transactions and application ids.
WfpFunctions RecordedWithTransactions() {
  return {Open,       Close,           AddSubLayer,       AddFilter,        IndexToLuid, DeleteById,
          TransactionBegin, TransactionCommit, TransactionAbort, AppId, FreeMemory};
}

class DnsGuardWinTest : public ::testing::Test {
 protected:
  DnsGuardWinTest() { calls = &record_; }
  ~DnsGuardWinTest() override { calls = nullptr; }
  long Closes() const { return std::count(record_.log.begin(), record_.log.end(), "close"); }
  Calls record_;
};

// Windows 2000 and XP: the module is there, the filtering engine's functions are not.
TEST_F(DnsGuardWinTest, WithoutTheFilteringEngineEveryCallAnswersUnsupported) {
  WfpDnsGuard guard(L"kernel32.dll");
  EXPECT_FALSE(guard.Available());
  std::vector<uint32_t> servers{7};
  EXPECT_EQ(guard.ReadDnsServers(1, servers), kDnsGuardUnsupported);
  EXPECT_TRUE(servers.empty());
  EXPECT_EQ(guard.Add(DnsGuardFilters(23, {kResolver})), kDnsGuardUnsupported);
  guard.Remove();
}

TEST_F(DnsGuardWinTest, OneDynamicSessionHoldsEveryFilterUntilRemovedOrReplaced) {
  WfpDnsGuard guard(Recorded());
  const std::vector<DnsFilter> filters = DnsGuardFilters(23, {kResolver});
  ASSERT_EQ(guard.Add(filters), 0u);
  EXPECT_EQ(record_.sessionFlags & 1u, 1u) << "the session must be dynamic";
  ASSERT_EQ(record_.filters.size(), filters.size());
  EXPECT_EQ(std::vector<std::string>(record_.log.begin(), record_.log.begin() + 2),
            (std::vector<std::string>{"open", "sublayer"}));
  for (size_t i = 0; i < filters.size(); ++i) {
    const FWPM_FILTER0& f = record_.filters[i];
    EXPECT_EQ(std::memcmp(&f.layerKey, &kConnectV4, sizeof(GUID)) == 0,
              filters[i].family == IpFamily::kIpv4);
    const UINT32 action =
        filters[i].action == FilterAction::kPermit ? FWP_ACTION_PERMIT : FWP_ACTION_BLOCK;
    EXPECT_EQ(f.action.type, action) << i;
    EXPECT_EQ(f.weight.uint8, filters[i].weight) << i;
    // The tunnel's permits name it by its LUID.
    EXPECT_EQ(record_.interfaces[i], filters[i].interfaceIndex ? 0x0017000000000017ULL : 0) << i;
    // The resolver's permits name its address.
    EXPECT_EQ(record_.remoteAddresses[i], filters[i].remotePrefix ? 0x08080808u : 0u) << i;
  }
  // A second Add starts over in a session of its own.
  ASSERT_EQ(guard.Add(filters), 0u);
  EXPECT_EQ(record_.log[filters.size() + 2], "close");
  EXPECT_EQ(record_.log[filters.size() + 3], "open");
  guard.Remove();
  guard.Remove();
  EXPECT_EQ(Closes(), 2);
}

TEST_F(DnsGuardWinTest, AnyFailedCallLeavesNothingInPlace) {
  for (const char* failing : {"open", "sublayer", "fourth filter", "luid"}) {
    record_ = Calls{};
    record_.fail = failing;
    record_.failFilterAt = record_.fail == "fourth filter" ? 4 : 0;
    WfpDnsGuard guard(Recorded());
    EXPECT_NE(guard.Add(DnsGuardFilters(23, {kResolver})), 0u) << failing;
    const long expected = record_.fail == "open" ? 0 : 1;
    EXPECT_EQ(Closes(), expected) << failing;
    guard.Remove();
    EXPECT_EQ(Closes(), expected) << failing;
  }
}

// The kill switch: its first set goes in with its sublayer in one transaction, and a new tunnel
// interface's set replaces it in another (the new filters added, the old deleted, then the
// commit), never by closing the session; a refused swap leaves the set in place.
TEST_F(DnsGuardWinTest, KillSwitchSetsChangeInOneTransactionEach) {
  const WfpFunctions functions = RecordedWithTransactions();
  WfpTrafficGuard guard(functions);
  TrafficGuardPermits permits;
  permits.tunnelInterface = 23;
  const std::vector<DnsFilter> first = TrafficGuardFilters(permits);
  ASSERT_EQ(guard.Apply(first), 0u);
  std::vector<std::string> expected = {"open", "begin", "sublayer"};
  expected.insert(expected.end(), first.size(), "filter");
  expected.push_back("commit");
  EXPECT_EQ(record_.log, expected);
  // This program's permit names its application id.
  bool named = false;
  for (const FWPM_FILTER0& f : record_.filters) {
    for (UINT32 i = 0; i < f.numFilterConditions; ++i) {
      named = named || f.filterCondition[i].conditionValue.type == FWP_BYTE_BLOB_TYPE;
    }
  }
  EXPECT_TRUE(named);

  record_.log.clear();
  permits.tunnelInterface = 31;
  const std::vector<DnsFilter> second = TrafficGuardFilters(permits);
  ASSERT_EQ(guard.Apply(second), 0u);
  expected = {"begin"};
  expected.insert(expected.end(), second.size(), "filter");
  for (size_t id = 1; id <= first.size(); ++id) expected.push_back("delete " + std::to_string(id));
  expected.push_back("commit");
  EXPECT_EQ(record_.log, expected);

  record_.log.clear();
  record_.failFilterAt = record_.filters.size() + 2;
  EXPECT_NE(guard.Apply(first), 0u);
  EXPECT_EQ(record_.log.back(), "abort");
  EXPECT_EQ(std::count(record_.log.begin(), record_.log.end(), "close"), 0);
  guard.Remove();
  EXPECT_EQ(record_.log.back(), "close");
}

// Against the system's own engine. Wine's fwpuclnt.dll is a stub that answers
// RPC_S_CANNOT_SUPPORT to every call, FwpmEngineOpen0 first; its answer is printed.
TEST_F(DnsGuardWinTest, TheSystemsEngineTakesTheGuardOrSaysWhy) {
  WfpDnsGuard guard;
  if (!guard.Available()) GTEST_SKIP() << "no filtering engine";
  uint32_t tunnel = 0;
  std::vector<uint32_t> servers;
  for (uint32_t index = 1; index < 64 && tunnel == 0; ++index) {
    if (guard.ReadDnsServers(index, servers) == 0) tunnel = index;
  }
  ASSERT_NE(tunnel, 0u) << "no interface known to the system";
  std::vector<uint32_t> none;
  EXPECT_EQ(guard.ReadDnsServers(0, none), static_cast<uint32_t>(ERROR_NOT_FOUND));
  const uint32_t added = guard.Add(DnsGuardFilters(tunnel, servers));
  std::printf("filtering engine: interface %u has %zu IPv4 DNS servers; Add answered %u (0x%08x)\n",
              tunnel, servers.size(), added, added);
  // Not a half-made session either way: removing it again is harmless.
  guard.Remove();
  guard.Remove();
}

}  // namespace
