#include "vpn/open_vpn_win.h"

#include <utility>

#include "vpn/piped_console_child_win.h"

void NamedExitSignal::Raise(const std::wstring& name) {
  // Opens the child's event when it exists; otherwise creates one the child would find.
  event_.reset(CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
  if (event_) SetEvent(event_.get());
}

void NamedExitSignal::Clear() {
  if (event_) ResetEvent(event_.get());
  event_.reset();
}

std::unique_ptr<COpenVpn> MakeSystemOpenVpn(
    RouteTable& routeTable, TickClock& clock,
    std::unique_ptr<CVpnRouteRequestBaseServer> routeServer) {
  return std::make_unique<COpenVpn>(std::make_unique<PipedConsoleChild>(),
                                    std::make_unique<NamedExitSignal>(), routeTable, clock,
                                    std::move(routeServer));
}
