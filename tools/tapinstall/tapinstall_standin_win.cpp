// Test stand-in for the outside driver installer tapinstall.exe: "installs" the TAP driver by
// leaving a marker beside the driver package, which the openvpn.exe stand-in reads when it
// lists adapters. See README.md.
#include <windows.h>
// Needs the types of <windows.h>.
#include <shellapi.h>

#include <string>

namespace {

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Out(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, nullptr);
}

int Run(int argc, wchar_t** argv) {
  if (argc != 4 || std::wstring(argv[1]) != L"install" || std::wstring(argv[3]) != L"tap_kavrin") {
    Out("usage: tapinstall install <inf file> tap_kavrin\n");
    return 2;
  }
  const std::wstring inf = argv[2];
  const std::wstring folder = inf.substr(0, inf.find_last_of(L"\\/") + 1);
  if (!FileExists(inf) || !FileExists(folder + L"tap_kavrin.sys")) {
    Out("The driver package is incomplete.\n");
    return 1;
  }
  // Tests make the installation fail by leaving this file in the package folder.
  if (FileExists(folder + L"tapinstall_standin_fail")) {
    Out("Driver installation failed.\n");
    return 1;
  }
  // ...and never end (a driver prompt nobody answers) with this one; the mutex is held while
  // it waits, so a test can tell that it is waiting and that it was ended.
  if (FileExists(folder + L"tapinstall_standin_hang")) {
    CreateMutexW(nullptr, TRUE, L"KavrinStandinHanging_tapinstall");
    Sleep(INFINITE);
  }
  HANDLE marker = CreateFileW((folder + L"tap_kavrin.installed").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker == INVALID_HANDLE_VALUE) {
    Out("Cannot record the installed driver.\n");
    return 1;
  }
  CloseHandle(marker);
  Out("Device node created. Drivers installed successfully.\n");
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const int result = argv != nullptr ? Run(argc, argv) : 2;
  LocalFree(argv);
  return result;
}
