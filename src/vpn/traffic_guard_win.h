// TrafficGuard through the Windows Filtering Platform, in a sublayer of its own beside the name
// lookups' guard: the same dynamic session rules (dns_guard_win.h), and every change of the set
// made in one transaction. Before Vista every call answers kDnsGuardUnsupported.
#pragma once

#include "vpn/dns_guard_win.h"
#include "vpn/traffic_guard.h"

class WfpTrafficGuard final : public TrafficGuard {
 public:
  explicit WfpTrafficGuard(const wchar_t* module = L"fwpuclnt.dll");
  // Calls `functions` instead of the system's, so tests can see every call and fail any.
  explicit WfpTrafficGuard(const WfpFunctions& functions);
  ~WfpTrafficGuard() override { Remove(); }

  uint32_t Apply(const std::vector<DnsFilter>& filters) override { return set_.Replace(filters); }
  void Remove() override { set_.Close(); }

 private:
  UniqueModule filtering_;
  UniqueModule ipHelper_;
  WfpFunctions functions_;
  WfpFilterSet set_;
};
