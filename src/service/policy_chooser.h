// The user's choice of route set, server and tunnel type for the next connection, made after
// every successful login. On Windows the policy dialog makes it; tests choose in code.
#pragma once

#include <cstdint>
#include <string>

#include "service/server_response.h"

struct PolicyChoice {
  // -1 none, -2 all traffic, -3 only the chosen applications, n >= 0 route set n.
  int32_t routeSetCode = -1;
  VpnServerEntry server;
  // 0 none, 1 PPTP, 2 L2TP, 3 OpenVPN.
  int32_t tunnelType = 0;
};

class PolicyChooser {
 public:
  virtual ~PolicyChooser() = default;
  // Shows the choices offered by the login response in `responseFile`, checks and remembers
  // what the user picked. False when the user cancelled; `choice` is then left as it was.
  virtual bool ChoosePolicy(const std::wstring& responseFile, PolicyChoice& choice) = 0;
};
