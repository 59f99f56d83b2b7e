// Route operations the engine and the route-request server build on: reading a route line,
// building the row for routes into the tunnel, and creating or deleting one route.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vpn/route_table.h"

// System error numbers the route operations answer with themselves.
inline constexpr uint32_t kRouteErrorInvalidData = 13;
inline constexpr uint32_t kRouteErrorInvalidParameter = 87;

// Row type and protocol of every route the engine adds: direct, network management.
inline constexpr uint32_t kRouteTypeDirect = 3;
inline constexpr uint32_t kRouteProtocolNetMgmt = 3;

// A dotted IPv4 text in any form the system's address parser takes ("10.0.0.1", "10.1",
// "0x0a.0.0.1", "012.0.0.1"), in network byte order. Unlike that parser this tells
// "255.255.255.255" apart from a text that is no address, so a host name never turns into a
// broadcast route.
std::optional<uint32_t> TryParseIpv4(std::string_view text);

// "10.0.0.0 mask 255.0.0.0": the word is found case-insensitively, the parts around it are
// trimmed and converted to the ANSI code page. False, with both parts empty, when the line
// holds no such word.
bool SplitRouteLine(std::wstring_view line, std::string& destination, std::string& netmask);

// The default route with the lowest first metric (the earlier row on a tie), its age cleared.
// 0, the forward table's read error, or kRouteErrorInvalidData when there is no default route.
// `rowsRead`, when given, receives the whole table as read.
uint32_t FindDefaultRoute(RouteTable& table, RouteRow& route,
                          std::vector<RouteRow>* rowsRead = nullptr);

// Turns `row` into the template for routes into the tunnel whose local address is
// `localAddress`: interface of the adapter holding that address, next hop the address itself.
// Metric 1 is left for ApplyInterfaceMetric. 0 or the adapter list's read error, in which case
// the row is unchanged.
uint32_t BuildTunnelRoute(RouteTable& table, RouteRow& row, std::string_view localAddress);

// Metric 1 = the metric of the row's interface + 1, so our routes lose to nothing the system
// prefers on that interface; 1 on hosts without an interface table.
void ApplyInterfaceMetric(RouteTable& table, RouteRow& row);

// Creates a copy of `row` for destination/netmask. kRouteErrorInvalidParameter, without
// asking the system, when either text is no address, or when the netmask is 0 and
// `allowDefaultRoute` is false: unless the caller means to add a default route of its own (one
// into the tunnel), a default route is the host's.
uint32_t CreateRoute(RouteTable& table, std::string_view destination, std::string_view netmask,
                     const RouteRow& row, bool allowDefaultRoute = false);
// Deletes the copy CreateRoute made. Texts that are no address, and netmask 0 unless
// `allowDefaultRoute`, delete nothing and answer 0, so a restore can never remove the host's
// default route. Destination 0 with a netmask ("0.0.0.0 mask 128.0.0.0") is an ordinary route
// and is deleted.
uint32_t DeleteRoute(RouteTable& table, std::string_view destination, std::string_view netmask,
                     const RouteRow& row, bool allowDefaultRoute = false);
