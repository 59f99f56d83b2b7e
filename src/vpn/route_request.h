// The route-request protocol between the binding module, inside an accelerated application, and
// the client: one 5-byte message per address (type 1, then the IPv4 address in network byte
// order) answered with one byte, 1 when a host route into the tunnel exists for it, else 0.
//
// Everything here works on bytes, so the transport (a named pipe on Windows) stays thin and the
// decisions are tested and fuzzed without one. The constants and BuildRouteRequest are inline:
// the binding module uses them without linking the client's code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class CVpnRouteRequestBaseServer;

inline constexpr wchar_t kRouteRequestPipeName[] =
    L"\\\\.\\pipe\\VpnBindRouteRequest_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";
// What a client asks of the pipe: read and write messages and set the read mode. Generic write
// would include FILE_CREATE_PIPE_INSTANCE (FILE_APPEND_DATA on a pipe), which the pipe's
// access list gives nobody but the administrators and the system: whoever holds it may serve
// instances of our pipe.
inline constexpr unsigned long kRouteRequestClientAccess =
    0x0001 /* FILE_READ_DATA */ | 0x0002 /* FILE_WRITE_DATA */ |
    0x0080 /* FILE_READ_ATTRIBUTES */ | 0x0100 /* FILE_WRITE_ATTRIBUTES */ |
    0x00100000 /* SYNCHRONIZE */;
inline constexpr size_t kRouteRequestSize = 5;
inline constexpr uint8_t kRouteRequestHostRoute = 1;
inline constexpr uint8_t kRouteReplyNoRoute = 0;
inline constexpr uint8_t kRouteReplyRouted = 1;

// `address` in network byte order, first octet first on the wire.
inline std::array<uint8_t, kRouteRequestSize> BuildRouteRequest(uint32_t address) {
  return {kRouteRequestHostRoute, static_cast<uint8_t>(address & 0xFF),
          static_cast<uint8_t>((address >> 8) & 0xFF), static_cast<uint8_t>((address >> 16) & 0xFF),
          static_cast<uint8_t>(address >> 24)};
}

// What may be steered into the tunnel at all, one rule for the binding module (which never asks
// for anything else) and the server (which never grants anything else): public unicast
// addresses only. Never this network (0/8), private (10/8, 172.16/12, 192.168/16), shared
// (100.64/10), loopback (127/8), link-local (169.254/16), multicast and reserved (224/3, the
// broadcast address included): a program asking its router, its resolver on the LAN or its
// domain controller keeps them where the system routes them. `address` in network byte order.
inline bool IsSteerableDestination(uint32_t address) {
  const uint8_t a = static_cast<uint8_t>(address & 0xFF);
  const uint8_t b = static_cast<uint8_t>((address >> 8) & 0xFF);
  if (a == 0 || a == 10 || a == 127 || a >= 224) return false;
  if (a == 100 && (b & 0xC0) == 64) return false;
  if (a == 169 && b == 254) return false;
  if (a == 172 && (b & 0xF0) == 16) return false;
  return !(a == 192 && b == 168);
}

// The address a message asks for (network byte order), or 0 when the message is not a request
// (wrong length or type).
uint32_t ParseRouteRequest(const uint8_t* message, size_t size);

// Whether a host route to `address` may be sent into the tunnel: a steerable destination
// (IsSteerableDestination) that is not the tunnel's own server `tunnelServer` (a host route for
// it through the tunnel would carry the tunnel inside itself and cut it). A `tunnelServer` of 0
// stands for "not known".
bool MayRouteThroughTunnel(uint32_t address, uint32_t tunnelServer);

// Whether a message is one the binding module could send: a well-formed request for a steerable
// address. A connection that keeps sending others is not the module's.
bool IsPlausibleRouteRequest(const uint8_t* message, size_t size);

// The reply byte to one message: a host route through `server` for a well-formed request of an
// address that may go into the tunnel, else 0 without touching the routing table.
uint8_t AnswerRouteRequest(CVpnRouteRequestBaseServer& server, const uint8_t* message, size_t size,
                           uint32_t tunnelServer);

// The address of the tunnel's server as the engine names it: a dotted address, or a host name
// resolved now. 0 when it names none.
uint32_t TunnelServerAddress(const std::wstring& host);
