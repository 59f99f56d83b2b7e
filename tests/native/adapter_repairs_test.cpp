#include "app/adapter_repairs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_local_machine_registry.h"

using namespace std::string_literals;
using namespace registry;
using Entries = std::vector<std::wstring>;

namespace {

const std::wstring kLinkage = kTcpipLinkageKey;
const std::wstring kInterfaces = kTcpipInterfacesKey;

class AdapterRepairsTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(registry_.openKeys, 0) << "a key was left open"; }

  RegistryAdapterRepairs Repairs(uint32_t version) {
    return RegistryAdapterRepairs(registry_, version, [this] { ++warnings_; });
  }

  void SetBind(const std::u16string& units) {
    registry_.SetUnits(kLinkage, L"Bind", kTypeMultiText, units);
  }
  std::u16string Bind() const { return registry_.Units(kLinkage, L"Bind"); }

  // An interface sub-key with a DHCP address (none when empty) and EnableDHCP.
  std::wstring AddInterface(const std::wstring& id, const std::u16string& dhcpAddress,
                            uint32_t enableDhcp) {
    const std::wstring path = kInterfaces + L"\\" + id;
    registry_.keys[kInterfaces];
    registry_.keys[path];
    if (!dhcpAddress.empty()) {
      registry_.SetUnits(path, L"DhcpIPAddress", kTypeText, dhcpAddress + u'\0');
    }
    registry_.SetDword(path, L"EnableDHCP", enableDhcp);
    return path;
  }

  uint32_t EnableDhcp(const std::wstring& path) {
    std::unique_ptr<RegistryKey> key = registry_.NewKey();
    uint32_t value = 0xDEAD;
    EXPECT_EQ(key->Open(path), kSuccess);
    EXPECT_EQ(ReadDword(*key, L"EnableDHCP", value), kSuccess);
    return value;
  }

  FakeLocalMachineRegistry registry_;
  int warnings_ = 0;
};

// ---- binding order ------------------------------------------------------------------------------

TEST_F(AdapterRepairsTest, WanBindingEndsUpFirstAndOnlyOnce) {
  const std::u16string wan = u"\\Device\\NdisWanIp\0"s;
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      // Second of three: first, the other two in their order.
      {u"\\Device\\{LAN-1}\0\\Device\\NdisWanIp\0\\Device\\{LAN-2}\0\0"s,
       wan + u"\\Device\\{LAN-1}\0\\Device\\{LAN-2}\0\0"s},
      // Missing: added first.
      {u"\\Device\\{LAN-1}\0\\Device\\{LAN-2}\0\0"s,
       wan + u"\\Device\\{LAN-1}\0\\Device\\{LAN-2}\0\0"s},
      // Twice in capitals: once, spelt as the system spells it.
      {u"\\DEVICE\\NDISWANIP\0\\Device\\{LAN-1}\0\\DEVICE\\NDISWANIP\0\0"s,
       wan + u"\\Device\\{LAN-1}\0\0"s},
      // Outside the basic plane: the surrogate pair comes back as it was.
      {u"\\Device\\{\U0001F310}\0\0"s, wan + u"\\Device\\{\U0001F310}\0\0"s},
  };
  for (const auto& [before, after] : cases) {
    SetBind(before);
    Repairs(5).FixBindingOrder();
    EXPECT_EQ(Bind(), after);
  }
}

TEST_F(AdapterRepairsTest, OtherSystemVersionsAreNeverWritten) {
  SetBind(u"\\Device\\{LAN-1}\0\\Device\\NdisWanIp\0\0"s);
  for (uint32_t version : {0u, 4u, 6u, 10u}) Repairs(version).FixBindingOrder();
  EXPECT_TRUE(registry_.writes.empty());
}

TEST_F(AdapterRepairsTest, NothingIsWrittenWhenTheListCannotBeReadWhole) {
  SetBind(u"\\Device\\{LAN-1}\0\0"s);
  int queries = 0;
  // The list grows between sizing and reading it.
  registry_.beforeQuery = [&](const std::wstring&, const std::wstring&) {
    if (++queries == 2) SetBind(u"\\Device\\{LAN-1}\0\\Device\\{LAN-2}\0\0"s);
  };
  Repairs(5).FixBindingOrder();
  EXPECT_TRUE(registry_.writes.empty());

  // It breaks, or goes away.
  queries = 0;
  registry_.beforeQuery = [&](const std::wstring&, const std::wstring&) {
    if (++queries == 2) SetBind(u"\\Device\\{LAN-1}"s);
  };
  Repairs(5).FixBindingOrder();
  queries = 0;
  registry_.beforeQuery = [&](const std::wstring&, const std::wstring&) {
    if (++queries == 2) registry_.keys[kLinkage].values.clear();
  };
  Repairs(5).FixBindingOrder();
  EXPECT_TRUE(registry_.writes.empty());
}

