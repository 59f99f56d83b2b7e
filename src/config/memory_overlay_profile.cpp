#include "config/memory_overlay_profile.h"

#include "base/text.h"

MemoryOverlayProfile::MemoryOverlayProfile(PrivateProfile& files)
    : files_(files), memory_([this](const std::wstring& file) { return Held(file); }) {}

void MemoryOverlayProfile::Hold(const std::wstring& file, std::string bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_[file] = std::move(bytes);
}

void MemoryOverlayProfile::Release(const std::wstring& file) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (keptOff_.count(file)) {
    held_[file].clear();
  } else {
    held_.erase(file);
  }
}

void MemoryOverlayProfile::KeepOff(const std::wstring& file) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_[file].clear();
  keptOff_.insert(file);
}

std::optional<std::string> MemoryOverlayProfile::Held(const std::wstring& file) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = held_.find(file);
  if (found == held_.end()) return std::nullopt;
  return found->second;
}

uint32_t MemoryOverlayProfile::GetString(const std::wstring& section, const std::wstring& key,
                                         const std::wstring& fallback, wchar_t* buffer,
                                         uint32_t size, const std::wstring& file) {
  PrivateProfile& from = Held(file) ? static_cast<PrivateProfile&>(memory_) : files_;
  return from.GetString(section, key, fallback, buffer, size, file);
}

uint32_t MemoryOverlayProfile::GetStringBytes(const std::string& section, const std::string& key,
                                              const std::string& fallback, char* buffer,
                                              uint32_t size, const std::string& file) {
  PrivateProfile& from = Held(AnsiToWide(file)) ? static_cast<PrivateProfile&>(memory_) : files_;
  return from.GetStringBytes(section, key, fallback, buffer, size, file);
}

bool MemoryOverlayProfile::WriteString(const std::wstring& section,
                                       const std::optional<std::wstring>& key,
                                       const std::optional<std::wstring>& value,
                                       const std::wstring& file) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Not a failure: the caller's record simply does not outlive this start.
    if (keptOff_.count(file)) return true;
  }
  return files_.WriteString(section, key, value, file);
}

uint32_t MemoryOverlayProfile::GetSectionNames(wchar_t* buffer, uint32_t size,
                                               const std::wstring& file) {
  PrivateProfile& from = Held(file) ? static_cast<PrivateProfile&>(memory_) : files_;
  return from.GetSectionNames(buffer, size, file);
}
