#include "provider_win.h"

#include <iphlpapi.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app_list_reader.h"
#include "bind_state_win.h"
#include "policy/bind_catalog.h"
#include "route_request_client_win.h"
#include "steering.h"

namespace {

// ---- the catalog ----------------------------------------------------------------------------

struct ProviderEntry {
  WSAPROTOCOL_INFOW info;
  std::wstring path;  // as the catalog holds it, environment strings not yet expanded
};
using Catalog = std::vector<ProviderEntry>;

SRWLOCK g_catalogLock = SRWLOCK_INIT;
Catalog* g_testCatalog = nullptr;
// The catalog as last read: at each start-up, and again when a socket names an entry it lacks.
std::shared_ptr<const Catalog> g_catalog;

Catalog ReadSystemCatalog() {
  Catalog catalog;
  DWORD bytes = 0;
  int error = 0;
  if (WSCEnumProtocols(nullptr, nullptr, &bytes, &error) != SOCKET_ERROR || error != WSAENOBUFS) {
    return catalog;
  }
  std::vector<WSAPROTOCOL_INFOW> entries(bytes / sizeof(WSAPROTOCOL_INFOW) + 1);
  bytes = static_cast<DWORD>(entries.size() * sizeof(WSAPROTOCOL_INFOW));
  const int count = WSCEnumProtocols(nullptr, entries.data(), &bytes, &error);
  if (count == SOCKET_ERROR) return catalog;
  for (int n = 0; n < count && n < static_cast<int>(entries.size()); ++n) {
    wchar_t path[MAX_PATH + 1] = {};
    int length = MAX_PATH;
    if (WSCGetProviderPath(&entries[n].ProviderId, path, &length, &error) != 0) continue;
    catalog.push_back({entries[n], path});
  }
  return catalog;
}

std::shared_ptr<const Catalog> ReadCatalog() {
  AcquireSRWLockShared(&g_catalogLock);
  std::shared_ptr<const Catalog> test;
  if (g_testCatalog != nullptr) test = std::make_shared<const Catalog>(*g_testCatalog);
  ReleaseSRWLockShared(&g_catalogLock);
  auto catalog = test ? test : std::make_shared<const Catalog>(ReadSystemCatalog());
  AcquireSRWLockExclusive(&g_catalogLock);
  g_catalog = catalog;
  ReleaseSRWLockExclusive(&g_catalogLock);
  return catalog;
}

std::shared_ptr<const Catalog> CurrentCatalog() {
  AcquireSRWLockShared(&g_catalogLock);
  std::shared_ptr<const Catalog> catalog = g_catalog;
  ReleaseSRWLockShared(&g_catalogLock);
  return catalog ? catalog : ReadCatalog();
}

const ProviderEntry* FindEntry(const Catalog& catalog, DWORD id) {
  for (const auto& entry : catalog) {
    if (entry.info.dwCatalogEntryId == id) return &entry;
  }
  return nullptr;
}

bool IsOurLayer(const WSAPROTOCOL_INFOW& info) {
  const ProviderGuid& g = kBindLayerGuid;
  return info.ProtocolChain.ChainLen == LAYERED_PROTOCOL && info.ProviderId.Data1 == g.data1 &&
         info.ProviderId.Data2 == g.data2 && info.ProviderId.Data3 == g.data3 &&
         std::memcmp(info.ProviderId.Data4, g.data4.data(), sizeof(info.ProviderId.Data4)) == 0;
}

// Our layered entry's id; 0 when the catalog holds none.
DWORD LayerId(const Catalog& catalog) {
  for (const auto& entry : catalog) {
    if (IsOurLayer(entry.info)) return entry.info.dwCatalogEntryId;
  }
  return 0;
}

int ChainLength(const WSAPROTOCOL_INFOW& info) {
  const int length = info.ProtocolChain.ChainLen;
  return length < 0 ? 0 : length > MAX_PROTOCOL_CHAIN ? MAX_PROTOCOL_CHAIN : length;
}

// Our place in a chain, found by our layered entry's id; -1 when we are not in it.
int PositionIn(const WSAPROTOCOL_INFOW& chain, DWORD layerId) {
  for (int n = 0; n < ChainLength(chain) && layerId != 0; ++n) {
    if (chain.ProtocolChain.ChainEntries[n] == layerId) return n;
  }
  return -1;
}

// The provider below us in a chain, and what it is to be handed.
struct Next {
  WSAPROTOCOL_INFOW info;  // the base's own entry for a base, else the chain
  std::wstring path;
};

std::optional<Next> NextIn(const Catalog& catalog, const WSAPROTOCOL_INFOW& chain) {
  const int position = PositionIn(chain, LayerId(catalog));
  if (position < 0 || position + 1 >= ChainLength(chain)) return std::nullopt;
  const ProviderEntry* next = FindEntry(catalog, chain.ProtocolChain.ChainEntries[position + 1]);
  if (next == nullptr) return std::nullopt;
  const bool base = next->info.ProtocolChain.ChainLen == BASE_PROTOCOL;
  return Next{base ? next->info : chain, next->path};
}

// For a caller that hands us an entry we are not in (a layer above that passes its own entry):
// the first chain of ours, in catalog order, for the same kind of socket.
const ProviderEntry* OurChainFor(const Catalog& catalog, int family, int type, int protocol) {
  const DWORD layer = LayerId(catalog);
  for (const auto& entry : catalog) {
    const WSAPROTOCOL_INFOW& info = entry.info;
    if (PositionIn(info, layer) < 0 || info.iAddressFamily != family ||
        (type != 0 && info.iSocketType != type)) {
      continue;
    }
    if (protocol == 0 || (protocol >= info.iProtocol &&
                          protocol <= info.iProtocol + info.iProtocolMaxOffset)) {
      return &entry;
    }
  }
  return nullptr;
}

std::optional<Next> NextFor(const Catalog& catalog, const WSAPROTOCOL_INFOW& info) {
  if (auto next = NextIn(catalog, info)) return next;
  const ProviderEntry* chain =
      OurChainFor(catalog, info.iAddressFamily, info.iSocketType, info.iProtocol);
  return chain != nullptr ? NextIn(catalog, chain->info) : std::nullopt;
}

std::wstring ExpandPath(const std::wstring& path) {
  wchar_t expanded[MAX_PATH + 1] = {};
  const DWORD length = ExpandEnvironmentStringsW(path.c_str(), expanded, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return {};
  return expanded;
}

// A drive path or a network path: the only kind loaded, so no search order can offer another
// file of the same name.
bool IsFullPath(const std::wstring& path) {
  const bool drive = path.size() > 3 && path[1] == L':' && path[2] == L'\\';
  const bool network = path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
  return drive || network;
}

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length);
}

