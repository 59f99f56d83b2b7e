#include "provider_win.h"

#include <mswsock.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app_list_reader.h"
#include "bind_state_win.h"
#include "route_request_client_win.h"
#include "steering.h"

namespace {

// ---- the catalog ----------------------------------------------------------------------------

struct CatalogEntry {
  WSAPROTOCOL_INFOW info;
  std::wstring path;  // as the catalog holds it, environment strings not yet expanded
};

SRWLOCK g_catalogLock = SRWLOCK_INIT;
std::vector<CatalogEntry>* g_testCatalog = nullptr;

std::vector<CatalogEntry> ReadSystemCatalog() {
  std::vector<CatalogEntry> catalog;
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

std::vector<CatalogEntry> ReadCatalog() {
  AcquireSRWLockShared(&g_catalogLock);
  std::vector<CatalogEntry> catalog;
  const bool test = g_testCatalog != nullptr;
  if (test) catalog = *g_testCatalog;
  ReleaseSRWLockShared(&g_catalogLock);
  return test ? catalog : ReadSystemCatalog();
}

const CatalogEntry* FindEntry(const std::vector<CatalogEntry>& catalog, DWORD id) {
  for (const auto& entry : catalog) {
    if (entry.info.dwCatalogEntryId == id) return &entry;
  }
  return nullptr;
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

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
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

// ---- steering one call ----------------------------------------------------------------------

struct Provider {
  DWORD catalogId = 0;
  int socketType = 0;
  WSAPROTOCOL_INFOW next{};
  WSPPROC_TABLE lower{};
  WSPUPCALLTABLE upcalls{};
  std::atomic<LPFN_CONNECTEX> lowerConnectEx{nullptr};
};

constexpr int kProviderSlots = 16;
Provider g_providers[kProviderSlots];
int g_providerCount = 0;
SRWLOCK g_providerLock = SRWLOCK_INIT;

struct BackgroundRequest {
  Steering* steering;
  uint32_t destination;
  HMODULE module;
};

DWORD WINAPI AskInBackground(void* parameter) {
  const BackgroundRequest request = *static_cast<BackgroundRequest*>(parameter);
  delete static_cast<BackgroundRequest*>(parameter);
  uint8_t reply = 0;
  const bool routed =
      RequestHostRouteWithin(request.destination, kRouteReplyWaitMs, reply) == ERROR_SUCCESS &&
      reply == 1;
  request.steering->Answered(request.destination, routed);
  // The thread holds the module loaded until it is out of its code.
  FreeLibraryAndExitThread(request.module, 0);
}

void AskWithoutWaiting(Steering& steering, uint32_t destination) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&AskInBackground), &module)) {
    steering.Answered(destination, false);
    return;
  }
  auto* request = new BackgroundRequest{&steering, destination, module};
  const HANDLE thread = CreateThread(nullptr, 64 * 1024, AskInBackground, request,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    delete request;
    FreeLibrary(module);
    steering.Answered(destination, false);
    return;
  }
  CloseHandle(thread);
}

void BindIfUnbound(Provider& provider, SOCKET socket, uint32_t address) {
  sockaddr_in local{};
  int length = sizeof(local);
  int error = 0;
  if (provider.lower.lpWSPGetSockName == nullptr || provider.lower.lpWSPBind == nullptr) return;
  if (provider.lower.lpWSPGetSockName(socket, reinterpret_cast<sockaddr*>(&local), &length,
                                      &error) == 0 ||
      error != WSAEINVAL) {
    return;  // bound already, or nothing we can tell
  }
  sockaddr_in tunnel{};
  tunnel.sin_family = AF_INET;
  tunnel.sin_addr.s_addr = address;
  provider.lower.lpWSPBind(socket, reinterpret_cast<const sockaddr*>(&tunnel), sizeof(tunnel),
                           &error);
}

void Steer(Provider& provider, SOCKET socket, const sockaddr* name, int length) noexcept {
  if (name == nullptr || length < static_cast<int>(sizeof(sockaddr_in))) return;
  sockaddr_in destination;
  std::memcpy(&destination, name, sizeof(destination));
  if (destination.sin_family != AF_INET) return;
  Steering* steering = g_steering.load(std::memory_order_acquire);
  if (steering == nullptr) return;
  const DWORD callerError = GetLastError();
  try {
    const uint32_t address = destination.sin_addr.s_addr;
    const SteerPlan plan = steering->Plan(address);
    if (plan.steer) {
      if (plan.bindTo != 0) BindIfUnbound(provider, socket, plan.bindTo);
      if (plan.askRoute && plan.wait) {
        uint8_t reply = 0;
        const DWORD error = RequestHostRouteWithin(address, kRouteReplyWaitMs, reply);
        steering->Answered(address, error == ERROR_SUCCESS && reply == 1);
      } else if (plan.askRoute) {
        AskWithoutWaiting(*steering, address);
      }
    }
  } catch (...) {
    // Out of memory in here must not become the program's failure.
  }
  SetLastError(callerError);
}

