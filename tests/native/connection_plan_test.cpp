#include "service/connection_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/route_set_code.h"
#include "vpn/general_vpn.h"

namespace {

// The numbers the settings and the policy dialog's list keep, both ways.
TEST(RouteSetCode, StoredNumbersMapToTheChoicesAndBack) {
  const struct {
    int32_t code;
    std::optional<RouteSetChoice> choice;
  } cases[] = {
      {kRouteSetAllTraffic, RouteSetChoice::AllTraffic()},
      {kRouteSetApplications, RouteSetChoice::Applications()},
      {0, RouteSetChoice::ServiceSet(0)},
      {7, RouteSetChoice::ServiceSet(7)},
      {kRouteSetNone, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(RouteSetFromCode(c.code), c.choice);
    EXPECT_EQ(RouteSetCode(c.choice), c.code);
  }
  // A number no version ever stored names nothing; so does an index no number can carry.
  EXPECT_EQ(RouteSetFromCode(-4), std::nullopt);
  EXPECT_EQ(RouteSetFromCode(INT32_MIN), std::nullopt);
  EXPECT_EQ(RouteSetCode(RouteSetChoice::ServiceSet(size_t{1} << 40)), kRouteSetNone);
}

class ConnectionPlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    answer_.routeSets = {{L"Overseas", L"", L"overseas", 0}, {L"Everything", L"", L"all", 1}};
    choice_.server.serverHost = L"vpn1.example.com";
    choice_.tunnelType = 2;
  }

  PlanResult Plan(std::optional<RouteSetChoice> routes) {
    choice_.routes = routes;
    return MakeConnectionPlan(answer_, choice_, [this](const std::wstring& id) {
      fetched_.push_back(id);
      return lines_;
    });
  }

  ServiceAnswer answer_;
  PolicyChoice choice_;
  std::optional<RouteList> lines_ = RouteList{L"10.0.0.0 mask 255.0.0.0"};
  std::vector<std::wstring> fetched_;
};

TEST_F(ConnectionPlanTest, EachChoiceComesToItsAlternative) {
  const PlanResult all = Plan(RouteSetChoice::AllTraffic());
  ASSERT_TRUE(all.plan);
  EXPECT_TRUE(std::get<AllTrafficRoutes>(all.plan->routes).bypass.empty());
  EXPECT_EQ(all.plan->server.serverHost, L"vpn1.example.com");
  EXPECT_EQ(all.plan->tunnelType, 2);

  const PlanResult apps = Plan(RouteSetChoice::Applications());
  ASSERT_TRUE(apps.plan);
  EXPECT_TRUE(std::holds_alternative<ApplicationRoutes>(apps.plan->routes));
  EXPECT_TRUE(fetched_.empty()) << "only a service set fetches";

  // A service set fetches its lines by its id; its gateway key decides what they are.
  const PlanResult listed = Plan(RouteSetChoice::ServiceSet(0));
  ASSERT_TRUE(listed.plan);
  EXPECT_EQ(std::get<ListedRoutes>(listed.plan->routes).lines, *lines_);
  EXPECT_EQ(listed.plan->chosen, RouteSetChoice::ServiceSet(0));
  const PlanResult bypass = Plan(RouteSetChoice::ServiceSet(1));
  ASSERT_TRUE(bypass.plan);
  EXPECT_EQ(std::get<AllTrafficRoutes>(bypass.plan->routes).bypass, *lines_);
  EXPECT_EQ(fetched_, (std::vector<std::wstring>{L"overseas", L"all"}));
}

TEST_F(ConnectionPlanTest, MissingChoiceSetOrLinesIsRefused) {
  EXPECT_EQ(Plan(std::nullopt).refusal, PlanRefusal::kNoRouteChoice);
  const PlanResult absent = Plan(RouteSetChoice::ServiceSet(2));
  EXPECT_FALSE(absent.plan);
  EXPECT_EQ(absent.refusal, PlanRefusal::kRouteSetNotOffered);
  EXPECT_TRUE(fetched_.empty()) << "a set the answer does not list is never asked for";
  lines_.reset();
  const PlanResult unfetched = Plan(RouteSetChoice::ServiceSet(0));
  EXPECT_FALSE(unfetched.plan);
  EXPECT_EQ(unfetched.refusal, PlanRefusal::kNoRouteLines);
}

TEST(EngineRoutes, EachAlternativeHasItsRouteMode) {
  const RouteList lines{L"10.0.0.0 mask 255.0.0.0"};
  const EngineRoutes all = EngineRoutesOf(AllTrafficRoutes{lines});
  EXPECT_EQ(all.routeMode, RouteModeDefaultGateway);
  EXPECT_EQ(all.lines, lines);
  const EngineRoutes listed = EngineRoutesOf(ListedRoutes{lines});
  EXPECT_EQ(listed.routeMode, RouteModeListedRoutes);
  EXPECT_EQ(listed.lines, lines);
  const EngineRoutes apps = EngineRoutesOf(ApplicationRoutes{});
  EXPECT_EQ(apps.routeMode, RouteModeApplications);
  EXPECT_TRUE(apps.lines.empty());
}

// The answer as received: what the plan and the dialog read.
TEST(ServiceAnswer, ParsedOnceFromTheBytesReceived) {
  const ServiceAnswer answer = ParseServiceAnswer(
      "MagicTag=VpnServerResponse\r\n[VPN]\r\nAuthResult=OK\r\nRequiredClientVersion=2.1.0.0\r\n"
      "[Routes]\r\nTitle0=Overseas\r\nRouteId0=overseas\r\nModifyDefaultGateway0=1\r\n"
      "[Servers]\r\nServerId0=101\r\nServerHost0=vpn1.example.com\r\n",
      L"unknown");
  EXPECT_TRUE(answer.account.LoginSucceeded());
  EXPECT_EQ(answer.account.clientIp, L"unknown");
  EXPECT_EQ(answer.requiredClientVersion, ParseClientVersion(L"2.1.0.0"));
  ASSERT_EQ(answer.routeSets.size(), 1u);
  EXPECT_EQ(answer.routeSets[0].routeId, L"overseas");
  EXPECT_EQ(answer.routeSets[0].modifyDefaultGateway, 1);
  ASSERT_EQ(answer.servers.size(), 1u);
  EXPECT_EQ(answer.servers[0].serverHost, L"vpn1.example.com");

  const ServiceAnswer empty = ParseServiceAnswer("", L"");
  EXPECT_FALSE(empty.requiredClientVersion);
  EXPECT_TRUE(empty.routeSets.empty());
  EXPECT_TRUE(empty.servers.empty());
}

}  // namespace
