// The exit event of the OpenVPN child as a named system event, and the connector built on the
// system's console pipes.
#pragma once

#include <memory>
#include <string>

#include "base/unique_handle_win.h"
#include "vpn/open_vpn.h"

class NamedExitSignal final : public ExitSignal {
 public:
  void Raise(const std::wstring& name) override;
  void Clear() override;

 private:
  UniqueHandle event_;
};

// A connector whose child runs over the system's pipes. The route table and clock must outlive
// it.
std::unique_ptr<COpenVpn> MakeSystemOpenVpn(
    RouteTable& routeTable, TickClock& clock,
    std::unique_ptr<CVpnRouteRequestBaseServer> routeServer = nullptr);
