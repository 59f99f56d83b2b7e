#include "fakes/fake_ipv6_route_table.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

std::vector<uint16_t> Groups(const std::string& text) {
  std::vector<uint16_t> groups;
  size_t at = 0;
  while (at < text.size()) {
    const size_t colon = text.find(':', at);
    const std::string part = text.substr(at, colon == std::string::npos ? colon : colon - at);
    groups.push_back(static_cast<uint16_t>(std::stoul(part, nullptr, 16)));
    if (colon == std::string::npos) break;
    at = colon + 1;
  }
  return groups;
}

}  // namespace

Ipv6Bytes Ipv6(const char* text) {
  const std::string all(text);
  const size_t gap = all.find("::");
  std::vector<uint16_t> head = Groups(all.substr(0, gap));
  const std::vector<uint16_t> tail =
      gap == std::string::npos ? std::vector<uint16_t>{} : Groups(all.substr(gap + 2));
  if (head.size() + tail.size() > 8 || (gap == std::string::npos && head.size() != 8)) {
    std::abort();
  }
  head.resize(8 - tail.size(), 0);
  head.insert(head.end(), tail.begin(), tail.end());
  Ipv6Bytes address{};
  for (size_t i = 0; i < 8; ++i) {
    address[2 * i] = static_cast<uint8_t>(head[i] >> 8);
    address[2 * i + 1] = static_cast<uint8_t>(head[i]);
  }
  return address;
}

uint32_t FakeIpv6RouteTable::ReadForwardTable(std::vector<Ipv6RouteRow>& out) {
  if (readError != 0) return readError;
  out = rows;
  return 0;
}

namespace {

// The system's identity of a row: what it finds it by.
bool SameRoute(const Ipv6RouteRow& a, const Ipv6RouteRow& b) {
  return a.destination == b.destination && a.prefixLength == b.prefixLength &&
         a.interfaceIndex == b.interfaceIndex && a.nextHop == b.nextHop;
}

}  // namespace

uint32_t FakeIpv6RouteTable::CreateRow(const Ipv6RouteRow& row) {
  if (readError == kIpv6RoutesUnsupported) return kIpv6RoutesUnsupported;
  if (++creates == createErrorAt) return createError;
  const auto same = [&](const Ipv6RouteRow& held) { return SameRoute(held, row); };
  if (std::any_of(rows.begin(), rows.end(), same)) return kAlreadyExists;
  rows.push_back(row);
  return 0;
}

uint32_t FakeIpv6RouteTable::DeleteRow(const Ipv6RouteRow& row) {
  ++deletes;
  const auto same = [&](const Ipv6RouteRow& held) { return SameRoute(held, row); };
  const auto found = std::find_if(rows.begin(), rows.end(), same);
  if (found == rows.end()) return kNotFound;
  rows.erase(found);
  return 0;
}

void FakeIpv6RouteTable::Add(const char* prefix, uint32_t length, const char* nextHop,
                             uint32_t interfaceIndex, uint32_t metric) {
  rows.push_back({Ipv6(prefix), length, Ipv6(nextHop), interfaceIndex, metric, 2});
}

void FakeIpv6RouteTable::AddHomeNetwork(uint32_t lan) {
  Add("::", 0, "fe80::1", lan, 256);
  Add("fe80::", 64, "::", lan, 256);
  Add("fd12:3456:789a::", 64, "::", lan, 256);
  Add("2001:db8:1::", 64, "::", lan, 256);
  Add("ff00::", 8, "::", lan, 256);
  AddLoopbackOnly();
}

void FakeIpv6RouteTable::AddLoopbackOnly() {
  Add("::1", 128, "::", kLoopbackInterface, 256);
  Add("ff00::", 8, "::", kLoopbackInterface, 256);
}

std::optional<Ipv6RouteRow> FakeIpv6RouteTable::Lookup(const char* text) const {
  const Ipv6Bytes address = Ipv6(text);
  std::optional<Ipv6RouteRow> best;
  for (const Ipv6RouteRow& row : rows) {
    if (!Ipv6PrefixContains(row.destination, row.prefixLength, address)) continue;
    if (!best || row.prefixLength > best->prefixLength ||
        (row.prefixLength == best->prefixLength && row.metric < best->metric)) {
      best = row;
    }
  }
  return best;
}
