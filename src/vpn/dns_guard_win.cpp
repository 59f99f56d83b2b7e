#include "vpn/dns_guard_win.h"

#include <iterator>
#include <vector>

#include "framework/module_win.h"

namespace {

// Not in every SDK's headers; the values are the platform's own.
constexpr UINT32 kSessionFlagDynamic = 0x00000001;
constexpr GUID kLayerAleAuthConnectV4 = {
    0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
constexpr GUID kLayerAleAuthConnectV6 = {
    0x4a72393b, 0x319f, 0x44bc, {0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4}};
constexpr GUID kConditionIpProtocol = {
    0x3971ef2b, 0x623e, 0x4f9a, {0x8c, 0xb1, 0x6e, 0x79, 0xb8, 0x06, 0xb9, 0xa7}};
constexpr GUID kConditionIpRemotePort = {
    0xc35a604d, 0xd22b, 0x4e1a, {0x91, 0xb4, 0x68, 0xf6, 0x74, 0xee, 0x67, 0x4b}};
constexpr GUID kConditionIpLocalInterface = {
    0x4cd62a49, 0x59c3, 0x4969, {0xb7, 0xf3, 0xbd, 0xa5, 0xd3, 0x28, 0x90, 0xa4}};
constexpr GUID kConditionIpRemoteAddress = {
    0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
constexpr GUID kConditionIpLocalPort = {
    0x0c1ba1af, 0x5765, 0x453f, {0xaf, 0x22, 0xa8, 0xf7, 0x91, 0xac, 0x77, 0x5b}};
constexpr GUID kConditionAppId = {
    0xd78e1e87, 0x8644, 0x4ea5, {0x94, 0x37, 0xd8, 0x09, 0xec, 0xef, 0xc9, 0x71}};
constexpr GUID kConditionFlags = {
    0x632ce23b, 0x5167, 0x435c, {0x86, 0xd7, 0xe9, 0x03, 0x68, 0x4a, 0xa8, 0x0c}};
// Ours. The session is dynamic, so the sublayer goes with it and the key is free again.
constexpr GUID kSubLayerKey = {
    0x9a972635, 0xad10, 0x493b, {0xb7, 0x40, 0x38, 0x8d, 0xf0, 0x2c, 0x05, 0xea}};

wchar_t kGuardName[] = L"Kavrin name lookups through the tunnel";

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

FWPM_FILTER_CONDITION0 Condition(const GUID& field, FWP_MATCH_TYPE match) {
  FWPM_FILTER_CONDITION0 condition{};
  condition.fieldKey = field;
  condition.matchType = match;
  return condition;
}

}  // namespace

WfpFunctions WfpFunctions::Find(HMODULE module, HMODULE ipHelper) {
  WfpFunctions found;
  found.open = Lookup<OpenFn>(module, "FwpmEngineOpen0");
  found.close = Lookup<CloseFn>(module, "FwpmEngineClose0");
  found.addSubLayer = Lookup<AddSubLayerFn>(module, "FwpmSubLayerAdd0");
  found.addFilter = Lookup<AddFilterFn>(module, "FwpmFilterAdd0");
  found.indexToLuid = Lookup<IndexToLuidFn>(ipHelper, "ConvertInterfaceIndexToLuid");
  // All or none, so a half-equipped system is never half used.
  if (!found.open || !found.close || !found.addSubLayer || !found.addFilter ||
      !found.indexToLuid) {
    return {};
  }
  found.deleteById = Lookup<DeleteByIdFn>(module, "FwpmFilterDeleteById0");
  found.transactionBegin = Lookup<TransactionBeginFn>(module, "FwpmTransactionBegin0");
  found.transactionCommit = Lookup<TransactionFn>(module, "FwpmTransactionCommit0");
  found.transactionAbort = Lookup<TransactionFn>(module, "FwpmTransactionAbort0");
  found.appIdFromFileName = Lookup<AppIdFn>(module, "FwpmGetAppIdFromFileName0");
  found.freeMemory = Lookup<FreeFn>(module, "FwpmFreeMemory0");
  return found;
}

WfpDnsGuard::WfpDnsGuard(const wchar_t* module)
    : filtering_(LoadSystemModule(module)),
      ipHelper_(LoadSystemModule(L"iphlpapi.dll")),
      functions_(WfpFunctions::Find(filtering_.get(), ipHelper_.get())),
      set_(functions_, kSubLayerKey, kGuardName) {}

WfpDnsGuard::WfpDnsGuard(const Functions& functions)
    : functions_(functions), set_(functions_, kSubLayerKey, kGuardName) {}

WfpDnsGuard::~WfpDnsGuard() { Remove(); }

uint32_t WfpDnsGuard::ReadDnsServers(uint32_t interfaceIndex, std::vector<uint32_t>& servers) {
  servers.clear();
  if (!Available()) return kDnsGuardUnsupported;
  // An adapter without IPv6 has IPv6 interface 0.
  if (interfaceIndex == 0) return ERROR_NOT_FOUND;
  constexpr ULONG kFlags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST |
                           GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_FRIENDLY_NAME;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The list may grow between the two calls; a few tries are enough.
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result == ERROR_NO_DATA) return ERROR_NOT_FOUND;
  if (result != ERROR_SUCCESS) return result;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
       adapter = adapter->Next) {
    if (adapter->IfIndex != interfaceIndex && adapter->Ipv6IfIndex != interfaceIndex) continue;
    for (auto* server = adapter->FirstDnsServerAddress; server; server = server->Next) {
      const SOCKET_ADDRESS& address = server->Address;
      if (address.lpSockaddr == nullptr || address.lpSockaddr->sa_family != AF_INET ||
          address.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in))) {
        continue;
      }
      servers.push_back(
          reinterpret_cast<const sockaddr_in*>(address.lpSockaddr)->sin_addr.s_addr);
    }
    return ERROR_SUCCESS;
  }
  return ERROR_NOT_FOUND;
}

