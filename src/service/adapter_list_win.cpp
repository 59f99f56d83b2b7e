#include "service/adapter_list_win.h"

#include <winsock2.h>
// iphlpapi.h builds on the socket declarations.
#include <iphlpapi.h>

#include <cstdio>
#include <vector>

std::optional<std::vector<AdapterRecord>> SystemAdapterList::Read() {
  // Room for one record first; the call tells how much the whole list needs.
  ULONG size = sizeof(IP_ADAPTER_INFO);
  std::vector<unsigned char> buffer(size);
  if (::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size) ==
      ERROR_BUFFER_OVERFLOW) {
    try {
      buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
      return std::nullopt;
    }
  }
  const DWORD result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  if (result != NO_ERROR) {
    std::printf("GetAdaptersInfo failed with error: %d\n", static_cast<int>(result));
    std::fflush(stdout);
    return std::nullopt;
  }
  std::vector<AdapterRecord> records;
  for (const IP_ADAPTER_INFO* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()); info;
       info = info->Next) {
    AdapterRecord record;
    record.type = info->Type;
    record.description.assign(info->Description,
                              strnlen(info->Description, sizeof info->Description));
    const size_t length =
        info->AddressLength < sizeof info->Address ? info->AddressLength : sizeof info->Address;
    record.address.assign(info->Address, info->Address + length);
    records.push_back(std::move(record));
  }
  return records;
}
