// The user's choice of route set, server and tunnel type for the next connection, made after
// every successful login. On Windows the policy dialog makes it; tests choose in code.
#pragma once

#include <cstdint>
#include <optional>

#include "config/route_set_code.h"
#include "service/server_response.h"

struct PolicyChoice {
  // Empty when no route set was chosen.
  std::optional<RouteSetChoice> routes;
  VpnServerEntry server;
  // 0 none, 1 PPTP, 2 L2TP, 3 OpenVPN.
  int32_t tunnelType = 0;
};

class PolicyChooser {
 public:
  virtual ~PolicyChooser() = default;
  // Shows the choices the login's answer offers, checks and remembers what the user picked.
  // False when the user cancelled; `choice` is then left as it was.
  virtual bool ChoosePolicy(const ServiceAnswer& answer, PolicyChoice& choice) = 0;
};
