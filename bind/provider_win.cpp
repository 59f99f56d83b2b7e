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
#include "policy/bind_catalog_win.h"
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

// The entries only: a path is looked up (PathOf) for the few entries a chain leads to.
Catalog ReadSystemCatalog() {
  Catalog catalog;
  std::vector<WSAPROTOCOL_INFOW> entries;
  if (EnumerateProtocols(entries) != 0) return catalog;
  for (const WSAPROTOCOL_INFOW& entry : entries) catalog.push_back({entry, {}});
  return catalog;
}

std::wstring PathOf(const ProviderEntry& entry) {
  if (!entry.path.empty()) return entry.path;
  GUID provider = entry.info.ProviderId;
  wchar_t path[MAX_PATH + 1] = {};
  int length = MAX_PATH;
  int error = 0;
  return WSCGetProviderPath(&provider, path, &length, &error) == 0 ? path : L"";
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

// Our place in a chain, found by our layered entry's id; -1 when we are not in it. A chain that
// holds our layer twice (an earlier version's repair put us under another layer again) is taken
// from our last link: a provider between our two would start us again inside our own start-up.
int PositionIn(const WSAPROTOCOL_INFOW& chain, DWORD layerId) {
  int position = -1;
  for (int n = 0; n < ChainLength(chain) && layerId != 0; ++n) {
    if (chain.ProtocolChain.ChainEntries[n] == layerId) position = n;
  }
  return position;
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
  return Next{base ? next->info : chain, PathOf(*next)};
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

// GetIpAddrTable, looked up at first use from the system folder by full path: the module is
// loaded into every process, and an import of iphlpapi.dll (no KnownDLL) would have each of them
// look for it along the program's own search path first.
using GetIpAddrTableEntry = DWORD(WINAPI*)(PMIB_IPADDRTABLE, PULONG, BOOL);

GetIpAddrTableEntry IpAddressTable() {
  static std::atomic<GetIpAddrTableEntry> entry{nullptr};
  static std::atomic<bool> looked{false};
  if (looked.load(std::memory_order_acquire)) return entry.load(std::memory_order_relaxed);
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length > 0 && length < MAX_PATH - 16) {
    const std::wstring path = std::wstring(folder, length) + L"\\iphlpapi.dll";
    if (const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, 0)) {
      entry.store(reinterpret_cast<GetIpAddrTableEntry>(
                      reinterpret_cast<void*>(GetProcAddress(module, "GetIpAddrTable"))),
                  std::memory_order_relaxed);
    }
  }
  looked.store(true, std::memory_order_release);
  return entry.load(std::memory_order_relaxed);
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
    const auto getTable = IpAddressTable();
    ULONG bytes = 0;
    if (getTable == nullptr || getTable(nullptr, &bytes, FALSE) != ERROR_INSUFFICIENT_BUFFER) {
      return subnets;
    }
    std::vector<uint8_t> buffer(bytes);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (getTable(table, &bytes, FALSE) != NO_ERROR) return subnets;
    for (DWORD n = 0; n < table->dwNumEntries; ++n) {
      subnets.push_back({table->table[n].dwAddr, table->table[n].dwMask});
    }
    return subnets;
  }

  bool ReadAppListInBackground(Steering& steering) override;

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
// starts us once for every GUID of ours too, so which one a socket goes to is chosen on each
// call from the entry the call names.
struct Lower {
  std::wstring path;  // expanded
  HMODULE module = nullptr;
  WSPPROC_TABLE table{};   // its own
  WSPPROC_TABLE handed{};  // its own with our entries in it: what whoever starts us for it gets
  WSPDATA data{};          // what it answered at its start-up, answered again at each of ours
  int starts = 0;          // start-ups not yet matched by a cleanup
  std::atomic<LPFN_CONNECTEX> connectEx{nullptr};
};

constexpr int kMaxLowers = 8;
Lower g_lowers[kMaxLowers];
std::atomic<int> g_lowerCount{0};
// Guards the lowers' fields and the start count, never held while another provider runs.
SRWLOCK g_lowerLock = SRWLOCK_INIT;
WSPUPCALLTABLE g_upcalls{};  // the most recent start-up's
WORD g_version = 0;
int g_ourStarts = 0;
// Which lower provider's table each provider GUID we were started for was given.
struct StartedFor {
  GUID provider;
  int lower;
};
constexpr int kMaxStartedFor = 32;
StartedFor g_startedFor[kMaxStartedFor];
int g_startedForCount = 0;

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

