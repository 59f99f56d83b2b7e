// Arbitrary bytes as the service's login answer: reading it must not crash, and every plan made
// from it must name a route set the answer lists and map to a route mode the engine knows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/connection_plan.h"
#include "service/server_response.h"
#include "vpn/general_vpn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const ServiceAnswer answer = ParseServiceAnswer(body, L"unknown");
  for (const VpnServerEntry& server : answer.servers) {
    if (server.serverId == 0) std::abort();
  }

  PolicyChoice choice;
  const RouteLineFetch fetch = [](const std::wstring&) {
    return RouteList{L"10.0.0.0 mask 255.0.0.0"};
  };
  for (size_t n = 0; n <= answer.routeSets.size() + 1; ++n) {
    for (const RouteSetChoice routes :
         {RouteSetChoice::AllTraffic(), RouteSetChoice::Applications(),
          RouteSetChoice::ServiceSet(n)}) {
      choice.routes = routes;
      const PlanResult result = MakeConnectionPlan(answer, choice, fetch);
      const bool offered = routes.kind != RouteSetKind::kServiceSet || n < answer.routeSets.size();
      if (result.plan.has_value() != offered) std::abort();
      if (!result.plan) continue;
      const uint32_t mode = EngineRoutesOf(result.plan->routes).routeMode;
      if (mode != RouteModeDefaultGateway && mode != RouteModeListedRoutes &&
          mode != RouteModeApplications) {
        std::abort();
      }
    }
  }
  return 0;
}
