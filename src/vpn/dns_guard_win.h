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
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "vpn/dns_guard.h"

// The filtering engine's functions we call; the first five are needed, the rest are used where
// the system has them (tests leave them out).
struct WfpFunctions {
  using OpenFn = DWORD(WINAPI*)(const wchar_t*, UINT32, SEC_WINNT_AUTH_IDENTITY_W*,
                                const FWPM_SESSION0*, HANDLE*);
  using CloseFn = DWORD(WINAPI*)(HANDLE);
  using AddSubLayerFn = DWORD(WINAPI*)(HANDLE, const FWPM_SUBLAYER0*, PSECURITY_DESCRIPTOR);
  using AddFilterFn = DWORD(WINAPI*)(HANDLE, const FWPM_FILTER0*, PSECURITY_DESCRIPTOR, UINT64*);
  using IndexToLuidFn = DWORD(WINAPI*)(NET_IFINDEX, PNET_LUID);
  using DeleteByIdFn = DWORD(WINAPI*)(HANDLE, UINT64);
  using TransactionFn = DWORD(WINAPI*)(HANDLE);
  using TransactionBeginFn = DWORD(WINAPI*)(HANDLE, UINT32);
  using AppIdFn = DWORD(WINAPI*)(const wchar_t*, FWP_BYTE_BLOB**);
  using FreeFn = void(WINAPI*)(void**);

  OpenFn open = nullptr;
  CloseFn close = nullptr;
  AddSubLayerFn addSubLayer = nullptr;
  AddFilterFn addFilter = nullptr;
  IndexToLuidFn indexToLuid = nullptr;
  DeleteByIdFn deleteById = nullptr;
  TransactionBeginFn transactionBegin = nullptr;
  TransactionFn transactionCommit = nullptr;
  TransactionFn transactionAbort = nullptr;
  AppIdFn appIdFromFileName = nullptr;
  FreeFn freeMemory = nullptr;

  // Looked up in `module` (the filtering engine's) and iphlpapi.dll; the needed ones all or none.
  static WfpFunctions Find(HMODULE module, HMODULE ipHelper);
  bool Available() const { return open != nullptr; }
  bool Transactions() const {
    return deleteById && transactionBegin && transactionCommit && transactionAbort;
  }
};

// One set of filters in a sublayer of our own in a dynamic session. Replace swaps one set for
// the next: in one transaction where the system has them (the new filters added and the old
// ones deleted at once, so nothing passes in between), else by closing the session and opening
// another.
class WfpFilterSet {
 public:
  WfpFilterSet(const WfpFunctions& functions, const GUID& subLayer, const wchar_t* name);
  ~WfpFilterSet() { Close(); }
  WfpFilterSet(const WfpFilterSet&) = delete;
  WfpFilterSet& operator=(const WfpFilterSet&) = delete;

  // 0, kDnsGuardUnsupported, or the system's error; on an error the set in place before stays
  // (or, without transactions, none is).
  uint32_t Replace(const std::vector<DnsFilter>& filters);
  void Close();

 private:
  void CloseLocked();
  uint32_t OpenSession();
  uint32_t AddAll(const std::vector<DnsFilter>& filters, std::vector<UINT64>& ids);
  uint32_t AddFilter(const DnsFilter& filter, UINT64& id);
  uint32_t OwnAppId();

  const WfpFunctions& functions_;
  const GUID subLayer_;
  std::wstring name_;
  std::mutex mutex_;
  HANDLE engine_ = nullptr;
  std::vector<UINT64> ids_;
  // This program's application id, read once.
  FWP_BYTE_BLOB* appId_ = nullptr;
};

class WfpDnsGuard final : public DnsGuard {
 public:
  using Functions = WfpFunctions;

  // `module` names the system module of the filtering engine; tests name one without it.
  explicit WfpDnsGuard(const wchar_t* module = L"fwpuclnt.dll");
  // Calls `functions` instead of the system's, so tests can see every call and fail any.
  explicit WfpDnsGuard(const Functions& functions);
  // Closes the session, which takes every filter with it.
  ~WfpDnsGuard() override;

  bool Available() const { return functions_.Available(); }

  uint32_t ReadDnsServers(uint32_t interfaceIndex, std::vector<uint32_t>& servers) override;
  uint32_t Add(const std::vector<DnsFilter>& filters) override;
  void Remove() override;

 private:
  UniqueModule filtering_;
  UniqueModule ipHelper_;
  Functions functions_;
  WfpFilterSet set_;
};
