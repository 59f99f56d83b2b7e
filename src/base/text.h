// Text conversions and small string helpers shared by every module.
//
// Wide text is std::wstring (UTF-16 on Windows, UTF-32 natively); narrow text is
// std::string. "Ansi" means the thread's ANSI code page on Windows and UTF-8 natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
std::wstring AnsiToWide(std::string_view ansi);
std::string WideToAnsi(std::wstring_view wide);
// UTF-16LE bytes, as files hold them. Malformed input (an unpaired surrogate, an odd last byte,
// a bad UTF-8 sequence) becomes U+FFFD rather than being dropped silently.
std::string Utf16LeToUtf8(std::string_view bytes);
std::string Utf8ToUtf16Le(std::string_view utf8);
// UTF-16 code units as the registry holds them. Unlike the conversions above these keep an
// unpaired surrogate as it is, so text read and written back is unchanged.
std::wstring Utf16ToWide(std::u16string_view units);
std::u16string WideToUtf16(std::wstring_view wide);

// Strips spaces, tabs, CR and LF from both ends.
std::wstring TrimText(std::wstring_view text);
std::string TrimText(std::string_view text);

// ASCII-only case folding; other characters are left as they are.
std::wstring LowerAscii(std::wstring_view text);
std::string LowerAscii(std::string_view text);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

// Local time of `secondsSince1970` (UTC) through wcsftime's `format`; empty when the time cannot
// be converted.
std::wstring FormatLocalTime(int64_t secondsSince1970, const wchar_t* format);

// Splits at every separator; empty pieces are kept (callers decide what to drop).
std::vector<std::wstring> SplitText(std::wstring_view text, wchar_t separator);
