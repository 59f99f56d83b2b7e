#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/diagnostics.h"
#include "config/route_set_code.h"
#include "config/settings_store.h"
#include "fakes/fake_data_protection.h"
#include "fakes/fake_registry_profile.h"
#include "fakes/fake_socket_catalog.h"

namespace {

constexpr wchar_t kModule[] = L"C:\\Program Files\\OrumaVPN\\KavrinBind.dll";

class DiagnosticsTest : public ::testing::Test {
 protected:
  DiagnosticsFacts Facts() {
    DiagnosticsFacts facts;
    facts.programVersion = L"2.1.0.0";
    facts.buildDate = L"2026-12-01";
    facts.windowsVersion = L"10.0.19045 (RtlGetVersion)";
    facts.systemArchitecture = L"x64";
    facts.processArchitecture = L"x86";
    facts.adapters = std::vector<AdapterRecord>{{6, "Intel(R) Ethernet", {1, 2, 3, 4, 5, 6}},
                                                {23, "WAN Miniport (PPTP)", {}}};
    facts.catalog = DescribeBindCatalog(FakeSocketCatalog::kNoRecovery, {}, kModule);
    facts.settings = ReadConnectionSettings(store_, {L"http://a/", L"http://b/"});
    facts.secrets = SettingsSecrets(store_);
    facts.logLines = {L"2026-12-09 10:00:00 Connecting to vpn1.example.com (L2TP)"};
    return facts;
  }

  FakeRegistryProfile registry_;
  FakeDataProtection protection_;
  SettingsStore store_{registry_, protection_};
};

TEST_F(DiagnosticsTest, CarriesTheFactsSupportAsksFor) {
  store_.SetLastVpnRouteIndex(kRouteSetApplications);
  store_.SetLastVpnServerId(12);
  store_.SetVpnType(2);
  store_.SetAutoReconnect(false);
  store_.SetKillSwitch(true);
  registry_.Put(L"Proxy", L"Type", uint32_t{1});
  registry_.Put(L"Proxy", L"Server", std::wstring(L"proxy.example.com"));
  registry_.Put(L"Proxy", L"Port", uint32_t{8080});
  const std::wstring text = FormatDiagnostics(Facts());
  for (const wchar_t* expected :
       {L"Program: 2.1.0.0 (built 2026-12-01)\r\n",
        L"Windows: 10.0.19045 (RtlGetVersion), x64 (program: x86)\r\n",
        L"  Ethernet: Intel(R) Ethernet\r\n", L"  PPP: WAN Miniport (PPTP)\r\n",
        L"Socket catalog: could not be read (error 11003)\r\n",
        L"  route set: chosen applications, region tab 0\r\n", L"  server: 12\r\n",
        L"  tunnel type: L2TP (2)\r\n", L"  reconnect after a drop: off\r\n",
        L"  kill switch: on\r\n", L"  proxy: HTTP proxy.example.com:8080\r\n",
        L"  login hosts: http://a/; http://b/\r\n", L"Connection log (last 1 lines):\r\n",
        L"2026-12-09 10:00:00 Connecting to vpn1.example.com (L2TP)\r\n"}) {
    EXPECT_NE(text.find(expected), std::wstring::npos) << expected;
  }
  // The adapters' hardware addresses identify the machine and tell support nothing.
  EXPECT_EQ(text.find(L"01-02"), std::wstring::npos);

  DiagnosticsFacts notOurs = Facts();
  notOurs.logKept = false;
  notOurs.adapters.reset();
  const std::wstring without = FormatDiagnostics(notOurs);
  EXPECT_NE(without.find(L"Connection log: not kept"), std::wstring::npos);
  EXPECT_NE(without.find(L"Adapters: could not be read\r\n"), std::wstring::npos);
}

TEST_F(DiagnosticsTest, NoPasswordGetsInWhereverItTurnsUp) {
  store_.SaveCredentials(L"demo", L"Pa55-word");
  registry_.Put(L"Proxy", L"Type", uint32_t{2});
  registry_.Put(L"Proxy", L"Username", std::wstring(L"proxyuser"));
  registry_.Put(L"Proxy", L"Password", std::wstring(L"proxy-Secret"));
  DiagnosticsFacts facts = Facts();
  // Even where a line of the log or a host carries one.
  facts.logLines.push_back(L"2026-12-09 10:00:01 login?u=demo&p=Pa55-word");
  facts.settings.loginHosts.push_back(L"http://proxyuser:proxy-Secret@h/");
  const std::wstring text = FormatDiagnostics(facts);
  EXPECT_EQ(text.find(L"Pa55-word"), std::wstring::npos);
  EXPECT_EQ(text.find(L"proxy-Secret"), std::wstring::npos);
  EXPECT_NE(text.find(L"p=******"), std::wstring::npos);
  EXPECT_NE(text.find(L"  proxy: SOCKS :0, with a user name\r\n"), std::wstring::npos);

  // Secrets inside secrets are hidden whole; an empty one hides nothing.
  EXPECT_EQ(RedactSecrets(L"aaXaaXa", {L"a", L"aa", L""}), L"******X******X******");
}

TEST(BindCatalogFactsTest, TellWhetherOurEntriesArePresentAndFirst) {
  FakeSocketCatalog catalog = FakeSocketCatalog::Typical();
  std::vector<CatalogEntry> entries;
  ASSERT_EQ(catalog.Entries(entries), 0);
  BindCatalogFacts before = DescribeBindCatalog(0, entries, kModule);
  EXPECT_EQ(before.ourEntries, 0u);
  EXPECT_FALSE(before.wholeSet);
  ASSERT_EQ(before.first.size(), 4u);
  EXPECT_EQ(before.first[0].name, L"MSAFD Tcpip [TCP/IP]");
  EXPECT_FALSE(before.first[0].ours);

  ASSERT_EQ(InstallBindLayer(catalog, kModule), 0);
  ASSERT_EQ(catalog.Entries(entries), 0);
  const BindCatalogFacts installed = DescribeBindCatalog(0, entries, kModule);
  EXPECT_TRUE(installed.wholeSet);
  EXPECT_EQ(installed.ourEntries, 5u);
  for (const BindCatalogFacts::First& first : installed.first) EXPECT_TRUE(first.ours) << first.kind;
  // Registered for another copy of the program: present, but not the whole set for ours.
  EXPECT_FALSE(DescribeBindCatalog(0, entries, L"D:\\Other\\KavrinBind.dll").wholeSet);

  // Another vendor's provider installed after ours takes the first place for TCP.
  const ProviderGuid vendor{0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
  const auto tcp = std::find_if(entries.begin(), entries.end(), [](const CatalogEntry& e) {
    return e.name == L"MSAFD Tcpip [TCP/IP]" && e.chainLength == CatalogEntry::kBase;
  });
  ASSERT_NE(tcp, entries.end());
  catalog.InstallForeignLayer(vendor, {tcp->id});
  ASSERT_EQ(catalog.Entries(entries), 0);
  const BindCatalogFacts behind = DescribeBindCatalog(0, entries, kModule);
  EXPECT_FALSE(behind.wholeSet);
  EXPECT_FALSE(behind.first[0].ours);
  EXPECT_TRUE(behind.first[1].ours);
}

}  // namespace