// ---- the steering, as the system feeds it ---------------------------------------------------

std::wstring ProgramDataFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  DWORD bytes = sizeof(folder) - sizeof(wchar_t);
  // Where the shell itself keeps the folder; the environment is only the process's own idea.
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                   L"ProgramData", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, folder,
                   &bytes) == ERROR_SUCCESS) {
    const std::wstring expanded = ExpandPath(folder);
    if (IsFullPath(expanded)) return expanded;
  }
  const DWORD length = GetEnvironmentVariableW(L"ProgramData", folder, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return folder;
  return {};
}

class SystemSteering : public SteeringSystem {
 public:
  SystemSteering() {
    const std::wstring folder = ProgramDataFolder();
    if (!folder.empty()) appList_ = folder + L"\\Kavrin\\applist.ini";
  }

  uint64_t NowMs() override { return GetTickCount64(); }
  BindState ReadBindState() override { return ReadPublishedBindState(); }

  FileStamp AppListStamp() override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (appList_.empty() ||
        !GetFileAttributesExW(appList_.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return {};
    }
    return {true,
            (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                data.ftLastWriteTime.dwLowDateTime,
            (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow};
  }

  std::string ReadAppList() override {
    const HANDLE file = CreateFileW(appList_.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes(kMaxAppListBytes, '\0');
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
  }

  std::wstring DecodeAnsi(std::string_view bytes) override {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::wstring text(length > 0 ? length : 0, L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), length);
    return text;
  }

  std::vector<LocalSubnet> LocalSubnets() override {
    std::vector<LocalSubnet> subnets;
    ULONG bytes = 0;
    if (GetIpAddrTable(nullptr, &bytes, FALSE) != ERROR_INSUFFICIENT_BUFFER) return subnets;
    std::vector<uint8_t> buffer(bytes);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (GetIpAddrTable(table, &bytes, FALSE) != NO_ERROR) return subnets;
    for (DWORD n = 0; n < table->dwNumEntries; ++n) {
      subnets.push_back({table->table[n].dwAddr, table->table[n].dwMask});
    }
    return subnets;
  }

 private:
  std::wstring appList_;
};

// Made at the first start-up and kept for the life of the process: threads of ours still
// asking for a route hold on to it.
std::atomic<Steering*> g_steering{nullptr};

void StartSteering() {
  static SRWLOCK lock = SRWLOCK_INIT;
  AcquireSRWLockExclusive(&lock);
  if (g_steering.load() == nullptr) {
    static SystemSteering* system = new SystemSteering();
    g_steering.store(new Steering(*system, ModulePath(nullptr), GetCurrentProcessId()));
  }
  ReleaseSRWLockExclusive(&lock);
}

// ---- the providers below us ----------------------------------------------------------------

// One per provider module below us, started once however many chains lead to it: the system
// starts us once for all our chains too, so which one a socket goes to is chosen on each call
// from the entry the call names.
struct Lower {
  std::wstring path;  // expanded
  HMODULE module = nullptr;
  LPWSPSTARTUP start = nullptr;
  WSPPROC_TABLE table{};
  int starts = 0;  // start-ups not yet matched by a cleanup
  std::atomic<LPFN_CONNECTEX> connectEx{nullptr};
};

constexpr int kMaxLowers = 8;
Lower g_lowers[kMaxLowers];
std::atomic<int> g_lowerCount{0};
SRWLOCK g_lowerLock = SRWLOCK_INIT;
WSPUPCALLTABLE g_upcalls{};
WORD g_version = 0;
int g_ourStarts = 0;
// The table handed to the system: the first lower provider's, with our entries in it.
WSPPROC_TABLE g_table{};
bool g_tableMade = false;

// What a socket was made as; kept from creation to closing.
struct SocketFacts {
  int lower = 0;
  int family = 0;
  int type = 0;
  DWORD entry = 0;  // the catalog entry the system created it with
  bool nonBlocking = false;
  uint32_t destination = 0;  // the last one steered, network byte order
};

SRWLOCK g_socketLock = SRWLOCK_INIT;
std::unordered_map<SOCKET, SocketFacts>* g_sockets = nullptr;

void Remember(SOCKET socket, const SocketFacts& facts) {
  AcquireSRWLockExclusive(&g_socketLock);
  try {
    if (g_sockets == nullptr) g_sockets = new std::unordered_map<SOCKET, SocketFacts>();
    (*g_sockets)[socket] = facts;
  } catch (...) {
    // Without its facts the socket is treated as a blocking one of the first provider.
  }
  ReleaseSRWLockExclusive(&g_socketLock);
}

std::optional<SocketFacts> FactsOf(SOCKET socket) {
  AcquireSRWLockShared(&g_socketLock);
  std::optional<SocketFacts> facts;
  if (g_sockets != nullptr) {
    const auto found = g_sockets->find(socket);
    if (found != g_sockets->end()) facts = found->second;
  }
  ReleaseSRWLockShared(&g_socketLock);
  return facts;
}

void Forget(SOCKET socket) {
  AcquireSRWLockExclusive(&g_socketLock);
  if (g_sockets != nullptr) g_sockets->erase(socket);
  ReleaseSRWLockExclusive(&g_socketLock);
}

void MarkNonBlocking(SOCKET socket, bool nonBlocking) {
  AcquireSRWLockExclusive(&g_socketLock);
  if (g_sockets != nullptr) {
    const auto found = g_sockets->find(socket);
    if (found != g_sockets->end()) found->second.nonBlocking = nonBlocking;
  }
  ReleaseSRWLockExclusive(&g_socketLock);
}

void NoteDestination(SOCKET socket, uint32_t destination) {
  AcquireSRWLockExclusive(&g_socketLock);
  if (g_sockets != nullptr) {
    const auto found = g_sockets->find(socket);
    if (found != g_sockets->end()) found->second.destination = destination;
  }
  ReleaseSRWLockExclusive(&g_socketLock);
}

std::vector<uint32_t> DestinationsInUse() {
  std::vector<uint32_t> destinations;
  AcquireSRWLockShared(&g_socketLock);
  try {
    if (g_sockets != nullptr) {
      for (const auto& [socket, facts] : *g_sockets) {
        if (facts.destination != 0) destinations.push_back(facts.destination);
      }
    }
  } catch (...) {
    destinations.clear();
  }
  ReleaseSRWLockShared(&g_socketLock);
  return destinations;
}

// The lower provider a socket's calls go to. With one lower provider (the usual case: the
// system's TCP/IP provider under every chain) no lookup is needed.
Lower& LowerOf(SOCKET socket) {
  if (g_lowerCount.load(std::memory_order_acquire) <= 1) return g_lowers[0];
  const auto facts = FactsOf(socket);
  return g_lowers[facts ? facts->lower : 0];
}

// The lower provider at `path`, started (once) with `info`; -1 when it cannot be.
int StartLowerLocked(const std::wstring& catalogPath, WSAPROTOCOL_INFOW info, LPWSPDATA data) {
  const std::wstring path = ExpandPath(catalogPath);
  if (!IsFullPath(path)) return -1;
  int index = -1;
  const int count = g_lowerCount.load();
  for (int n = 0; n < count && index < 0; ++n) {
    if (CompareStringOrdinal(g_lowers[n].path.c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL) {
      index = n;
    }
  }
  if (index >= 0 && g_lowers[index].starts > 0) return index;
  if (index < 0) {
    if (count >= kMaxLowers) return -1;
    const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) return -1;
    const auto start = reinterpret_cast<LPWSPSTARTUP>(
        reinterpret_cast<void*>(GetProcAddress(module, "WSPStartup")));
    if (start == nullptr) {
      FreeLibrary(module);
      return -1;
    }
    // The module stays loaded for the life of the process: sockets of its may outlive any
    // cleanup we could count.
    index = count;
    g_lowers[index].path = path;
    g_lowers[index].module = module;
    g_lowers[index].start = start;
  }
  Lower& lower = g_lowers[index];
  WSPDATA ownData{};
  WSPPROC_TABLE table{};
  if (lower.start(g_version, data != nullptr ? data : &ownData, &info, g_upcalls, &table) != 0 ||
      table.lpWSPSocket == nullptr || table.lpWSPCloseSocket == nullptr) {
    return -1;
  }
  lower.table = table;
  ++lower.starts;
  if (index == count) g_lowerCount.store(count + 1, std::memory_order_release);
  return index;
}

// ---- steering one call ----------------------------------------------------------------------

struct BackgroundRequest {
  Steering* steering;
  uint32_t destination;
  DWORD client;
  HMODULE module;
};

RouteAnswer Ask(uint32_t destination, DWORD client) {
  uint8_t reply = 0;
  const DWORD error = RequestHostRouteWithin(destination, kRouteReplyWaitMs, client, reply);
  if (error != ERROR_SUCCESS) return RouteAnswer::kFailed;
  return reply == 1 ? RouteAnswer::kGranted : RouteAnswer::kRefused;
}

DWORD WINAPI AskInBackground(void* parameter) {
  const BackgroundRequest request = *static_cast<BackgroundRequest*>(parameter);
  delete static_cast<BackgroundRequest*>(parameter);
  request.steering->Answered(request.destination, Ask(request.destination, request.client));
  // The thread holds the module loaded until it is out of its code.
  FreeLibraryAndExitThread(request.module, 0);
}

void AskWithoutWaiting(Steering& steering, uint32_t destination, DWORD client) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&AskInBackground), &module)) {
    steering.Answered(destination, RouteAnswer::kFailed);
    return;
  }
  auto* request = new BackgroundRequest{&steering, destination, client, module};
  const HANDLE thread = CreateThread(nullptr, 64 * 1024, AskInBackground, request,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    delete request;
    FreeLibrary(module);
    steering.Answered(destination, RouteAnswer::kFailed);
    return;
  }
  CloseHandle(thread);
}

