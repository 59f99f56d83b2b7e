// Arbitrary bytes as a route list from the service: splitting a line must give trimmed parts
// or nothing, and a connection that modifies and restores the routes must leave the routing
// table exactly as it found it, whatever the lines hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/text.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_route_table.h"
#include "fakes/test_vpn.h"
#include "vpn/general_vpn.h"
#include "vpn/route_modification.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void CheckSplit(const std::wstring& line) {
  std::string destination;
  std::string netmask;
  const bool isRoute = SplitRouteLine(line, destination, netmask);
  if (!isRoute && (!destination.empty() || !netmask.empty())) std::abort();
  if (isRoute && LowerAscii(line).find(L"mask") == std::wstring::npos) std::abort();
  for (const std::string* part : {&destination, &netmask}) {
    if (!part->empty() && (IsBlank(part->front()) || IsBlank(part->back()))) std::abort();
    if (const auto address = TryParseIpv4(*part)) {
      const auto* b = reinterpret_cast<const uint8_t*>(&*address);
      const std::string dotted = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." +
                                 std::to_string(b[2]) + "." + std::to_string(b[3]);
      if (TryParseIpv4(dotted) != address) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t mode = data[0] % 2 == 0 ? RouteModeListedRoutes : RouteModeDefaultGateway;
  const std::wstring text =
      Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  std::vector<std::wstring> lines = SplitText(text, L'\n');
  for (const std::wstring& line : lines) CheckSplit(line);

  FakeRouteTable table;
  table.SetLanHost();
  // The cleanup sleeps out its settle time on the clock: a fake one lets it pass at once.
  FakeClock clock;
  TestVpn vpn(table, clock, nullptr);
  vpn.routeMode = mode;
  vpn.routeList = lines;
  if (vpn.ConnectNow() != 0) std::abort();
  vpn.TunnelUp(L"10.8.0.6");
  const VpnStatus status = vpn.Status();
  for (const std::wstring& failed : status.failedRoutes) {
    if (std::find(lines.begin(), lines.end(), failed) == lines.end()) std::abort();
  }
  if (status.failedRoutes.empty() != (status.state == GENERAL_VPN_STATE_ALL_DONE)) std::abort();
  vpn.DisconnectNow();
  if (!table.installed.empty()) std::abort();
  for (const RouteRow& row : table.createCalls) {
    if (row.mask == 0) std::abort();  // the host's default route is never ours to add
  }
  return 0;
}
