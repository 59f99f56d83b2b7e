#include "service/online_update_win.h"

#include <shellapi.h>

#include "app/module_version_win.h"

bool ShellProgramLauncher::Open(const std::wstring& file, const std::wstring& parameters) {
  const HINSTANCE result =
      ShellExecuteW(owner_, L"open", file.c_str(),
                    parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL);
  // Values up to 32 are the shell's error codes.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

uint64_t ExecutableVersionSource::CurrentVersion() {
  CModuleVersion version;
  // A failed load leaves the fixed part zeroed: version 0, which any requirement exceeds.
  version.Load(nullptr);
  const VS_FIXEDFILEINFO& fixed = version.FixedFileInfo();
  return static_cast<uint64_t>(fixed.dwFileVersionMS) << 32 | fixed.dwFileVersionLS;
}
