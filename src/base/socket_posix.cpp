#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/socket.h"

namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

}  // namespace

bool SocketLibraryStartup() { return true; }
void SocketLibraryCleanup() {}

SocketHandle OpenTcpSocket() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? kNoSocket : static_cast<SocketHandle>(fd);
}

void CloseSocket(SocketHandle socket) {
  if (socket == kNoSocket) return;
  ::close(Fd(socket));
}

void AbortSocket(SocketHandle socket) {
  if (socket == kNoSocket) return;
  ::shutdown(Fd(socket), SHUT_RDWR);
}

void ReleaseAbortedSocket(SocketHandle socket) { CloseSocket(socket); }

uint32_t ParseIpv4OrNone(const std::string& host) { return ::inet_addr(host.c_str()); }

// getaddrinfo rather than gethostbyname: several requests look names up at once, and
// gethostbyname's result is shared by every thread here.
bool ResolveIpv4Address(const std::string& host, uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return true;
}

bool ConnectIpv4(SocketHandle socket, uint32_t address, uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = address;
  peer.sin_port = htons(port);
  int rc;
  do {
    rc = ::connect(Fd(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

// MSG_NOSIGNAL: a peer that has gone away must fail the send, not raise SIGPIPE and end the
// process.
long SendOnce(SocketHandle socket, const char* data, size_t size) {
  ssize_t sent;
  do {
    sent = ::send(Fd(socket), data, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return static_cast<long>(sent);
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

// poll, not select: select cannot take a descriptor numbered FD_SETSIZE or above.
bool WaitReadable(SocketHandle socket) {
  pollfd entry{Fd(socket), POLLIN | POLLPRI, 0};
  int rc;
  do {
    rc = ::poll(&entry, 1, -1);
  } while (rc < 0 && errno == EINTR);
  if (rc <= 0) return false;
  return (entry.revents & (POLLPRI | POLLNVAL)) == 0;
}

long BytesWaiting(SocketHandle socket) {
  int waiting = 0;
  if (::ioctl(Fd(socket), FIONREAD, &waiting) != 0) return -1;
  return waiting;
}

long ReceiveOnce(SocketHandle socket, char* buffer, size_t size) {
  ssize_t got;
  do {
    got = ::recv(Fd(socket), buffer, size, 0);
  } while (got < 0 && errno == EINTR);
  return static_cast<long>(got);
}

void ShutdownSending(SocketHandle socket) { ::shutdown(Fd(socket), SHUT_WR); }

SocketHandle ListenOnLoopback(uint16_t port, uint16_t* boundPort) {
  const SocketHandle socket = OpenTcpSocket();
  if (socket == kNoSocket) return kNoSocket;
  const int yes = 1;
  ::setsockopt(Fd(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  local.sin_port = htons(port);
  socklen_t length = sizeof local;
  if (::bind(Fd(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(Fd(socket), 16) != 0 ||
      ::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    CloseSocket(socket);
    return kNoSocket;
  }
  if (boundPort) *boundPort = ntohs(local.sin_port);
  return socket;
}

SocketHandle AcceptConnection(SocketHandle listening) {
  int fd;
  do {
    fd = ::accept4(Fd(listening), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kNoSocket : static_cast<SocketHandle>(fd);
}

SocketHandle OpenUdpSocket() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? kNoSocket : static_cast<SocketHandle>(fd);
}

bool SetNonBlocking(SocketHandle socket) {
  int on = 1;
  return ::ioctl(Fd(socket), FIONBIO, &on) == 0;
}

bool BindIpv4(SocketHandle socket, uint32_t address, uint16_t port, uint16_t* boundPort) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = address;
  local.sin_port = htons(port);
  socklen_t length = sizeof local;
  if (::bind(Fd(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
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
  ssize_t sent;
  do {
    sent = ::sendto(Fd(socket), data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&peer),
                    sizeof peer);
  } while (sent < 0 && errno == EINTR);
  return static_cast<long>(sent);
}

long ReceiveFromIpv4(SocketHandle socket, char* buffer, size_t size, uint32_t* address,
                     uint16_t* port) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  ssize_t got;
  do {
    got = ::recvfrom(Fd(socket), buffer, size, 0, reinterpret_cast<sockaddr*>(&peer), &length);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return -1;
  if (address) *address = peer.sin_addr.s_addr;
  if (port) *port = ntohs(peer.sin_port);
  return static_cast<long>(got);
}

int WaitReadableFor(SocketHandle socket, uint32_t milliseconds) {
  pollfd entry{Fd(socket), POLLIN, 0};
  const int limit = milliseconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(milliseconds);
  const int rc = ::poll(&entry, 1, limit);
  if (rc < 0) return errno == EINTR ? 0 : -1;
  if (rc == 0) return 0;
  return (entry.revents & POLLNVAL) != 0 ? -1 : 1;
}

std::string FormatIpv4Address(uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr in{};
  in.s_addr = address;
  return ::inet_ntop(AF_INET, &in, text, sizeof text) ? std::string(text) : std::string();
}
