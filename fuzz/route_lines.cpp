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
#include "vpn/general_vpn.h"
#include "vpn/route_modification.h"

namespace {

class CountingTable : public RouteTable {
 public:
  uint32_t ReadForwardTable(std::vector<RouteRow>& rows) override {
    RouteRow hostDefault{};
    hostDefault.nextHop = 0x0101A8C0;
    hostDefault.interfaceIndex = 7;
    rows = {hostDefault};
    return 0;
  }
  uint32_t CreateRow(const RouteRow& row) override {
    if (row.mask == 0) std::abort();  // the host's default route is never ours to add
    installed.push_back(row);
    return 0;
  }
  uint32_t DeleteRow(const RouteRow& row) override {
    const auto found = std::find(installed.begin(), installed.end(), row);
    if (found == installed.end()) return 1168;
    installed.erase(found);
    return 0;
  }
  uint32_t ReadAdapters(std::vector<AdapterAddress>& adapters) override {
    adapters = {{7, "192.168.1.20"}, {23, "10.8.0.6"}};
    return 0;
  }
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>&) override { return false; }

  std::vector<RouteRow> installed;
};

class FuzzVpn : public CGeneralVpn {
 public:
  using CGeneralVpn::CGeneralVpn;
  int32_t GetStatistics(uint32_t&, uint32_t&, int32_t&) override { return 0; }
  std::wstring GetErrorDetailText(int32_t) override { return {}; }
  void TunnelUp() {
    RunEvent([this] {
      localAddress_ = L"10.8.0.6";
      ChangeState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0);
    });
  }
};

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

  CountingTable table;
  FuzzVpn vpn(table, SystemTickClock(), nullptr);
  vpn.routeMode = mode;
  vpn.routeList = lines;
  if (vpn.Connect() != 0) std::abort();
  vpn.TunnelUp();
  const VpnStatus status = vpn.Status();
  for (const std::wstring& failed : status.failedRoutes) {
    if (std::find(lines.begin(), lines.end(), failed) == lines.end()) std::abort();
  }
  if (status.failedRoutes.empty() != (status.state == GENERAL_VPN_STATE_ALL_DONE)) std::abort();
  vpn.Disconnect();
  if (!table.installed.empty()) std::abort();
  return 0;
}
