#include "vpn/route_mode.h"

namespace {

// Mode 1: everything into the tunnel; the listed lines bypass it.
class DefaultGatewayMode final : public RouteModeStrategy {
 public:
  bool TunnelIsDefaultGateway() const override { return true; }
  bool ModifyRoutes(RouteModeSteps& steps) const override {
    steps.ApplyTunnelMetric();
    steps.ApplyHostMetric();
    steps.RouteProxyAroundTunnel();
    // Before the route list, which may take a while: IPv6 is closed from the moment the tunnel
    // is the default gateway.
    steps.CloseIpv6AroundTunnel();
    steps.KeepLookupsInTunnel();
    return steps.CreateListedRoutes();
  }
};

// Mode 2: only the listed lines into the tunnel.
class ListedRoutesMode final : public RouteModeStrategy {
 public:
  bool ListedDefaultAllowed() const override { return true; }
  bool ModifyRoutes(RouteModeSteps& steps) const override {
    if (!steps.MakeTunnelRoute()) return false;
    steps.UseTunnelGateway();
    steps.ApplyTunnelMetric();
    steps.ApplyHostMetric();
    steps.RouteProxyAroundTunnel();
    return steps.CreateListedRoutes();
  }
};

// Mode 3: a host route into the tunnel for each connection the binding module asks for.
class ApplicationsMode final : public RouteModeStrategy {
 public:
  void Prepare(RouteModeSteps& steps) const override { steps.LearnTunnelServer(); }
  bool ModifyRoutes(RouteModeSteps& steps) const override {
    if (!steps.MakeTunnelRoute()) return false;
    steps.ApplyTunnelMetric();
    return steps.StartHostRouteServer();
  }
};

// No mode configured: the tunnel comes up and no route changes.
class NoRoutesMode final : public RouteModeStrategy {};

}  // namespace

const RouteModeStrategy& RouteModeStrategyFor(uint32_t routeMode) {
  static const DefaultGatewayMode kDefaultGateway{};
  static const ListedRoutesMode kListedRoutes{};
  static const ApplicationsMode kApplications{};
  static const NoRoutesMode kNoRoutes{};
  switch (routeMode) {
    case RouteModeDefaultGateway:
      return kDefaultGateway;
    case RouteModeListedRoutes:
      return kListedRoutes;
    case RouteModeApplications:
      return kApplications;
    default:
      return kNoRoutes;
  }
}