// ---- our dispatch entries, one set per provider slot ----------------------------------------

template <int N>
SOCKET WSPAPI SocketEntry(int family, int type, int protocol, LPWSAPROTOCOL_INFOW info, GROUP group,
                          DWORD flags, LPINT error) {
  Provider& provider = g_providers[N];
  WSAPROTOCOL_INFOW next = provider.next;
  // A duplicated socket's description travels in the reserved field.
  if (info != nullptr) next.dwProviderReserved = info->dwProviderReserved;
  const SOCKET socket = provider.lower.lpWSPSocket(family, type, protocol, &next, group, flags,
                                                   error);
  if (socket == INVALID_SOCKET || provider.upcalls.lpWPUModifyIFSHandle == nullptr) return socket;
  // The next provider's handle is ours to the system, so the calls on it come to this table.
  const SOCKET ours = provider.upcalls.lpWPUModifyIFSHandle(provider.catalogId, socket, error);
  if (ours == INVALID_SOCKET) {
    int ignored = 0;
    provider.lower.lpWSPCloseSocket(socket, &ignored);
  }
  return ours;
}

// An accepted socket is the next provider's handle too; made ours like one we created, so its
// calls reach the same table.
template <int N>
SOCKET WSPAPI AcceptEntry(SOCKET socket, sockaddr* address, LPINT length, LPCONDITIONPROC condition,
                          DWORD_PTR data, LPINT error) {
  Provider& provider = g_providers[N];
  const SOCKET accepted = provider.lower.lpWSPAccept(socket, address, length, condition, data,
                                                     error);
  if (accepted == INVALID_SOCKET || provider.upcalls.lpWPUModifyIFSHandle == nullptr) {
    return accepted;
  }
  const SOCKET ours = provider.upcalls.lpWPUModifyIFSHandle(provider.catalogId, accepted, error);
  if (ours == INVALID_SOCKET) {
    int ignored = 0;
    provider.lower.lpWSPCloseSocket(accepted, &ignored);
  }
  return ours;
}

template <int N>
int WSPAPI ConnectEntry(SOCKET socket, const sockaddr* name, int length, LPWSABUF callerData,
                        LPWSABUF calleeData, LPQOS qos, LPQOS groupQos, LPINT error) {
  Provider& provider = g_providers[N];
  Steer(provider, socket, name, length);
  return provider.lower.lpWSPConnect(socket, name, length, callerData, calleeData, qos, groupQos,
                                     error);
}

template <int N>
BOOL PASCAL ConnectExEntry(SOCKET socket, const sockaddr* name, int length, PVOID data,
                           DWORD dataLength, LPDWORD sent, LPOVERLAPPED overlapped) {
  Provider& provider = g_providers[N];
  const LPFN_CONNECTEX lower = provider.lowerConnectEx.load();
  if (lower == nullptr) {
    WSASetLastError(WSAEOPNOTSUPP);
    return FALSE;
  }
  Steer(provider, socket, name, length);
  return lower(socket, name, length, data, dataLength, sent, overlapped);
}

template <int N>
int WSPAPI SendToEntry(SOCKET socket, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags,
                       const sockaddr* to, int toLength, LPWSAOVERLAPPED overlapped,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE completion, LPWSATHREADID thread,
                       LPINT error) {
  Provider& provider = g_providers[N];
  if (provider.socketType == SOCK_DGRAM) Steer(provider, socket, to, toLength);
  return provider.lower.lpWSPSendTo(socket, buffers, count, sent, flags, to, toLength, overlapped,
                                    completion, thread, error);
}

template <int N>
int WSPAPI IoctlEntry(SOCKET socket, DWORD code, LPVOID in, DWORD inLength, LPVOID out,
                      DWORD outLength, LPDWORD returned, LPWSAOVERLAPPED overlapped,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE completion, LPWSATHREADID thread,
                      LPINT error) {
  Provider& provider = g_providers[N];
  const int result = provider.lower.lpWSPIoctl(socket, code, in, inLength, out, outLength,
                                               returned, overlapped, completion, thread, error);
  static const GUID kConnectEx = WSAID_CONNECTEX;
  if (result != 0 || code != SIO_GET_EXTENSION_FUNCTION_POINTER || in == nullptr ||
      inLength < sizeof(GUID) || out == nullptr || outLength < sizeof(LPFN_CONNECTEX) ||
      std::memcmp(in, &kConnectEx, sizeof(GUID)) != 0) {
    return result;
  }
  LPFN_CONNECTEX lower = nullptr;
  std::memcpy(&lower, out, sizeof(lower));
  if (lower == nullptr) return result;
  provider.lowerConnectEx.store(lower);
  const LPFN_CONNECTEX ours = &ConnectExEntry<N>;
  std::memcpy(out, &ours, sizeof(ours));
  return result;
}

struct Entries {
  LPWSPSOCKET socket;
  LPWSPACCEPT accept;
  LPWSPCONNECT connect;
  LPWSPSENDTO sendTo;
  LPWSPIOCTL ioctl;
};

