// The connection plan: what the login and the policy choice decided, typed and checked once —
// the server, the tunnel type, and where traffic goes — and handed to the engine, which applies
// the routes through its route-mode strategy (vpn/route_mode.h).
//
// The routes are a closed set of alternatives. Adding one means a new alternative here, its
// case in MakeConnectionPlan and EngineRoutesOf, a route-mode strategy for the engine, and the
// policy dialog's item for it (docs/connection-plan.md).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "config/route_set_code.h"
#include "service/policy_chooser.h"
#include "service/route_list.h"
#include "service/server_response.h"

// Everything goes into the tunnel, which becomes the default gateway; the `bypass` lines keep
// the host's own gateway. Chosen as "all traffic" (no bypass), or a service set that asks to
// take over the default gateway.
struct AllTrafficRoutes {
  RouteList bypass;
};
// Only the listed lines go into the tunnel.
struct ListedRoutes {
  RouteList lines;
};
// Only the chosen applications: the binding module asks for a host route per connection.
struct ApplicationRoutes {};

using PlannedRoutes = std::variant<AllTrafficRoutes, ListedRoutes, ApplicationRoutes>;

struct ConnectionPlan {
  VpnServerEntry server;
  // 1 PPTP, 2 L2TP, 3 OpenVPN (the engine factory refuses what it cannot make).
  int32_t tunnelType = 0;
  // As the user chose it; `routes` is what it came to.
  RouteSetChoice chosen;
  PlannedRoutes routes;
};

// Why no plan was made.
enum class PlanRefusal {
  kNoRouteChoice,       // the choice names no route set
  kRouteSetNotOffered,  // a service set the answer does not list
  kNoRouteLines,        // the set's lines could not be fetched
};

// Fetches the lines of the service's route set `routeId`; empty when they could not be had.
using RouteLineFetch = std::function<std::optional<RouteList>(const std::wstring& routeId)>;

struct PlanResult {
  std::optional<ConnectionPlan> plan;
  PlanRefusal refusal = PlanRefusal::kNoRouteChoice;  // when there is no plan
};

// The plan for `choice` made from `answer`. Only a service set fetches, through `fetchLines`.
PlanResult MakeConnectionPlan(const ServiceAnswer& answer, const PolicyChoice& choice,
                              const RouteLineFetch& fetchLines);

// The engine's configuration for the plan's routes: its route mode and route lines.
struct EngineRoutes {
  uint32_t routeMode = 0;
  RouteList lines;
};
EngineRoutes EngineRoutesOf(const PlannedRoutes& routes);
