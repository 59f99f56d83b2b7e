// The network adapters as the system lists them, in its order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct AdapterRecord {
  uint32_t type = 0;        // the system's interface type number
  std::string description;  // narrow text as the system gives it
  std::vector<uint8_t> address;
};

class AdapterList {
 public:
  virtual ~AdapterList() = default;
  // Empty when the list cannot be read.
  virtual std::optional<std::vector<AdapterRecord>> Read() = 0;
};
