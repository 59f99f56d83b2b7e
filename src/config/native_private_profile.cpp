#include "config/native_private_profile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "base/text.h"
#include "config/ini_file.h"

namespace {

// Read-modify-write of a file must not interleave with another thread's.
std::mutex& FileLock() {
  static std::mutex lock;
  return lock;
}

std::filesystem::path PathOf(const std::wstring& file) {
  const std::string utf8 = WideToUtf8(file);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A missing or unreadable file reads as an empty one, as it does for the system.
IniFile LoadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return IniFile::Parse({});
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return IniFile::Parse(bytes);
}

bool Save(const std::filesystem::path& path, const IniFile& ini) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  const std::string bytes = ini.Serialize();
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

// A value enclosed in a matching pair of quotes is handed out without them.
template <typename Char>
std::basic_string<Char> StripQuotes(std::basic_string<Char> value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The system drops trailing spaces from a default, though never its first character.
template <typename Char>
std::basic_string<Char> PrepareFallback(std::basic_string<Char> fallback) {
  fallback = fallback.substr(0, fallback.find(Char(0)));
  size_t end = fallback.size();
  while (end > 1 && fallback[end - 1] == ' ') --end;
  fallback.resize(end);
  return StripQuotes(std::move(fallback));
}

template <typename Char>
uint32_t CopyOut(const std::basic_string<Char>& value, Char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const size_t count = std::min<size_t>(value.size(), size - 1);
  std::copy_n(value.data(), count, buffer);
  buffer[count] = Char(0);
  return static_cast<uint32_t>(count);
}

}  // namespace

IniFile NativePrivateProfile::Load(const std::wstring& file) const {
  if (source_) {
    if (std::optional<std::string> bytes = source_(file)) return IniFile::Parse(*bytes);
  }
  return LoadBytes(PathOf(file));
}

uint32_t NativePrivateProfile::GetString(const std::wstring& section, const std::wstring& key,
                                         const std::wstring& fallback, wchar_t* buffer,
                                         uint32_t size, const std::wstring& file) {
  std::optional<std::string> raw;
  {
    std::lock_guard<std::mutex> hold(FileLock());
    raw = Load(file).Find(WideToUtf8(section), WideToUtf8(key));
  }
  const std::wstring value = raw ? StripQuotes(Utf8ToWide(*raw)) : PrepareFallback(fallback);
  return CopyOut(value, buffer, size);
}

uint32_t NativePrivateProfile::GetStringBytes(const std::string& section, const std::string& key,
                                              const std::string& fallback, char* buffer,
                                              uint32_t size, const std::string& file) {
  std::optional<std::string> raw;
  {
    std::lock_guard<std::mutex> hold(FileLock());
    raw = Load(AnsiToWide(file))
              .Find(WideToUtf8(AnsiToWide(section)), WideToUtf8(AnsiToWide(key)));
  }
  const std::string value = raw ? StripQuotes(*raw) : PrepareFallback(fallback);
  return CopyOut(value, buffer, size);
}

bool NativePrivateProfile::WriteString(const std::wstring& section,
                                       const std::optional<std::wstring>& key,
                                       const std::optional<std::wstring>& value,
                                       const std::wstring& file) {
  const std::filesystem::path path = PathOf(file);
  std::lock_guard<std::mutex> hold(FileLock());
  IniFile ini = LoadBytes(path);
  const std::string sectionUtf8 = WideToUtf8(section);
  bool changed = false;
  if (!key) {
    changed = ini.DeleteSection(sectionUtf8);
  } else if (!value) {
    changed = ini.DeleteKey(sectionUtf8, WideToUtf8(*key));
  } else {
    changed = ini.Set(sectionUtf8, WideToUtf8(*key), WideToUtf8(*value));
  }
  return !changed || Save(path, ini);
}

uint32_t NativePrivateProfile::GetSectionNames(wchar_t* buffer, uint32_t size,
                                               const std::wstring& file) {
  if (buffer == nullptr || size == 0) return 0;
  if (size == 1) {
    buffer[0] = L'\0';
    return 0;
  }
  std::vector<std::string> names;
  {
    std::lock_guard<std::mutex> hold(FileLock());
    names = Load(file).SectionNames();
  }
  // Room for names and their NULs, leaving one place for the list's closing NUL.
  uint32_t room = size - 1;
  wchar_t* out = buffer;
  for (const auto& utf8 : names) {
    const std::wstring name = Utf8ToWide(utf8);
    const size_t needed = name.size() + 1;
    if (needed >= room) {
      // The system hands out as much of the name as fits and reports the cut as size - 2.
      std::copy_n(name.data(), room - 1, out);
      out += room - 1;
      *out++ = L'\0';
      *out = L'\0';
      return size - 2;
    }
    std::copy_n(name.data(), name.size(), out);
    out += name.size();
    *out++ = L'\0';
    room -= static_cast<uint32_t>(needed);
  }
  *out = L'\0';
  return static_cast<uint32_t>(out - buffer);
}
