#include "service/adapter_list_win.h"

#include <winsock2.h>
// iphlpapi.h builds on the socket declarations.
#include <iphlpapi.h>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "base/adapters_info_win.h"

std::optional<std::vector<AdapterRecord>> SystemAdapterList::Read() {
  std::vector<std::byte> buffer;
  const uint32_t result = ReadAdaptersInfo(buffer);
  if (result == ERROR_NOT_ENOUGH_MEMORY) return std::nullopt;
  if (result != NO_ERROR) {
    std::printf("GetAdaptersInfo failed with error: %d\n", static_cast<int>(result));
    std::fflush(stdout);
    return std::nullopt;
  }
  std::vector<AdapterRecord> records;
  for (auto* info = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); info;
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
