// Ipv6RouteTable through the system's IP Helper routing functions of Vista and later, looked up
// at run time: on Windows 2000 and XP, which lack them, every call answers
// kIpv6RoutesUnsupported and the engine leaves IPv6 alone.
#pragma once

// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include "base/unique_handle_win.h"
#include "vpn/ipv6_route_table.h"

class IpHelperIpv6RouteTable final : public Ipv6RouteTable {
 public:
  // `module` names the system module holding the functions; tests name one without them.
  explicit IpHelperIpv6RouteTable(const wchar_t* module = L"iphlpapi.dll");

  // Whether the system has all the functions.
  bool Available() const { return free_ != nullptr; }

  uint32_t ReadForwardTable(std::vector<Ipv6RouteRow>& rows) override;
  uint32_t CreateRow(const Ipv6RouteRow& row) override;
  uint32_t DeleteRow(const Ipv6RouteRow& row) override;

 private:
  using GetTableFn = DWORD(WINAPI*)(ADDRESS_FAMILY, PMIB_IPFORWARD_TABLE2*);
  using ChangeRowFn = DWORD(WINAPI*)(const MIB_IPFORWARD_ROW2*);
  using InitializeRowFn = VOID(WINAPI*)(PMIB_IPFORWARD_ROW2);
  using FreeTableFn = VOID(WINAPI*)(PVOID);

  MIB_IPFORWARD_ROW2 ToSystem(const Ipv6RouteRow& row) const;

  UniqueModule ipHelper_;
  GetTableFn getTable_ = nullptr;
  ChangeRowFn create_ = nullptr;
  ChangeRowFn delete_ = nullptr;
  InitializeRowFn initialize_ = nullptr;
  FreeTableFn free_ = nullptr;
};
