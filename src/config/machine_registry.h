// The local machine's registry: one key at a time, reached through RegistryKey. The rules for
// reading and writing its values are portable, so malformed registry data is handled the same
// everywhere and tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The system's error codes and value types, by number, for portable code.
namespace registry {
inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kErrorFileNotFound = 2;
inline constexpr int32_t kErrorInvalidData = 13;
inline constexpr int32_t kErrorInsufficientBuffer = 122;
inline constexpr int32_t kErrorMoreData = 234;
inline constexpr int32_t kErrorNoMoreItems = 259;

inline constexpr uint32_t kTypeText = 1;        // REG_SZ
inline constexpr uint32_t kTypeExpandText = 2;  // REG_EXPAND_SZ
inline constexpr uint32_t kTypeDword = 4;       // REG_DWORD
inline constexpr uint32_t kTypeMultiText = 7;   // REG_MULTI_SZ

// The longest sub-key name the enumeration takes.
inline constexpr size_t kMaxKeyNameChars = 256;
}  // namespace registry

// One key under the local machine, opened for reading and writing. Every operation answers a
// Win32 error code.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // On success any key held before is closed and the new one kept; on failure nothing changes.
  virtual int32_t Open(const std::wstring& path) = 0;
  virtual void Close() = 0;
  // The value's type and all of its bytes.
  virtual int32_t QueryValue(const std::wstring& name, uint32_t& type,
                             std::vector<uint8_t>& data) = 0;
  virtual int32_t SetValue(const std::wstring& name, uint32_t type,
                           const std::vector<uint8_t>& data) = 0;
  // The name of sub-key `index`; kErrorNoMoreItems past the last, kErrorMoreData for a name
  // longer than registry::kMaxKeyNameChars.
  virtual int32_t EnumSubKey(uint32_t index, std::wstring& name) = 0;
};

class RegistryKeyFactory {
 public:
  virtual ~RegistryKeyFactory() = default;
  // A key object that holds no key yet.
  virtual std::unique_ptr<RegistryKey> NewKey() = 0;
};

// ---- value rules --------------------------------------------------------------------------------

// The size of multi-string `name` in characters, terminators included.
int32_t QueryMultiStringSize(RegistryKey& key, const std::wstring& name, uint32_t& chars);
// Reads multi-string `name` with room for `capacity` characters into its entries, up to the
// first empty one. Room for fewer than 2 characters is kErrorInsufficientBuffer, more data than
// room kErrorMoreData; anything but REG_MULTI_SZ, an odd byte count or data that does not end
// in two NULs (one NUL when it is one character long) is kErrorInvalidData.
int32_t ReadMultiString(RegistryKey& key, const std::wstring& name, uint32_t capacity,
                        std::vector<std::wstring>& entries);
// Every entry followed by a NUL, then one more NUL, as REG_MULTI_SZ.
int32_t WriteMultiString(RegistryKey& key, const std::wstring& name,
                         const std::vector<std::wstring>& entries);
// REG_SZ or REG_EXPAND_SZ with an even byte count and a terminating NUL, else
// kErrorInvalidData. `text` ends at the first NUL.
int32_t ReadText(RegistryKey& key, const std::wstring& name, std::wstring& text);
// REG_DWORD only, else kErrorInvalidData.
int32_t ReadDword(RegistryKey& key, const std::wstring& name, uint32_t& value);
int32_t WriteDword(RegistryKey& key, const std::wstring& name, uint32_t value);
