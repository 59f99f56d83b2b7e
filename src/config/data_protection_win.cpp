#include "config/data_protection_win.h"

#include <windows.h>
// wincrypt.h needs the types windows.h declares.
#include <wincrypt.h>

#include <algorithm>

namespace {

// The audit flag; the blobs already saved by users were made with it.
constexpr DWORD kProtectFlags = 0x10;

// An empty optional entropy, as the saved blobs expect.
DATA_BLOB EmptyEntropy() {
  static char empty[] = "";
  return DATA_BLOB{0, reinterpret_cast<BYTE*>(empty)};
}

}  // namespace

std::optional<std::vector<uint8_t>> DpapiDataProtection::Protect(const std::wstring& secret) {
  static_assert(sizeof(wchar_t) == 2, "the blob holds UTF-16 code units");
  DATA_BLOB in{static_cast<DWORD>((secret.size() + 1) * sizeof(wchar_t)),
               reinterpret_cast<BYTE*>(const_cast<wchar_t*>(secret.c_str()))};
  DATA_BLOB entropy = EmptyEntropy();
  DATA_BLOB out{};
  if (!CryptProtectData(&in, L"Kavrin", &entropy, nullptr, nullptr, kProtectFlags, &out)) {
    return std::nullopt;
  }
  std::vector<uint8_t> blob(out.pbData, out.pbData + out.cbData);
  LocalFree(out.pbData);
  return blob;
}

std::optional<std::wstring> DpapiDataProtection::Unprotect(const std::vector<uint8_t>& blob) {
  DATA_BLOB in{static_cast<DWORD>(blob.size()), const_cast<BYTE*>(blob.data())};
  DATA_BLOB entropy = EmptyEntropy();
  DATA_BLOB out{};
  wchar_t* description = nullptr;
  if (!CryptUnprotectData(&in, &description, &entropy, nullptr, nullptr, kProtectFlags, &out)) {
    return std::nullopt;
  }
  if (description != nullptr) LocalFree(description);
  // The text ends at its NUL; a blob without one (or of odd size) yields what whole units it has.
  const auto* units = reinterpret_cast<const wchar_t*>(out.pbData);
  const size_t count = out.cbData / sizeof(wchar_t);
  std::wstring secret(units, std::find(units, units + count, L'\0'));
  SecureZeroMemory(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return secret;
}
