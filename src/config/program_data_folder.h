// The shared data folder (response files, the application list, update downloads). Its path is
// found and the folder created on first use, then kept for the life of the process.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

class ProgramDataFolder {
 public:
  // Finds the folder, creating it when missing, and returns its path ending in a separator.
  using Locator = std::function<std::wstring()>;

  explicit ProgramDataFolder(Locator locate);

  // Safe to call from any thread; the locator runs once.
  const std::wstring& Path();
  std::wstring FilePath(std::wstring_view name) { return Path() + std::wstring(name); }

 private:
  Locator locate_;
  std::once_flag once_;
  std::wstring path_;
};

// The program's folder: "Kavrin" in the all-users application data folder on Windows, in the
// temporary folder natively.
ProgramDataFolder& SystemProgramDataFolder();
