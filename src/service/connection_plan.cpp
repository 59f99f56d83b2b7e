#include "service/connection_plan.h"

#include <type_traits>
#include <utility>

#include "vpn/general_vpn.h"

namespace {

// The routes of `chosen`; `refusal` says why there are none.
std::optional<PlannedRoutes> PlanRoutes(const ServiceAnswer& answer, const RouteSetChoice& chosen,
                                        const RouteLineFetch& fetchLines, PlanRefusal& refusal) {
  switch (chosen.kind) {
    case RouteSetKind::kAllTraffic:
      return AllTrafficRoutes{};
    case RouteSetKind::kApplications:
      return ApplicationRoutes{};
    case RouteSetKind::kServiceSet:
      break;
  }
  if (chosen.index >= answer.routeSets.size()) {
    refusal = PlanRefusal::kRouteSetNotOffered;
    return std::nullopt;
  }
  const RouteSetEntry& set = answer.routeSets[chosen.index];
  std::optional<RouteList> lines = fetchLines ? fetchLines(set.routeId) : std::nullopt;
  if (!lines) {
    refusal = PlanRefusal::kNoRouteLines;
    return std::nullopt;
  }
  if (set.modifyDefaultGateway != 0) return AllTrafficRoutes{std::move(*lines)};
  return ListedRoutes{std::move(*lines)};
}

}  // namespace

PlanResult MakeConnectionPlan(const ServiceAnswer& answer, const PolicyChoice& choice,
                              const RouteLineFetch& fetchLines) {
  PlanResult result;
  if (!choice.routes) {
    result.refusal = PlanRefusal::kNoRouteChoice;
    return result;
  }
  std::optional<PlannedRoutes> routes =
      PlanRoutes(answer, *choice.routes, fetchLines, result.refusal);
  if (!routes) return result;
  result.plan =
      ConnectionPlan{choice.server, choice.tunnelType, *choice.routes, std::move(*routes)};
  return result;
}

EngineRoutes EngineRoutesOf(const PlannedRoutes& routes) {
  return std::visit(
      [](const auto& planned) -> EngineRoutes {
        using Kind = std::decay_t<decltype(planned)>;
        if constexpr (std::is_same_v<Kind, AllTrafficRoutes>) {
          return {RouteModeDefaultGateway, planned.bypass};
        } else if constexpr (std::is_same_v<Kind, ListedRoutes>) {
          return {RouteModeListedRoutes, planned.lines};
        } else {
          static_assert(std::is_same_v<Kind, ApplicationRoutes>, "every alternative has a mode");
          return {RouteModeApplications, {}};
        }
      },
      routes);
}
