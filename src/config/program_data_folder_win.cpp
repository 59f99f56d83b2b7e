#include <windows.h>
// shlobj.h needs the types windows.h declares.
#include <shlobj.h>

#include "config/program_data_folder.h"

ProgramDataFolder& SystemProgramDataFolder() {
  static ProgramDataFolder folder([] {
    wchar_t common[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    std::wstring path = std::wstring(common) + L"\\Kavrin\\";
    // An existing folder is reported as an error and is exactly what we want.
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    return path;
  });
  return folder;
}
