#include "config/profile_access.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/text.h"

namespace {

constexpr uint32_t kInitialSize = 2048;
// Slack past nSize, in case an implementation writes its terminator one place too far.
constexpr uint32_t kBufferSlack = 10;

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool IsCSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// wcstol/_wcstoi64 with base 0 as the Windows runtime has them: leading blanks, a sign, a 0x or
// 0 prefix choosing the base, digits up to the first one that does not belong, and the type's
// limit on overflow. Written out because a native long is 64 bits wide.
template <typename Int>
Int ParseInteger(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  unsigned base = 10;
  if (i < text.size() && text[i] == L'0') {
    base = 8;
    if (i + 2 < text.size() && (text[i + 1] == L'x' || text[i + 1] == L'X') &&
        HexDigit(text[i + 2]) >= 0) {
      base = 16;
      i += 2;
    }
  }
  using Unsigned = std::make_unsigned_t<Int>;
  const Unsigned limit = negative ? Unsigned(std::numeric_limits<Int>::max()) + 1
                                  : Unsigned(std::numeric_limits<Int>::max());
  Unsigned magnitude = 0;
  bool overflow = false;
  for (; i < text.size(); ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) break;
    if (magnitude > (limit - static_cast<Unsigned>(digit)) / base) {
      overflow = true;
    } else {
      magnitude = magnitude * base + static_cast<Unsigned>(digit);
    }
  }
  if (overflow) return negative ? std::numeric_limits<Int>::min() : std::numeric_limits<Int>::max();
  if (!negative) return static_cast<Int>(magnitude);
  return magnitude == limit ? std::numeric_limits<Int>::min()
                            : static_cast<Int>(-static_cast<Int>(magnitude));
}

}  // namespace

std::wstring EscapeSectionName(std::wstring_view name) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring out;
  out.reserve(name.size());
  for (const wchar_t c : name) {
    if (c == L'\t' || c == L'\n' || c == L'\r' || c == L'%' || c == L'[' || c == L']') {
      out += L'%';
      out += kHex[(c >> 4) & 0xF];
      out += kHex[c & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::wstring UnescapeSectionName(std::wstring_view name) {
  std::wstring out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    if (name[i] == L'%' && i + 2 < name.size()) {
      const int high = HexDigit(name[i + 1]);
      const int low = HexDigit(name[i + 2]);
      // Garbage after a '%', or an escaped NUL that would cut the name short, is not ours.
      if (high >= 0 && low >= 0 && (high | low) != 0) {
        out += static_cast<wchar_t>(high * 16 + low);
        i += 3;
        continue;
      }
    }
    out += name[i++];
  }
  return out;
}

std::wstring ReadProfileText(PrivateProfile& profile, const std::wstring& file,
                             const std::wstring& section, const std::wstring& key,
                             const std::wstring& fallback) {
  const std::wstring escaped = EscapeSectionName(section);
  for (uint32_t size = kInitialSize;; size *= 2) {
    std::vector<wchar_t> buffer(size + kBufferSlack, L'\0');
    const uint32_t length =
        std::min(profile.GetString(escaped, key, fallback, buffer.data(), size, file), size - 1);
    if (length != size - 1 || size >= kMaxProfileValueSize) {
      return std::wstring(buffer.data(), length);
    }
  }
}

std::wstring ReadProfileUtf8Text(PrivateProfile& profile, const std::wstring& file,
                                 const std::wstring& section, const std::wstring& key) {
  const std::string escaped = WideToAnsi(EscapeSectionName(section));
  const std::string narrowKey = WideToAnsi(key);
  const std::string narrowFile = WideToAnsi(file);
  for (uint32_t size = kInitialSize;; size *= 2) {
    std::vector<char> buffer(size + kBufferSlack, '\0');
    const uint32_t length = std::min(
        profile.GetStringBytes(escaped, narrowKey, std::string(), buffer.data(), size, narrowFile),
        size - 1);
    if (length != size - 1 || size >= kMaxProfileValueSize) {
      const std::string_view bytes(buffer.data(), length);
      return Utf8ToWide(bytes.substr(0, bytes.find('\0')));
    }
  }
}

int32_t ReadProfileInt(PrivateProfile& profile, const std::wstring& file,
                       const std::wstring& section, const std::wstring& key, int32_t fallback) {
  const std::wstring text = ReadProfileText(profile, file, section, key, std::wstring());
  return text.empty() ? fallback : ParseInteger<int32_t>(text);
}

int64_t ReadProfileInt64(PrivateProfile& profile, const std::wstring& file,
                         const std::wstring& section, const std::wstring& key) {
  const std::wstring text = ReadProfileText(profile, file, section, key, std::wstring());
  return text.empty() ? 0 : ParseInteger<int64_t>(text);
}

bool WriteProfileText(PrivateProfile& profile, const std::wstring& file,
                      const std::wstring& section, const std::wstring& key,
                      const std::wstring& value) {
  return profile.WriteString(EscapeSectionName(section), key, value, file);
}

bool WriteProfileInt(PrivateProfile& profile, const std::wstring& file, const std::wstring& section,
                     const std::wstring& key, int32_t value) {
  return WriteProfileText(profile, file, section, key, std::to_wstring(value));
}

bool DeleteProfileSection(PrivateProfile& profile, const std::wstring& file,
                          const std::wstring& section) {
  return profile.WriteString(EscapeSectionName(section), std::nullopt, std::nullopt, file);
}

std::vector<std::wstring> EnumProfileSections(PrivateProfile& profile, const std::wstring& file) {
  for (uint32_t size = kInitialSize;; size *= 2) {
    std::vector<wchar_t> buffer(size + kBufferSlack, L'\0');
    const uint32_t length = std::min(profile.GetSectionNames(buffer.data(), size, file), size);
    if (length == size - 2 && size < kMaxProfileValueSize) continue;
    std::vector<std::wstring> names;
    const std::wstring_view list(buffer.data(), length);
    size_t start = 0;
    while (start < list.size()) {
      const size_t end = std::min(list.find(L'\0', start), list.size());
      if (end == start) break;
      names.push_back(UnescapeSectionName(list.substr(start, end - start)));
      start = end + 1;
    }
    return names;
  }
}
