// Host routes into the tunnel made on request, one per destination address, and dropped
// again when nobody has asked for them for six minutes. Route mode 3 starts a server when the
// tunnel is up; the engine stops it at cleanup.
//
// This class is the transport-independent half: the route bookkeeping and the server thread.
// A transport derives from it and
//   - implements Run(), the thread's body, which calls AddHostRoute for each request and
//     ExpireIdleRoutes whenever a new client arrives;
//   - overrides Start() to arm its own stop signal before calling this Start(), and Stop() to
//     raise that signal before calling this Stop(), which joins the thread;
//   - calls Stop() in its own destructor, since by the time this destructor runs the derived
//     part that Run() uses is gone.
#pragma once

#include <cstdint>
#include <map>
#include <thread>

#include "base/clock.h"
#include "vpn/route_table.h"

struct HostRouteRecord {
  uint32_t destination;
  uint32_t mask;
  uint32_t lastRequestTick;
};

class CVpnRouteRequestBaseServer {
 public:
  static constexpr uint32_t kIdleRouteLifetimeMs = 6 * 60 * 1000;

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

  // True when a route for `address` (network byte order) exists through the tunnel, created
  // now or earlier by this server. Address 0 is refused. A failed creation is not remembered,
  // so the next request tries again.
  bool AddHostRoute(uint32_t address);
  // Deletes the routes nobody asked for during the last six minutes.
  void ExpireIdleRoutes();

  // While running, the server thread alone touches these; they survive Stop(), so a restarted
  // server still knows the routes it made.
  std::thread serverThread;
  RouteRow routeTemplate{};
  std::map<uint32_t, HostRouteRecord> hostRoutes;

 protected:
  virtual void Run() = 0;

 private:
  RouteTable& routeTable_;
  TickClock& clock_;
};
