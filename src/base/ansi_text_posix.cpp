// Natively the "ANSI" code page is UTF-8.
#include "base/text.h"

std::wstring AnsiToWide(std::string_view ansi) { return Utf8ToWide(ansi); }
std::string WideToAnsi(std::wstring_view wide) { return WideToUtf8(wide); }
