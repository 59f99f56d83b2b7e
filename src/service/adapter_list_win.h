// The adapter list from GetAdaptersInfo.
#pragma once

#include "service/adapter_list.h"

class SystemAdapterList final : public AdapterList {
 public:
  // Prints the diagnostic line to the standard output when the list cannot be read.
  std::optional<std::vector<AdapterRecord>> Read() override;
};
