#include "vpn/dns_guard_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// What the filtering engine was asked, through stand-ins for its functions.
struct Calls {
  std::vector<std::string> log;
  UINT32 sessionFlags = 0;
  GUID subLayer{};
  std::vector<FWPM_FILTER0> filters;
  // Per filter: the conditions' field keys, match types and values as 64-bit numbers.
  std::vector<std::vector<std::pair<GUID, UINT64>>> conditions;
  // The call (counted from 1) of this kind that fails, and how.
  int failOpen = 0;
  int failSubLayer = 0;
  size_t failFilterAt = 0;
  DWORD failLuid = 0;
  DWORD error = 0x80320009;  // FWP_E_NOT_FOUND
};
Calls* calls = nullptr;
const HANDLE kEngine = reinterpret_cast<HANDLE>(0x5150);

DWORD WINAPI Open(const wchar_t*, UINT32, SEC_WINNT_AUTH_IDENTITY_W*, const FWPM_SESSION0* session,
                  HANDLE* engine) {
  calls->log.push_back("open");
  if (calls->failOpen) return calls->error;
  calls->sessionFlags = session ? session->flags : 0;
  *engine = kEngine;
  return 0;
}
DWORD WINAPI Close(HANDLE engine) {
  calls->log.push_back(engine == kEngine ? "close" : "close of another");
  return 0;
}
DWORD WINAPI AddSubLayer(HANDLE, const FWPM_SUBLAYER0* sublayer, PSECURITY_DESCRIPTOR) {
  calls->log.push_back("sublayer");
  calls->subLayer = sublayer->subLayerKey;
  return calls->failSubLayer ? calls->error : 0;
}
DWORD WINAPI AddFilter(HANDLE, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR, UINT64*) {
  calls->log.push_back("filter");
  calls->filters.push_back(*filter);
  std::vector<std::pair<GUID, UINT64>> values;
  for (UINT32 i = 0; i < filter->numFilterConditions; ++i) {
    const FWP_CONDITION_VALUE0& v = filter->filterCondition[i].conditionValue;
    const UINT64 value = v.type == FWP_UINT8    ? v.uint8
                         : v.type == FWP_UINT16 ? v.uint16
                         : v.type == FWP_UINT32 ? v.uint32
                         : v.type == FWP_UINT64 ? *v.uint64
                                                : ~UINT64{0};
    values.emplace_back(filter->filterCondition[i].fieldKey, value);
  }
  calls->conditions.push_back(values);
  return calls->filters.size() == calls->failFilterAt ? calls->error : 0;
}
DWORD WINAPI IndexToLuid(NET_IFINDEX index, PNET_LUID luid) {
  if (calls->failLuid) return calls->failLuid;
  luid->Value = 0x0017000000000000ULL | index;
  return 0;
}

WfpDnsGuard::Functions Recorded() {
  WfpDnsGuard::Functions f;
  f.open = Open;
  f.close = Close;
  f.addSubLayer = AddSubLayer;
  f.addFilter = AddFilter;
  f.indexToLuid = IndexToLuid;
  return f;
}

class DnsGuardWinTest : public ::testing::Test {
 protected:
  DnsGuardWinTest() { calls = &record_; }
  ~DnsGuardWinTest() override { calls = nullptr; }
  Calls record_;
};

