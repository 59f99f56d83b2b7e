// How the engine routes in each route mode: one small strategy per mode, chosen by the engine's
// `routeMode`. The engine brings the steps (RouteModeSteps, on its worker); a strategy says which
// of them its mode takes and in which order, and answers what the connectors and the main window
// ask of the mode. A new mode is a new strategy here and its number in RouteMode.
#pragma once

#include <cstdint>

enum RouteMode : uint32_t {
  RouteModeDefaultGateway = 1,  // the tunnel is the default gateway; listed routes bypass it
  RouteModeListedRoutes = 2,    // listed routes go into the tunnel
  RouteModeApplications = 3,    // host routes on request of the route-request server
};

// The engine's route work, run on its worker. Each step that fails reports its own error.
class RouteModeSteps {
 public:
  // The route-request server learns the tunnel server's address now, while names still resolve
  // the host's own way.
  virtual void LearnTunnelServer() = 0;
  // The route template on the tunnel's interface; false (reported) when none can be built.
  virtual bool MakeTunnelRoute() = 0;
  // Listed lines go to the tunnel's gateway, where the tunnel names one.
  virtual void UseTunnelGateway() = 0;
  virtual void ApplyTunnelMetric() = 0;
  virtual void ApplyHostMetric() = 0;
  // A proxy in use stays reachable the host's own way.
  virtual void RouteProxyAroundTunnel() = 0;
  // Global IPv6 and name lookups kept from going around the tunnel; what cannot be done only
  // marks the status.
  virtual void CloseIpv6AroundTunnel() = 0;
  virtual void KeepLookupsInTunnel() = 0;
  // The listed lines through the route template; false when Disconnect stopped it or a line
  // failed (reported).
  virtual bool CreateListedRoutes() = 0;
  // The route-request server, granting host routes into the tunnel; false (reported) when it
  // cannot start.
  virtual bool StartHostRouteServer() = 0;

 protected:
  ~RouteModeSteps() = default;
};

class RouteModeStrategy {
 public:
  virtual ~RouteModeStrategy() = default;
  // The tunnel takes over the host's default gateway: dial-up entries ask for the remote default
  // gateway, OpenVPN redirects it, the listed lines keep the host's own gateway, and a move of
  // the host's default route while connected calls for a new dial.
  virtual bool TunnelIsDefaultGateway() const { return false; }
  // A listed line may be a default route: one more default route, into the tunnel.
  virtual bool ListedDefaultAllowed() const { return false; }
  // Before the host's routes are read for the connection.
  virtual void Prepare(RouteModeSteps& /*steps*/) const {}
  // Once the tunnel is up; true when the routes are in place.
  virtual bool ModifyRoutes(RouteModeSteps& /*steps*/) const { return true; }
};

// The strategy of `routeMode`; one that changes no route for a number that names no mode.
const RouteModeStrategy& RouteModeStrategyFor(uint32_t routeMode);
