// The address forms the HTTP client takes apart and the query-string encoding its callers use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct HttpUrl {
  std::wstring host;  // without the port
  uint16_t port = 80;
  std::wstring path;  // from the first '/' on, query included
};

// "http://host[:port]/path". The scheme is not looked at: the first seven characters are skipped
// whatever they say. Empty when the text is shorter than eight characters, has no '/' after the
// host, or holds a control character (which would let an address smuggle header lines into the
// request).
std::optional<HttpUrl> ParseHttpUrl(std::wstring_view url);

// The whole GET request: request line, Host (never with the port), "Connection: close".
std::wstring BuildRequestText(const HttpUrl& url);

// Letters and digits stay; every other byte becomes "%" and two lower-case hex digits.
std::wstring PercentEncode(std::string_view narrow);
