// KavrinTestProvider.dll: a base provider of the socket layer for tests only, never shipped. The
// binding module is chained over it in processes where the system does not load providers
// itself. It makes no real sockets: it hands out numbers, remembers what each was bound to and
// writes every call it gets as one line ("connect 1.2.3.4:80 from 10.8.0.6:0") for the test to
// take with TestProviderEvents.
#include <winsock2.h>
#include <ws2spi.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

struct FakeSocket {
  int type = 0;
  WSAPROTOCOL_INFOW info{};  // the entry it was made with
  bool bound = false;
  sockaddr_in local{};
};

std::mutex g_mutex;
std::string g_events;
std::atomic<bool> g_quiet{false};
std::map<SOCKET, FakeSocket> g_sockets;
SOCKET g_nextSocket = 0x4000;
// Started inside the next start-up with its own arguments, once: a layer below the module that
// starts a provider which is the module again, on the same thread.
std::atomic<LPWSPSTARTUP> g_reenter{nullptr};

std::string Text(const sockaddr* address, int length) {
  sockaddr_in6 in6{};
  if (address != nullptr && length >= static_cast<int>(sizeof(in6))) {
    std::memcpy(&in6, address, sizeof(in6));
  }
  if (in6.sin6_family == AF_INET6) {
    const unsigned char* b = in6.sin6_addr.s6_addr;
    char text[64];
    std::snprintf(text, sizeof(text), "[::ffff:%u.%u.%u.%u]:%u", b[12], b[13], b[14], b[15],
                  ntohs(in6.sin6_port));
    return text;
  }
  if (address == nullptr || length < static_cast<int>(sizeof(sockaddr_in))) return "none";
  sockaddr_in in;
  std::memcpy(&in, address, sizeof(in));
  const auto* b = reinterpret_cast<const unsigned char*>(&in.sin_addr.s_addr);
  char text[32];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u:%u", b[0], b[1], b[2], b[3], ntohs(in.sin_port));
  return text;
}

void Log(const std::string& line) {
  std::lock_guard lock(g_mutex);
  if (g_quiet) return;
  g_events += line + "\n";
}

std::string LocalOf(SOCKET s) {
  std::lock_guard lock(g_mutex);
  const auto found = g_sockets.find(s);
  if (found == g_sockets.end() || !found->second.bound) return "none";
  return Text(reinterpret_cast<const sockaddr*>(&found->second.local), sizeof(sockaddr_in));
}

SOCKET WSPAPI Socket(int, int type, int, LPWSAPROTOCOL_INFOW info, GROUP, DWORD, LPINT) {
  std::lock_guard lock(g_mutex);
  const SOCKET s = g_nextSocket;
  g_nextSocket += 4;
  g_sockets[s].type = type;
  if (info != nullptr) g_sockets[s].info = *info;
  g_events += "socket " + std::to_string(type) + " as " +
              std::to_string(info != nullptr ? info->dwCatalogEntryId : 0) + "\n";
  return s;
}

int WSPAPI CloseSocket(SOCKET s, LPINT) {
  std::lock_guard lock(g_mutex);
  g_sockets.erase(s);
  return 0;
}

int WSPAPI Bind(SOCKET s, const sockaddr* name, int length, LPINT error) {
  Log("bind " + Text(name, length));
  std::lock_guard lock(g_mutex);
  auto& socket = g_sockets[s];
  if (socket.bound || name == nullptr || length < static_cast<int>(sizeof(sockaddr_in))) {
    *error = WSAEINVAL;
    return SOCKET_ERROR;
  }
  socket.bound = true;
  std::memcpy(&socket.local, name, sizeof(socket.local));
  return 0;
}

int WSPAPI GetSockName(SOCKET s, sockaddr* name, LPINT length, LPINT error) {
  std::lock_guard lock(g_mutex);
  const auto found = g_sockets.find(s);
  if (found == g_sockets.end() || !found->second.bound) {
    *error = WSAEINVAL;
    return SOCKET_ERROR;
  }
  std::memcpy(name, &found->second.local, sizeof(sockaddr_in));
  *length = sizeof(sockaddr_in);
  return 0;
}

