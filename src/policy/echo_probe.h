// One ICMP echo to an IPv4 address: the system's ICMP helper on Windows, a fake in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct EchoReply {
  uint32_t address = 0;  // network byte order
  uint32_t roundTripMs = 0;
  uint32_t status = 0;  // 0 = success
  std::vector<uint8_t> body;
};

class EchoProbe {
 public:
  virtual ~EchoProbe() = default;
  // Sends `request` as the echo body and waits up to `timeoutMs`. True when exactly one reply
  // came back (whatever its status), which is then in `reply`.
  virtual bool SendEcho(uint32_t address, const std::vector<uint8_t>& request, uint32_t timeoutMs,
                        EchoReply& reply) = 0;
};

// Every echo worker makes its own probe (its own copy of the system's functions); null when the
// system has none, and every echo of that worker fails.
using EchoProbeFactory = std::function<std::unique_ptr<EchoProbe>()>;
