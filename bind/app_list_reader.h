// The module's own reading of the application list file ("applist.ini", written by the client's
// list): which programs are accelerated and with which options. It runs inside every process
// that opens a socket, so it is a small reader of bytes with no dependency on the client's code,
// and it reads the file the way the system's profile calls do:
//   - a file that starts with a UTF-16LE or UTF-8 byte-order mark is in that encoding, any other
//     is in the ANSI code page (the caller decodes it);
//   - a line whose first non-blank character is '[' and that holds a ']' starts a section;
//   - "key=value" lines, key and value trimmed, one pair of surrounding quotes dropped;
//   - section and key names match without ASCII case; the first section of a name and the first
//     key of a name in it are the ones that count.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A file larger than this is read only this far: only a broken or hostile file is that big.
inline constexpr size_t kMaxAppListBytes = 1u << 20;

struct BoundApp {
  std::wstring program;  // "AppFullname", normalised (NormalizeProgramPath)
  bool active = true;    // "Active", default 1
  bool useAsyncMode = false;
  bool forceBind = false;  // "ForceWSPBind"
};

using AnsiDecoder = std::function<std::wstring(std::string_view)>;

// Every section that names a program, in file order.
std::vector<BoundApp> ReadBoundApps(std::string_view bytes, const AnsiDecoder& decodeAnsi);

// The form in which two paths of one file compare equal: separators made backslashes and not
// repeated (a leading "\\" of a network path kept), "." and ".." resolved, the "\\?\" prefix,
// surrounding blanks and quotes dropped, letters folded to lower case.
std::wstring NormalizeProgramPath(std::wstring_view path);

// The first active section whose program is `program` (normalised), if any.
std::optional<BoundApp> FindBoundApp(const std::vector<BoundApp>& apps,
                                     const std::wstring& program);

// An integer value the way the profile layer reads one: C literal (0x hex, leading 0 octal),
// trailing characters ignored; `fallback` when empty.
int64_t ParseProfileInteger(std::wstring_view value, int64_t fallback);