uint32_t WfpDnsGuard::Add(const std::vector<DnsFilter>& filters) {
  // A guard is put in place anew; the engine takes the old one away first when it moves.
  set_.Close();
  return set_.Replace(filters);
}

void WfpDnsGuard::Remove() { set_.Close(); }

// ---- one set of filters -------------------------------------------------------------------------

WfpFilterSet::WfpFilterSet(const WfpFunctions& functions, const GUID& subLayer,
                           const wchar_t* name)
    : functions_(functions), subLayer_(subLayer), name_(name) {}

uint32_t WfpFilterSet::OpenSession() {
  FWPM_SESSION0 session{};
  session.flags = kSessionFlagDynamic;
  HANDLE engine = nullptr;
  DWORD result = functions_.open(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &engine);
  if (result != ERROR_SUCCESS) return result;
  if (engine == nullptr) return ERROR_INVALID_HANDLE;
  engine_ = engine;
  return ERROR_SUCCESS;
}

uint32_t WfpFilterSet::Replace(const std::vector<DnsFilter>& filters) {
  std::lock_guard lock(mutex_);
  if (!functions_.Available()) return kDnsGuardUnsupported;
  const bool swap = engine_ != nullptr && functions_.Transactions();
  if (!swap) {
    CloseLocked();
    DWORD result = OpenSession();
    const bool transaction = result == ERROR_SUCCESS && functions_.Transactions();
    if (transaction) result = functions_.transactionBegin(engine_, 0);
    FWPM_SUBLAYER0 sublayer{};
    sublayer.subLayerKey = subLayer_;
    sublayer.displayData.name = name_.data();
    // Ahead of the others; the order changes nothing, as a block in any sublayer wins.
    sublayer.weight = 0xFFFF;
    if (result == ERROR_SUCCESS) result = functions_.addSubLayer(engine_, &sublayer, nullptr);
    std::vector<UINT64> ids;
    if (result == ERROR_SUCCESS) result = AddAll(filters, ids);
    if (result == ERROR_SUCCESS && transaction) result = functions_.transactionCommit(engine_);
    // Half a set could block without its permits: closing the session takes all of it away.
    if (result != ERROR_SUCCESS) {
      CloseLocked();
      return result;
    }
    ids_ = std::move(ids);
    return ERROR_SUCCESS;
  }
  // The new set goes in and the old one out in one transaction: the engine applies both at the
  // commit, or neither.
  DWORD result = functions_.transactionBegin(engine_, 0);
  if (result != ERROR_SUCCESS) return result;
  std::vector<UINT64> ids;
  result = AddAll(filters, ids);
  for (size_t i = 0; result == ERROR_SUCCESS && i < ids_.size(); ++i) {
    result = functions_.deleteById(engine_, ids_[i]);
  }
  if (result == ERROR_SUCCESS) result = functions_.transactionCommit(engine_);
  if (result != ERROR_SUCCESS) {
    functions_.transactionAbort(engine_);
    return result;
  }
  ids_ = std::move(ids);
  return ERROR_SUCCESS;
}

uint32_t WfpFilterSet::AddAll(const std::vector<DnsFilter>& filters, std::vector<UINT64>& ids) {
  for (const DnsFilter& filter : filters) {
    UINT64 id = 0;
    if (const uint32_t result = AddFilter(filter, id); result != ERROR_SUCCESS) return result;
    ids.push_back(id);
  }
  return ERROR_SUCCESS;
}

