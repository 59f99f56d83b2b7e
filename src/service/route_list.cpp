#include "service/route_list.h"

#include "base/text.h"

RouteList ParseRouteList(std::string_view body) {
  body = body.substr(0, body.find('\0'));
  RouteList routes;
  while (!body.empty()) {
    const size_t lf = body.find('\n');
    std::string_view line = body.substr(0, lf);
    body.remove_prefix(lf == std::string_view::npos ? body.size() : lf + 1);
    while (!line.empty() && line.front() == '\r') line.remove_prefix(1);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) routes.push_back(AnsiToWide(line));
  }
  return routes;
}
