// DataProtection through the system's per-user data protection (DPAPI).
#pragma once

#include "config/data_protection.h"

class DpapiDataProtection final : public DataProtection {
 public:
  // Protects the text as UTF-16LE including its terminating NUL, described as "Kavrin".
  std::optional<std::vector<uint8_t>> Protect(const std::wstring& secret) override;
  std::optional<std::wstring> Unprotect(const std::vector<uint8_t>& blob) override;
};
