#include "service/login_exchange.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "base/text.h"
#include "config/text_table.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_data_protection.h"
#include "fakes/fake_login_ports.h"
#include "fakes/fake_registry_profile.h"
#include "fakes/fake_route_table.h"
#include "service/http_url.h"

namespace {

namespace fs = std::filesystem;

RandomSource Sequence(std::vector<int> values) {
  auto queue = std::make_shared<std::deque<int>>(values.begin(), values.end());
  return [queue] {
    const int v = queue->empty() ? 0 : queue->front();
    if (!queue->empty()) queue->pop_front();
    return v;
  };
}

// The receiver's side, written out on its own: the start comes from the first key byte.
std::string Unscramble(const ScrambledValue& value) {
  const size_t n = value.key.size();
  std::string plain(n, '\0');
  if (n == 0) return plain;
  size_t p = (255u - static_cast<uint8_t>(value.key[0])) % n;
  for (size_t i = 0; i < n; ++i, p = (p + 1) % n) {
    const uint8_t c = static_cast<uint8_t>(value.key[i]);
    const uint8_t s = static_cast<uint8_t>(value.scrambled[i]);
    plain[p] = static_cast<char>(p % 3 == 0 ? s ^ c : p % 3 == 1 ? s - c : s + c);
  }
  return plain;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

}  // namespace

TEST(Scramble, OneBytePasswordIsXoredWithItsKey) {
  const ScrambledValue v = ScrambleValue("A", Sequence({0x1234}));
  EXPECT_EQ(v.key, Bytes({0x34}));
  EXPECT_EQ(v.scrambled, Bytes({'A' ^ 0x34}));
}

TEST(Scramble, FirstKeyByteChoosesWhereScramblingStarts) {
  // (255 - 254) mod 3 = 1: positions 1, 2, 0 are added to, subtracted by and XOR-ed with.
  const ScrambledValue v = ScrambleValue("abc", Sequence({254, 10, 0x1FF}));
  EXPECT_EQ(v.key, Bytes({254, 10, 0xFF}));
  EXPECT_EQ(v.scrambled, Bytes({('b' + 254) & 0xFF, 'c' - 10, 'a' ^ 0xFF}));
  EXPECT_EQ(Unscramble(v), "abc");
}

TEST(Scramble, EmptyTextDrawsNothing) {
  int draws = 0;
  const ScrambledValue v = ScrambleValue("", [&] { return ++draws; });
  EXPECT_TRUE(v.key.empty());
  EXPECT_TRUE(v.scrambled.empty());
  EXPECT_EQ(draws, 0);
}

TEST(Scramble, LongTextsRoundTripWhateverTheSequence) {
  const std::string text = "demo123\xB2\xE2\xCA\xD4 with bytes \x01\xFF";
  for (int seed = 0; seed < 50; ++seed) {
    uint32_t state = static_cast<uint32_t>(seed);
    const ScrambledValue v = ScrambleValue(text, [&] {
      state = state * 1103515245u + 12345u;
      return static_cast<int>(state >> 16);
    });
    EXPECT_EQ(Unscramble(v), text) << seed;
  }
}

TEST(Base64, PadsToWholeGroups) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode(Bytes({0xFB, 0xFF, 0xBF})), "+/+/");
}

TEST(LoginUrls, ParametersInOrderWithReferral) {
  const ScrambledValue pw{"\xFB", "?"};
  const ScrambledValue empty{};
  const std::wstring url =
      BuildLoginUrl(L"http://h:1/", "a b", pw, empty, {"d", "k"}, empty, -5, L"main");
  EXPECT_EQ(url,
            L"http://h:1/client_login.php?u=a%20b&p=%2bw%3d%3d&s=Pw%3d%3d&a=&b=&c=aw%3d%3d"
            L"&d=ZA%3d%3d&e=&f=&t=-5&v=2.1.0.0&cmd=login&rf=main");
  EXPECT_EQ(BuildRouteListUrl(L"http://h/", "u", pw, L"a&b=c d", L"main"),
            L"http://h/client_login.php?u=u&p=%2bw%3d%3d&s=Pw%3d%3d&cmd=getvpnroutes"
            L"&id=a%26b%3dc%20d&rf=main");
  EXPECT_EQ(AppendReferral(L"http://w/x.php?y=1", L"main"), L"http://w/x.php?y=1&rf=main");
}

TEST(LoginUrls, LocalDateOfExpiry) {
  // Noon UTC is the same calendar day in every time zone a user lives in.
  EXPECT_EQ(FormatLocalDate(2082715200), L"2035-12-31");
}

class LoginExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildTextTable();
    dir_ = fs::temp_directory_path() /
           ("kv_login_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
    inputs_.loginHost = L"http://127.0.0.1:18088/";
    inputs_.userName = L"demo";
    inputs_.password = L"demo123";
    inputs_.responseRecord = AnsiToWide((dir_ / "Kavrin.ini").string());
    policy_.record = inputs_.responseRecord;
    inputs_.referralTag = L"main";
    inputs_.identity = {"BIOS-1", "DISK-2", "MAC-3"};
    policy_.choice.routes = RouteSetChoice::AllTraffic();
    policy_.choice.server.serverHost = L"vpn2.example.com";
    policy_.choice.server.pptpUseMppe = 1;
    policy_.choice.tunnelType = 1;
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Answer(std::string body, LoginFetcher::Result result = LoginFetcher::Result::kOk) {
    fetcher_.answers.push_back({result, std::move(body)});
  }
  LoginOutcome Login() { return RunLoginExchange(ports_, inputs_); }
  bool ResponseFileExists() { return fs::exists(dir_ / "Kavrin.ini"); }

  fs::path dir_;
  FakeRegistryProfile registry_;
  FakeDataProtection protection_;
  SettingsStore settings_{registry_, protection_};
  FakeLoginFetcher fetcher_;
  FakeUpdateCheck update_;
  FakePolicyChooser policy_;
  FakeRouteTable routes_;
  FakeClock clock_;
  FakeEngineFactory engines_{routes_, clock_};
  RecordingLoginView view_;
  LoginPorts ports_{.settings = settings_,
                    .fetcher = fetcher_,
                    .update = update_,
                    .policy = policy_,
                    .engines = engines_,
                    .view = view_,
                    .random = Sequence({7, 8, 9, 10, 11}),
                    .now = [] { return int64_t{1700000000}; }};
  LoginInputs inputs_;
};

TEST_F(LoginExchangeTest, SuccessBuildsAConfiguredEngine) {
  registry_.Put(L"Proxy", L"Type", uint32_t{1});
  registry_.Put(L"Proxy", L"Server", std::wstring(L"proxy.lan"));
  registry_.Put(L"Proxy", L"Port", uint32_t{3128});
  Answer(
      ServiceAnswer("AuthResult=ok\r\nAuthMessage=\xE6\xAC\xA2\xE8\xBF\x8E\r\n"
                    "ExpirationDatetimeGMT=2082715200\r\n",
                    kTwoServersOneRouteSet));
  const LoginOutcome outcome = Login();
  ASSERT_NE(outcome.engine, nullptr);
  EXPECT_EQ(outcome.plan.chosen, RouteSetChoice::AllTraffic());
  const CGeneralVpn& engine = *outcome.engine;
  EXPECT_EQ(engine.routeMode, RouteModeDefaultGateway);
  EXPECT_TRUE(engine.routeList.empty());
  EXPECT_EQ(engine.serverAddress, L"vpn2.example.com");
  EXPECT_EQ(engine.useMppe, 1u);
  EXPECT_EQ(engine.userName, L"demo");
  EXPECT_EQ(engine.password, L"demo123");
  EXPECT_EQ(engine.proxyType, 1u);
  EXPECT_EQ(engine.proxyHost, L"proxy.lan");
  EXPECT_EQ(engine.proxyPort, 3128);
  EXPECT_EQ(engines_.types, std::vector<int32_t>{1});
  EXPECT_EQ(view_.expiry, L"2035-12-31");
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0].text, L"\u6B22\u8FCE");
  EXPECT_EQ(view_.boxes[0].icon, MessageIcon::kInformation);
  EXPECT_TRUE(policy_.recordExisted);
  ASSERT_EQ(update_.answers.size(), 1u);
  EXPECT_EQ(update_.answers[0].requiredClientVersion, ParseClientVersion(L"2.1.0.0"));
  EXPECT_EQ(policy_.offered.servers.size(), 2u);
  EXPECT_EQ(engine.callback.load(), nullptr);

  ASSERT_EQ(fetcher_.calls.size(), 1u);
  EXPECT_TRUE(fetcher_.calls[0].requireMarker);
  const std::wstring& url = fetcher_.calls[0].urls.at(0);
  EXPECT_EQ(url.rfind(L"http://127.0.0.1:18088/client_login.php?u=demo&p=", 0), 0u);
  EXPECT_NE(url.find(L"&t=1700000000&v=2.1.0.0&cmd=login&rf=main"), std::wstring::npos);
  // The password is scrambled first, from the start of the random sequence.
  const ScrambledValue expected = ScrambleValue("demo123", Sequence({7, 8, 9, 10, 11}));
  EXPECT_NE(url.find(L"&s=" + PercentEncode(Base64Encode(expected.key)) + L"&"),
            std::wstring::npos);

  // Saved for next time, because the box was checked.
  EXPECT_EQ(settings_.GetUsername(), L"demo");
  EXPECT_EQ(settings_.LoadPassword(), std::optional<std::wstring>(L"demo123"));
  EXPECT_FALSE(ResponseFileExists());
}