constexpr GUID kConnectV4 = {
    0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
constexpr GUID kLocalInterface = {
    0x4cd62a49, 0x59c3, 0x4969, {0xb7, 0xf3, 0xbd, 0xa5, 0xd3, 0x28, 0x90, 0xa4}};

// Windows 2000 and XP: the module is there, the filtering engine's functions are not.
TEST_F(DnsGuardWinTest, WithoutTheFilteringEngineEveryCallAnswersUnsupported) {
  WfpDnsGuard guard(L"kernel32.dll");
  EXPECT_FALSE(guard.Available());
  uint32_t count = 7;
  EXPECT_EQ(guard.CountDnsServers(1, count), kDnsGuardUnsupported);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(guard.Add(DnsGuardFilters(23)), kDnsGuardUnsupported);
  guard.Remove();
}

TEST_F(DnsGuardWinTest, OneDynamicSessionHoldsTheSublayerAndEveryFilterUntilRemoved) {
  WfpDnsGuard guard(Recorded());
  const std::vector<DnsFilter> filters = DnsGuardFilters(23);
  ASSERT_EQ(guard.Add(filters), 0u);
  EXPECT_EQ(record_.sessionFlags & 1u, 1u) << "the session must be dynamic";
  ASSERT_EQ(record_.filters.size(), filters.size());
  EXPECT_EQ(record_.log.front(), "open");
  EXPECT_EQ(record_.log[1], "sublayer");
  for (size_t i = 0; i < filters.size(); ++i) {
    const FWPM_FILTER0& f = record_.filters[i];
    EXPECT_EQ(std::memcmp(&f.subLayerKey, &record_.subLayer, sizeof(GUID)), 0) << i;
    EXPECT_EQ(std::memcmp(&f.layerKey, &kConnectV4, sizeof(GUID)) == 0,
              filters[i].family == IpFamily::kIpv4)
        << i;
    const UINT32 action =
        filters[i].action == FilterAction::kPermit ? FWP_ACTION_PERMIT : FWP_ACTION_BLOCK;
    EXPECT_EQ(f.action.type, action) << i;
    EXPECT_EQ(f.weight.type, FWP_UINT8);
    EXPECT_EQ(f.weight.uint8, filters[i].weight);
    EXPECT_NE(f.displayData.name, nullptr);
    // The tunnel's permits name it by its LUID; the blocks hold no interface at all.
    bool named = false;
    for (const auto& [field, value] : record_.conditions[i]) {
      if (std::memcmp(&field, &kLocalInterface, sizeof(GUID)) != 0) continue;
      named = true;
      EXPECT_EQ(value, 0x0017000000000000ULL | 23);
    }
    EXPECT_EQ(named, filters[i].interfaceIndex != 0) << i;
  }
  guard.Remove();
  guard.Remove();
  EXPECT_EQ(record_.log.back(), "close");
  EXPECT_EQ(std::count(record_.log.begin(), record_.log.end(), "close"), 1);
}

TEST_F(DnsGuardWinTest, AnyFailedCallLeavesNothingInPlace) {
  struct Case {
    const char* name;
    void (*fail)(Calls&);
    bool opened;
  };
  const Case cases[] = {
      {"open", [](Calls& c) { c.failOpen = 1; }, false},
      {"sublayer", [](Calls& c) { c.failSubLayer = 1; }, true},
      {"fourth filter", [](Calls& c) { c.failFilterAt = 4; }, true},
      {"interface unknown", [](Calls& c) { c.failLuid = ERROR_FILE_NOT_FOUND; }, true},
  };
  for (const Case& c : cases) {
    record_ = Calls{};
    c.fail(record_);
    WfpDnsGuard guard(Recorded());
    const uint32_t added = guard.Add(DnsGuardFilters(23));
    EXPECT_NE(added, 0u) << c.name;
    EXPECT_EQ(std::count(record_.log.begin(), record_.log.end(), "close"), c.opened ? 1 : 0)
        << c.name;
    // Nothing is left to close.
    guard.Remove();
    EXPECT_EQ(std::count(record_.log.begin(), record_.log.end(), "close"), c.opened ? 1 : 0)
        << c.name;
  }
}

TEST_F(DnsGuardWinTest, ASecondAddReplacesTheFirst) {
  WfpDnsGuard guard(Recorded());
  ASSERT_EQ(guard.Add(DnsGuardFilters(23)), 0u);
  ASSERT_EQ(guard.Add(DnsGuardFilters(31)), 0u);
  const auto second = std::find(record_.log.begin() + 1, record_.log.end(), "open");
  ASSERT_NE(second, record_.log.end());
  EXPECT_EQ(*(second - 1), "close");
}

// Against the system's own engine. Wine's fwpuclnt.dll is a stub (see the message printed).
TEST_F(DnsGuardWinTest, TheSystemsEngineTakesTheGuardOrSaysWhy) {
  WfpDnsGuard guard;
  if (!guard.Available()) GTEST_SKIP() << "no filtering engine";
  uint32_t tunnel = 0;
  uint32_t servers = 0;
  for (uint32_t index = 1; index < 64 && tunnel == 0; ++index) {
    if (guard.CountDnsServers(index, servers) == 0) tunnel = index;
  }
  ASSERT_NE(tunnel, 0u) << "no interface known to the system";
  uint32_t none = 0;
  EXPECT_EQ(guard.CountDnsServers(0xFFFFFF, none), static_cast<uint32_t>(ERROR_NOT_FOUND));
  const uint32_t added = guard.Add(DnsGuardFilters(tunnel));
  std::printf("filtering engine: interface %u has %u DNS servers; Add answered %u (0x%08x)\n",
              tunnel, servers, added, added);
  guard.Remove();
}

}  // namespace
