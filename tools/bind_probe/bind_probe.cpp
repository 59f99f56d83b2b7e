// bind_probe.exe: a program that connects the way an accelerated application does, through
// KavrinBind.dll chained as a layered provider over KavrinTestProvider.dll (both beside this
// program). The system this runs on in tests does not load layered providers into programs, so
// the probe runs the module's start-up itself. Test tool, not shipped.
//
//   bind_probe.exe <address>
//
// Connects a TCP socket to <address> port 80 and prints what reached the lower provider, one
// call per line. Exit code 0 when the connect reached it, 2 on errors or bad usage.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

#include "base/text.h"
#include "test_provider/socket_loader_win.h"
#include "vpn/route_modification.h"

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 2) {
    std::fprintf(stderr, "usage: bind_probe <address>\n");
    return 2;
  }
  const auto address = TryParseIpv4(std::string_view(WideToUtf8(argv[1])));
  LocalFree(argv);
  if (!address) {
    std::fprintf(stderr, "not an address\n");
    return 2;
  }
  wchar_t self[MAX_PATH] = {};
  const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  SocketLoader loader;
  if (!loader.Load(path.substr(0, path.find_last_of(L'\\') + 1))) {
    std::fprintf(stderr, "KavrinBind.dll or KavrinTestProvider.dll is missing\n");
    return 2;
  }
  loader.UseCatalog();
  int error = 0;
  const SOCKET socket = loader.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP, &error);
  if (socket == INVALID_SOCKET) {
    std::fprintf(stderr, "socket failed: %d\n", error);
    return 2;
  }
  loader.Connect(socket, *address, 80, &error);
  const std::string events = loader.TakeEvents();
  std::fputs(events.c_str(), stdout);
  return events.find("connect ") != std::string::npos ? 0 : 2;
}
