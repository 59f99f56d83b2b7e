#include "vpn/route_table_win.h"

#include <cstddef>
#include <cstring>

#include "base/adapters_info_win.h"
#include "framework/module_win.h"

// RouteRow is the system's forward row field for field, so rows are copied byte for byte.
static_assert(sizeof(RouteRow) == sizeof(MIB_IPFORWARDROW));
static_assert(offsetof(RouteRow, nextHop) == offsetof(MIB_IPFORWARDROW, dwForwardNextHop));
static_assert(offsetof(RouteRow, interfaceIndex) == offsetof(MIB_IPFORWARDROW, dwForwardIfIndex));
static_assert(offsetof(RouteRow, age) == offsetof(MIB_IPFORWARDROW, dwForwardAge));
static_assert(offsetof(RouteRow, metric1) == offsetof(MIB_IPFORWARDROW, dwForwardMetric1));
static_assert(offsetof(RouteRow, metric5) == offsetof(MIB_IPFORWARDROW, dwForwardMetric5));

namespace {

MIB_IPFORWARDROW ToSystem(const RouteRow& row) {
  MIB_IPFORWARDROW system;
  std::memcpy(&system, &row, sizeof system);
  return system;
}

RouteRow FromSystem(const MIB_IPFORWARDROW& system) {
  RouteRow row;
  std::memcpy(&row, &system, sizeof row);
  return row;
}

// The table can grow between asking for its size and reading it; a few rounds settle that.
constexpr int kSizeRounds = 4;

}  // namespace

IpHelperRouteTable::IpHelperRouteTable() : ipHelper_(LoadSystemModule(L"iphlpapi.dll")) {
  if (!ipHelper_) return;
  getIpInterfaceTable_ = reinterpret_cast<GetIpInterfaceTableFn>(
      GetProcAddress(ipHelper_.get(), "GetIpInterfaceTable"));
  freeMibTable_ = reinterpret_cast<FreeMibTableFn>(GetProcAddress(ipHelper_.get(), "FreeMibTable"));
}

uint32_t IpHelperRouteTable::ReadForwardTable(std::vector<RouteRow>& rows) {
  rows.clear();
  ULONG size = 0;
  DWORD result = GetIpForwardTable(nullptr, &size, FALSE);
  std::vector<std::byte> buffer;
  for (int round = 0; round < kSizeRounds && result == ERROR_INSUFFICIENT_BUFFER; ++round) {
    buffer.assign(size, std::byte{});
    result = GetIpForwardTable(reinterpret_cast<PMIB_IPFORWARDTABLE>(buffer.data()), &size, FALSE);
  }
  if (result != NO_ERROR) return result;
  if (buffer.size() < sizeof(DWORD)) return ERROR_INVALID_DATA;
  const auto* table = reinterpret_cast<const MIB_IPFORWARDTABLE*>(buffer.data());
  const size_t room =
      (buffer.size() - offsetof(MIB_IPFORWARDTABLE, table)) / sizeof(MIB_IPFORWARDROW);
  const size_t count = std::min<size_t>(table->dwNumEntries, room);
  rows.reserve(count);
  for (size_t i = 0; i < count; ++i) rows.push_back(FromSystem(table->table[i]));
  return 0;
}

uint32_t IpHelperRouteTable::CreateRow(const RouteRow& row) {
  MIB_IPFORWARDROW system = ToSystem(row);
  return CreateIpForwardEntry(&system);
}

uint32_t IpHelperRouteTable::DeleteRow(const RouteRow& row) {
  MIB_IPFORWARDROW system = ToSystem(row);
  return DeleteIpForwardEntry(&system);
}

uint32_t IpHelperRouteTable::ReadAdapters(std::vector<AdapterAddress>& adapters) {
  adapters.clear();
  std::vector<std::byte> buffer;
  if (const uint32_t result = ReadAdaptersInfo(buffer); result != NO_ERROR) return result;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); adapter;
       adapter = adapter->Next) {
    const char* text = adapter->IpAddressList.IpAddress.String;
    adapters.push_back(
        {adapter->Index, std::string(text, strnlen(text, sizeof(IP_ADDRESS_STRING)))});
  }
  return 0;
}

bool IpHelperRouteTable::ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) {
  metrics.clear();
  if (getIpInterfaceTable_ == nullptr) return false;
  PMIB_IPINTERFACE_TABLE table = nullptr;
  if (getIpInterfaceTable_(AF_INET, &table) != NO_ERROR || table == nullptr) return false;
  metrics.reserve(table->NumEntries);
  for (ULONG i = 0; i < table->NumEntries; ++i) {
    metrics.push_back({table->Table[i].InterfaceIndex, table->Table[i].Metric});
  }
  if (freeMibTable_ != nullptr) freeMibTable_(table);
  return true;
}