// Binds a socket the program has not bound to the tunnel's address (IPv4-mapped on an IPv6
// socket).
void BindIfUnbound(Lower& lower, SOCKET socket, int family, uint32_t address) {
  sockaddr_in6 local{};
  int length = sizeof(local);
  int error = 0;
  if (lower.table.lpWSPGetSockName == nullptr || lower.table.lpWSPBind == nullptr) return;
  if (lower.table.lpWSPGetSockName(socket, reinterpret_cast<sockaddr*>(&local), &length,
                                   &error) == 0 ||
      error != WSAEINVAL) {
    return;  // bound already, or nothing we can tell
  }
  if (family == AF_INET6) {
    sockaddr_in6 tunnel{};
    tunnel.sin6_family = AF_INET6;
    tunnel.sin6_addr.s6_addr[10] = tunnel.sin6_addr.s6_addr[11] = 0xFF;
    std::memcpy(&tunnel.sin6_addr.s6_addr[12], &address, sizeof(address));
    lower.table.lpWSPBind(socket, reinterpret_cast<const sockaddr*>(&tunnel), sizeof(tunnel),
                          &error);
    return;
  }
  sockaddr_in tunnel{};
  tunnel.sin_family = AF_INET;
  tunnel.sin_addr.s_addr = address;
  lower.table.lpWSPBind(socket, reinterpret_cast<const sockaddr*>(&tunnel), sizeof(tunnel),
                        &error);
}

