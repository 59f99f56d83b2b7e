#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "base/socket.h"

static_assert(sizeof(SOCKET) == sizeof(SocketHandle));
static_assert(INVALID_SOCKET == kNoSocket);

namespace {

SOCKET Sock(SocketHandle socket) { return static_cast<SOCKET>(socket); }

}  // namespace

bool SocketLibraryStartup() {
  WSADATA data;
  return ::WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

void SocketLibraryCleanup() { ::WSACleanup(); }

SocketHandle OpenTcpSocket() {
  return static_cast<SocketHandle>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

void CloseSocket(SocketHandle socket) {
  if (socket == kNoSocket) return;
  ::closesocket(Sock(socket));
}

void AbortSocket(SocketHandle socket) { CloseSocket(socket); }

void ReleaseAbortedSocket(SocketHandle) {}

uint32_t ParseIpv4OrNone(const std::string& host) { return ::inet_addr(host.c_str()); }

// gethostbyname keeps its result per thread in Winsock, and unlike getaddrinfo it exists on every
// Windows the program runs on.
bool ResolveIpv4Address(const std::string& host, uint32_t* address) {
  const hostent* entry = ::gethostbyname(host.c_str());
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
      entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
    return false;
  }
  std::memcpy(address, entry->h_addr_list[0], 4);
  return true;
}

bool ConnectIpv4(SocketHandle socket, uint32_t address, uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = address;
  peer.sin_port = htons(port);
  return ::connect(Sock(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
}

long SendOnce(SocketHandle socket, const char* data, size_t size) {
  const int chunk = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
  const int sent = ::send(Sock(socket), data, chunk, 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

bool SendAll(SocketHandle socket, const char* data, size_t size) {
  while (size > 0) {
    const long sent = SendOnce(socket, data, size);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool WaitReadable(SocketHandle socket) {
  fd_set readable;
  fd_set exceptional;
  FD_ZERO(&readable);
  FD_ZERO(&exceptional);
  FD_SET(Sock(socket), &readable);
  FD_SET(Sock(socket), &exceptional);
  const int rc = ::select(0, &readable, nullptr, &exceptional, nullptr);
  if (rc == SOCKET_ERROR || rc <= 0) return false;
  return !FD_ISSET(Sock(socket), &exceptional);
}

long BytesWaiting(SocketHandle socket) {
  u_long waiting = 0;
  if (::ioctlsocket(Sock(socket), FIONREAD, &waiting) != 0) return -1;
  return waiting > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<long>(waiting);
}

long ReceiveOnce(SocketHandle socket, char* buffer, size_t size) {
  const int chunk = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
  const int got = ::recv(Sock(socket), buffer, chunk, 0);
  return got == SOCKET_ERROR ? -1 : got;
}

void ShutdownSending(SocketHandle socket) { ::shutdown(Sock(socket), SD_SEND); }

SocketHandle ListenOnLoopback(uint16_t port, uint16_t* boundPort) {
  const SocketHandle socket = OpenTcpSocket();
  if (socket == kNoSocket) return kNoSocket;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  local.sin_port = htons(port);
  int length = sizeof local;
  if (::bind(Sock(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(Sock(socket), 16) != 0 ||
      ::getsockname(Sock(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    CloseSocket(socket);
    return kNoSocket;
  }
  if (boundPort) *boundPort = ntohs(local.sin_port);
  return socket;
}

SocketHandle AcceptConnection(SocketHandle listening) {
  return static_cast<SocketHandle>(::accept(Sock(listening), nullptr, nullptr));
}

SocketHandle OpenUdpSocket() {
  const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (socket == INVALID_SOCKET) return kNoSocket;
  // Otherwise an ICMP port-unreachable for one datagram fails the next receive with
  // WSAECONNRESET, whichever peer that datagram came from.
  constexpr DWORD kSioUdpConnReset = 0x9800000C;  // _WSAIOW(IOC_VENDOR, 12)
  BOOL report = FALSE;
  DWORD returned = 0;
  ::WSAIoctl(socket, kSioUdpConnReset, &report, sizeof report, nullptr, 0, &returned, nullptr,
             nullptr);
  return static_cast<SocketHandle>(socket);
}

bool SetNonBlocking(SocketHandle socket) {
  u_long on = 1;
  return ::ioctlsocket(Sock(socket), FIONBIO, &on) == 0;
}

bool BindIpv4(SocketHandle socket, uint32_t address, uint16_t port, uint16_t* boundPort) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = address;
  local.sin_port = htons(port);
  int length = sizeof local;
  if (::bind(Sock(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::getsockname(Sock(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return false;
  }
  if (boundPort) *boundPort = ntohs(local.sin_port);
  return true;
}

long SendToIpv4(SocketHandle socket, const char* data, size_t size, uint32_t address,
                uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = address;
  peer.sin_port = htons(port);
  const int chunk = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
  const int sent = ::sendto(Sock(socket), data, chunk, 0, reinterpret_cast<const sockaddr*>(&peer),
                            sizeof peer);
  return sent == SOCKET_ERROR ? -1 : sent;
}

long ReceiveFromIpv4(SocketHandle socket, char* buffer, size_t size, uint32_t* address,
                     uint16_t* port) {
  sockaddr_in peer{};
  int length = sizeof peer;
  const int chunk = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
  int got = ::recvfrom(Sock(socket), buffer, chunk, 0, reinterpret_cast<sockaddr*>(&peer), &length);
  // Winsock fails a cut datagram with WSAEMSGSIZE but still delivers its first `size` bytes.
  if (got == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE) got = chunk;
  if (got == SOCKET_ERROR) return -1;
  if (address) *address = peer.sin_addr.s_addr;
  if (port) *port = ntohs(peer.sin_port);
  return got;
}

int WaitReadableFor(SocketHandle socket, uint32_t milliseconds) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Sock(socket), &readable);
  timeval limit{};
  limit.tv_sec = static_cast<long>(milliseconds / 1000);
  limit.tv_usec = static_cast<long>((milliseconds % 1000) * 1000);
  const int rc = ::select(0, &readable, nullptr, nullptr, &limit);
  if (rc == SOCKET_ERROR) return -1;
  return rc > 0 ? 1 : 0;
}

std::string FormatIpv4Address(uint32_t address) {
  in_addr in{};
  in.s_addr = address;
  const char* text = ::inet_ntoa(in);
  return text ? std::string(text) : std::string();
}
