// Private-profile reads of files someone else holds an opportunistic lock on: when we open one to
// read it, the holder is told first and may rewrite it before our open completes.
// Follows "Breaking Opportunistic Locks" (learn.microsoft.com/windows/win32/fileio).
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "base/file_path.h"
#include "config/native_private_profile.h"

class OplockedProfile final : public PrivateProfile {
 public:
  uint32_t GetString(const std::wstring& section, const std::wstring& key,
                     const std::wstring& fallback, wchar_t* buffer, uint32_t size,
                     const std::wstring& file) override {
    Break(file);
    return files_.GetString(section, key, fallback, buffer, size, file);
  }
  uint32_t GetStringBytes(const std::string& section, const std::string& key,
                          const std::string& fallback, char* buffer, uint32_t size,
                          const std::string& file) override {
    Break(std::wstring(file.begin(), file.end()));
    return files_.GetStringBytes(section, key, fallback, buffer, size, file);
  }
  bool WriteString(const std::wstring& section, const std::optional<std::wstring>& key,
                   const std::optional<std::wstring>& value, const std::wstring& file) override {
    return files_.WriteString(section, key, value, file);
  }
  uint32_t GetSectionNames(wchar_t* buffer, uint32_t size, const std::wstring& file) override {
    Break(file);
    return files_.GetSectionNames(buffer, size, file);
  }

  // What the holder writes into `file` when our first read of it breaks the lock.
  std::map<std::wstring, std::string> rewrites;

 private:
  void Break(const std::wstring& file) {
    const auto found = rewrites.find(file);
    if (found == rewrites.end()) return;
    std::ofstream(FileSystemPath(file), std::ios::binary | std::ios::trunc) << found->second;
    rewrites.erase(found);
  }

  NativePrivateProfile files_;
};
