#include "app/app_paths.h"

#include "base/file_path.h"

namespace {

std::wstring CutToPathLimit(std::wstring path) {
  // The system calls fill a buffer of kMaxPathChars including the terminating NUL.
  if (path.size() >= kMaxPathChars) path.resize(kMaxPathChars - 1);
  return path;
}

}  // namespace

AppPaths ComputeAppPaths(std::wstring modulePath, std::wstring systemDirectory) {
  AppPaths paths;
  paths.modulePath = CutToPathLimit(std::move(modulePath));
  paths.moduleFolder = FolderOf(paths.modulePath);
  paths.systemFolder = CutToPathLimit(std::move(systemDirectory)) + L"\\";
  return paths;
}
