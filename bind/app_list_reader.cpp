#include "app_list_reader.h"

#include <algorithm>
#include <limits>
#include <unordered_set>

namespace {

constexpr std::wstring_view kProgramKey = L"AppFullname";
constexpr std::wstring_view kActiveKey = L"Active";
constexpr std::wstring_view kAsyncModeKey = L"UseAsyncMode";
constexpr std::wstring_view kForceBindKey = L"ForceWSPBind";

void AppendCodePoint(std::wstring& out, uint32_t code) {
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if constexpr (sizeof(wchar_t) == 2) {
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(code));
}

std::wstring DecodeUtf16Le(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const uint32_t unit = static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
    if constexpr (sizeof(wchar_t) == 2) {
      out.push_back(static_cast<wchar_t>(unit));
    } else {
      if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
        const uint32_t low =
            static_cast<uint8_t>(bytes[i + 2]) | (static_cast<uint8_t>(bytes[i + 3]) << 8);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          AppendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          i += 2;
          continue;
        }
      }
      AppendCodePoint(out, unit);
    }
  }
  return out;
}

// Malformed sequences become U+FFFD, one per byte that cannot start or continue one.
std::wstring DecodeUtf8(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t lead = static_cast<uint8_t>(bytes[i]);
    int extra = 0;
    uint32_t code = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    } else {
      out.push_back(L'\xFFFD');
      ++i;
      continue;
    }
    if (i + extra >= bytes.size()) {  // cut short at the end
      out.push_back(L'\xFFFD');
      ++i;
      continue;
    }
    bool valid = true;
    for (int n = 1; n <= extra; ++n) {
      const uint8_t next = static_cast<uint8_t>(bytes[i + n]);
      if ((next & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid) {
      out.push_back(L'\xFFFD');
      ++i;
      continue;
    }
    AppendCodePoint(out, code);
    i += extra + 1;
  }
  return out;
}

wchar_t FoldCase(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 32);
  if (c < 0xC0) return c;
  // Latin-1, Greek and Cyrillic capitals: the letters programs' folders are most often named in
  // besides the CJK ideographs, which have no case.
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F)) {
    return static_cast<wchar_t>(c + 32);
  }
  if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 80);
  return c;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const wchar_t x = a[i] >= L'A' && a[i] <= L'Z' ? a[i] + 32 : a[i];
    const wchar_t y = b[i] >= L'A' && b[i] <= L'Z' ? b[i] + 32 : b[i];
    if (x != y) return false;
  }
  return true;
}

std::wstring_view Unquote(std::wstring_view value) {
  if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

struct Section {
  std::wstring_view name;
  std::optional<std::wstring_view> program, active, async, force;
};

void Keep(std::optional<std::wstring_view>& slot, std::wstring_view value) {
  if (!slot) slot = value;
}

void Finish(const Section& section, std::unordered_set<std::wstring>& seen,
            std::vector<BoundApp>& apps) {
  std::wstring name(section.name);
  for (auto& c : name) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
  }
  // A later section of a name is one the system's reads never reach.
  if (!seen.insert(std::move(name)).second) return;
  if (!section.program) return;
  BoundApp app;
  app.program = NormalizeProgramPath(*section.program);
  if (app.program.empty()) return;
  app.active = ParseProfileInteger(section.active.value_or(L""), 1) != 0;
  app.useAsyncMode = ParseProfileInteger(section.async.value_or(L""), 0) != 0;
  app.forceBind = ParseProfileInteger(section.force.value_or(L""), 0) != 0;
  apps.push_back(std::move(app));
}

}  // namespace

int64_t ParseProfileInteger(std::wstring_view value, int64_t fallback) {
  value = Trim(value);
  if (value.empty()) return fallback;
  bool negative = false;
  if (value.front() == L'-' || value.front() == L'+') {
    negative = value.front() == L'-';
    value.remove_prefix(1);
  }
  int base = 10;
  if (value.size() >= 2 && value[0] == L'0' && (value[1] == L'x' || value[1] == L'X')) {
    base = 16;
    value.remove_prefix(2);
  } else if (!value.empty() && value[0] == L'0') {
    base = 8;
  }
  constexpr int64_t kLimit = std::numeric_limits<int32_t>::max();
  int64_t result = 0;
  for (const wchar_t c : value) {
    int digit = -1;
    if (c >= L'0' && c <= L'9') digit = c - L'0';
    if (c >= L'a' && c <= L'f') digit = c - L'a' + 10;
    if (c >= L'A' && c <= L'F') digit = c - L'A' + 10;
    if (digit < 0 || digit >= base) break;
    result = result * base + digit;
    if (result > kLimit) result = kLimit + 1;
  }
  return negative ? -result : result;
}

