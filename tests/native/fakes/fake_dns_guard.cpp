#include "fakes/fake_dns_guard.h"

#include <cstring>

namespace {

// Addresses are kept as the system keeps them, in network byte order.
uint32_t HostOrder(uint32_t address) {
  unsigned char bytes[4];
  std::memcpy(bytes, &address, 4);
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

uint32_t PrefixMask(uint8_t bits) {
  return bits == 0 ? 0 : bits >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> bits);
}

bool Matches(const DnsFilter& filter, const FakeDnsGuard::Connection& c) {
  return filter.family == c.family && (filter.protocol == 0 || filter.protocol == c.protocol) &&
         (filter.remotePort == 0 || filter.remotePort == c.remotePort) &&
         (filter.interfaceIndex == 0 || filter.interfaceIndex == c.interfaceIndex) &&
         (!filter.loopback || c.loopback) &&
         ((HostOrder(filter.remoteAddress) ^ HostOrder(c.remoteAddress)) &
          PrefixMask(filter.remotePrefix)) == 0 &&
         (filter.localPort == 0 || filter.localPort == c.localPort) &&
         (!filter.ownProgram || c.ownProgram);
}

// Within one sublayer the matching filters are taken heaviest first and the first decides (of
// two equally heavy ones the block); a connection none matches passes.
bool Arbitrate(const std::vector<DnsFilter>& filters, const FakeDnsGuard::Connection& connection) {
  const DnsFilter* decides = nullptr;
  for (const DnsFilter& filter : filters) {
    if (!Matches(filter, connection)) continue;
    if (decides == nullptr || filter.weight > decides->weight ||
        (filter.weight == decides->weight && filter.action == FilterAction::kBlock)) {
      decides = &filter;
    }
  }
  return decides == nullptr || decides->action == FilterAction::kPermit;
}

}  // namespace

FakeDnsGuard::Connection FakeDnsGuard::Lookup(uint32_t interfaceIndex, IpFamily family) {
  Connection c;
  c.family = family;
  c.interfaceIndex = interfaceIndex;
  c.loopback = interfaceIndex == kLoopbackInterface;
  return c;
}

FakeDnsGuard::Connection FakeDnsGuard::LookupTo(uint32_t resolver,
                                                const std::vector<RouteRow>& table) {
  const RouteRow* best = nullptr;
  for (const RouteRow& row : table) {
    if ((resolver & row.mask) != (row.destination & row.mask)) continue;
    if (best == nullptr || HostOrder(row.mask) > HostOrder(best->mask) ||
        (row.mask == best->mask && row.metric1 < best->metric1)) {
      best = &row;
    }
  }
  Connection c = Lookup(best != nullptr ? best->interfaceIndex : 0);
  c.remoteAddress = resolver;
  return c;
}

bool FakeDnsGuard::Passes(const Connection& connection) const {
  return Arbitrate(filters, connection);
}

uint32_t FakeDnsGuard::ReadDnsServers(uint32_t interfaceIndex, std::vector<uint32_t>& servers) {
  servers.clear();
  if (countError != 0) return countError;
  const auto found = dnsServers.find(interfaceIndex);
  if (found == dnsServers.end()) return 1168;
  servers = found->second;
  return 0;
}

uint32_t FakeDnsGuard::Add(const std::vector<DnsFilter>& added) {
  ++adds;
  filters.clear();
  if (addError != 0) return addError;
  filters = added;
  return 0;
}

void FakeDnsGuard::Remove() {
  ++removes;
  filters.clear();
}

FakeDnsGuard::Connection FakeTrafficGuard::To(uint32_t address, uint32_t interfaceIndex) {
  FakeDnsGuard::Connection c = FakeDnsGuard::Lookup(interfaceIndex);
  c.protocol = kIpProtocolTcp;
  c.remotePort = 443;
  c.remoteAddress = address;
  return c;
}

bool FakeTrafficGuard::Passes(const FakeDnsGuard::Connection& connection) const {
  return Arbitrate(filters, connection);
}

uint32_t FakeTrafficGuard::Apply(const std::vector<DnsFilter>& added) {
  // A refused transaction leaves the set in place as it was.
  if (applyError == 0) filters = added;
  history.push_back(filters.size());
  return applyError;
}

void FakeTrafficGuard::Remove() {
  filters.clear();
  history.push_back(0);
}
