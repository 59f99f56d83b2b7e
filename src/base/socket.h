// The few TCP socket calls the program makes, over Winsock on Windows and BSD sockets natively.
//
// Every call is blocking and reports failure as false or a negative count; callers only need to
// know whether to go on. Addresses are IPv4 in network byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};

// Winsock needs a start-up before its first call and a matching clean-up; natively both are
// no-ops. Calls nest.
bool SocketLibraryStartup();
void SocketLibraryCleanup();

SocketHandle OpenTcpSocket();
void CloseSocket(SocketHandle socket);

// Makes a call that another thread is blocked in on `socket` (connect, wait, receive) return with
// a failure, and every later call on it fail. Winsock does that when the socket is closed, so
// there it is closed here. A BSD socket keeps waiting when closed and is shut down instead; it
// is closed by ReleaseAbortedSocket once the other thread is done with it, so that its
// descriptor cannot be handed to someone else while that thread may still use it.
void AbortSocket(SocketHandle socket);
void ReleaseAbortedSocket(SocketHandle socket);

// A dotted IPv4 address as inet_addr reads it; 0xFFFFFFFF (INADDR_NONE) when it is not one.
uint32_t ParseIpv4OrNone(const std::string& host);
// The first IPv4 address the name resolves to; false when there is none.
bool ResolveIpv4Address(const std::string& host, uint32_t* address);

bool ConnectIpv4(SocketHandle socket, uint32_t address, uint16_t port);
// One send call: the count sent, or -1.
long SendOnce(SocketHandle socket, const char* data, size_t size);
// Sends everything, looping over partial sends.
bool SendAll(SocketHandle socket, const char* data, size_t size);
// Waits without limit until the socket is readable (data, end of stream or error pending).
// False on an error or an exceptional condition.
bool WaitReadable(SocketHandle socket);
// Bytes that can be received without blocking, or -1 on an error.
long BytesWaiting(SocketHandle socket);
// One receive call: the count received, 0 at end of stream, -1 on an error.
long ReceiveOnce(SocketHandle socket, char* buffer, size_t size);
// Half-closes the sending side, so the peer sees the end of the stream.
void ShutdownSending(SocketHandle socket);

// Listening on 127.0.0.1: `port` 0 picks a free port, reported back through `boundPort`.
SocketHandle ListenOnLoopback(uint16_t port, uint16_t* boundPort);
// Waits for the next connection; kNoSocket when the listening socket fails or is aborted.
SocketHandle AcceptConnection(SocketHandle listening);

// UDP, for the time-service probe. Datagram sockets are opened non-blocking by the caller with
// SetNonBlocking; on Windows a port-unreachable answer to an earlier datagram is not reported as
// an error of a later receive (it would look like a failed socket).
SocketHandle OpenUdpSocket();
bool SetNonBlocking(SocketHandle socket);
// Binds to `address` (network byte order, 0 = any) and `port` (0 = any free one, reported back
// through `boundPort` when given).
bool BindIpv4(SocketHandle socket, uint32_t address, uint16_t port, uint16_t* boundPort);
// One datagram: the count sent, or -1.
long SendToIpv4(SocketHandle socket, const char* data, size_t size, uint32_t address,
                uint16_t port);
// One datagram and its sender: the count received, or -1 when none is waiting on a non-blocking
// socket or the call failed. A datagram longer than `size` is cut.
long ReceiveFromIpv4(SocketHandle socket, char* buffer, size_t size, uint32_t* address,
                     uint16_t* port);
// Waits at most `milliseconds` for the socket to become readable: 1 readable, 0 time-out,
// -1 error.
int WaitReadableFor(SocketHandle socket, uint32_t milliseconds);
// "a.b.c.d" of an address in network byte order.
std::string FormatIpv4Address(uint32_t address);
