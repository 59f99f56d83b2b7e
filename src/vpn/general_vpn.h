// One connection attempt, whatever the tunnel type: what the owner configured, the state and
// error it has reached, the routes it changed. Connectors derive from it and bring the tunnel
// up and down; everything around the tunnel (default route, route modification and restore,
// the route-request server's host routes, reporting) happens here.
//
// Threads: the owner configures the engine before Connect and calls Connect, Disconnect and
// GetStatistics on its user-interface thread; the configuration is read-only from Connect on.
// Each engine has one worker thread, and everything the engine keeps about the connection
// (state, error, detail, addresses, route bookkeeping) belongs to it: Connect, Disconnect and
// every connector event (the dial-up progress, a chunk of console output, the child's end, a
// host route asked for through the route-request server) are queued to the worker and run there
// one at a time, in the order they were queued. Whoever queues returns at once, so neither the
// window nor a thread of the system ever waits for route work. Disconnect raises a stop flag,
// which route work checks between two routes, and queues the cleanup; from then on no connector
// event runs any more. Readers never look inside: each report carries a numbered copy of the
// status, and Status() gives the latest one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "vpn/dns_guard.h"
#include "vpn/ipv6_route_table.h"
#include "vpn/route_journal.h"
#include "vpn/route_mode.h"
#include "vpn/route_table.h"
#include "vpn/vpn_route_request_base_server.h"

class CGeneralVpn;

// The engine as one report found it.
struct VpnStatus {
  // 1 for the first report of an engine, one more with each further report; 0 when nothing
  // was reported yet. An owner that has handled a number has handled that change.
  uint32_t sequence = 0;
  uint32_t state = 0;
  int32_t error = 0;
  // System, dial-up or routing error number explaining `error`.
  int32_t errorDetail = 0;
  // The tunnel's local address in dotted form, once the connector has learned it.
  std::wstring localAddress;
  // Route lines (and the proxy host) whose route could not be created at the last route
  // modification.
  std::vector<std::wstring> failedRoutes;
  // Route mode 1 found IPv6 around the tunnel and could not close it: the connection is up,
  // but programs may still reach IPv6 sites directly.
  bool ipv6Unguarded = false;
  // The same for name lookups: the local network's resolver may still be asked.
  bool dnsUnguarded = false;
  // The listed routes this connection has created and not restored yet.
  uint32_t routesCreated = 0;
};

class CGeneralVpnCallbackInterface {
 public:
  // Called on the engine's worker: hand `status` on and return; never call back into the
  // engine from here.
  virtual void OnVpnStateChanged(CGeneralVpn* vpn, const VpnStatus& status) = 0;

 protected:
  ~CGeneralVpnCallbackInterface() = default;
};

enum GeneralVpnState : uint32_t {
  GENERAL_VPN_STATE_DISCONNECT = 0,
  GENERAL_VPN_STATE_DISCONNECTED = 1,
  GENERAL_VPN_STATE_START = 2,
  GENERAL_VPN_STATE_PREPARE = 3,
  GENERAL_VPN_STATE_CONNECT = 4,
  GENERAL_VPN_STATE_AUTHENTICATE = 5,
  GENERAL_VPN_STATE_AUTHENTICATED = 6,
  GENERAL_VPN_STATE_CONNECTED = 7,
  GENERAL_VPN_STATE_ALL_DONE = 8,
  GENERAL_VPN_STATE_RESTORE_ROUTE = 9,
  GENERAL_VPN_STATE_MODIFY_ROUTE = 10,
};

// Connectors number their own errors from 9 on.
enum GeneralVpnError : int32_t {
  GENERAL_VPN_ERROR_SUCCESS = 0,
  GENERAL_VPN_ERROR_INTERNAL = 1,
  GENERAL_VPN_ERROR_CONNECT = 2,
  GENERAL_VPN_ERROR_ALREADY_CONNECTED = 3,
  GENERAL_VPN_ERROR_GET_GATEWAY = 4,
  GENERAL_VPN_ERROR_GET_LOCAL_IP = 5,
  GENERAL_VPN_ERROR_MODIFY_ROUTE = 6,
  GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER = 7,
};

// The engine applies its `routeMode` through the mode's strategy (vpn/route_mode.h), which runs
// the engine's route steps below.
class CGeneralVpn : private RouteModeSteps {
 public:
  // The least time between the start of a cleanup and the engine's end, so a hang-up still in
  // progress in the system has settled before the next connection starts.
  static constexpr uint32_t kCleanupSettleMs = 2000;
  // Host routes of route mode 3 held at once; a full set gives up the one asked for longest ago.
  static constexpr size_t kMaxHostRoutes = 4096;
  // How long the route-request server waits for the worker's answer to one request.
  static constexpr uint32_t kHostRouteWaitMs = 5000;

