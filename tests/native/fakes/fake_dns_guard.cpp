#include "fakes/fake_dns_guard.h"

namespace {

bool Matches(const DnsFilter& filter, const FakeDnsGuard::Connection& c) {
  return filter.family == c.family && (filter.protocol == 0 || filter.protocol == c.protocol) &&
         (filter.remotePort == 0 || filter.remotePort == c.remotePort) &&
         (filter.interfaceIndex == 0 || filter.interfaceIndex == c.interfaceIndex) &&
         (!filter.loopback || c.loopback);
}

}  // namespace

FakeDnsGuard::Connection FakeDnsGuard::Lookup(uint32_t interfaceIndex, IpFamily family) {
  Connection c;
  c.family = family;
  c.interfaceIndex = interfaceIndex;
  c.loopback = interfaceIndex == kLoopbackInterface;
  return c;
}

bool FakeDnsGuard::Passes(const Connection& connection) const {
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

uint32_t FakeDnsGuard::CountDnsServers(uint32_t interfaceIndex, uint32_t& count) {
  count = 0;
  if (countError != 0) return countError;
  const auto found = dnsServers.find(interfaceIndex);
  if (found == dnsServers.end()) return 1168;
  count = found->second;
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
