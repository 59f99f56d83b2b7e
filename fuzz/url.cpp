// Arbitrary text as a request address: a parsed address must give a request of exactly four
// lines, a path that starts with "/", and a host with neither "/" nor ":"; percent-encoding must
// give only letters, digits and well-formed escapes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/text.h"
#include "service/http_url.h"

namespace {

bool IsAlnum(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::wstring url = Utf8ToWide(bytes);
  if (const auto parsed = ParseHttpUrl(url)) {
    if (parsed->path.empty() || parsed->path.front() != L'/') std::abort();
    if (parsed->host.find_first_of(L"/:") != std::wstring::npos) std::abort();
    const std::wstring request = BuildRequestText(*parsed);
    size_t lineEnds = 0;
    for (size_t i = 0; i < request.size(); ++i) {
      if (request[i] == L'\n' || request[i] == L'\r') {
        if (request.compare(i, 2, L"\r\n") != 0) std::abort();
        ++lineEnds;
        ++i;
      }
    }
    if (lineEnds != 4) std::abort();
  }

  const std::wstring encoded = PercentEncode(bytes);
  size_t expected = 0;
  for (const char c : bytes) expected += IsAlnum(static_cast<unsigned char>(c)) ? 1 : 3;
  if (encoded.size() != expected) std::abort();
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (IsAlnum(encoded[i])) continue;
    if (encoded[i] != L'%' || i + 2 >= encoded.size()) std::abort();
    i += 2;
  }
  return 0;
}
