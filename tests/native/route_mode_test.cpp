#include "vpn/route_mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Notes each step a strategy takes; `tunnelRoute` is what MakeTunnelRoute answers.
class RecordingSteps : public RouteModeSteps {
 public:
  void LearnTunnelServer() override { steps.push_back("learn"); }
  bool MakeTunnelRoute() override {
    steps.push_back("tunnel route");
    return tunnelRoute;
  }
  void UseTunnelGateway() override { steps.push_back("gateway"); }
  void ApplyTunnelMetric() override { steps.push_back("tunnel metric"); }
  void ApplyHostMetric() override { steps.push_back("host metric"); }
  void RouteProxyAroundTunnel() override { steps.push_back("proxy"); }
  void CloseIpv6AroundTunnel() override { steps.push_back("ipv6"); }
  void KeepLookupsInTunnel() override { steps.push_back("dns"); }
  bool CreateListedRoutes() override {
    steps.push_back("listed");
    return true;
  }
  bool StartHostRouteServer() override {
    steps.push_back("host routes");
    return true;
  }

  std::vector<std::string> steps;
  bool tunnelRoute = true;
};

using Steps = std::vector<std::string>;

TEST(RouteModeStrategy, EachModeTakesItsStepsInOrder) {
  const struct {
    uint32_t mode;
    bool defaultGateway;
    bool listedDefault;
    Steps prepare;
    Steps modify;
  } cases[] = {
      // The guards close IPv6 and lookups before the route list, which may take a while.
      {RouteModeDefaultGateway,
       true,
       false,
       {},
       {"tunnel metric", "host metric", "proxy", "ipv6", "dns", "listed"}},
      {RouteModeListedRoutes,
       false,
       true,
       {},
       {"tunnel route", "gateway", "tunnel metric", "host metric", "proxy", "listed"}},
      {RouteModeApplications,
       false,
       false,
       {"learn"},
       {"tunnel route", "tunnel metric", "host routes"}},
      // No mode configured: the tunnel comes up and no route changes.
      {0, false, false, {}, {}},
      {4, false, false, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const RouteModeStrategy& strategy = RouteModeStrategyFor(c.mode);
    EXPECT_EQ(strategy.TunnelIsDefaultGateway(), c.defaultGateway);
    EXPECT_EQ(strategy.ListedDefaultAllowed(), c.listedDefault);
    RecordingSteps prepare;
    strategy.Prepare(prepare);
    EXPECT_EQ(prepare.steps, c.prepare);
    RecordingSteps modify;
    EXPECT_TRUE(strategy.ModifyRoutes(modify));
    EXPECT_EQ(modify.steps, c.modify);
  }
}

// A tunnel without a route of its own gets no routes and no host-route server.
TEST(RouteModeStrategy, NoTunnelRouteStopsTheModes) {
  for (const uint32_t mode : {RouteModeListedRoutes, RouteModeApplications}) {
    SCOPED_TRACE(mode);
    RecordingSteps steps;
    steps.tunnelRoute = false;
    EXPECT_FALSE(RouteModeStrategyFor(mode).ModifyRoutes(steps));
    EXPECT_EQ(steps.steps, Steps{"tunnel route"});
  }
}

}  // namespace