TEST_F(AdapterRepairsTest, MissingKeyValueOrUnusableListLeavesTheOrderAlone) {
  Repairs(5).FixBindingOrder();
  registry_.keys[kLinkage];
  Repairs(5).FixBindingOrder();
  SetBind(u""s);
  Repairs(5).FixBindingOrder();
  EXPECT_TRUE(registry_.writes.empty());
}

// ---- value rules --------------------------------------------------------------------------------

TEST_F(AdapterRepairsTest, MultiStringReadRules) {
  registry_.keys[L"K"];
  std::unique_ptr<RegistryKey> key = registry_.NewKey();
  ASSERT_EQ(key->Open(L"K"), kSuccess);
  auto read = [&](uint32_t type, const std::u16string& units, uint32_t capacity,
                  Entries* entries = nullptr) {
    registry_.SetUnits(L"K", L"V", type, units);
    Entries got = {L"stale"};
    const int32_t result = ReadMultiString(*key, L"V", capacity, got);
    if (entries) *entries = got;
    return result;
  };
  Entries entries;
  EXPECT_EQ(read(kTypeMultiText, u"A\0BC\0\0"s, 6, &entries), kSuccess);
  EXPECT_EQ(entries, (Entries{L"A", L"BC"}));
  EXPECT_EQ(read(kTypeMultiText, u"A\0\0B\0\0"s, 6, &entries), kSuccess);
  EXPECT_EQ(entries, Entries{L"A"}) << "the list ends at the first empty entry";
  EXPECT_EQ(read(kTypeMultiText, u"\0"s, 2, &entries), kSuccess);
  EXPECT_TRUE(entries.empty());

  EXPECT_EQ(read(kTypeMultiText, u"A\0\0"s, 1), kErrorInsufficientBuffer);
  EXPECT_EQ(read(kTypeMultiText, u"A\0\0"s, 0), kErrorInsufficientBuffer);
  EXPECT_EQ(read(kTypeMultiText, u"AB\0\0"s, 3), kErrorMoreData);
  EXPECT_EQ(read(kTypeMultiText, u"A\0"s, 4), kErrorInvalidData) << "one NUL at the end";
  EXPECT_EQ(read(kTypeMultiText, u"A"s, 4), kErrorInvalidData);
  EXPECT_EQ(read(kTypeMultiText, u""s, 4), kErrorInvalidData);
  EXPECT_EQ(read(kTypeText, u"A\0\0"s, 4), kErrorInvalidData);

  registry_.keys[L"K"].values[L"V"] = {kTypeMultiText, {'A', 0, 0, 0, 0}};
  EXPECT_EQ(ReadMultiString(*key, L"V", 4, entries), kErrorInvalidData) << "odd byte count";
  EXPECT_EQ(ReadMultiString(*key, L"Missing", 4, entries), kErrorFileNotFound);

  uint32_t chars = 0;
  EXPECT_EQ(QueryMultiStringSize(*key, L"V", chars), kSuccess);
  EXPECT_EQ(chars, 3u);
}

