#include "config/route_set_code.h"

#include <limits>

std::optional<RouteSetChoice> RouteSetFromCode(int32_t code) {
  if (code >= 0) return RouteSetChoice::ServiceSet(static_cast<size_t>(code));
  if (code == kRouteSetAllTraffic) return RouteSetChoice::AllTraffic();
  if (code == kRouteSetApplications) return RouteSetChoice::Applications();
  return std::nullopt;
}

int32_t RouteSetCode(const std::optional<RouteSetChoice>& choice) {
  if (!choice) return kRouteSetNone;
  switch (choice->kind) {
    case RouteSetKind::kAllTraffic:
      return kRouteSetAllTraffic;
    case RouteSetKind::kApplications:
      return kRouteSetApplications;
    case RouteSetKind::kServiceSet:
      if (choice->index > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        return kRouteSetNone;
      }
      return static_cast<int32_t>(choice->index);
  }
  return kRouteSetNone;
}
