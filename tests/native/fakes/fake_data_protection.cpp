#include "fakes/fake_data_protection.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr uint8_t kMarker[] = {'F', 'D', 'P', '1'};

}  // namespace

std::optional<std::vector<uint8_t>> FakeDataProtection::Protect(const std::wstring& secret) {
  if (failProtect_) return std::nullopt;
  std::vector<uint8_t> blob(std::begin(kMarker), std::end(kMarker));
  for (const wchar_t c : secret) {
    blob.push_back(static_cast<uint8_t>(c & 0xFF));
    blob.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
  }
  blob.push_back(0);
  blob.push_back(0);
  return blob;
}

std::optional<std::wstring> FakeDataProtection::Unprotect(const std::vector<uint8_t>& blob) {
  constexpr size_t kHeader = sizeof(kMarker);
  if (failUnprotect_ || blob.size() < kHeader + 2 || (blob.size() - kHeader) % 2 != 0 ||
      !std::equal(std::begin(kMarker), std::end(kMarker), blob.begin())) {
    return std::nullopt;
  }
  std::wstring secret;
  for (size_t i = kHeader; i + 1 < blob.size(); i += 2) {
    const wchar_t c = static_cast<wchar_t>(blob[i] | (blob[i + 1] << 8));
    if (c == L'\0') break;
    secret += c;
  }
  return secret;
}
