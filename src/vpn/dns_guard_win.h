// DnsGuard through the Windows Filtering Platform of Vista and later: a dynamic session (the
// system deletes what it holds when the session closes or the process ends, a crash included),
// a sublayer of our own, and the filters at the connect layers of both families. fwpuclnt.dll
// is looked up at run time: before Vista every call answers kDnsGuardUnsupported.
#pragma once

// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
#include <fwpmu.h>
// clang-format on

#include <mutex>

#include "base/unique_handle_win.h"
#include "vpn/dns_guard.h"

class WfpDnsGuard final : public DnsGuard {
 public:
  using OpenFn = DWORD(WINAPI*)(const wchar_t*, UINT32, SEC_WINNT_AUTH_IDENTITY_W*,
                                const FWPM_SESSION0*, HANDLE*);
  using CloseFn = DWORD(WINAPI*)(HANDLE);
  using AddSubLayerFn = DWORD(WINAPI*)(HANDLE, const FWPM_SUBLAYER0*, PSECURITY_DESCRIPTOR);
  using AddFilterFn = DWORD(WINAPI*)(HANDLE, const FWPM_FILTER0*, PSECURITY_DESCRIPTOR, UINT64*);
  using IndexToLuidFn = DWORD(WINAPI*)(NET_IFINDEX, PNET_LUID);

  // The system's functions the guard calls; all or none.
  struct Functions {
    OpenFn open = nullptr;
    CloseFn close = nullptr;
    AddSubLayerFn addSubLayer = nullptr;
    AddFilterFn addFilter = nullptr;
    IndexToLuidFn indexToLuid = nullptr;
  };

  // `module` names the system module of the filtering engine; tests name one without it.
  explicit WfpDnsGuard(const wchar_t* module = L"fwpuclnt.dll");
  // Calls `functions` instead of the system's, so tests can see every call and fail any.
  explicit WfpDnsGuard(const Functions& functions);
  // Closes the session, which takes every filter with it.
  ~WfpDnsGuard() override;

  bool Available() const { return functions_.open != nullptr; }

  uint32_t ReadDnsServers(uint32_t interfaceIndex, std::vector<uint32_t>& servers) override;
  uint32_t Add(const std::vector<DnsFilter>& filters) override;
  void Remove() override;

 private:
  uint32_t AddFilter(HANDLE engine, const DnsFilter& filter);
  void CloseSession();

  UniqueModule filtering_;
  UniqueModule ipHelper_;
  Functions functions_;
  // The engine's workers take turns: the next connection's guard after the last one's cleanup.
  std::mutex mutex_;
  HANDLE engine_ = nullptr;
};