TEST_F(AdapterRepairsTest, TextAndNumberReadRules) {
  registry_.keys[L"K"];
  std::unique_ptr<RegistryKey> key = registry_.NewKey();
  ASSERT_EQ(key->Open(L"K"), kSuccess);
  std::wstring text;
  registry_.SetUnits(L"K", L"T", kTypeText, u"10.0.0.5\0"s);
  EXPECT_EQ(ReadText(*key, L"T", text), kSuccess);
  EXPECT_EQ(text, L"10.0.0.5");
  registry_.SetUnits(L"K", L"T", kTypeExpandText, u"a\0b\0"s);
  EXPECT_EQ(ReadText(*key, L"T", text), kSuccess);
  EXPECT_EQ(text, L"a");
  registry_.SetUnits(L"K", L"T", kTypeText, u"10.0.0.5"s);
  EXPECT_EQ(ReadText(*key, L"T", text), kErrorInvalidData) << "no terminating NUL";
  EXPECT_TRUE(text.empty());
  registry_.SetUnits(L"K", L"T", kTypeMultiText, u"a\0\0"s);
  EXPECT_EQ(ReadText(*key, L"T", text), kErrorInvalidData);
  registry_.keys[L"K"].values[L"T"] = {kTypeText, {'a', 0, 0}};
  EXPECT_EQ(ReadText(*key, L"T", text), kErrorInvalidData) << "odd byte count";

  uint32_t value = 7;
  registry_.SetUnits(L"K", L"D", kTypeText, u"1\0"s);
  EXPECT_EQ(ReadDword(*key, L"D", value), kErrorInvalidData);
  ASSERT_EQ(WriteDword(*key, L"D", 0x01020304), kSuccess);
  EXPECT_EQ(ReadDword(*key, L"D", value), kSuccess);
  EXPECT_EQ(value, 0x01020304u);
}

// ---- DHCP check ---------------------------------------------------------------------------------

TEST_F(AdapterRepairsTest, InterfaceWithDhcpOnTheTunnelAddressIsSwitchedOffAndReported) {
  const std::wstring lan = AddInterface(L"{LAN}", u"192.168.1.20", 1);
  const std::wstring bad = AddInterface(L"{BAD}", u"10.8.0.6", 1);
  const std::wstring again = AddInterface(L"{BAD-2}", u"10.8.0.6", 3);

  Repairs(6).CheckDhcp(L"10.8.0.6");

  EXPECT_EQ(EnableDhcp(bad), 0u);
  EXPECT_EQ(EnableDhcp(again), 0u);
  EXPECT_EQ(EnableDhcp(lan), 1u);
  EXPECT_EQ(warnings_, 2);
}

TEST_F(AdapterRepairsTest, MatchingInterfaceWithDhcpOffOrUnreadableIsLeftAlone) {
  AddInterface(L"{OFF}", u"10.8.0.6", 0);
  const std::wstring text = AddInterface(L"{TEXT}", u"10.8.0.6", 0);
  registry_.SetUnits(text, L"EnableDHCP", kTypeText, u"1\0"s);
  AddInterface(L"{NEAR}", u"10.8.0.60", 1);

  Repairs(6).CheckDhcp(L"10.8.0.6");

  EXPECT_TRUE(registry_.writes.empty());
  EXPECT_EQ(warnings_, 0);
}

TEST_F(AdapterRepairsTest, EmptyTunnelAddressMatchesNoInterface) {
  AddInterface(L"{STATIC}", u"", 1);
  registry_.SetUnits(AddInterface(L"{EMPTY}", u"", 1), L"DhcpIPAddress", kTypeText, u"\0"s);

  Repairs(6).CheckDhcp(L"");

  EXPECT_TRUE(registry_.writes.empty());
  EXPECT_EQ(warnings_, 0);
}

TEST_F(AdapterRepairsTest, EnumerationSkipsLongNamesAndStopsWhenTheKeyBreaks) {
  const std::wstring first = AddInterface(L"{A}", u"10.8.0.6", 1);
  const std::wstring second = AddInterface(L"{B}", u"10.8.0.6", 1);
  registry_.keys[kInterfaces].enumErrors[0] = kErrorMoreData;
  Repairs(6).CheckDhcp(L"10.8.0.6");
  EXPECT_EQ(EnableDhcp(first), 1u) << "index 0 was the long name";
  EXPECT_EQ(EnableDhcp(second), 0u);

  registry_.keys[kInterfaces].enumErrors.clear();
  registry_.SetDword(second, L"EnableDHCP", 1);
  registry_.keys[kInterfaces].brokenFromIndex = 1;
  Repairs(6).CheckDhcp(L"10.8.0.6");
  EXPECT_EQ(EnableDhcp(first), 0u);
  EXPECT_EQ(EnableDhcp(second), 1u);
}

TEST_F(AdapterRepairsTest, MissingInterfacesKeyDoesNothing) {
  Repairs(6).CheckDhcp(L"10.8.0.6");
  EXPECT_EQ(warnings_, 0);
}

}  // namespace