namespace {

bool StartsWithNoCase(std::wstring_view text, std::wstring_view start) {
  return text.size() >= start.size() && SameName(text.substr(0, start.size()), start);
}

std::wstring NormalizeOnce(std::wstring_view path) {
  std::wstring text(path);
  for (auto& c : text) {
    if (c == L'/') c = L'\\';
  }
  // Blanks, quotes and device prefixes, in whatever order they are stacked, in one sweep.
  std::wstring_view view(text);
  bool network = false;
  for (;;) {
    const size_t before = view.size();
    view = Unquote(Trim(view));
    if (StartsWithNoCase(view, L"\\\\?\\UNC\\")) {
      view.remove_prefix(8);
      network = true;
    } else if (view.starts_with(L"\\\\?\\") || view.starts_with(L"\\\\.\\")) {
      view.remove_prefix(4);
    }
    if (view.size() == before) break;
  }
  text = network ? L"\\\\" + std::wstring(view) : std::wstring(view);
  std::wstring prefix;
  if (text.rfind(L"\\\\", 0) == 0) prefix = L"\\\\";

  std::vector<std::wstring_view> parts;
  std::wstring_view rest(text);
  rest.remove_prefix(prefix.size());
  const bool rooted = prefix.empty() && !rest.empty() && rest.front() == L'\\';
  size_t start = 0;
  while (start <= rest.size()) {
    const size_t end = std::min(rest.find(L'\\', start), rest.size());
    const std::wstring_view part = rest.substr(start, end - start);
    if (part == L"..") {
      // Never above the drive or the share.
      const size_t floor = prefix.empty() ? (rooted ? 0 : 1) : 2;
      if (parts.size() > floor) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    start = end + 1;
  }

  std::wstring out = prefix;
  if (rooted) out.push_back(L'\\');
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out.push_back(L'\\');
    out.append(parts[i]);
  }
  for (auto& c : out) c = FoldCase(c);
  return out;
}

}  // namespace

std::wstring NormalizeProgramPath(std::wstring_view path) {
  // Dropping a prefix, quotes or blanks may uncover another; every pass that changes the path
  // shortens it, so this ends.
  std::wstring current = NormalizeOnce(path);
  for (;;) {
    std::wstring next = NormalizeOnce(current);
    if (next == current) return current;
    current = std::move(next);
  }
}

std::vector<BoundApp> ReadBoundApps(std::string_view bytes, const AnsiDecoder& decodeAnsi) {
  if (bytes.size() > kMaxAppListBytes) bytes = bytes.substr(0, kMaxAppListBytes);
  std::wstring text;
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
      static_cast<uint8_t>(bytes[1]) == 0xFE) {
    text = DecodeUtf16Le(bytes.substr(2));
  } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text = DecodeUtf8(bytes.substr(3));
  } else if (decodeAnsi) {
    text = decodeAnsi(bytes);
  }

  std::vector<BoundApp> apps;
  std::unordered_set<std::wstring> seen;
  std::optional<Section> section;
  std::wstring_view rest(text);
  while (!rest.empty()) {
    const size_t end = std::min(rest.find(L'\n'), rest.size());
    const std::wstring_view line = Trim(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (!line.empty() && line.front() == L'[' && line.find(L']') != std::wstring_view::npos) {
      if (section) Finish(*section, seen, apps);
      section = Section{Trim(line.substr(1, line.rfind(L']') - 1)), {}, {}, {}, {}};
      continue;
    }
    const size_t equals = line.find(L'=');
    if (!section || equals == std::wstring_view::npos) continue;
    const std::wstring_view key = Trim(line.substr(0, equals));
    const std::wstring_view value = Unquote(Trim(line.substr(equals + 1)));
    if (SameName(key, kProgramKey)) Keep(section->program, value);
    if (SameName(key, kActiveKey)) Keep(section->active, value);
    if (SameName(key, kAsyncModeKey)) Keep(section->async, value);
    if (SameName(key, kForceBindKey)) Keep(section->force, value);
  }
  if (section) Finish(*section, seen, apps);
  return apps;
}

std::optional<BoundApp> FindBoundApp(const std::vector<BoundApp>& apps,
                                     const std::wstring& program) {
  if (program.empty()) return std::nullopt;
  for (const auto& app : apps) {
    if (app.active && app.program == program) return app;
  }
  return std::nullopt;
}