uint32_t WfpFilterSet::OwnAppId() {
  if (appId_ != nullptr) return ERROR_SUCCESS;
  if (!functions_.appIdFromFileName) return ERROR_NOT_SUPPORTED;
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  if (length == 0 || length >= std::size(path)) return ERROR_BAD_PATHNAME;
  return functions_.appIdFromFileName(path, &appId_);
}

void WfpFilterSet::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
  if (appId_ != nullptr && functions_.freeMemory) {
    functions_.freeMemory(reinterpret_cast<void**>(&appId_));
  }
  appId_ = nullptr;
}

void WfpFilterSet::CloseLocked() {
  ids_.clear();
  if (engine_ == nullptr) return;
  functions_.close(engine_);
  engine_ = nullptr;
}

uint32_t WfpFilterSet::AddFilter(const DnsFilter& filter, UINT64& id) {
  HANDLE engine = engine_;
  FWPM_FILTER_CONDITION0 conditions[7];
  UINT32 count = 0;
  // Held here: the conditions point at them.
  NET_LUID luid{};
  FWP_V4_ADDR_AND_MASK subnet{};
  if (filter.protocol != 0) {
    FWPM_FILTER_CONDITION0& c = conditions[count++] =
        Condition(kConditionIpProtocol, FWP_MATCH_EQUAL);
    c.conditionValue.type = FWP_UINT8;
    c.conditionValue.uint8 = filter.protocol;
  }
  if (filter.remotePort != 0) {
    FWPM_FILTER_CONDITION0& c = conditions[count++] =
        Condition(kConditionIpRemotePort, FWP_MATCH_EQUAL);
    c.conditionValue.type = FWP_UINT16;
    c.conditionValue.uint16 = filter.remotePort;
  }
  if (filter.interfaceIndex != 0) {
    if (const DWORD converted = functions_.indexToLuid(filter.interfaceIndex, &luid)) {
      return converted;
    }
    FWPM_FILTER_CONDITION0& c = conditions[count++] =
        Condition(kConditionIpLocalInterface, FWP_MATCH_EQUAL);
    c.conditionValue.type = FWP_UINT64;
    c.conditionValue.uint64 = &luid.Value;
  }
  if (filter.localPort != 0) {
    FWPM_FILTER_CONDITION0& c = conditions[count++] =
        Condition(kConditionIpLocalPort, FWP_MATCH_EQUAL);
    c.conditionValue.type = FWP_UINT16;
    c.conditionValue.uint16 = filter.localPort;
  }
  if (filter.ownProgram) {
    if (const uint32_t found = OwnAppId(); found != ERROR_SUCCESS) return found;
    FWPM_FILTER_CONDITION0& c = conditions[count++] = Condition(kConditionAppId, FWP_MATCH_EQUAL);
    c.conditionValue.type = FWP_BYTE_BLOB_TYPE;
    c.conditionValue.byteBlob = appId_;
  }
  if (filter.remotePrefix != 0) {
    // The platform takes IPv4 addresses in host byte order.
    const uint32_t address = ntohl(filter.remoteAddress);
    FWPM_FILTER_CONDITION0& c = conditions[count++] =
        Condition(kConditionIpRemoteAddress, FWP_MATCH_EQUAL);
    if (filter.remotePrefix >= 32) {
      c.conditionValue.type = FWP_UINT32;
      c.conditionValue.uint32 = address;
    } else {
      subnet.mask = ~(0xFFFFFFFFu >> filter.remotePrefix);
      subnet.addr = address & subnet.mask;
      c.conditionValue.type = FWP_V4_ADDR_MASK;
      c.conditionValue.v4AddrMask = &subnet;
    }
  }
  if (filter.loopback) {
    FWPM_FILTER_CONDITION0& c = conditions[count++] =
        Condition(kConditionFlags, FWP_MATCH_FLAGS_ALL_SET);
    c.conditionValue.type = FWP_UINT32;
    c.conditionValue.uint32 = FWP_CONDITION_FLAG_IS_LOOPBACK;
  }
  FWPM_FILTER0 system{};
  system.displayData.name = name_.data();
  system.layerKey =
      filter.family == IpFamily::kIpv4 ? kLayerAleAuthConnectV4 : kLayerAleAuthConnectV6;
  system.subLayerKey = subLayer_;
  system.weight.type = FWP_UINT8;
  system.weight.uint8 = filter.weight;
  system.numFilterConditions = count;
  system.filterCondition = count != 0 ? conditions : nullptr;
  system.action.type = filter.action == FilterAction::kPermit ? FWP_ACTION_PERMIT
                                                              : FWP_ACTION_BLOCK;
  return functions_.addFilter(engine, &system, nullptr, &id);
}