// Keeps this module loaded for the rest of the process: a program holds a pointer into it that
// the system does not count, or a thread of ours runs for good.
void PinModule() {
  static std::atomic<bool> pinned{false};
  if (pinned.exchange(true)) return;
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&PinModule), &module);
}

constexpr DWORD kRenewalPollMs = 30 * 1000;

// In a steered process: asks again for granted destinations that open sockets still use before
// their grant ends, so the client keeps their routes while the connections last.
DWORD WINAPI RenewInBackground(void*) {
  for (;;) {
    Sleep(kRenewalPollMs);
    try {
      Steering* steering = g_steering.load(std::memory_order_acquire);
      if (steering == nullptr || !steering->MightSteer()) continue;
      const std::vector<uint32_t> inUse = DestinationsInUse();
      if (inUse.empty()) continue;
      const DWORD client = steering->ClientProcessId();
      for (const uint32_t destination : steering->DueForRenewal(inUse)) {
        steering->Answered(destination, Ask(destination, client));
      }
    } catch (...) {
      // Out of memory: the next round tries again.
    }
  }
}

void StartRenewing() {
  static std::atomic<bool> started{false};
  if (started.exchange(true)) return;
  PinModule();
  const HANDLE thread = CreateThread(nullptr, 64 * 1024, RenewInBackground, nullptr,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}

enum class CallKind { kConnect, kOverlappedConnect, kDatagram };

// Whether the call might be steered at all: false for a process that is not, at the price of
// an atomic load.
Steering* SteeringToAsk() {
  Steering* steering = g_steering.load(std::memory_order_acquire);
  return steering != nullptr && steering->MightSteer() ? steering : nullptr;
}

void Steer(Steering& steering, Lower& lower, SOCKET socket, const sockaddr* name, int length,
           CallKind kind) noexcept {
  if (length <= 0) return;
  const auto destination = Ipv4Destination(name, static_cast<size_t>(length));
  if (!destination) return;
  const DWORD callerError = GetLastError();
  try {
    const auto facts = FactsOf(socket);
    if (kind == CallKind::kDatagram && (!facts || facts->type != SOCK_DGRAM)) return;
    const bool mayWait = kind == CallKind::kConnect && facts && !facts->nonBlocking &&
                         facts->type != SOCK_DGRAM;
    const SteerPlan plan = steering.Plan(*destination, mayWait);
    if (plan.steer) {
      NoteDestination(socket, *destination);
      StartRenewing();
      bool granted = plan.granted;
      if (plan.askRoute && plan.wait) {
        const RouteAnswer answer = Ask(*destination, plan.clientProcessId);
        steering.Answered(*destination, answer);
        granted = answer == RouteAnswer::kGranted;
      } else if (plan.askRoute) {
        AskWithoutWaiting(steering, *destination, plan.clientProcessId);
      } else if (plan.wait) {
        granted = steering.AwaitAnswer(*destination, kRouteReplyWaitMs);
      }
      // Bound to the tunnel only with a route into it: without one the socket would be stuck
      // on an address that leads nowhere.
      if (granted && plan.bindTo != 0) {
        BindIfUnbound(lower, socket, facts ? facts->family : AF_INET, plan.bindTo);
      }
    }
  } catch (...) {
    // Out of memory in here must not become the program's failure.
  }
  SetLastError(callerError);
}

// ---- our dispatch entries -------------------------------------------------------------------

// The entries of a lower provider that pass straight through must be the ones handed to the
// system; a provider with other ones cannot sit under a chain of ours.
bool PassesThroughAlike(const WSPPROC_TABLE& a, const WSPPROC_TABLE& b) {
  return a.lpWSPSend == b.lpWSPSend && a.lpWSPRecv == b.lpWSPRecv &&
         a.lpWSPBind == b.lpWSPBind && a.lpWSPListen == b.lpWSPListen &&
         a.lpWSPShutdown == b.lpWSPShutdown && a.lpWSPRecvFrom == b.lpWSPRecvFrom &&
         a.lpWSPSetSockOpt == b.lpWSPSetSockOpt && a.lpWSPGetSockName == b.lpWSPGetSockName;
}

SOCKET WSPAPI SocketEntry(int family, int type, int protocol, LPWSAPROTOCOL_INFOW info,
                          GROUP group, DWORD flags, LPINT error) {
  if (info == nullptr) {
    *error = WSAEINVAL;
    return INVALID_SOCKET;
  }
  try {
    std::shared_ptr<const Catalog> catalog = CurrentCatalog();
    std::optional<Next> next = NextFor(*catalog, *info);
    if (!next) {
      catalog = ReadCatalog();  // changed since we last looked
      next = NextFor(*catalog, *info);
    }
    if (!next) {
      *error = WSAEPROVIDERFAILEDINIT;
      return INVALID_SOCKET;
    }
    // A duplicated socket's description travels in the reserved field.
    next->info.dwProviderReserved = info->dwProviderReserved;
    AcquireSRWLockExclusive(&g_lowerLock);
    const int index = StartLowerLocked(next->path, next->info, nullptr);
    ReleaseSRWLockExclusive(&g_lowerLock);
    if (index < 0 || !PassesThroughAlike(g_lowers[index].table, g_table)) {
      *error = WSAEPROVIDERFAILEDINIT;
      return INVALID_SOCKET;
    }
    Lower& lower = g_lowers[index];
    const SOCKET socket =
        lower.table.lpWSPSocket(family, type, protocol, &next->info, group, flags, error);
    if (socket == INVALID_SOCKET || g_upcalls.lpWPUModifyIFSHandle == nullptr) return socket;
    // The next provider's handle is ours to the system, so the calls on it come to this table.
    const SOCKET ours = g_upcalls.lpWPUModifyIFSHandle(info->dwCatalogEntryId, socket, error);
    if (ours == INVALID_SOCKET) {
      int ignored = 0;
      lower.table.lpWSPCloseSocket(socket, &ignored);
      return ours;
    }
    const int socketFamily = family != 0 ? family : info->iAddressFamily;
    const int socketType = type != 0 ? type : info->iSocketType;
    Remember(ours, {index, socketFamily, socketType, info->dwCatalogEntryId, false});
    return ours;
  } catch (...) {
    *error = WSAENOBUFS;
    return INVALID_SOCKET;
  }
}

// An accepted socket is the next provider's handle too; made ours like one we created, with
// the listening socket's facts.
SOCKET WSPAPI AcceptEntry(SOCKET socket, sockaddr* address, LPINT length, LPCONDITIONPROC condition,
                          DWORD_PTR data, LPINT error) {
  Lower& lower = LowerOf(socket);
  const SOCKET accepted = lower.table.lpWSPAccept(socket, address, length, condition, data, error);
  if (accepted == INVALID_SOCKET || g_upcalls.lpWPUModifyIFSHandle == nullptr) return accepted;
  const auto facts = FactsOf(socket);
  const SOCKET ours = g_upcalls.lpWPUModifyIFSHandle(facts ? facts->entry : 0, accepted, error);
  if (ours == INVALID_SOCKET) {
    int ignored = 0;
    lower.table.lpWSPCloseSocket(accepted, &ignored);
    return ours;
  }
  if (facts) Remember(ours, {facts->lower, facts->family, facts->type, facts->entry, false});
  return ours;
}

int WSPAPI CloseSocketEntry(SOCKET socket, LPINT error) {
  Lower& lower = LowerOf(socket);
  Forget(socket);
  return lower.table.lpWSPCloseSocket(socket, error);
}

int WSPAPI ConnectEntry(SOCKET socket, const sockaddr* name, int length, LPWSABUF callerData,
                        LPWSABUF calleeData, LPQOS qos, LPQOS groupQos, LPINT error) {
  Lower& lower = LowerOf(socket);
  if (Steering* steering = SteeringToAsk()) {
    Steer(*steering, lower, socket, name, length, CallKind::kConnect);
  }
  return lower.table.lpWSPConnect(socket, name, length, callerData, calleeData, qos, groupQos,
                                  error);
}

BOOL PASCAL ConnectExEntry(SOCKET socket, const sockaddr* name, int length, PVOID data,
                           DWORD dataLength, LPDWORD sent, LPOVERLAPPED overlapped) {
  Lower& lower = LowerOf(socket);
  const LPFN_CONNECTEX next = lower.connectEx.load();
  if (next == nullptr) {
    WSASetLastError(WSAEOPNOTSUPP);
    return FALSE;
  }
  if (Steering* steering = SteeringToAsk()) {
    Steer(*steering, lower, socket, name, length, CallKind::kOverlappedConnect);
  }
  return next(socket, name, length, data, dataLength, sent, overlapped);
}

int WSPAPI SendToEntry(SOCKET socket, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags,
                       const sockaddr* to, int toLength, LPWSAOVERLAPPED overlapped,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE completion, LPWSATHREADID thread,
                       LPINT error) {
  Lower& lower = LowerOf(socket);
  if (to != nullptr) {
    if (Steering* steering = SteeringToAsk()) {
      Steer(*steering, lower, socket, to, toLength, CallKind::kDatagram);
    }
  }
  return lower.table.lpWSPSendTo(socket, buffers, count, sent, flags, to, toLength, overlapped,
                                 completion, thread, error);
}

int WSPAPI IoctlEntry(SOCKET socket, DWORD code, LPVOID in, DWORD inLength, LPVOID out,
                      DWORD outLength, LPDWORD returned, LPWSAOVERLAPPED overlapped,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE completion, LPWSATHREADID thread,
                      LPINT error) {
  Lower& lower = LowerOf(socket);
  const int result = lower.table.lpWSPIoctl(socket, code, in, inLength, out, outLength, returned,
                                            overlapped, completion, thread, error);
  if (result != 0) return result;
  if (code == static_cast<DWORD>(FIONBIO) && in != nullptr && inLength >= sizeof(u_long)) {
    u_long value = 0;
    std::memcpy(&value, in, sizeof(value));
    MarkNonBlocking(socket, value != 0);
    return result;
  }
  static const GUID kConnectEx = WSAID_CONNECTEX;
  if (code != SIO_GET_EXTENSION_FUNCTION_POINTER || in == nullptr || inLength < sizeof(GUID) ||
      out == nullptr || outLength < sizeof(LPFN_CONNECTEX) ||
      std::memcmp(in, &kConnectEx, sizeof(GUID)) != 0) {
    return result;
  }
  LPFN_CONNECTEX next = nullptr;
  std::memcpy(&next, out, sizeof(next));
  if (next == nullptr) return result;
  lower.connectEx.store(next);
  PinModule();
  const LPFN_CONNECTEX ours = &ConnectExEntry;
  std::memcpy(out, &ours, sizeof(ours));
  return result;
}

// Event and window notifications make a socket non-blocking.
int WSPAPI EventSelectEntry(SOCKET socket, WSAEVENT event, long events, LPINT error) {
  Lower& lower = LowerOf(socket);
  const int result = lower.table.lpWSPEventSelect(socket, event, events, error);
  if (result == 0 && events != 0) MarkNonBlocking(socket, true);
  return result;
}

int WSPAPI AsyncSelectEntry(SOCKET socket, HWND window, unsigned int message, long events,
                            LPINT error) {
  Lower& lower = LowerOf(socket);
  const int result = lower.table.lpWSPAsyncSelect(socket, window, message, events, error);
  if (result == 0 && events != 0) MarkNonBlocking(socket, true);
  return result;
}

// A program asking what its socket is gets the entry it made it with, ours, as without a layer
// it would get the one it chose.
int WSPAPI GetSockOptEntry(SOCKET socket, int level, int option, char* value, LPINT length,
                           LPINT error) {
  Lower& lower = LowerOf(socket);
  const int result = lower.table.lpWSPGetSockOpt(socket, level, option, value, length, error);
  if (result != 0 || level != SOL_SOCKET || option != SO_PROTOCOL_INFOW || value == nullptr ||
      length == nullptr || *length < static_cast<int>(sizeof(WSAPROTOCOL_INFOW))) {
    return result;
  }
  const auto facts = FactsOf(socket);
  if (!facts) return result;
  const std::shared_ptr<const Catalog> catalog = CurrentCatalog();
  if (const ProviderEntry* entry = FindEntry(*catalog, facts->entry)) {
    WSAPROTOCOL_INFOW info = entry->info;
    WSAPROTOCOL_INFOW lowerInfo;
    std::memcpy(&lowerInfo, value, sizeof(lowerInfo));
    info.dwProviderReserved = lowerInfo.dwProviderReserved;
    std::memcpy(value, &info, sizeof(info));
  }
  return result;
}

// Every start-up of ours is matched by a cleanup; the providers below are cleaned up as often
// as they were started once the last of ours goes.
int WSPAPI CleanupEntry(LPINT error) {
  AcquireSRWLockExclusive(&g_lowerLock);
  int result = 0;
  if (g_ourStarts > 0 && --g_ourStarts == 0) {
    const int count = g_lowerCount.load();
    for (int n = 0; n < count; ++n) {
      Lower& lower = g_lowers[n];
      for (; lower.starts > 0; --lower.starts) {
        if (lower.table.lpWSPCleanup != nullptr && lower.table.lpWSPCleanup(error) != 0) {
          result = SOCKET_ERROR;
        }
      }
    }
  }
  ReleaseSRWLockExclusive(&g_lowerLock);
  return result;
}

void MakeTableLocked(const WSPPROC_TABLE& lower) {
  g_table = lower;
  g_table.lpWSPSocket = &SocketEntry;
  g_table.lpWSPCloseSocket = &CloseSocketEntry;
  g_table.lpWSPCleanup = &CleanupEntry;
  if (lower.lpWSPAccept != nullptr) g_table.lpWSPAccept = &AcceptEntry;
  if (lower.lpWSPConnect != nullptr) g_table.lpWSPConnect = &ConnectEntry;
  if (lower.lpWSPSendTo != nullptr) g_table.lpWSPSendTo = &SendToEntry;
  if (lower.lpWSPIoctl != nullptr) g_table.lpWSPIoctl = &IoctlEntry;
  if (lower.lpWSPEventSelect != nullptr) g_table.lpWSPEventSelect = &EventSelectEntry;
  if (lower.lpWSPAsyncSelect != nullptr) g_table.lpWSPAsyncSelect = &AsyncSelectEntry;
  if (lower.lpWSPGetSockOpt != nullptr) g_table.lpWSPGetSockOpt = &GetSockOptEntry;
  g_tableMade = true;
}

int Start(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW protocol, WSPUPCALLTABLE upcalls,
          LPWSPPROC_TABLE table) {
  const std::shared_ptr<const Catalog> catalog = ReadCatalog();
  // Started for one of our chains, or by a layer above with an entry of its own; either way the
  // provider under us is the one our chain for that kind of socket leads to.
  const std::optional<Next> next = NextFor(*catalog, *protocol);
  if (!next) return WSAEPROVIDERFAILEDINIT;

  AcquireSRWLockExclusive(&g_lowerLock);
  if (g_ourStarts == 0) {
    g_upcalls = upcalls;
    g_version = version;
  }
  const int index = StartLowerLocked(next->path, next->info, data);
  if (index >= 0) {
    if (!g_tableMade) MakeTableLocked(g_lowers[index].table);
    ++g_ourStarts;
    *table = g_table;
  }
  ReleaseSRWLockExclusive(&g_lowerLock);
  if (index < 0) return WSAEPROVIDERFAILEDINIT;
  StartSteering();
  return 0;
}

}  // namespace

