#include "vpn/ipv6_route_table_win.h"

#include <cstring>

#include "framework/module_win.h"

namespace {

template <typename Fn>
Fn Find(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

Ipv6Bytes AddressOf(const SOCKADDR_INET& address) {
  Ipv6Bytes bytes{};
  std::memcpy(bytes.data(), &address.Ipv6.sin6_addr, bytes.size());
  return bytes;
}

void SetAddress(SOCKADDR_INET& address, const Ipv6Bytes& bytes) {
  address.Ipv6.sin6_family = AF_INET6;
  std::memcpy(&address.Ipv6.sin6_addr, bytes.data(), bytes.size());
}

}  // namespace

IpHelperIpv6RouteTable::IpHelperIpv6RouteTable(const wchar_t* module)
    : ipHelper_(LoadSystemModule(module)) {
  if (!ipHelper_) return;
  const HMODULE handle = ipHelper_.get();
  const auto getTable = Find<GetTableFn>(handle, "GetIpForwardTable2");
  const auto create = Find<ChangeRowFn>(handle, "CreateIpForwardEntry2");
  const auto remove = Find<ChangeRowFn>(handle, "DeleteIpForwardEntry2");
  const auto initialize = Find<InitializeRowFn>(handle, "InitializeIpForwardEntry");
  const auto free = Find<FreeTableFn>(handle, "FreeMibTable");
  // All or none, so a half-equipped system is never half used.
  if (!getTable || !create || !remove || !initialize || !free) return;
  getTable_ = getTable;
  create_ = create;
  delete_ = remove;
  initialize_ = initialize;
  free_ = free;
}

uint32_t IpHelperIpv6RouteTable::ReadForwardTable(std::vector<Ipv6RouteRow>& rows) {
  rows.clear();
  if (!Available()) return kIpv6RoutesUnsupported;
  PMIB_IPFORWARD_TABLE2 table = nullptr;
  const DWORD result = getTable_(AF_INET6, &table);
  if (result != NO_ERROR) return result;
  if (table == nullptr) return ERROR_INVALID_DATA;
  rows.reserve(table->NumEntries);
  for (ULONG i = 0; i < table->NumEntries; ++i) {
    const MIB_IPFORWARD_ROW2& system = table->Table[i];
    if (system.DestinationPrefix.Prefix.si_family != AF_INET6) continue;
    Ipv6RouteRow row;
    row.destination = AddressOf(system.DestinationPrefix.Prefix);
    row.prefixLength = system.DestinationPrefix.PrefixLength;
    row.nextHop = AddressOf(system.NextHop);
    row.interfaceIndex = system.InterfaceIndex;
    row.metric = system.Metric;
    row.protocol = static_cast<uint32_t>(system.Protocol);
    rows.push_back(row);
  }
  free_(table);
  return 0;
}

// The system's defaults (lifetimes without end, a route of this boot only) with our fields.
MIB_IPFORWARD_ROW2 IpHelperIpv6RouteTable::ToSystem(const Ipv6RouteRow& row) const {
  MIB_IPFORWARD_ROW2 system;
  initialize_(&system);
  system.InterfaceIndex = row.interfaceIndex;
  SetAddress(system.DestinationPrefix.Prefix, row.destination);
  system.DestinationPrefix.PrefixLength = static_cast<UINT8>(row.prefixLength);
  SetAddress(system.NextHop, row.nextHop);
  system.Metric = row.metric;
  system.Protocol = static_cast<NL_ROUTE_PROTOCOL>(row.protocol);
  return system;
}

uint32_t IpHelperIpv6RouteTable::CreateRow(const Ipv6RouteRow& row) {
  if (!Available()) return kIpv6RoutesUnsupported;
  const MIB_IPFORWARD_ROW2 system = ToSystem(row);
  return create_(&system);
}

uint32_t IpHelperIpv6RouteTable::DeleteRow(const Ipv6RouteRow& row) {
  if (!Available()) return kIpv6RoutesUnsupported;
  const MIB_IPFORWARD_ROW2 system = ToSystem(row);
  return delete_(&system);
}
