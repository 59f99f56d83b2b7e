// The answer to a route-list request: not an ini file, just one route per line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

using RouteList = std::vector<std::wstring>;

// Cut at the first NUL, split at LF, each line from the ANSI code page with CRs stripped at both
// ends; blank lines are dropped.
RouteList ParseRouteList(std::string_view body);
