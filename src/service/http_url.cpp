#include "service/http_url.h"

#include <climits>

namespace {

constexpr size_t kSchemeLength = 7;  // "http://"

bool HasControlCharacter(std::wstring_view text) {
  for (const wchar_t c : text) {
    if (static_cast<uint32_t>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// atoi: leading blanks, a sign, digits up to the first other character; saturated instead of
// undefined on overflow.
int32_t AtoiText(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > int64_t{INT_MAX} + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

std::optional<HttpUrl> ParseHttpUrl(std::wstring_view url) {
  if (url.size() < kSchemeLength + 1 || HasControlCharacter(url)) return std::nullopt;
  const std::wstring_view rest = url.substr(kSchemeLength);
  const size_t slash = rest.find(L'/');
  if (slash == std::wstring_view::npos) return std::nullopt;
  HttpUrl parsed;
  parsed.path = rest.substr(slash);
  const std::wstring_view hostPart = rest.substr(0, slash);
  const size_t colon = hostPart.find(L':');
  if (colon == std::wstring_view::npos) {
    parsed.host = hostPart;
  } else {
    parsed.host = hostPart.substr(0, colon);
    // The port is cut to 16 bits, as a C library atoi stored into an unsigned short would be.
    parsed.port =
        static_cast<uint16_t>(static_cast<uint32_t>(AtoiText(hostPart.substr(colon + 1))));
  }
  return parsed;
}

std::wstring BuildRequestText(const HttpUrl& url) {
  return L"GET " + url.path + L" HTTP/1.1\r\nHost: " + url.host + L"\r\nConnection: close\r\n\r\n";
}

std::wstring PercentEncode(std::string_view narrow) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring out;
  out.reserve(narrow.size() * 3);
  for (const char c : narrow) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
        (byte >= 'A' && byte <= 'Z')) {
      out += static_cast<wchar_t>(byte);
    } else {
      out += L'%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}
