// Arbitrary messages on the route-request pipe: each is answered 0 or 1; 1 only for a
// well-formed request of an address that may enter the tunnel, with exactly one host route for
// it; never a route for a refused address, and never two for one address.
#include "vpn/route_request.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

#include "base/clock.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_route_table.h"
#include "vpn/vpn_route_request_base_server.h"

// Input: four bytes of the tunnel server's address, then messages, each one length byte and
// that many bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t tunnelServer = uint32_t{data[0]} | (uint32_t{data[1]} << 8) |
                                (uint32_t{data[2]} << 16) | (uint32_t{data[3]} << 24);
  FakeRouteTable table;
  // Some addresses fail, so the answer 0 after a failed creation is covered too, and so is the
  // next request for that address trying again.
  table.beforeCreate = [](const RouteRow& row) -> uint32_t {
    return (row.destination & 0xFF000000u) == 0x66000000u ? 5 : 0;
  };
  FakeClock clock;
  clock.now = 1000;
  // Never started: the requests are answered here, not on the server's thread.
  FakeRouteRequestServer server(table, clock);
  // Grants as the engine's worker does, without the thread: one route per address, a failed
  // creation not remembered.
  std::set<uint32_t> held;
  server.grantHostRoute = [&](uint32_t address) {
    if (held.contains(address)) return true;
    RouteRow row{};
    row.destination = address;
    row.mask = 0xFFFFFFFFu;
    if (table.CreateRow(row) != 0) return false;
    held.insert(address);
    return true;
  };
  size_t at = 4;
  while (at < size) {
    const size_t length = std::min<size_t>(data[at], size - at - 1);
    const uint8_t* message = data + at + 1;
    at += 1 + length;

    const uint8_t reply = AnswerRouteRequest(server, message, length, tunnelServer);
    const uint32_t address = ParseRouteRequest(message, length);
    if (reply > 1) std::abort();
    if (reply == 1) {
      if (length != kRouteRequestSize || message[0] != kRouteRequestHostRoute) std::abort();
      if (!MayRouteThroughTunnel(address, tunnelServer)) std::abort();
      if (held.count(address) != 1) std::abort();
    } else if (address != 0 && MayRouteThroughTunnel(address, tunnelServer) &&
               held.count(address) != 0) {
      std::abort();  // a route we hold is always confirmed
    }
  }
  for (const RouteRow& row : table.createCalls) {
    if (row.mask != 0xFFFFFFFFu) std::abort();
  }
  // Only a route that was made counts, and nothing deletes one here.
  std::map<uint32_t, int> routes;
  for (const RouteRow& row : table.installed) {
    if (++routes[row.destination] > 1) std::abort();
    if (!MayRouteThroughTunnel(row.destination, tunnelServer)) std::abort();
  }
  return 0;
}
