#include "config/machine_registry.h"

#include <string_view>

#include "base/text.h"

using namespace registry;

namespace {

// Registry text is UTF-16 little-endian; wide text is UTF-16 on Windows and UTF-32 natively.
std::u16string UnitsOf(const std::vector<uint8_t>& data) {
  std::u16string units(data.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return units;
}

void AppendUnit(std::vector<uint8_t>& out, uint32_t unit) {
  out.push_back(static_cast<uint8_t>(unit & 0xFF));
  out.push_back(static_cast<uint8_t>((unit >> 8) & 0xFF));
}

// `text` and its terminating NUL as UTF-16 little-endian.
void AppendTerminated(std::vector<uint8_t>& out, std::wstring_view text) {
  for (const char16_t unit : WideToUtf16(text)) AppendUnit(out, unit);
  AppendUnit(out, 0);
}

}  // namespace

int32_t QueryMultiStringSize(RegistryKey& key, const std::wstring& name, uint32_t& chars) {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  const int32_t result = key.QueryValue(name, type, data);
  if (result != kSuccess) return result;
  chars = static_cast<uint32_t>((data.size() + 1) / 2);
  return kSuccess;
}

int32_t ReadMultiString(RegistryKey& key, const std::wstring& name, uint32_t capacity,
                        std::vector<std::wstring>& entries) {
  entries.clear();
  if (capacity < 2) return kErrorInsufficientBuffer;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  const int32_t result = key.QueryValue(name, type, data);
  if (result != kSuccess) return result;
  if (data.size() > size_t{capacity} * 2) return kErrorMoreData;
  if (type != kTypeMultiText || data.size() % 2 != 0) return kErrorInvalidData;
  const std::u16string units = UnitsOf(data);
  const size_t count = units.size();
  const bool terminated =
      count == 1 ? units[0] == u'\0'
                 : count >= 2 && units[count - 1] == u'\0' && units[count - 2] == u'\0';
  if (!terminated) return kErrorInvalidData;
  const std::u16string_view all(units);
  for (size_t start = 0; start < count;) {
    const size_t end = all.find(u'\0', start);
    if (end == start) break;
    entries.push_back(Utf16ToWide(all.substr(start, end - start)));
    start = end + 1;
  }
  return kSuccess;
}

int32_t WriteMultiString(RegistryKey& key, const std::wstring& name,
                         const std::vector<std::wstring>& entries) {
  std::vector<uint8_t> data;
  for (const std::wstring& entry : entries) AppendTerminated(data, entry);
  AppendUnit(data, 0);
  return key.SetValue(name, kTypeMultiText, data);
}

int32_t ReadText(RegistryKey& key, const std::wstring& name, std::wstring& text) {
  text.clear();
  uint32_t type = 0;
  std::vector<uint8_t> data;
  const int32_t result = key.QueryValue(name, type, data);
  if (result != kSuccess) return result;
  if ((type != kTypeText && type != kTypeExpandText) || data.size() % 2 != 0) {
    return kErrorInvalidData;
  }
  const std::u16string units = UnitsOf(data);
  if (units.empty() || units.back() != u'\0') return kErrorInvalidData;
  text = Utf16ToWide(std::u16string_view(units.c_str()));
  return kSuccess;
}

int32_t ReadDword(RegistryKey& key, const std::wstring& name, uint32_t& value) {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  const int32_t result = key.QueryValue(name, type, data);
  if (result != kSuccess) return result;
  if (type != kTypeDword || data.size() != 4) return kErrorInvalidData;
  value = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
  return kSuccess;
}

int32_t WriteDword(RegistryKey& key, const std::wstring& name, uint32_t value) {
  const std::vector<uint8_t> data = {
      static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF),
      static_cast<uint8_t>((value >> 16) & 0xFF), static_cast<uint8_t>((value >> 24) & 0xFF)};
  return key.SetValue(name, kTypeDword, data);
}
