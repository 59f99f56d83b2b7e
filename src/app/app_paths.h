// The paths the application object computes once, before start-up runs.
#pragma once

#include <string>

struct AppPaths {
  std::wstring modulePath;
  std::wstring moduleFolder;  // ends with a backslash
  std::wstring systemFolder;  // ends with a backslash
};

// The system's path limit; longer paths are cut to it.
inline constexpr size_t kMaxPathChars = 260;

AppPaths ComputeAppPaths(std::wstring modulePath, std::wstring systemDirectory);
