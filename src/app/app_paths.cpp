#include "app/app_paths.h"

#include "base/file_path.h"

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
  paths.module_folder = FolderOf(paths.module_path);
  paths.system_folder = CutToPathLimit(std::move(system_directory)) + L"\\";
  return paths;
}
