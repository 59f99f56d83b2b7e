// The connector built on the system's console pipes.
#pragma once

#include <memory>
#include <string>

#include "vpn/open_vpn.h"

// A connector whose child runs over the system's pipes. The route table and clock must outlive
// it.
std::unique_ptr<COpenVpn> MakeSystemOpenVpn(
    RouteTable& routeTable, TickClock& clock,
    std::unique_ptr<CVpnRouteRequestBaseServer> routeServer = nullptr);