// Answers only the socket's protocol information: the entry it was made with.
int WSPAPI GetSockOpt(SOCKET s, int level, int option, char* value, LPINT length, LPINT error) {
  std::lock_guard lock(g_mutex);
  const auto found = g_sockets.find(s);
  if (found == g_sockets.end() || level != SOL_SOCKET || option != SO_PROTOCOL_INFOW ||
      *length < static_cast<int>(sizeof(WSAPROTOCOL_INFOW))) {
    *error = WSAENOPROTOOPT;
    return SOCKET_ERROR;
  }
  std::memcpy(value, &found->second.info, sizeof(WSAPROTOCOL_INFOW));
  *length = sizeof(WSAPROTOCOL_INFOW);
  return 0;
}

int WSPAPI Connect(SOCKET s, const sockaddr* name, int length, LPWSABUF, LPWSABUF, LPQOS, LPQOS,
                   LPINT error) {
  if (g_quiet) {
    *error = WSAECONNREFUSED;
    return SOCKET_ERROR;
  }
  Log("connect " + Text(name, length) + " from " + LocalOf(s));
  // A distinct failure, so a test sees the result come back unchanged.
  *error = WSAECONNREFUSED;
  return SOCKET_ERROR;
}

BOOL PASCAL ConnectEx(SOCKET s, const sockaddr* name, int length, PVOID, DWORD, LPDWORD,
                      LPOVERLAPPED) {
  Log("connectex " + Text(name, length) + " from " + LocalOf(s));
  return TRUE;
}

int WSPAPI SendTo(SOCKET, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD, const sockaddr* to,
                  int length, LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID,
                  LPINT) {
  Log("sendto " + Text(to, length));
  *sent = count > 0 ? buffers[0].len : 0;
  return 0;
}

int WSPAPI Send(SOCKET, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD, LPWSAOVERLAPPED,
                LPWSAOVERLAPPED_COMPLETION_ROUTINE, LPWSATHREADID, LPINT) {
  *sent = count > 0 ? buffers[0].len : 0;
  Log("send " + std::to_string(*sent));
  return 0;
}

int WSPAPI Ioctl(SOCKET, DWORD code, LPVOID in, DWORD inLength, LPVOID out, DWORD outLength,
                 LPDWORD returned, LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE,
                 LPWSATHREADID, LPINT error) {
  static const GUID kConnectEx = WSAID_CONNECTEX;
  if (code == SIO_GET_EXTENSION_FUNCTION_POINTER && inLength >= sizeof(GUID) &&
      std::memcmp(in, &kConnectEx, sizeof(GUID)) == 0 && outLength >= sizeof(LPFN_CONNECTEX)) {
    const LPFN_CONNECTEX function = &ConnectEx;
    std::memcpy(out, &function, sizeof(function));
    *returned = sizeof(function);
    return 0;
  }
  if (code == static_cast<DWORD>(FIONBIO)) {
    Log("nonblocking");
    return 0;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "ioctl %08lx", static_cast<unsigned long>(code));
  Log(text);
  *error = WSAEOPNOTSUPP;
  return SOCKET_ERROR;
}

// Every entry the recording ones leave: the socket layer refuses a table with an empty one.
template <typename Entry>
struct Unsupported;
template <typename Result, typename... Arguments>
struct Unsupported<Result(WSPAPI*)(Arguments...)> {
  static Result WSPAPI Call(Arguments...) { return static_cast<Result>(SOCKET_ERROR); }
};
template <typename Entry>
void FillEmpty(Entry& entry) {
  if (entry == nullptr) entry = &Unsupported<Entry>::Call;
}

