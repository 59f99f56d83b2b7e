#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/text.h"
#include "config/native_private_profile.h"
#include "service/route_list.h"
#include "service/server_response.h"

namespace {

namespace fs = std::filesystem;

class ServiceResponse : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kv_response_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    file_ = AnsiToWide((dir_ / "Kavrin.ini").string());
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Respond(const std::string& body) { ASSERT_TRUE(SaveResponseBody(file_, body)); }
  std::string Saved() {
    std::ifstream in(dir_ / "Kavrin.ini", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::wstring file_;
  NativePrivateProfile profile_;
};

}  // namespace

TEST(ResponseMarker, FoundAnywhereButOnlyWhole) {
  const std::string marker(kResponseMarker);
  const std::string endsWithIt = "[VPN]\r\nAuthResult=OK\r\n" + marker;
  EXPECT_TRUE(ContainsResponseMarker(endsWithIt.data(), endsWithIt.size()));
  EXPECT_TRUE(ContainsResponseMarker(marker.data(), marker.size()));
  EXPECT_FALSE(ContainsResponseMarker(endsWithIt.data(), endsWithIt.size() - 1));
  EXPECT_FALSE(ContainsResponseMarker("magictag=vpnserverresponse", 26));
  EXPECT_FALSE(ContainsResponseMarker(nullptr, 0));
  const std::string afterNul = std::string("x\0", 2) + marker;
  EXPECT_TRUE(ContainsResponseMarker(afterNul.data(), afterNul.size()));

  EXPECT_TRUE(IsAcceptedResponse(200, endsWithIt));
  EXPECT_FALSE(IsAcceptedResponse(500, endsWithIt));
  EXPECT_FALSE(IsAcceptedResponse(200, "[VPN]\r\nAuthResult=OK\r\n"));
}

TEST_F(ServiceResponse, SavesTheBodyByteForByte) {
  const std::string body =
      std::string("[VPN]\r\nAuthMessage=\xE4\xBD\xA0\n\0tail\r", 29) + "MagicTag=VpnServerResponse";
  Respond("an older, longer response that must not survive the truncation");
  Respond(body);
  EXPECT_EQ(Saved(), body);
  EXPECT_FALSE(SaveResponseBody(AnsiToWide((dir_ / "missing" / "x.ini").string()), body));
}

TEST_F(ServiceResponse, ReadsTheAccountState) {
  Respond(
      "MagicTag=VpnServerResponse\r\n[VPN]\r\nAuthResult=ok\r\nAuthMessage="
      "\xE6\xAC\xA2\xE8\xBF\x8E\r\n"
      "ExpirationDatetimeGMT=0x100000000\r\nRequiredClientVersion=2.1.0.0\r\n"
      "DownloadSetupMD5=  0123abcd  \r\nDownloadGreen=http://h/Kavrin.exe\r\n");
  AccountState state = ReadAccountState(profile_, file_, L"unknown");
  EXPECT_TRUE(state.LoginSucceeded());
  EXPECT_FALSE(state.Expired());
  EXPECT_EQ(state.authMessage, L"欢迎");
  EXPECT_EQ(state.expirationGmt, 0x100000000LL);
  EXPECT_EQ(state.downloadSetupMd5, L"0123abcd");
  EXPECT_EQ(state.downloadGreen, L"http://h/Kavrin.exe");
  EXPECT_EQ(state.clientIp, L"unknown");
  EXPECT_EQ(ReadRequiredClientVersion(profile_, file_), 0x0002000100000000ULL);

  Respond("[VPN]\r\nAuthResult=Expired\r\nClientIP=203.0.113.9\r\nRequiredClientVersion=2.1\r\n");
  state = ReadAccountState(profile_, file_, L"unknown");
  EXPECT_TRUE(state.Expired());
  EXPECT_FALSE(state.LoginSucceeded());
  EXPECT_EQ(state.clientIp, L"203.0.113.9");
  EXPECT_FALSE(ReadRequiredClientVersion(profile_, file_));
  Respond("[VPN]\r\nAuthResult=expired\r\n");
  EXPECT_FALSE(ReadAccountState(profile_, file_, L"").Expired());
}

TEST(ClientVersion, ScansFourNumbersAsTheCLibraryDoes) {
  EXPECT_EQ(ParseClientVersion(L"2.1.0.1"), 0x0002000100000001ULL);
  EXPECT_EQ(ParseClientVersion(L" 2. 1.0.1trailing"), 0x0002000100000001ULL);
  EXPECT_EQ(ParseClientVersion(L"1.2.3.4.5"), 0x0001000200030004ULL);
  EXPECT_FALSE(ParseClientVersion(L"2.1"));
  EXPECT_FALSE(ParseClientVersion(L"2.1.0."));
  EXPECT_FALSE(ParseClientVersion(L"2 .1.0.0"));
  EXPECT_FALSE(ParseClientVersion(L""));
  EXPECT_FALSE(ParseClientVersion(L"v2.1.0.0"));
}

TEST_F(ServiceResponse, RouteSetsStopAtTheFirstBlankTitle) {
  Respond(
      "[Routes]\r\nTitle0=\xE5\x9B\xBD\xE5\x86\x85\r\nComment0=c0\r\nRouteId0=r-0\r\n"
      "ModifyDefaultGateway0=0x1\r\nTitle1=Second\r\nTitle2=  \r\nTitle3=Hidden\r\n");
  const auto sets = ReadRouteSets(profile_, file_);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].title, L"国内");
  EXPECT_EQ(sets[0].comment, L"c0");
  EXPECT_EQ(sets[0].routeId, L"r-0");
  EXPECT_EQ(sets[0].modifyDefaultGateway, 1);
  EXPECT_EQ(sets[1].modifyDefaultGateway, 0);

  Respond("[Routes]\r\nTitle0=\r\nTitle1=Second\r\n");
  EXPECT_TRUE(ReadRouteSets(profile_, file_).empty());
}

