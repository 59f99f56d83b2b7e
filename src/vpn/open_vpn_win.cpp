#include "vpn/open_vpn_win.h"

#include <utility>

#include "vpn/exit_event_win.h"
#include "vpn/piped_console_child_win.h"

std::unique_ptr<COpenVpn> MakeSystemOpenVpn(
    RouteTable& routeTable, TickClock& clock,
    std::unique_ptr<CVpnRouteRequestBaseServer> routeServer) {
  return std::make_unique<COpenVpn>(std::make_unique<PipedConsoleChild>(),
                                    std::make_unique<PrivateExitEvent>(), routeTable, clock,
                                    std::move(routeServer));
}
