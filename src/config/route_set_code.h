// The user's choice of routes as one number: the number the settings keep ("LastVpnRouteIndex")
// and the policy dialog's route list carries. Negative numbers are the fixed choices, n >= 0 is
// the service's route set n. This is the only place those numbers are spelled; everything that
// decides anything works with RouteSetChoice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

inline constexpr int32_t kRouteSetNone = -1;
inline constexpr int32_t kRouteSetAllTraffic = -2;
inline constexpr int32_t kRouteSetApplications = -3;

enum class RouteSetKind {
  kAllTraffic,    // everything through the tunnel
  kApplications,  // only the chosen applications' connections
  kServiceSet,    // one of the route sets the service's answer lists
};

struct RouteSetChoice {
  RouteSetKind kind = RouteSetKind::kAllTraffic;
  // The service's route set, for kServiceSet; 0 otherwise.
  size_t index = 0;

  static RouteSetChoice AllTraffic() { return {RouteSetKind::kAllTraffic, 0}; }
  static RouteSetChoice Applications() { return {RouteSetKind::kApplications, 0}; }
  static RouteSetChoice ServiceSet(size_t index) { return {RouteSetKind::kServiceSet, index}; }
  bool operator==(const RouteSetChoice&) const = default;
};

// Empty for kRouteSetNone and for any negative number that names no choice.
std::optional<RouteSetChoice> RouteSetFromCode(int32_t code);
// kRouteSetNone for no choice, and for a service set whose index no number can carry.
int32_t RouteSetCode(const std::optional<RouteSetChoice>& choice);
