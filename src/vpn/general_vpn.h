// One connection attempt, whatever the tunnel type: what the owner configured, the state and
// error it has reached, the routes it changed. Connectors derive from it and bring the tunnel
// up and down; everything around the tunnel (default route, route modification and restore,
// reporting) happens here.
//
// Threads: the owner configures the engine and calls Connect/Disconnect/GetStatistics on its
// user-interface thread. Connectors call SetState from the thread that learns of a change
// (the dial-up progress thread, a console reader), so route modification and the callback run
// there too. state/error/errorDetail are plain fields: the owner reads them when the posted
// report arrives and sees the latest values.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "vpn/route_journal.h"
#include "vpn/route_table.h"
#include "vpn/vpn_route_request_base_server.h"

class CGeneralVpn;

class CGeneralVpnCallbackInterface {
 public:
  // Called from any of the engine's threads; read the engine's fields when handling it on
  // the owner's thread.
  virtual void OnVpnStateChanged(CGeneralVpn* vpn) = 0;

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
  // (also stored in `error`, detail 13) when there is none. Connectors call it first, then
  // start their tunnel; any non-zero result of theirs is an error code.
  virtual int32_t Connect();
  // Common cleanup: restores the routes and stops the route-request server; leaves state
  // DISCONNECTED without reporting it. Connectors stop their tunnel, then call it. Returns 0.
  virtual int32_t Disconnect();
  // Bytes (or packets) sent and received so far; 0, or non-zero with `error` set.
  virtual int32_t GetStatistics(uint32_t& sent, uint32_t& received) = 0;
  virtual std::wstring GetErrorDetailText(int32_t detail) = 0;
  // Connectors answer for their own codes and hand the rest down.
  virtual std::wstring GetErrorText(int32_t code);
  virtual std::wstring GetStateText(uint32_t code);

  // Null user or password are stored as "".
  void SetProxy(uint32_t type, const wchar_t* host, int32_t port, const wchar_t* user,
                const wchar_t* password);
  // Stores and reports a change. CONNECTED without error first modifies the routes: on
  // success the report is ALL_DONE, on failure the modification's own error report was the
  // last one and nothing more goes out.
  void SetState(uint32_t newState, int32_t newError, int32_t newDetail);

  std::wstring GetCurrentStateText() { return GetStateText(state); }
  std::wstring GetCurrentErrorText() { return GetErrorText(error); }
  std::wstring GetCurrentErrorDetailText() { return GetErrorDetailText(errorDetail); }
  std::wstring GetLocalAddress() const { return localAddress; }

  // State, error and detail texts, one labelled line each, every line ending in "\r\n".
  std::wstring BuildStatusReport();
  // Sleeps until 2000 ms have passed since the last cleanup began, so a hang-up still in
  // progress in the system has settled before the engine is deleted.
  void WaitCleanupSettled();

  // Changes the routing table for the tunnel just brought up; reports MODIFY_ROUTE, and on
  // failure MODIFY_ROUTE again with the error. True on success.
  bool ModifyRoutes();
  // Removes the routes ModifyRoutes added; reports RESTORE_ROUTE. Always true.
  bool RestoreRoutes();

  // Optional, set before Connect: the routes this connection creates and deletes go through
  // the journal, so a start after a crash can take back what was never restored.
  void SetRouteJournal(std::unique_ptr<RouteJournal> journal) {
    routeJournal_ = std::move(journal);
  }

  // The owner may clear it at any time, from its own thread; reports after that go nowhere.
  std::atomic<CGeneralVpnCallbackInterface*> callback = nullptr;
  // Copied for every route the engine creates or deletes.
  RouteRow tunnelRouteTemplate{};
  RouteRow hostDefaultRoute{};
  // "address mask netmask" lines of the chosen route set.
  std::vector<std::wstring> routeList;
  // Lines of routeList (and the proxy host) whose route could not be created.
  std::vector<std::wstring> failedRoutes;
  // Dotted addresses the connector learns when the tunnel is up; the gateway only where the
  // tunnel names one.
  std::wstring localAddress;
  std::wstring tunnelGateway;
  uint32_t lastCleanupTick = 0;
  uint32_t state = GENERAL_VPN_STATE_DISCONNECT;
  int32_t error = GENERAL_VPN_ERROR_SUCCESS;
  // System, dial-up or routing error number explaining `error`.
  int32_t errorDetail = 0;
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

 private:
  // Where routes are created and deleted: through the journal when there is one.
  RouteTable& ChangedRoutes() { return routeJournal_ ? *routeJournal_ : routeTable_; }

  RouteTable& routeTable_;
  TickClock& clock_;
  std::unique_ptr<RouteJournal> routeJournal_;
  // What RestoreRoutes may take back: only routes this connection created, so neither a
  // connection that never came up nor a listed line the host already had (its creation fails
  // as existing) removes a route of the host's.
  std::vector<std::pair<std::string, std::string>> createdListedRoutes_;
  bool proxyRouteCreated_ = false;
};