  // `routeServer` serves route mode 3; without one that mode fails with
  // GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER. The route table and clock must outlive the
  // engine.
  CGeneralVpn(RouteTable& routeTable, TickClock& clock,
              std::unique_ptr<CVpnRouteRequestBaseServer> routeServer);
  CGeneralVpn(const CGeneralVpn&) = delete;
  CGeneralVpn& operator=(const CGeneralVpn&) = delete;
  // Does not disconnect: the owner does that first. Waits for the worker to finish what was
  // queued (a cleanup included), then stops the route-request server.
  virtual ~CGeneralVpn();

  // Queues the connection: the worker first waits for the engine given to Follow, then runs
  // the common preparation (the host's default route) and the connector's start. Returns 0 at
  // once; a failure arrives as a report carrying the error (for GENERAL_VPN_ERROR_GET_GATEWAY
  // detail 13), with the state the attempt had reached.
  int32_t Connect();
  // Raises the stop flag (route work gives up before its next route, connector events and
  // host-route requests are refused from now on) and queues the cleanup: the connector stops
  // its tunnel, the route-request server stops, the routes this connection created are
  // restored. The worker reports GENERAL_VPN_STATE_RESTORE_ROUTE, then
  // GENERAL_VPN_STATE_DISCONNECTED when the restore is done; it then waits until the system
  // let the tunnel go (at least kCleanupSettleMs after the cleanup began) and the engine is
  // finished. Returns 0 at once; only the first call counts.
  int32_t Disconnect();
  // Whether the cleanup has run to its end: the engine may be deleted without waiting.
  bool Finished() const;
  // Waits up to `milliseconds` for Finished.
  bool WaitFinished(uint32_t milliseconds);
  // Waits until the worker has handled every event queued so far. Never from the worker.
  void Flush();
  // The engine of the previous connection, disconnected; this one's worker waits for it to
  // finish and deletes it before its own Connect runs, so the window never waits for it.
  void Follow(std::unique_ptr<CGeneralVpn> previous) { previous_ = std::move(previous); }

  // Bytes (or packets) sent and received so far: 0, or an error code with `errorDetail`
  // explaining it. Never changes the engine's state or error.
  virtual int32_t GetStatistics(uint32_t& sent, uint32_t& received, int32_t& errorDetail) = 0;
  virtual std::wstring GetErrorDetailText(int32_t detail) = 0;
  // Connectors answer for their own codes and hand the rest down.
  virtual std::wstring GetErrorText(int32_t code);
  virtual std::wstring GetStateText(uint32_t code);
  // What the error means and what to try, in one sentence; empty when there is nothing to add.
  virtual std::wstring ErrorAdvice(int32_t /*code*/, int32_t /*detail*/) { return {}; }

  // Null user or password are stored as "".
  void SetProxy(uint32_t type, const wchar_t* host, int32_t port, const wchar_t* user,
                const wchar_t* password);
  // A connector's report, queued as one event: stores and reports the change. CONNECTED
  // without error first modifies the routes: on success the report is ALL_DONE, on failure
  // the modification's own error report was the last one and nothing more goes out. Ignored
  // once Disconnect has begun.
  void SetState(uint32_t newState, int32_t newError, int32_t newDetail);

  // From the route-request server's thread: asks the worker for a host route to `address`
  // (network byte order) through the tunnel and waits up to `milliseconds` for the answer.
  // True when the route exists, made now or earlier by this connection. False for address 0,
  // a failed creation (tried again next time), an answer that did not come in time, and from
  // the moment Disconnect began, which creates nothing more.
  bool RequestHostRoute(uint32_t address, uint32_t milliseconds = kHostRouteWaitMs);

  // The latest status: a copy, safe from any thread.
  VpnStatus Status() const;
  std::wstring GetCurrentStateText() { return GetStateText(Status().state); }
  std::wstring GetCurrentErrorText() { return GetErrorText(Status().error); }
  std::wstring GetCurrentErrorDetailText() { return GetErrorDetailText(Status().errorDetail); }
  std::wstring GetLocalAddress() const { return Status().localAddress; }

