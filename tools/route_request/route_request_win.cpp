// route_request.exe: asks the running client for host routes into the tunnel the way an
// accelerated application's connection does, through KavrinBind.dll beside this program.
// Test tool, not shipped.
//
//   route_request.exe <address> [<address> ...]
//
// Prints one line per address: "<address> reply <0|1>" or "<address> error <number>". Exit
// code 0 when every address got a route, 1 when some were refused, 2 on errors or bad usage.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

#include "base/text.h"
#include "vpn/route_modification.h"

namespace {

using RequestRouteEntry = DWORD(__stdcall*)(DWORD, BYTE*);

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  const size_t slash = folder.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) {
    std::fprintf(stderr, "usage: route_request <address> [<address> ...]\n");
    return 2;
  }
  const HMODULE module = LoadLibraryW((ProgramFolder() + L"KavrinBind.dll").c_str());
  const auto request = module ? reinterpret_cast<RequestRouteEntry>(reinterpret_cast<void*>(
                                    GetProcAddress(module, "VpnBindRequestRoute")))
                              : nullptr;
  if (request == nullptr) {
    std::fprintf(stderr, "KavrinBind.dll or its VpnBindRequestRoute is missing\n");
    return 2;
  }
  int result = 0;
  for (int n = 1; n < argc; ++n) {
    const std::string text = WideToUtf8(argv[n]);
    const auto address = TryParseIpv4(std::string_view(text));
    if (!address) {
      std::printf("%s error %lu\n", text.c_str(), static_cast<unsigned long>(ERROR_INVALID_DATA));
      result = 2;
      continue;
    }
    BYTE reply = 0;
    const DWORD error = request(*address, &reply);
    if (error != ERROR_SUCCESS) {
      std::printf("%s error %lu\n", text.c_str(), static_cast<unsigned long>(error));
      result = 2;
    } else {
      std::printf("%s reply %u\n", text.c_str(), static_cast<unsigned>(reply));
      if (reply != 1 && result == 0) result = 1;
    }
    std::fflush(stdout);
  }
  LocalFree(argv);
  return result;
}
