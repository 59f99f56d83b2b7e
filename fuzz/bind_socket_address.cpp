// The socket address a program hands to connect, ConnectEx or send-to, as the binding module
// reads it before the call goes on: any bytes of any length.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bind/steering.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto address = Ipv4Destination(data, size);
  if (address && size < 8) __builtin_trap();  // never read past what was given
  if (address) IsSteerableDestination(*address);
  return 0;
}
