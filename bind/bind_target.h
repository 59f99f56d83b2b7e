// The tunnel address the module steers chosen applications' sockets to, kept while the client
// has the binding started. Plain data, so the module's state needs no constructor at load time.
#pragma once

#include <cstdint>
#include <optional>

struct BindTarget {
  uint32_t count = 0;
  // Network byte order, as the client's inet_addr gives it.
  uint32_t localAddress = 0;
};

// The client converts the tunnel's address with inet_addr without checking the result. A missing
// address (0.0.0.0) or a malformed one (INADDR_NONE, all bits set) would bind sockets to any
// interface or to the broadcast address, so such a start leaves the binding stopped.
inline std::optional<BindTarget> MakeBindTarget(uint32_t count, uint32_t localAddress) {
  constexpr uint32_t kNoAddress = 0;
  constexpr uint32_t kMalformedAddress = 0xFFFFFFFFu;
  if (localAddress == kNoAddress || localAddress == kMalformedAddress) return std::nullopt;
  return BindTarget{count, localAddress};
}