int WSPAPI StartLayeredProvider(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW protocol,
                                WSPUPCALLTABLE upcalls, LPWSPPROC_TABLE table) {
  if (data == nullptr || protocol == nullptr || table == nullptr) return WSAEFAULT;
  try {
    return Start(version, data, protocol, upcalls, table);
  } catch (...) {
    return WSAENOBUFS;
  }
}

void UseTestCatalog(const WSAPROTOCOL_INFOW* entries, const wchar_t* const* paths, int count) {
  auto* catalog = new Catalog();
  for (int n = 0; n < count && entries != nullptr && paths != nullptr; ++n) {
    catalog->push_back({entries[n], paths[n] != nullptr ? paths[n] : L""});
  }
  AcquireSRWLockExclusive(&g_catalogLock);
  std::swap(g_testCatalog, catalog);
  if (count <= 0) {
    delete g_testCatalog;
    g_testCatalog = nullptr;
  }
  g_catalog.reset();
  ReleaseSRWLockExclusive(&g_catalogLock);
  delete catalog;
  // A fresh start for the next start-up: the providers below stay loaded, their tables and
  // start counts go; the old steering stays for threads still using it.
  AcquireSRWLockExclusive(&g_lowerLock);
  for (int n = 0; n < g_lowerCount.load(); ++n) {
    g_lowers[n].starts = 0;
    g_lowers[n].connectEx.store(nullptr);
  }
  g_ourStarts = 0;
  g_tableMade = false;
  ReleaseSRWLockExclusive(&g_lowerLock);
  AcquireSRWLockExclusive(&g_socketLock);
  if (g_sockets != nullptr) g_sockets->clear();
  ReleaseSRWLockExclusive(&g_socketLock);
  g_steering.store(nullptr);
}
