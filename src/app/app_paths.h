// The paths the application object computes once, before start-up runs.
#pragma once

#include <string>

struct AppPaths {
  std::wstring module_path;
  std::wstring module_folder;  // ends with a backslash
  std::wstring system_folder;  // ends with a backslash
};

// The system's path limit; longer paths are cut to it.
inline constexpr size_t kMaxPathChars = 260;

AppPaths ComputeAppPaths(std::wstring module_path, std::wstring system_directory);
