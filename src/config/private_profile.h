// The private-profile (ini file) calls the profile access layer is built on. The operations keep
// the buffer and return-length contract of the system calls they stand for, because the layer's
// growing-buffer loops depend on it:
//   - a read copies at most size - 1 characters and a terminating NUL and returns the number of
//     characters copied, so size - 1 means "possibly cut";
//   - the section-name list is NUL-separated and ends in an extra NUL; when it does not fit, the
//     call returns size - 2.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class PrivateProfile {
 public:
  virtual ~PrivateProfile() = default;

  // Value of `key` in `section` of `file`, or `fallback` when the file, section or key is absent.
  virtual uint32_t GetString(const std::wstring& section, const std::wstring& key,
                             const std::wstring& fallback, wchar_t* buffer, uint32_t size,
                             const std::wstring& file) = 0;
  // The same read for narrow (ANSI code page) names and values; the value is passed on as bytes.
  virtual uint32_t GetStringBytes(const std::string& section, const std::string& key,
                                  const std::string& fallback, char* buffer, uint32_t size,
                                  const std::string& file) = 0;
  // Writes `value` under `key`, creating file and section as needed. No key removes the whole
  // section; a key without value removes that key.
  virtual bool WriteString(const std::wstring& section, const std::optional<std::wstring>& key,
                           const std::optional<std::wstring>& value, const std::wstring& file) = 0;
  // Every section name of `file` in file order, as a double-NUL-terminated list.
  virtual uint32_t GetSectionNames(wchar_t* buffer, uint32_t size, const std::wstring& file) = 0;
};

// The implementation the program uses: the system's on Windows, the portable re-implementation
// natively. Lives for the whole process.
PrivateProfile& SystemPrivateProfile();