TEST_F(LoginExchangeTest, RouteSetWithoutGatewayKeyListsItsRoutes) {
  policy_.choice.routes = RouteSetChoice::ServiceSet(0);
  Answer(ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet));
  Answer("8.8.8.0 mask 255.255.255.0\r\n\r\n203.0.113.0 mask 255.255.255.0\r\n");
  const LoginOutcome outcome = Login();
  ASSERT_NE(outcome.engine, nullptr);
  EXPECT_EQ(outcome.engine->routeMode, RouteModeListedRoutes);
  EXPECT_EQ(outcome.engine->routeList,
            (std::vector<std::wstring>{L"8.8.8.0 mask 255.255.255.0",
                                       L"203.0.113.0 mask 255.255.255.0"}));
  ASSERT_EQ(fetcher_.calls.size(), 2u);
  EXPECT_FALSE(fetcher_.calls[1].requireMarker);
  const std::wstring& routeUrl = fetcher_.calls[1].urls.at(0);
  EXPECT_NE(routeUrl.find(L"&cmd=getvpnroutes&id=overseas&rf=main"), std::wstring::npos);
  // The same scrambled password as the login, not a fresh one.
  const std::wstring& loginUrl = fetcher_.calls[0].urls.at(0);
  const size_t end = loginUrl.find(L"&a=");
  EXPECT_EQ(routeUrl.substr(0, routeUrl.find(L"&cmd=")), loginUrl.substr(0, end));
}

TEST_F(LoginExchangeTest, RouteSetWithGatewayKeyTunnelsEverything) {
  policy_.choice.routes = RouteSetChoice::ServiceSet(0);
  Answer(
      ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet + "ModifyDefaultGateway0=1\r\n"));
  Answer("0.0.0.0 mask 0.0.0.0\r\n");
  const LoginOutcome outcome = Login();
  ASSERT_NE(outcome.engine, nullptr);
  EXPECT_EQ(outcome.engine->routeMode, RouteModeDefaultGateway);
}

// A choice that names no route set the answer lists is refused before anything is fetched.
TEST_F(LoginExchangeTest, RouteChoiceTheAnswerDoesNotOfferIsRefused) {
  for (const std::optional<RouteSetChoice>& routes :
       {std::optional<RouteSetChoice>(), std::optional(RouteSetChoice::ServiceSet(1))}) {
    policy_.choice.routes = routes;
    fetcher_.calls.clear();
    Answer(ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet));
    EXPECT_EQ(Login().engine, nullptr);
    EXPECT_EQ(view_.status, GetText("LoginIsCancelled"));
    EXPECT_EQ(fetcher_.calls.size(), 1u);
    EXPECT_TRUE(engines_.types.empty());
  }
}

TEST_F(LoginExchangeTest, RefusalShowsTheServiceMessage) {
  Answer(ServiceAnswer("AuthResult=expired\r\nAuthMessage=bad\r\n"));
  EXPECT_EQ(Login().engine, nullptr);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0].text, GetText("LoginError") + L": bad");
  EXPECT_EQ(view_.status, GetText("LoginError"));
  // Only the exact word means an expired account.
  EXPECT_TRUE(view_.expiry.empty());
  EXPECT_TRUE(view_.pages.empty());
  EXPECT_EQ(policy_.calls, 0);
}

TEST_F(LoginExchangeTest, ExpiredAccountMarksTheExpiryAndOpensTheWebSite) {
  Answer(ServiceAnswer("AuthResult=Expired\r\nAuthMessage=old\r\n"));
  EXPECT_EQ(Login().engine, nullptr);
  EXPECT_EQ(view_.expiry, GetText("ExpiredDateExpired"));
  EXPECT_EQ(view_.pages, std::vector<std::wstring>{L"http://www.orumavpn.com/?rf=main"});
}

TEST_F(LoginExchangeTest, ClearedBoxForgetsTheCredentials) {
  settings_.SaveCredentials(L"old", L"secret");
  inputs_.savePassword = false;
  Answer("", LoginFetcher::Result::kCancelled);
  Login();
  EXPECT_FALSE(settings_.GetSavePassword());
  EXPECT_EQ(settings_.GetUsername(), L"");
  EXPECT_FALSE(settings_.LoadPassword().has_value());
  EXPECT_EQ(view_.status, GetText("LoginIsCancelled"));
  EXPECT_TRUE(view_.boxes.empty());
}

TEST_F(LoginExchangeTest, EmptyUserNameStopsBeforeAnythingIsSaved) {
  inputs_.userName.clear();
  EXPECT_EQ(Login().engine, nullptr);
  EXPECT_TRUE(fetcher_.calls.empty());
  EXPECT_EQ(registry_.size(), 0u);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0].text, GetText("PleaseInputValidUsername"));
}

