// Protects the saved password for the current user (DPAPI on Windows).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class DataProtection {
 public:
  virtual ~DataProtection() = default;
  // The opaque protected blob, or nothing when protection failed.
  virtual std::optional<std::vector<uint8_t>> Protect(const std::wstring& secret) = 0;
  // The secret, or nothing when the blob cannot be unprotected.
  virtual std::optional<std::wstring> Unprotect(const std::vector<uint8_t>& blob) = 0;
};