template <size_t... N>
constexpr auto MakeEntries(std::index_sequence<N...>) {
  return std::array<Entries, sizeof...(N)>{
      Entries{&SocketEntry<N>, &AcceptEntry<N>, &ConnectEntry<N>, &SendToEntry<N>, &IoctlEntry<N>}...};
}

constexpr auto kEntries = MakeEntries(std::make_index_sequence<kProviderSlots>());

// The slot of a chain: the one it had before (the system starts a provider again after a
// cleanup), or a new one; -1 when all are taken.
int SlotFor(DWORD catalogId) {
  for (int n = 0; n < g_providerCount; ++n) {
    if (g_providers[n].catalogId == catalogId) return n;
  }
  return g_providerCount < kProviderSlots ? g_providerCount++ : -1;
}

bool HasEveryEntry(const WSPPROC_TABLE& table) {
  return table.lpWSPSocket != nullptr && table.lpWSPConnect != nullptr &&
         table.lpWSPSendTo != nullptr && table.lpWSPIoctl != nullptr &&
         table.lpWSPCloseSocket != nullptr;
}

int Start(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW protocol, WSPUPCALLTABLE upcalls,
          LPWSPPROC_TABLE table) {
  const std::vector<CatalogEntry> catalog = ReadCatalog();
  const std::wstring self = NormalizeProgramPath(ModulePath(OwnModule()));
  const WSAPROTOCOLCHAIN& chain = protocol->ProtocolChain;
  const int length = chain.ChainLen < MAX_PROTOCOL_CHAIN ? chain.ChainLen : MAX_PROTOCOL_CHAIN;
  // Our place in the chain: other layers may sit above us.
  int position = -1;
  for (int n = 0; n < length && position < 0 && !self.empty(); ++n) {
    const CatalogEntry* entry = FindEntry(catalog, chain.ChainEntries[n]);
    if (entry != nullptr && entry->info.ProtocolChain.ChainLen == LAYERED_PROTOCOL &&
        NormalizeProgramPath(ExpandPath(entry->path)) == self) {
      position = n;
    }
  }
  if (position < 0 || position + 1 >= length) return WSAEPROVIDERFAILEDINIT;
  const CatalogEntry* next = FindEntry(catalog, chain.ChainEntries[position + 1]);
  if (next == nullptr) return WSAEPROVIDERFAILEDINIT;
  // A base provider is started with its own description, a further layer with the chain's.
  const WSAPROTOCOL_INFOW nextInfo =
      next->info.ProtocolChain.ChainLen == BASE_PROTOCOL ? next->info : *protocol;

  const std::wstring path = ExpandPath(next->path);
  if (!IsFullPath(path)) return WSAEPROVIDERFAILEDINIT;
  const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) return WSAEPROVIDERFAILEDINIT;
  const auto startNext = reinterpret_cast<LPWSPSTARTUP>(
      reinterpret_cast<void*>(GetProcAddress(module, "WSPStartup")));
  if (startNext == nullptr) {
    FreeLibrary(module);
    return WSAEPROVIDERFAILEDINIT;
  }
  WSAPROTOCOL_INFOW started = nextInfo;
  WSPPROC_TABLE lower{};
  const int result = startNext(version, data, &started, upcalls, &lower);
  // The next provider stays loaded for the life of the process: sockets of its may outlive
  // any cleanup we could count.
  if (result != 0) return result;
  *table = lower;

  StartSteering();
  if (!HasEveryEntry(lower) || g_steering.load() == nullptr) return 0;  // its table as it is
  AcquireSRWLockExclusive(&g_providerLock);
  const int slot = SlotFor(protocol->dwCatalogEntryId);
  if (slot >= 0) {
    Provider& provider = g_providers[slot];
    provider.catalogId = protocol->dwCatalogEntryId;
    provider.socketType = protocol->iSocketType;
    provider.next = nextInfo;
    provider.lower = lower;
    provider.upcalls = upcalls;
    table->lpWSPSocket = kEntries[slot].socket;
    if (lower.lpWSPAccept != nullptr) table->lpWSPAccept = kEntries[slot].accept;
    table->lpWSPConnect = kEntries[slot].connect;
    table->lpWSPSendTo = kEntries[slot].sendTo;
    table->lpWSPIoctl = kEntries[slot].ioctl;
  }
  ReleaseSRWLockExclusive(&g_providerLock);
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
  auto* catalog = new std::vector<CatalogEntry>();
  for (int n = 0; n < count && entries != nullptr && paths != nullptr; ++n) {
    catalog->push_back({entries[n], paths[n] != nullptr ? paths[n] : L""});
  }
  AcquireSRWLockExclusive(&g_catalogLock);
  std::swap(g_testCatalog, catalog);
  if (count <= 0) {
    delete g_testCatalog;
    g_testCatalog = nullptr;
  }
  ReleaseSRWLockExclusive(&g_catalogLock);
  delete catalog;
  // The steering starts afresh at the next start-up; the old one stays for threads using it.
  g_steering.store(nullptr);
}