TEST_F(LoginExchangeTest, APortThatEndsTheExchangeLeavesNoFileAndAFetchThatCannotStartBoxesOnce) {
  // The main window ends the exchange so when Exit comes during one of its boxes
  // (main_window_controller_test has the cases).
  Answer(ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet));
  policy_.whileOpen = [] { throw std::runtime_error("exit"); };
  EXPECT_THROW(Login(), std::runtime_error);
  EXPECT_FALSE(ResponseFileExists());
  EXPECT_EQ(engines_.types.size(), 0u);

  // The fetch dialog has already said that nothing could start.
  Answer("", LoginFetcher::Result::kNotStarted);
  EXPECT_EQ(Login().engine, nullptr);
  EXPECT_EQ(view_.status, GetText("NetworkOrServerErrorToLogin"));
  EXPECT_TRUE(view_.boxes.empty());
}

TEST_F(LoginExchangeTest, ResponseFileIsGoneAfterEveryOutcome) {
  const std::string ok = ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet);
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::wstring status;
  };
  const std::vector<Case> cases = {
      {"fetch failed", [&] { Answer("", LoginFetcher::Result::kFailed); },
       GetText("NetworkOrServerErrorToLogin")},
      {"update refused the answer",
       [&] {
         Answer(ok);
         update_.result = 1;
       },
       GetText("NetworkOrServerErrorToLogin")},
      {"update started",
       [&] {
         Answer(ok);
         update_.result = 2;
       },
       GetText("PreparingLogin")},
      {"refused", [&] { Answer(ServiceAnswer("AuthResult=Failed\r\n")); }, GetText("LoginError")},
      {"policy cancelled",
       [&] {
         Answer(ok);
         policy_.accept = false;
       },
       GetText("LoginIsCancelled")},
      {"route fetch failed",
       [&] {
         Answer(ok);
         Answer("", LoginFetcher::Result::kFailed);
         policy_.choice.routes = RouteSetChoice::ServiceSet(0);
       },
       GetText("LoginIsCancelled")},
      {"unknown tunnel",
       [&] {
         Answer(ok);
         policy_.choice.tunnelType = 4;
       },
       GetText("VpnUnknownError")},
      {"success", [&] { Answer(ok); }, GetText("PreparingLogin")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fetcher_.answers.clear();
    update_.result = 0;
    policy_.accept = true;
    policy_.choice.routes = RouteSetChoice::AllTraffic();
    policy_.choice.tunnelType = 1;
    // A read-only leftover of an earlier run must not stop the answer from being written.
    { std::ofstream(dir_ / "Kavrin.ini") << "stale"; }
    fs::permissions(dir_ / "Kavrin.ini", fs::perms::owner_read);
    c.arrange();
    const LoginOutcome outcome = Login();
    EXPECT_EQ(view_.status, c.status);
    EXPECT_EQ(outcome.engine != nullptr, std::string(c.name) == "success");
    EXPECT_FALSE(ResponseFileExists());
  }
}

// Attack: someone rewrites the record while the policy dialog is open. Every decision is made
// from what the service sent; where the data folder is not ours no record is written at all.
TEST_F(LoginExchangeTest, TheAnswerIsJudgedAsReceivedNeverAsReadBack) {
  policy_.choice.routes = RouteSetChoice::ServiceSet(0);
  policy_.whileOpen = [&] {
    std::ofstream(dir_ / "Kavrin.ini", std::ios::trunc)
        << ServiceAnswer("AuthResult=OK\r\n",
                         "[Routes]\r\nTitle0=Planted\r\nRouteId0=planted\r\n"
                         "ModifyDefaultGateway0=1\r\n");
  };
  Answer(ServiceAnswer("AuthResult=OK\r\nAuthMessage=welcome\r\n", kTwoServersOneRouteSet));
  Answer("10.0.0.0 mask 255.0.0.0\r\n");
  const LoginOutcome outcome = Login();
  ASSERT_NE(outcome.engine, nullptr);
  EXPECT_EQ(view_.boxes.back().text, L"welcome");
  EXPECT_TRUE(policy_.recordExisted) << "still kept for the record";
  ASSERT_EQ(fetcher_.calls.size(), 2u);
  EXPECT_NE(fetcher_.calls[1].urls.at(0).find(L"&id=overseas&"), std::wstring::npos);
  EXPECT_EQ(outcome.engine->routeMode, RouteModeListedRoutes);
  EXPECT_FALSE(ResponseFileExists());

  inputs_.keepRecord = false;
  policy_.whileOpen = nullptr;
  policy_.choice.routes = RouteSetChoice::AllTraffic();
  Answer(ServiceAnswer("AuthResult=OK\r\n", kTwoServersOneRouteSet));
  EXPECT_NE(Login().engine, nullptr);
  EXPECT_FALSE(policy_.recordExisted);
}
