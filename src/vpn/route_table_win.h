// RouteTable through the system's IP Helper.
#pragma once

// Order matters: the interface table types are declared only when the IP definitions come
// before IP Helper, and those need Winsock before windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include "base/unique_handle_win.h"
#include "vpn/route_table.h"

class IpHelperRouteTable final : public RouteTable {
 public:
  // Looks up the interface table functions once; they are missing before Vista.
  IpHelperRouteTable();

  uint32_t ReadForwardTable(std::vector<RouteRow>& rows) override;
  uint32_t CreateRow(const RouteRow& row) override;
  uint32_t DeleteRow(const RouteRow& row) override;
  // GetAdaptersInfo: ERROR_NO_DATA (232) when the host has no adapter.
  uint32_t ReadAdapters(std::vector<AdapterAddress>& adapters) override;
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override;

 private:
  using GetIpInterfaceTableFn = DWORD(WINAPI*)(ADDRESS_FAMILY, PMIB_IPINTERFACE_TABLE*);
  using FreeMibTableFn = VOID(WINAPI*)(PVOID);

  UniqueModule ipHelper_;
  GetIpInterfaceTableFn getIpInterfaceTable_ = nullptr;
  FreeMibTableFn freeMibTable_ = nullptr;
};
