#include "base/adapters_info_win.h"

#include <winsock2.h>
// iphlpapi.h builds on the socket declarations.
#include <iphlpapi.h>

#include <new>

namespace {

constexpr int kSizeRounds = 4;

}  // namespace

uint32_t ReadAdaptersInfo(std::vector<std::byte>& buffer) {
  buffer.clear();
  ULONG size = 0;
  DWORD result = GetAdaptersInfo(nullptr, &size);
  for (int round = 0; round < kSizeRounds && result == ERROR_BUFFER_OVERFLOW; ++round) {
    try {
      buffer.assign(size, std::byte{});
    } catch (const std::bad_alloc&) {
      buffer.clear();
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    result = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
  }
  if (result != NO_ERROR) buffer.clear();
  return result;
}
