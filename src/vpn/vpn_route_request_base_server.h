// The route-request server of route mode 3: host routes into the tunnel on request of the
// binding module. The routes themselves belong to the connection: each request is handed to
// the engine's worker (grantHostRoute), which creates, journals and at Disconnect deletes them.
// The engine starts the server when the tunnel is up and stops it at cleanup.
//
// This class is the transport-independent half: the server thread. A transport derives from it
// and
//   - implements Run(), the thread's body, which calls AddHostRoute for each request;
//   - overrides Start() to arm its own stop signal before calling this Start(), and Stop() to
//     raise that signal before calling this Stop(), which joins the thread;
//   - calls Stop() in its own destructor, since by the time this destructor runs the derived
//     part that Run() uses is gone.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

#include "base/clock.h"
#include "vpn/route_table.h"

class CVpnRouteRequestBaseServer {
 public:
  CVpnRouteRequestBaseServer(RouteTable& routeTable, TickClock& clock);
  CVpnRouteRequestBaseServer(const CVpnRouteRequestBaseServer&) = delete;
  CVpnRouteRequestBaseServer& operator=(const CVpnRouteRequestBaseServer&) = delete;
  virtual ~CVpnRouteRequestBaseServer();

  // Waits for the server thread without a time-out; a stopped server is left alone. Called
  // from the server thread itself it returns at once rather than wait for itself.
  virtual void Stop();
  // Takes `tunnelRoute` as the template of every host route and starts the thread. False when
  // already running or no thread could be created.
  virtual bool Start(const RouteRow& tunnelRoute);
  // Learns which address is the tunnel's own server, never to be routed into the tunnel. The
  // engine calls it at Connect, before the tunnel is up, so a host name is resolved there and
  // not on the thread that reports the tunnel; Start uses what was learned. Nothing here.
  virtual void LearnTunnelServer() {}
  bool IsRunning() const { return serverThread.joinable(); }

  // True when a route for `address` (network byte order) exists through the tunnel: what
  // grantHostRoute answers. Address 0, and any address while no one grants, is refused.
  bool AddHostRoute(uint32_t address) {
    return address != 0 && grantHostRoute && grantHostRoute(address);
  }

  // Set by the engine before Start; called on the server thread and may wait there.
  std::function<bool(uint32_t address)> grantHostRoute;
  std::thread serverThread;
  // The tunnel route as the engine gave it at Start.
  RouteRow routeTemplate{};

 protected:
  virtual void Run() = 0;
};