void FillTable(WSPPROC_TABLE& t) {
  FillEmpty(t.lpWSPAccept), FillEmpty(t.lpWSPAddressToString), FillEmpty(t.lpWSPAsyncSelect);
  FillEmpty(t.lpWSPBind), FillEmpty(t.lpWSPCancelBlockingCall), FillEmpty(t.lpWSPCleanup);
  FillEmpty(t.lpWSPCloseSocket), FillEmpty(t.lpWSPConnect), FillEmpty(t.lpWSPDuplicateSocket);
  FillEmpty(t.lpWSPEnumNetworkEvents), FillEmpty(t.lpWSPEventSelect);
  FillEmpty(t.lpWSPGetOverlappedResult), FillEmpty(t.lpWSPGetPeerName);
  FillEmpty(t.lpWSPGetSockName), FillEmpty(t.lpWSPGetSockOpt), FillEmpty(t.lpWSPGetQOSByName);
  FillEmpty(t.lpWSPIoctl), FillEmpty(t.lpWSPJoinLeaf), FillEmpty(t.lpWSPListen);
  FillEmpty(t.lpWSPRecv), FillEmpty(t.lpWSPRecvDisconnect), FillEmpty(t.lpWSPRecvFrom);
  FillEmpty(t.lpWSPSelect), FillEmpty(t.lpWSPSend), FillEmpty(t.lpWSPSendDisconnect);
  FillEmpty(t.lpWSPSendTo), FillEmpty(t.lpWSPSetSockOpt), FillEmpty(t.lpWSPShutdown);
  FillEmpty(t.lpWSPSocket), FillEmpty(t.lpWSPStringToAddress);
}

int WSPAPI Cleanup(LPINT) {
  Log("cleanup");
  return 0;
}

}  // namespace

extern "C" {

__declspec(dllexport) int WSPAPI WSPStartup(WORD, LPWSPDATA data, LPWSAPROTOCOL_INFOW protocol,
                                            WSPUPCALLTABLE upcalls, LPWSPPROC_TABLE table) {
  Log("startup " + std::to_string(protocol->dwCatalogEntryId));
  if (const LPWSPSTARTUP reenter = g_reenter.exchange(nullptr)) {
    WSPDATA nestedData{};
    WSPPROC_TABLE nestedTable{};
    Log("reentered " + std::to_string(reenter(MAKEWORD(2, 2), &nestedData, protocol, upcalls,
                                              &nestedTable)));
  }
  data->wVersion = data->wHighVersion = MAKEWORD(2, 2);
  *table = WSPPROC_TABLE{};
  table->lpWSPSocket = &Socket;
  table->lpWSPCloseSocket = &CloseSocket;
  table->lpWSPBind = &Bind;
  table->lpWSPGetSockName = &GetSockName;
  table->lpWSPGetSockOpt = &GetSockOpt;
  table->lpWSPConnect = &Connect;
  table->lpWSPSendTo = &SendTo;
  table->lpWSPSend = &Send;
  table->lpWSPIoctl = &Ioctl;
  table->lpWSPCleanup = &Cleanup;
  FillTable(*table);
  return 0;
}

// The calls since the last time, one per line; the length of the whole text (it is cut to fit
// `size`, terminator included).
__declspec(dllexport) int __stdcall TestProviderEvents(char* buffer, int size) {
  std::lock_guard lock(g_mutex);
  const int length = static_cast<int>(g_events.size());
  if (buffer != nullptr && size > 0) {
    const int copied = length < size - 1 ? length : size - 1;
    std::memcpy(buffer, g_events.data(), copied);
    buffer[copied] = '\0';
  }
  g_events.clear();
  return length;
}

// The next start-up first starts `start` (another provider's WSPStartup) with its own arguments.
__declspec(dllexport) void __stdcall TestProviderReenterOnce(LPWSPSTARTUP start) {
  g_reenter = start;
}

// Quiet: connects return at once and nothing is written, so a benchmark times only its caller.
__declspec(dllexport) void __stdcall TestProviderQuiet(BOOL quiet) {
  g_quiet = quiet != FALSE;
}

}  // extern "C"
