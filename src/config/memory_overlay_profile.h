// Private-profile access where some files are held in memory instead: a service answer is read
// from the bytes received, never from a file others could have changed since we wrote it, and a
// file the program cannot trust this start (its folder is not the program's own) is neither read
// nor written.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "config/native_private_profile.h"
#include "config/private_profile.h"

class MemoryOverlayProfile final : public PrivateProfile {
 public:
  explicit MemoryOverlayProfile(PrivateProfile& files);

  // From now on reads of `file` answer from `bytes` as the file's contents would; writes still
  // go to the file. Safe from any thread.
  void Hold(const std::wstring& file, std::string bytes);
  void Release(const std::wstring& file);
  // From now on `file` reads as empty and writes to it are dropped: what the program keeps there
  // lasts for this start only.
  void KeepOff(const std::wstring& file);

  uint32_t GetString(const std::wstring& section, const std::wstring& key,
                     const std::wstring& fallback, wchar_t* buffer, uint32_t size,
                     const std::wstring& file) override;
  uint32_t GetStringBytes(const std::string& section, const std::string& key,
                          const std::string& fallback, char* buffer, uint32_t size,
                          const std::string& file) override;
  bool WriteString(const std::wstring& section, const std::optional<std::wstring>& key,
                   const std::optional<std::wstring>& value, const std::wstring& file) override;
  uint32_t GetSectionNames(wchar_t* buffer, uint32_t size, const std::wstring& file) override;

 private:
  std::optional<std::string> Held(const std::wstring& file);

  PrivateProfile& files_;
  std::mutex mutex_;
  std::map<std::wstring, std::string> held_;
  std::set<std::wstring> keptOff_;
  NativePrivateProfile memory_;
};