  // State, error and detail texts, one labelled line each, every line ending in "\r\n".
  std::wstring BuildStatusReport(const VpnStatus& status);
  // The detail line's text: the detail's own, then the guard warnings.
  std::wstring DetailText(const VpnStatus& status);
  // What route mode 1 could not close around the tunnel (IPv6, name lookups), one text each,
  // blank-separated; empty when nothing.
  // `brief`: each warning only up to its full-width colon, for the one-line status area; the
  // status report carries the whole text.
  static std::wstring GuardWarnings(const VpnStatus& status, bool brief = false);
  std::wstring BuildStatusReport() { return BuildStatusReport(Status()); }

  // Optional, set before Connect: the routes this connection creates and deletes go through
  // the journal, so a start after a crash can take back what was never restored.
  void SetRouteJournal(std::unique_ptr<RouteJournal> journal) {
    routeJournal_ = std::move(journal);
  }
  // Optional, set before Connect (and before the journal, which must journal the same table):
  // where route mode 1 closes IPv6 around the tunnel. Without one IPv6 is left alone. Must
  // outlive the engine.
  void SetIpv6RouteTable(Ipv6RouteTable* table) { ipv6Routes_ = table; }
  // Optional, set before Connect: where route mode 1 keeps name lookups to the tunnel. Without
  // one lookups are left alone. Must outlive the engine.
  void SetDnsGuard(DnsGuard* guard) { dnsGuard_ = guard; }

  // The worker's route rows and host routes; read them only after Flush or WaitFinished.
  RouteRow HostDefaultRoute() const { return hostDefaultRoute_; }
  RouteRow TunnelRouteTemplate() const { return tunnelRouteTemplate_; }
  size_t HostRouteCount() const { return hostRoutes_.size(); }

  // The owner may clear it at any time, from its own thread; reports after that go nowhere.
  std::atomic<CGeneralVpnCallbackInterface*> callback = nullptr;

  // Configuration: set by the owner before Connect and read-only from then on (the cleanup
  // alone empties routeList, on the worker).
  // "address mask netmask" lines of the chosen route set.
  std::vector<std::wstring> routeList;
  std::unique_ptr<CVpnRouteRequestBaseServer> routeServer;
  std::wstring serverAddress;
  std::wstring userName;
  std::wstring password;
  uint32_t routeMode = 0;  // a RouteMode; see RouteModeStrategyFor
  uint32_t proxyType = 0;  // 0 none, 1 HTTP, 2 SOCKS
  std::wstring proxyHost;
  std::wstring proxyUser;
  std::wstring proxyPassword;
  int32_t proxyPort = 0;
  uint32_t useMppe = 0;
  // Lines for the connection log that no report carries (the tunnel program's own words); called
  // on the worker. None: not kept.
  std::function<void(const std::wstring&)> note;

 protected:
  RouteTable& routeTable() { return routeTable_; }
  TickClock& clock() { return clock_; }
  const RouteModeStrategy& RouteStrategy() const { return RouteModeStrategyFor(routeMode); }

  // On the worker, the connector's part of Connect: the common preparation (Prepare) first,
  // then its tunnel. 0 means reports will follow; otherwise an error code, also stored.
  virtual int32_t StartTunnel() { return Prepare(); }
  // On the worker, the connector's part of the cleanup, before the routes are restored.
  virtual void StopTunnel() {}
  // On the worker, after the routes were restored and the restore reported done.
  virtual void AfterRestore() {}

  // Queues a connector's event for the worker; it does not run once Disconnect has begun. A
  // handler may report through ChangeState: that is the same event going on, not a new one.
  // Whatever the event needs must be captured by value.
  void Post(std::function<void()> event) { Enqueue(std::move(event), false); }
  bool Stopping() const { return stopping_; }
  // Lets the worker run out what was queued and joins it. A connector calls it first in its
  // destructor: events call its overrides, which must not run on a half-destroyed object.
  void StopWorker();

  // The rest runs on the worker only.
  // The common preparation (see Connect).
  int32_t Prepare();
  // Stores a change without reporting it.
  void StoreState(uint32_t newState, int32_t newError, int32_t newDetail);
  void StoreError(int32_t newError, int32_t newDetail);
  // Stores a change and reports it (see SetState).
  void ChangeState(uint32_t newState, int32_t newError, int32_t newDetail);
  uint32_t CurrentState() const;
  // Publishes the kept status with the next number and hands it to the callback.
  void Report();
  // The table as read at Connect: rows the host already had.
  const std::set<RouteKey>& HostRows() const { return hostRows_; }
  RouteRow HostDefaultRouteRow() const { return hostDefaultRoute_; }

  // Learned by the connector when the tunnel is up; the gateway only where the tunnel names
  // one.
  std::wstring localAddress_;
  std::wstring tunnelGateway_;

 private:
  struct Event {
    std::function<void()> run;
    // Runs even once Disconnect has begun: the cleanup.
    bool always = false;
  };

