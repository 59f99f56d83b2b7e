// One connection attempt, whatever the tunnel type: what the owner configured, the state and
// error it has reached, the routes it changed. Connectors derive from it and bring the tunnel
// up and down; everything around the tunnel (default route, route modification and restore,
// reporting) happens here.
//
// Threads: the owner configures the engine before Connect and calls Connect, Disconnect and
// GetStatistics on its user-interface thread; the configuration is read-only from Connect on.
// Connectors learn of changes on threads of their own (the dial-up progress thread, a console
// reader). Everything the engine keeps about the connection (state, error, detail, addresses,
// route bookkeeping) belongs to its strand: a lock that Connect, Disconnect and every connector
// event hold from start to end, so these run one at a time in the order they take it. Route
// modification runs inside the event that reports the tunnel up, on the reporting thread;
// Disconnect first raises a stop flag, which that work checks between two routes, so it only
// ever waits for the route in hand. Once Disconnect has begun no connector event runs any more.
// Readers never look inside: each report carries a numbered copy of the status, and Status()
// gives the latest one.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "vpn/ipv6_route_table.h"
#include "vpn/route_journal.h"
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
};

class CGeneralVpnCallbackInterface {
 public:
  // Called from any of the engine's threads, inside its strand: hand `status` on and return;
  // never call back into the engine from here.
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

enum RouteMode : uint32_t {
  RouteModeDefaultGateway = 1,  // the tunnel is the default gateway; listed routes bypass it
  RouteModeListedRoutes = 2,    // listed routes go into the tunnel
  RouteModeApplications = 3,    // host routes on request of the route-request server
};

class CGeneralVpn {
 public:
  static constexpr uint32_t kCleanupSettleMs = 2000;

  // `routeServer` serves route mode 3; without one that mode fails with
  // GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER. The route table and clock must outlive the
  // engine.
  CGeneralVpn(RouteTable& routeTable, TickClock& clock,
              std::unique_ptr<CVpnRouteRequestBaseServer> routeServer);
  CGeneralVpn(const CGeneralVpn&) = delete;
  CGeneralVpn& operator=(const CGeneralVpn&) = delete;
  // Does not disconnect: the owner does that first. Stops the route-request server.
  virtual ~CGeneralVpn();

  // Common preparation: finds the host's default route. 0, or GENERAL_VPN_ERROR_GET_GATEWAY
  // (also stored as the error, detail 13) when there is none. Connectors run it first (see
  // Prepare), then start their tunnel; any non-zero result of theirs is an error code.
  virtual int32_t Connect();
  // Common cleanup: stops route work between two routes and waits for it, restores the routes
  // created so far and stops the route-request server; leaves state DISCONNECTED without
  // reporting it. Connectors stop their tunnel, then call it. Returns 0.
  virtual int32_t Disconnect();
  // Bytes (or packets) sent and received so far: 0, or an error code with `errorDetail`
  // explaining it. Never changes the engine's state or error.
  virtual int32_t GetStatistics(uint32_t& sent, uint32_t& received, int32_t& errorDetail) = 0;
  virtual std::wstring GetErrorDetailText(int32_t detail) = 0;
  // Connectors answer for their own codes and hand the rest down.
  virtual std::wstring GetErrorText(int32_t code);
  virtual std::wstring GetStateText(uint32_t code);

  // Null user or password are stored as "".
  void SetProxy(uint32_t type, const wchar_t* host, int32_t port, const wchar_t* user,
                const wchar_t* password);
  // A connector's report, as one event of the strand: stores and reports the change.
  // CONNECTED without error first modifies the routes: on success the report is ALL_DONE, on
  // failure the modification's own error report was the last one and nothing more goes out.
  // Ignored once Disconnect has begun.
  void SetState(uint32_t newState, int32_t newError, int32_t newDetail);

  // The latest status: a copy, safe from any thread.
  VpnStatus Status() const;
  std::wstring GetCurrentStateText() { return GetStateText(Status().state); }
  std::wstring GetCurrentErrorText() { return GetErrorText(Status().error); }
  std::wstring GetCurrentErrorDetailText() { return GetErrorDetailText(Status().errorDetail); }
  std::wstring GetLocalAddress() const { return Status().localAddress; }

  // State, error and detail texts, one labelled line each, every line ending in "\r\n".
  std::wstring BuildStatusReport(const VpnStatus& status);
  // The detail line's text: the detail's own, then a word that IPv6 is not guarded when so.
  std::wstring DetailText(const VpnStatus& status);
  std::wstring BuildStatusReport() { return BuildStatusReport(Status()); }
  // Sleeps until 2000 ms have passed since the last cleanup began, so a hang-up still in
  // progress in the system has settled before the engine is deleted.
  void WaitCleanupSettled();

