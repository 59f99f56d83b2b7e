// The binding module's side of the route-request pipe: what it does for each destination an
// accelerated application connects to, before the connection goes out.
#pragma once

#include <windows.h>

#include <cstdint>

// How long a request waits for a free pipe instance when the client's are all busy.
inline constexpr DWORD kRouteRequestWaitMs = 5000;

// Connects to the client's pipe, sends the request for `address` (network byte order) and reads
// the one-byte reply into `reply` (1 = a host route into the tunnel exists). 0, or the system
// error number of the step that failed (ERROR_FILE_NOT_FOUND when no client is listening,
// ERROR_SEM_TIMEOUT when every instance stayed busy, ERROR_INVALID_DATA for a reply that is not
// one byte, ERROR_ACCESS_DENIED when the pipe's server is not the published client).
DWORD RequestHostRoute(uint32_t address, uint8_t& reply);

// The same exchange as a steered call makes it: everything, the wait for a free instance
// included, within `timeoutMs`; on time-out the exchange is cancelled and ERROR_TIMEOUT returned.
// The pipe's server must be the process `clientProcessId` (the one that published the binding):
// any other process that took the name first is not told where the program connects, and the
// exchange fails with ERROR_ACCESS_DENIED.
DWORD RequestHostRouteWithin(uint32_t address, DWORD timeoutMs, DWORD clientProcessId,
                             uint8_t& reply);