  void Enqueue(std::function<void()> event, bool always);
  void WorkerLoop();
  // Disconnect's work on the worker.
  void Cleanup();
  // On the worker: creates or refreshes the host route to `address`.
  bool AddHostRoute(uint32_t address);

  // Where routes are created and deleted: through the journal when there is one.
  RouteTable& ChangedRoutes() { return routeJournal_ ? *routeJournal_ : routeTable_; }
  Ipv6RouteTable& ChangedIpv6Routes() {
    Ipv6RouteTable* journaled = routeJournal_ ? routeJournal_->Ipv6Routes() : nullptr;
    return journaled ? *journaled : *ipv6Routes_;
  }
  // Route mode 1: when the host has an IPv6 default route off the tunnel, sends global IPv6
  // nowhere, so programs fall back to IPv4 and so to the tunnel. Both routes or neither; a
  // failure only marks the status.
  void GuardIpv6();
  // Route mode 1: when the tunnel's interface has a DNS server, lets lookups go there and to
  // loopback only. A guard that cannot be added, or no resolver to send lookups to (blocking
  // would leave no names at all), only marks the status.
  void GuardDns();
  // The index of the adapter holding the tunnel's local address; 0 when none does.
  uint32_t TunnelInterface();
  // Changes the routing table for the tunnel just brought up, through the route mode's
  // strategy; reports MODIFY_ROUTE, and on failure MODIFY_ROUTE again with the error. True on
  // success; false on failure and when Disconnect stopped it, which reports nothing more.
  bool ModifyRoutes();
  // The route steps of RouteModeSteps, on the worker.
  void LearnTunnelServer() override;
  bool MakeTunnelRoute() override;
  void UseTunnelGateway() override;
  void ApplyTunnelMetric() override;
  void ApplyHostMetric() override;
  void RouteProxyAroundTunnel() override;
  void CloseIpv6AroundTunnel() override;
  void KeepLookupsInTunnel() override;
  bool CreateListedRoutes() override;
  bool StartHostRouteServer() override;
  // Removes the routes ModifyRoutes created and the host routes; reports RESTORE_ROUTE.
  void RestoreRoutes();
  // Creates one route; `ours` tells whether this connection made it, which a row the host
  // already had at Connect never is.
  uint32_t CreateOwnRoute(const std::string& destination, const std::string& netmask,
                          const RouteRow& row, bool& ours);

  RouteTable& routeTable_;
  TickClock& clock_;
  std::unique_ptr<RouteJournal> routeJournal_;
  Ipv6RouteTable* ipv6Routes_ = nullptr;
  DnsGuard* dnsGuard_ = nullptr;
  // Waited for and deleted on the worker before Connect runs.
  std::unique_ptr<CGeneralVpn> previous_;

  // The worker and its queue.
  mutable std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  std::deque<Event> queue_;
  bool busy_ = false;
  bool quit_ = false;
  bool finished_ = false;
  std::thread worker_;
  std::atomic<bool> stopping_ = false;
  // Host-route requests waiting for the worker's answer; woken by the answer or by Disconnect.
  std::mutex requestMutex_;
  std::condition_variable requestAnswered_;

  // Owned by the worker.
  // Copied for every route the engine creates or deletes.
  RouteRow tunnelRouteTemplate_{};
  RouteRow hostDefaultRoute_{};
  std::vector<std::wstring> failedRoutes_;
  uint32_t lastCleanupTick_ = 0;
  // The table as read at Connect: rows the host already had, which restore must never take.
  std::set<RouteKey> hostRows_;
  // What RestoreRoutes may take back: only routes this connection created, so neither a
  // connection that never came up nor a listed line the host already had removes a route of
  // the host's.
  std::vector<std::pair<std::string, std::string>> createdListedRoutes_;
  bool proxyRouteCreated_ = false;
  // The IPv6 guard rows this connection created, and whether it needed one and failed.
  std::vector<Ipv6RouteRow> createdIpv6Routes_;
  bool ipv6Unguarded_ = false;
  // The interface the DNS guard in place lets lookups through (0: no guard in place), and
  // whether mode 1 needed one and has none.
  uint32_t dnsGuardInterface_ = 0;
  bool dnsUnguarded_ = false;
  // Host routes of route mode 3 by address, with the number of the request that last asked
  // for each.
  std::map<uint32_t, uint64_t> hostRoutes_;
  uint64_t hostRouteRequests_ = 0;

  // What readers see; written by the worker under its own lock.
  mutable std::mutex statusMutex_;
  VpnStatus status_;
};