// Changes the facts of a socket we know; nothing for one we do not.
template <typename Change>
void ChangeFacts(SOCKET socket, Change change) {
  AcquireSRWLockExclusive(&g_socketLock);
  if (g_sockets != nullptr) {
    const auto found = g_sockets->find(socket);
    if (found != g_sockets->end()) change(found->second);
  }
  ReleaseSRWLockExclusive(&g_socketLock);
}

void Forget(SOCKET socket) {
  AcquireSRWLockExclusive(&g_socketLock);
  if (g_sockets != nullptr) g_sockets->erase(socket);
  ReleaseSRWLockExclusive(&g_socketLock);
}

// At the last cleanup the providers below close whatever sockets are left: none of them is
// renewed or looked up any more.
void ForgetAll() {
  AcquireSRWLockExclusive(&g_socketLock);
  if (g_sockets != nullptr) g_sockets->clear();
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

WSPUPCALLTABLE Upcalls() {
  AcquireSRWLockShared(&g_lowerLock);
  const WSPUPCALLTABLE upcalls = g_upcalls;
  ReleaseSRWLockShared(&g_lowerLock);
  return upcalls;
}

// The socket layer refuses a table with an empty entry (WSAEINVALIDPROCTABLE); so do we, from
// below, rather than hand one on.
bool Complete(const WSPPROC_TABLE& table) {
  const auto* entries = reinterpret_cast<const void* const*>(&table);
  static_assert(sizeof(WSPPROC_TABLE) % sizeof(void*) == 0);
  for (size_t n = 0; n < sizeof(WSPPROC_TABLE) / sizeof(void*); ++n) {
    if (entries[n] == nullptr) return false;
  }
  return true;
}

int FindLowerLocked(const std::wstring& path) {
  const int count = g_lowerCount.load();
  for (int n = 0; n < count; ++n) {
    if (CompareStringOrdinal(g_lowers[n].path.c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL) {
      return n;
    }
  }
  return -1;
}

void MakeTable(Lower& lower);

// The lower provider at `catalogPath`, started (once) with `info`; -1 when it cannot be. It is
// loaded and started without our lock held: it may be another layer that starts a provider
// below it which is us again, on this thread, before it returns.
int StartLower(const std::wstring& catalogPath, WSAPROTOCOL_INFOW info) {
  const std::wstring path = ExpandPath(catalogPath);
  if (!IsFullPath(path)) return -1;
  AcquireSRWLockShared(&g_lowerLock);
  int index = FindLowerLocked(path);
  const bool started = index >= 0 && g_lowers[index].starts > 0;
  const WORD version = g_version;
  const WSPUPCALLTABLE upcalls = g_upcalls;
  ReleaseSRWLockShared(&g_lowerLock);
  if (started) return index;

  // The module stays loaded for the life of the process: sockets of its may outlive any cleanup
  // we could count.
  const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) return -1;
  const auto start = reinterpret_cast<LPWSPSTARTUP>(
      reinterpret_cast<void*>(GetProcAddress(module, "WSPStartup")));
  if (start == nullptr) return -1;
  WSPDATA data{};
  WSPPROC_TABLE table{};
  if (start(version, &data, &info, upcalls, &table) != 0) return -1;
  if (!Complete(table) || data.wVersion == 0) {
    int ignored = 0;
    if (table.lpWSPCleanup != nullptr) table.lpWSPCleanup(&ignored);
    return -1;
  }

  AcquireSRWLockExclusive(&g_lowerLock);
  index = FindLowerLocked(path);
  const int count = g_lowerCount.load();
  if (index < 0 && count < kMaxLowers) {
    index = count;
    g_lowers[index].path = path;
    g_lowers[index].module = module;
  }
  if (index >= 0) {
    Lower& lower = g_lowers[index];
    if (lower.starts == 0) {
      lower.table = table;
      lower.data = data;
      MakeTable(lower);
    }
    ++lower.starts;
    if (index == count) g_lowerCount.store(count + 1, std::memory_order_release);
  }
  ReleaseSRWLockExclusive(&g_lowerLock);
  if (index < 0) {
    int ignored = 0;
    table.lpWSPCleanup(&ignored);
  }
  return index;
}

// ---- the worker -----------------------------------------------------------------------------

// One thread of ours per process does whatever may wait: the route requests of calls that do
// not wait for them, the application list's readings and, every 30 s, the renewals. Its queue is
// bounded; a request that finds it full is remembered as failed and the call goes on.
struct Task {
  enum class Kind { kAsk, kReadList } kind;
  Steering* steering;
  uint32_t destination;
  DWORD client;
};

constexpr size_t kQueueLength = 64;
constexpr DWORD kRenewalPollMs = 30 * 1000;
SRWLOCK g_workLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_workReady = CONDITION_VARIABLE_INIT;
Task g_queue[kQueueLength];
size_t g_queueFirst = 0;
size_t g_queued = 0;
std::atomic<bool> g_workerStarted{false};

RouteAnswer Ask(uint32_t destination, DWORD client) {
  uint8_t reply = 0;
  const DWORD error = RequestHostRouteWithin(destination, kRouteReplyWaitMs, client, reply);
  if (error != ERROR_SUCCESS) return RouteAnswer::kFailed;
  return reply == 1 ? RouteAnswer::kGranted : RouteAnswer::kRefused;
}

// In a steered process: asks again for granted destinations that open sockets still use before
// their grant ends, so the client keeps their routes while the connections last.
void Renew() {
  try {
    Steering* steering = g_steering.load(std::memory_order_acquire);
    if (steering == nullptr || !steering->MightSteer()) return;
    const std::vector<uint32_t> inUse = DestinationsInUse();
    if (inUse.empty()) return;
    const DWORD client = steering->ClientProcessId();
    for (const uint32_t destination : steering->DueForRenewal(inUse)) {
      steering->Renewed(destination, Ask(destination, client));
    }
  } catch (...) {
    // Out of memory: the next round tries again.
  }
}

DWORD WINAPI Work(void*) {
  ULONGLONG nextRenewal = GetTickCount64() + kRenewalPollMs;
  for (;;) {
    AcquireSRWLockExclusive(&g_workLock);
    while (g_queued == 0) {
      const ULONGLONG now = GetTickCount64();
      if (now >= nextRenewal) break;
      SleepConditionVariableSRW(&g_workReady, &g_workLock, static_cast<DWORD>(nextRenewal - now),
                                0);
    }
    std::optional<Task> task;
    if (g_queued > 0) {
      task = g_queue[g_queueFirst];
      g_queueFirst = (g_queueFirst + 1) % kQueueLength;
      --g_queued;
    }
    ReleaseSRWLockExclusive(&g_workLock);
    if (!task) {
      nextRenewal = GetTickCount64() + kRenewalPollMs;
      Renew();
    } else if (task->kind == Task::Kind::kReadList) {
      task->steering->ReadAppList();
    } else {
      task->steering->Answered(task->destination, Ask(task->destination, task->client));
    }
  }
}

// Keeps this module loaded for the rest of the process: a program holds a pointer into it that
// the system does not count, or the thread of ours runs for good.
void PinModule() {
  static std::atomic<bool> pinned{false};
  if (pinned.exchange(true)) return;
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&PinModule), &module);
}