TEST_F(ServiceResponse, ServersStopAtTheFirstIdThatIsNotANumber) {
  Respond(
      "[Servers]\r\nServerId0=12x\r\nTitle0=\xE4\xB8\x9C\xE4\xBA\xAC\r\nLoad0=0.35\r\n"
      "ServerHost0=vpn1.example\r\nProtocols0= pptp,l2tp \r\nPPTPUseMPPE0=1\r\n"
      "Categories0= china ,, asia,\r\nServerId1=7\r\nServerId2=0\r\nServerId3=9\r\n");
  const auto servers = ReadVpnServers(profile_, file_);
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0].serverId, 12);
  EXPECT_EQ(servers[0].title, L"东京");
  EXPECT_EQ(servers[0].load, L"0.35");
  EXPECT_EQ(servers[0].serverHost, L"vpn1.example");
  EXPECT_EQ(servers[0].protocols, L"pptp,l2tp");
  EXPECT_EQ(servers[0].pptpUseMppe, 1);
  EXPECT_EQ(servers[0].categories, (std::vector<std::wstring>{L"china", L"asia"}));
  EXPECT_EQ(servers[1].serverId, 7);
  EXPECT_TRUE(servers[1].categories.empty());

  Respond("[Servers]\r\nServerId0=abc\r\nServerId1=5\r\n");
  EXPECT_TRUE(ReadVpnServers(profile_, file_).empty());
}

TEST_F(ServiceResponse, EveryAnnouncementSlotIsReadOnItsOwn) {
  Respond(
      "[Announcements]\r\nCount=2\r\nTitle0=First\r\nUrl0=http://h/0\r\nDatetimeGMT0=86400\r\n"
      "Title2=\xE6\x96\xB0\r\nUrl2=http://h/2\r\n");
  const auto slots = ReadAnnouncements(profile_, file_);
  EXPECT_EQ(slots[0].title, L"First");
  EXPECT_EQ(slots[0].url, L"http://h/0");
  EXPECT_EQ(slots[0].datetimeGmt, 86400);
  EXPECT_EQ(slots[1].title, L"");
  EXPECT_EQ(slots[2].title, L"新");
  EXPECT_EQ(slots[2].datetimeGmt, 0);
  EXPECT_EQ(slots[3].title, L"");
}

TEST(RouteList, SplitsLinesDropsBlanksAndCarriageReturns) {
  EXPECT_EQ(ParseRouteList("10.0.0.0 mask 255.0.0.0\r\n\n172.16.0.0 mask 255.240.0.0\n"),
            (RouteList{L"10.0.0.0 mask 255.0.0.0", L"172.16.0.0 mask 255.240.0.0"}));
  EXPECT_EQ(ParseRouteList(std::string("\r1.2.3.4 mask 255.255.255.255\r\r\n\r\n\0"
                                       "5.6.7.8",
                                       42)),
            (RouteList{L"1.2.3.4 mask 255.255.255.255"}));
  EXPECT_EQ(ParseRouteList("last line without LF"), (RouteList{L"last line without LF"}));
  EXPECT_TRUE(ParseRouteList("").empty());
  EXPECT_TRUE(ParseRouteList(std::string("\0a\nb", 4)).empty());
}
