// Arbitrary bytes as a route-list body: every entry must be a non-empty line with no line break,
// no CR at either end and nothing from after the first NUL.
#include "service/route_list.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const RouteList routes = ParseRouteList(body);
  const std::string_view beforeNul = body.substr(0, body.find('\0'));
  size_t lines = 1;
  for (const char c : beforeNul) lines += c == '\n';
  if (routes.size() > lines) std::abort();
  for (const std::wstring& route : routes) {
    if (route.empty() || route.front() == L'\r' || route.back() == L'\r') std::abort();
    if (route.find(L'\n') != std::wstring::npos || route.find(L'\0') != std::wstring::npos) {
      std::abort();
    }
  }
  return 0;
}
