// The system's IPv4 adapter list (GetAdaptersInfo), read whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Fills `buffer` with the list: its first IP_ADAPTER_INFO starts at buffer.data(), the rest
// follow Next. Answers the system's error code: ERROR_NO_DATA (232) when the host has no
// adapter, ERROR_NOT_ENOUGH_MEMORY when the room could not be had. The list can grow between
// asking for its size and reading it; a few rounds settle that.
uint32_t ReadAdaptersInfo(std::vector<std::byte>& buffer);
