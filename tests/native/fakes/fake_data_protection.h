// DataProtection stand-in: a recognisable, reversible blob (a marker, then the text as
// little-endian 16-bit units with its NUL), with switches to make either direction fail.
#pragma once

#include "config/data_protection.h"

class FakeDataProtection : public DataProtection {
 public:
  std::optional<std::vector<uint8_t>> Protect(const std::wstring& secret) override;
  std::optional<std::wstring> Unprotect(const std::vector<uint8_t>& blob) override;

  void setFailProtect(bool fail) { failProtect_ = fail; }
  void setFailUnprotect(bool fail) { failUnprotect_ = fail; }

 private:
  bool failProtect_ = false;
  bool failUnprotect_ = false;
};
