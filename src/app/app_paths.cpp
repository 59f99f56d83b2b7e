#include "app/app_paths.h"

namespace {

std::wstring CutToPathLimit(std::wstring path) {
  // The system calls fill a buffer of kMaxPathChars including the terminating NUL.
  if (path.size() >= kMaxPathChars) path.resize(kMaxPathChars - 1);
  return path;
}

}  // namespace

AppPaths ComputeAppPaths(std::wstring module_path, std::wstring system_directory) {
  AppPaths paths;
  paths.module_path = CutToPathLimit(std::move(module_path));
  const size_t slash = paths.module_path.find_last_of(L'\\');
  paths.module_folder =
      slash == std::wstring::npos ? std::wstring() : paths.module_path.substr(0, slash + 1);
  paths.system_folder = CutToPathLimit(std::move(system_directory)) + L"\\";
  return paths;
}