  // Optional, set before Connect: the routes this connection creates and deletes go through
  // the journal, so a start after a crash can take back what was never restored.
  void SetRouteJournal(std::unique_ptr<RouteJournal> journal) {
    routeJournal_ = std::move(journal);
  }
  // Optional, set before Connect (and before the journal, which must journal the same table):
  // where route mode 1 closes IPv6 around the tunnel. Without one IPv6 is left alone. Must
  // outlive the engine.
  void SetIpv6RouteTable(Ipv6RouteTable* table) { ipv6Routes_ = table; }

  // The route rows as they stand; these wait for any route work in progress.
  RouteRow HostDefaultRoute() {
    auto strand = EnterStrand();
    return hostDefaultRoute_;
  }
  RouteRow TunnelRouteTemplate() {
    auto strand = EnterStrand();
    return tunnelRouteTemplate_;
  }

  // The owner may clear it at any time, from its own thread; reports after that go nowhere.
  std::atomic<CGeneralVpnCallbackInterface*> callback = nullptr;

  // Configuration: set by the owner before Connect and read-only from then on (the cleanup
  // alone empties routeList, once no route work runs).
  // "address mask netmask" lines of the chosen route set.
  std::vector<std::wstring> routeList;
  std::unique_ptr<CVpnRouteRequestBaseServer> routeServer;
  std::wstring serverAddress;
  std::wstring userName;
  std::wstring password;
  uint32_t routeMode = 0;
  uint32_t proxyType = 0;  // 0 none, 1 HTTP, 2 SOCKS
  std::wstring proxyHost;
  std::wstring proxyUser;
  std::wstring proxyPassword;
  int32_t proxyPort = 0;
  uint32_t useMppe = 0;

 protected:
  RouteTable& routeTable() { return routeTable_; }
  TickClock& clock() { return clock_; }

  // Holds the strand for the caller's scope: Connect's and Disconnect's own steps.
  [[nodiscard]] std::unique_lock<std::recursive_mutex> EnterStrand() {
    return std::unique_lock<std::recursive_mutex>(strand_);
  }
  // Runs a connector's event in the strand, unless Disconnect has begun. Every handler that
  // reads or changes what the engine keeps goes through here. A handler may report through
  // SetState: that is the same event going on, not a new one.
  template <typename Event>
  void RunEvent(Event&& event) {
    std::lock_guard lock(strand_);
    if (stopping_) return;
    event();
  }
  // Raised at the start of Disconnect, before it waits for the strand: route work stops before
  // its next route, and no connector event runs after it.
  void StopEvents() { stopping_ = true; }

  // The rest runs inside the strand only.
  // The common preparation (see Connect).
  int32_t Prepare();
  // Stores a change without reporting it.
  void StoreState(uint32_t newState, int32_t newError, int32_t newDetail);
  void StoreError(int32_t newError, int32_t newDetail);
  // Stores a change and reports it (see SetState).
  void ChangeState(uint32_t newState, int32_t newError, int32_t newDetail);
  uint32_t CurrentState() const;

  // Learned by the connector when the tunnel is up; the gateway only where the tunnel names
  // one.
  std::wstring localAddress_;
  std::wstring tunnelGateway_;

 private:
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
  // Changes the routing table for the tunnel just brought up; reports MODIFY_ROUTE, and on
  // failure MODIFY_ROUTE again with the error. True on success; false on failure and when
  // Disconnect stopped it, which reports nothing more.
  bool ModifyRoutes();
  // Removes the routes ModifyRoutes created; reports RESTORE_ROUTE.
  void RestoreRoutes();
  // Creates one route; `ours` tells whether this connection made it, which a row the host
  // already had at Connect never is.
  uint32_t CreateOwnRoute(const std::string& destination, const std::string& netmask,
                          const RouteRow& row, bool& ours);
  // Publishes the kept status with the next number and hands it to the callback.
  void Report();

  RouteTable& routeTable_;
  TickClock& clock_;
  std::unique_ptr<RouteJournal> routeJournal_;
  Ipv6RouteTable* ipv6Routes_ = nullptr;

  std::recursive_mutex strand_;
  std::atomic<bool> stopping_ = false;

  // Owned by the strand.
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

  // What readers see; written inside the strand, under its own lock so a reader never waits
  // for route work.
  mutable std::mutex statusMutex_;
  VpnStatus status_;
};
