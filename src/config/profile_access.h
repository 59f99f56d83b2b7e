// Reading and writing private-profile (ini) files: the service's response files, the news file,
// the application list and the program's settings file. Section names pass through
// EscapeSectionName on the way in and UnescapeSectionName on the way out, so any text (a path,
// a title with brackets) can name a section. Keys and values are passed as they are.
//
// Every operation takes the PrivateProfile it works through; the overloads without one use
// SystemPrivateProfile().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/private_profile.h"

// TAB, LF, CR, '%', '[' and ']' become '%' and two lower-case hex digits.
std::wstring EscapeSectionName(std::wstring_view name);
// Reverses EscapeSectionName. A '%' not followed by two hex digits (or by "00") stays as it is.
std::wstring UnescapeSectionName(std::wstring_view name);

// The value, however long (up to kMaxProfileValueSize characters), or `fallback` when absent.
std::wstring ReadProfileText(PrivateProfile& profile, const std::wstring& file,
                             const std::wstring& section, const std::wstring& key,
                             const std::wstring& fallback);
// The value's bytes decoded as UTF-8: how texts the service sends for display are read.
std::wstring ReadProfileUtf8Text(PrivateProfile& profile, const std::wstring& file,
                                 const std::wstring& section, const std::wstring& key);
// The value as a C integer literal (0x hex, leading 0 octal, trailing characters ignored,
// saturated at the type's range); `fallback` when the value is empty or absent.
int32_t ReadProfileInt(PrivateProfile& profile, const std::wstring& file,
                       const std::wstring& section, const std::wstring& key, int32_t fallback);
// As ReadProfileInt, 0 when empty or absent.
int64_t ReadProfileInt64(PrivateProfile& profile, const std::wstring& file,
                         const std::wstring& section, const std::wstring& key);

// Writers report whether the file was written; the program's callers ignore it.
bool WriteProfileText(PrivateProfile& profile, const std::wstring& file,
                      const std::wstring& section, const std::wstring& key,
                      const std::wstring& value);
bool WriteProfileInt(PrivateProfile& profile, const std::wstring& file, const std::wstring& section,
                     const std::wstring& key, int32_t value);
bool DeleteProfileSection(PrivateProfile& profile, const std::wstring& file,
                          const std::wstring& section);
// Every section name in file order (duplicates included), unescaped.
std::vector<std::wstring> EnumProfileSections(PrivateProfile& profile, const std::wstring& file);

// A value or section list that still does not fit this many characters is returned cut: only a
// broken or hostile file gets there, and growing on would exhaust memory.
inline constexpr uint32_t kMaxProfileValueSize = 16u << 20;

inline std::wstring ReadProfileText(const std::wstring& file, const std::wstring& section,
                                    const std::wstring& key, const std::wstring& fallback) {
  return ReadProfileText(SystemPrivateProfile(), file, section, key, fallback);
}
inline std::wstring ReadProfileUtf8Text(const std::wstring& file, const std::wstring& section,
                                        const std::wstring& key) {
  return ReadProfileUtf8Text(SystemPrivateProfile(), file, section, key);
}
inline int32_t ReadProfileInt(const std::wstring& file, const std::wstring& section,
                              const std::wstring& key, int32_t fallback) {
  return ReadProfileInt(SystemPrivateProfile(), file, section, key, fallback);
}
inline int64_t ReadProfileInt64(const std::wstring& file, const std::wstring& section,
                                const std::wstring& key) {
  return ReadProfileInt64(SystemPrivateProfile(), file, section, key);
}
inline bool WriteProfileText(const std::wstring& file, const std::wstring& section,
                             const std::wstring& key, const std::wstring& value) {
  return WriteProfileText(SystemPrivateProfile(), file, section, key, value);
}
inline bool WriteProfileInt(const std::wstring& file, const std::wstring& section,
                            const std::wstring& key, int32_t value) {
  return WriteProfileInt(SystemPrivateProfile(), file, section, key, value);
}
inline bool DeleteProfileSection(const std::wstring& file, const std::wstring& section) {
  return DeleteProfileSection(SystemPrivateProfile(), file, section);
}
inline std::vector<std::wstring> EnumProfileSections(const std::wstring& file) {
  return EnumProfileSections(SystemPrivateProfile(), file);
}