bool StartWorkerLocked() {
  if (g_workerStarted.load(std::memory_order_relaxed)) return true;
  PinModule();
  const HANDLE thread = CreateThread(nullptr, 64 * 1024, Work, nullptr,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) return false;
  CloseHandle(thread);
  g_workerStarted.store(true, std::memory_order_release);
  return true;
}

void StartWorker() {
  if (g_workerStarted.load(std::memory_order_acquire)) return;
  AcquireSRWLockExclusive(&g_workLock);
  StartWorkerLocked();
  ReleaseSRWLockExclusive(&g_workLock);
}

// False when the queue is full or no worker could be started.
bool Post(const Task& task) {
  AcquireSRWLockExclusive(&g_workLock);
  bool posted = false;
  if (StartWorkerLocked() && g_queued < kQueueLength) {
    g_queue[(g_queueFirst + g_queued) % kQueueLength] = task;
    ++g_queued;
    posted = true;
  }
  ReleaseSRWLockExclusive(&g_workLock);
  if (posted) WakeConditionVariable(&g_workReady);
  return posted;
}

bool SystemSteering::ReadAppListInBackground(Steering& steering) {
  return Post({Task::Kind::kReadList, &steering, 0, 0});
}

// ---- steering one call ----------------------------------------------------------------------

void AskWithoutWaiting(Steering& steering, uint32_t destination, DWORD client) {
  if (!Post({Task::Kind::kAsk, &steering, destination, client})) {
    steering.Answered(destination, RouteAnswer::kFailed);
  }
}

// Binds a socket the program has not bound to the tunnel's address (IPv4-mapped on an IPv6
// socket).
void BindIfUnbound(Lower& lower, SOCKET socket, int family, uint32_t address) {
  sockaddr_in6 local{};
  int length = sizeof(local);
  int error = 0;
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
      if (facts && facts->destination != *destination) {
        ChangeFacts(socket, [&](SocketFacts& f) { f.destination = *destination; });
      }
      StartWorker();  // which renews what open sockets use
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

// The lower provider's own table whose entries the system holds for a provider GUID of ours:
// the one we were started with for it.
WSPPROC_TABLE TableFor(const GUID& provider) {
  AcquireSRWLockShared(&g_lowerLock);
  int lower = 0;
  for (int n = 0; n < g_startedForCount; ++n) {
    if (std::memcmp(&g_startedFor[n].provider, &provider, sizeof(GUID)) == 0) {
      lower = g_startedFor[n].lower;
    }
  }
  const WSPPROC_TABLE table = g_lowers[lower].table;
  ReleaseSRWLockShared(&g_lowerLock);
  return table;
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
    const int index = StartLower(next->path, next->info);
    if (index < 0 || !PassesThroughAlike(g_lowers[index].table, TableFor(info->ProviderId))) {
      *error = WSAEPROVIDERFAILEDINIT;
      return INVALID_SOCKET;
    }
    Lower& lower = g_lowers[index];
    const SOCKET socket =
        lower.table.lpWSPSocket(family, type, protocol, &next->info, group, flags, error);
    const WSPUPCALLTABLE upcalls = Upcalls();
    if (socket == INVALID_SOCKET || upcalls.lpWPUModifyIFSHandle == nullptr) return socket;
    // The next provider's handle is ours to the system, so the calls on it come to this table.
    const SOCKET ours = upcalls.lpWPUModifyIFSHandle(info->dwCatalogEntryId, socket, error);
    if (ours == INVALID_SOCKET) {
      int ignored = 0;
      lower.table.lpWSPCloseSocket(socket, &ignored);
      return ours;
    }
    // A socket made from a description (WSASocket with FROM_PROTOCOL_INFO, a duplicated one)
    // is of the kind the description says.
    const bool fromInfo = family == 0 || family == FROM_PROTOCOL_INFO;
    const int socketFamily = fromInfo ? info->iAddressFamily : family;
    const int socketType = type == 0 || type == FROM_PROTOCOL_INFO ? info->iSocketType : type;
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
  const WSPUPCALLTABLE upcalls = Upcalls();
  if (accepted == INVALID_SOCKET || upcalls.lpWPUModifyIFSHandle == nullptr) return accepted;
  const auto facts = FactsOf(socket);
  const SOCKET ours = upcalls.lpWPUModifyIFSHandle(facts ? facts->entry : 0, accepted, error);
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
  // WSASendMsg reaches a provider as this ioctl: a datagram's destination like send-to's.
  if (code == SIO_EXT_SENDMSG && in != nullptr && inLength >= sizeof(WSASENDMSG)) {
    if (Steering* steering = SteeringToAsk()) {
      WSASENDMSG send;
      std::memcpy(&send, in, sizeof(send));
      if (send.lpMsg != nullptr && send.lpMsg->name != nullptr) {
        Steer(*steering, lower, socket, send.lpMsg->name, send.lpMsg->namelen,
              CallKind::kDatagram);
      }
    }
  }
  const int result = lower.table.lpWSPIoctl(socket, code, in, inLength, out, outLength, returned,
                                            overlapped, completion, thread, error);
  if (result != 0) return result;
  if (code == static_cast<DWORD>(FIONBIO) && in != nullptr && inLength >= sizeof(u_long)) {
    u_long value = 0;
    std::memcpy(&value, in, sizeof(value));
    ChangeFacts(socket, [&](SocketFacts& f) { f.nonBlocking = value != 0; });
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
  if (result == 0 && events != 0) ChangeFacts(socket, [](SocketFacts& f) { f.nonBlocking = true; });
  return result;
}

int WSPAPI AsyncSelectEntry(SOCKET socket, HWND window, unsigned int message, long events,
                            LPINT error) {
  Lower& lower = LowerOf(socket);
  const int result = lower.table.lpWSPAsyncSelect(socket, window, message, events, error);
  if (result == 0 && events != 0) ChangeFacts(socket, [](SocketFacts& f) { f.nonBlocking = true; });
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
// as they were started once the last of ours goes, outside our lock.
int WSPAPI CleanupEntry(LPINT error) {
  struct Due {
    LPWSPCLEANUP cleanup;
    int times;
  };
  Due due[kMaxLowers] = {};
  AcquireSRWLockExclusive(&g_lowerLock);
  const bool last = g_ourStarts > 0 && --g_ourStarts == 0;
  if (last) {
    for (int n = 0; n < g_lowerCount.load(); ++n) {
      due[n] = {g_lowers[n].table.lpWSPCleanup, g_lowers[n].starts};
      g_lowers[n].starts = 0;
    }
    g_startedForCount = 0;
  }
  ReleaseSRWLockExclusive(&g_lowerLock);
  if (last) ForgetAll();
  int result = 0;
  for (const Due& lower : due) {
    for (int n = 0; n < lower.times; ++n) {
      if (lower.cleanup != nullptr && lower.cleanup(error) != 0) result = SOCKET_ERROR;
    }
  }
  return result;
}

void MakeTable(Lower& lower) {
  WSPPROC_TABLE& table = lower.handed;
  table = lower.table;
  table.lpWSPSocket = &SocketEntry;
  table.lpWSPCloseSocket = &CloseSocketEntry;
  table.lpWSPCleanup = &CleanupEntry;
  table.lpWSPAccept = &AcceptEntry;
  table.lpWSPConnect = &ConnectEntry;
  table.lpWSPSendTo = &SendToEntry;
  table.lpWSPIoctl = &IoctlEntry;
  table.lpWSPEventSelect = &EventSelectEntry;
  table.lpWSPAsyncSelect = &AsyncSelectEntry;
  table.lpWSPGetSockOpt = &GetSockOptEntry;
}

// Each start-up hands back what the socket layer checks of a provider: the version and data the
// provider below gave (the socket layer refuses a version of 0 with WSAEINVALIDPROVIDER) and a
// complete table, the second and every later time as the first.
int Start(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW protocol, WSPUPCALLTABLE upcalls,
          LPWSPPROC_TABLE table) {
  const std::shared_ptr<const Catalog> catalog = ReadCatalog();
  // Started for one of our chains, or by a layer above with an entry of its own; either way the
  // provider under us is the one our chain for that kind of socket leads to.
  const std::optional<Next> next = NextFor(*catalog, *protocol);
  if (!next) return WSAEPROVIDERFAILEDINIT;

  AcquireSRWLockExclusive(&g_lowerLock);
  g_upcalls = upcalls;
  if (g_ourStarts == 0) g_version = version;
  ReleaseSRWLockExclusive(&g_lowerLock);
  const int index = StartLower(next->path, next->info);
  if (index < 0) return WSAEPROVIDERFAILEDINIT;

  AcquireSRWLockExclusive(&g_lowerLock);
  ++g_ourStarts;
  *data = g_lowers[index].data;
  *table = g_lowers[index].handed;
  if (g_startedForCount < kMaxStartedFor) {
    g_startedFor[g_startedForCount++] = {protocol->ProviderId, index};
  }
  ReleaseSRWLockExclusive(&g_lowerLock);
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
  g_startedForCount = 0;
  ReleaseSRWLockExclusive(&g_lowerLock);
  ForgetAll();
  g_steering.store(nullptr);
}
